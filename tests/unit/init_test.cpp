// mbinit's derived constants against the textbook formulas, and the call
// state that the parameter routines leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "model/partvel.hpp"
#include "model/records.hpp"
#include "qel_model.h"

namespace {

using namespace qel;

// Supplies random but sensible parameters through the exported setters.
void supply_random(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double g[3] = {0.1, -0.2, -9.8};
  mbgrav(g);
  for (int b = 0; b < nbody; ++b) {
    mbmass(b, 1.0 + std::fabs(u(rng)));
    const double d = 0.3 + 0.1 * u(rng), o = 0.05 * u(rng), p = 0.05 * u(rng);
    const double I[9] = {d, o, p, o, d + 0.1, -o, p, -o, d + 0.05};
    mbiner(b, I);
    const double btj[3] = {0.2 * u(rng), 0.2 * u(rng), 0.2 * u(rng)};
    const double itj[3] = {0.3 * u(rng), 0.3 * u(rng), 0.3 * u(rng)};
    mbbtj(b, btj);
    mbitj(b, itj);
    if (b > 0)
      for (int k = 0; k < joint_dof[b]; ++k) {
        const double pin[3] = {u(rng), u(rng), 2.0 + u(rng)};
        mbpin(b, k, pin);
      }
  }
}

TEST(Init, DerivedConstantsMatchTheirDefinitions) {
  supply_random(11);
  mbinit();
  double m = 0;
  for (int b = 0; b < nbody; ++b) m += params.body_mass[b];
  EXPECT_DOUBLE_EQ(derived.total_mass, m);

  for (int k = 6; k < nu; ++k) {
    const double* a = params.joint_pin[k];
    EXPECT_NEAR(a[0] * a[0] + a[1] * a[1] + a[2] * a[2], 1.0, 1e-15);
  }

  bool is_last[nu] = {}, is_first[nu] = {};
  for (int j = 0; j < njnt; ++j) {
    is_last[joint_last_axis[j]] = true;
    if (j > 0) is_first[joint_first_axis[j]] = true;
  }

  for (int j = 0; j < njnt; ++j) {
    const int l = joint_last_axis[j];
    const double mj = params.body_mass[j];
    const double* b = params.body_to_joint[j];
    const double bb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
    // Parallel-axis rule: J = I + m (|b|^2 E - b b^T).
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        const double expect = params.body_inertia[j][r][c] + mj * ((r == c ? bb : 0.0) - b[r] * b[c]);
        EXPECT_NEAR(derived.joint_inertia[l][r][c], expect, 1e-14) << j << " " << r << c;
      }
    // S v = m (b x v) for every v, with a zero diagonal.
    const double v[3] = {0.3, -0.7, 1.1};
    const double bxv[3] = {b[1] * v[2] - b[2] * v[1], b[2] * v[0] - b[0] * v[2], b[0] * v[1] - b[1] * v[0]};
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(derived.body_mass_skew[l][r][r], 0.0);
      const double* S = derived.body_mass_skew[l][r];
      EXPECT_NEAR(S[0] * v[0] + S[1] * v[1] + S[2] * v[2], mj * bxv[r], 1e-14);
    }
    if (j == 0) continue;
    const double* a = params.joint_pin[l];
    const double bxa[3] = {b[1] * a[2] - b[2] * a[1], b[2] * a[0] - b[0] * a[2], b[0] * a[1] - b[1] * a[0]};
    for (int c = 0; c < 3; ++c) EXPECT_EQ(derived.btj_cross_pin[l][c], bxa[c]);
    const int f = joint_first_axis[j];
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(derived.inboard_offset[f][c],
                params.inboard_to_joint[j][c] - params.body_to_joint[joint_inboard[j]][c]);
  }

  // Slots that belong to no joint stay zero in every per-axis table.
  for (int k = 0; k < nu; ++k) {
    for (int c = 0; c < 3; ++c) {
      if (!is_last[k] || k == 5) EXPECT_EQ(derived.btj_cross_pin[k][c], 0.0);
      if (!is_first[k]) EXPECT_EQ(derived.inboard_offset[k][c], 0.0);
      for (int r = 0; r < 3 && !is_last[k]; ++r) {
        EXPECT_EQ(derived.joint_inertia[k][r][c], 0.0);
        EXPECT_EQ(derived.body_mass_skew[k][r][c], 0.0);
      }
    }
  }
}

TEST(Init, ANewMassChangesOnlyThatBodysConstants) {
  supply_random(12);
  mbinit();
  const DerivedConstants before = derived;
  mbmass(4, params.body_mass[4] + 1.0);
  mbinit();
  EXPECT_NE(derived.total_mass, before.total_mass);
  const int l4 = joint_last_axis[4];
  for (int k = 0; k < nu; ++k)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        if (k == l4) continue;
        EXPECT_EQ(derived.joint_inertia[k][r][c], before.joint_inertia[k][r][c]);
        EXPECT_EQ(derived.body_mass_skew[k][r][c], before.body_mass_skew[k][r][c]);
      }
  EXPECT_NE(derived.body_mass_skew[l4][0][1], before.body_mass_skew[l4][0][1]);
}

TEST(Init, ZeroesThePartialVelocityTables) {
  partvel.partvel_axis[7][1] = 5.0;
  partvel.partvel_arm[nu - 1][2] = -5.0;
  mbinit();
  EXPECT_EQ(partvel.partvel_axis[7][1], 0.0);
  EXPECT_EQ(partvel.partvel_arm[nu - 1][2], 0.0);
}

TEST(CallState, SetRoutinesDropItAndTheOthersKeepIt) {
  const double v[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  struct Case {
    const char* what;
    void (*call)(const double*);
    int after;
  };
  const Case cases[] = {
      {"mbgrav", [](const double* v) { mbgrav(v); }, 0},
      {"mbmass", [](const double*) { mbmass(1, 2.0); }, 0},
      {"mbiner", [](const double* v) { mbiner(1, v); }, 0},
      {"mbbtj", [](const double* v) { mbbtj(1, v); }, 0},
      {"mbitj", [](const double* v) { mbitj(1, v); }, 0},
      {"mbpin", [](const double* v) { mbpin(1, 0, v); }, 0},
      {"mbpin on a fixed pin", [](const double* v) { mbpin(0, 0, v); }, 0},
      {"mbpin with a bad pin", [](const double* v) { mbpin(1, 9, v); }, 1},
      {"mbmass of ground", [](const double*) { mbmass(-1, 2.0); }, 1},
      {"mbbtj of a bad joint", [](const double* v) { mbbtj(-1, v); }, 1},
      {"mbpres", [](const double*) { mbpres(1, 0, 1); }, 1},
      {"mbstab", [](const double*) { mbstab(1.0, 2.0); }, 1},
      {"getters", [](const double*) {
         double out[9];
         int iout[17];
         mbgetgrav(out);
         mbgetmass(1, out);
         mbgetiner(1, out);
         mbgetpin(1, 0, out);
         mbgetpres(1, 0, iout);
         mbinfo(iout);
         mbjnt(1, iout, iout + 11);
         mbindx(1, 0);
         mbcons(0);
       },
       1},
  };
  for (const Case& c : cases) {
    mbinit();
    ASSERT_EQ(control.call_state, 1);
    control.state_mark = 1;
    c.call(v);
    EXPECT_EQ(control.call_state, c.after) << c.what;
  }
  // mbpres clears the state mark even though nothing can be prescribed.
  control.state_mark = 1;
  mbpres(1, 0, 1);
  EXPECT_EQ(control.state_mark, 0);
}

}  // namespace
