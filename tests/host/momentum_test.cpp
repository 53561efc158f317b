// mbmom and mbsys against sums over the bodies of what the kinematic queries
// report, against the motion of the mass centre, and against the rigid-body
// relations of a model that turns as one piece; and their call-state rules.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/creature.hpp"
#include "host/module.hpp"

using qeltest::ModelDims;
using qeltest::Module;
using qeltest::Report;
using qeltest::V3;

namespace {

using M33 = std::array<std::array<double, 3>, 3>;

V3 cross(const V3& a, const V3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 mul(const double* A, const V3& v) {  // A row-major 3x3
  return {A[0] * v[0] + A[1] * v[1] + A[2] * v[2], A[3] * v[0] + A[4] * v[1] + A[5] * v[2],
          A[6] * v[0] + A[7] * v[1] + A[8] * v[2]};
}

struct Results {
  V3 lmom, amom;
  double kinetic, msum;
  V3 cm;
  double inertia[3][3];
};

class Momentum : public ::testing::TestWithParam<ModelDims> {
 protected:
  Momentum() : m(GetParam().name), nbody(GetParam().nbody), nu(GetParam().nu) {}

  void setup(unsigned seed) {
    c = qeltest::make_creature(m, seed);
    qeltest::supply(m, c);
    p = qeltest::random_posture(m, c, seed + 40);
    set(p.q, p.u);
  }
  void set(const std::vector<double>& q, const std::vector<double>& u) { m.mbstate(0.0, q.data(), u.data()); }

  Results results() {
    Results r;
    m.mbmom(r.lmom.data(), r.amom.data(), &r.kinetic);
    m.mbsys(&r.msum, r.cm.data(), r.inertia);
    return r;
  }

  // What the kinematic queries say about body b's mass centre and rotation.
  struct Body {
    V3 pos, vel, w;  // ground, ground, body frame
    double R[9];     // body to ground
  };
  Body body(int b) {
    Body k;
    const double origin[3] = {0, 0, 0};
    m.mbpos(b, origin, k.pos.data());
    m.mbvel(b, origin, k.vel.data());
    m.mbangvel(b, k.w.data());
    m.mborient(b, reinterpret_cast<double(*)[3]>(k.R));
    return k;
  }
  double total_mass() const {
    double s = 0.0;
    for (double x : c.mass) s += x;
    return s;
  }
  V3 mass_centre() {
    V3 s{0, 0, 0};
    for (int b = 0; b < nbody; ++b) {
      const V3 x = body(b).pos;
      for (int i = 0; i < 3; ++i) s[i] += c.mass[b] * x[i];
    }
    for (double& x : s) x /= total_mass();
    return s;
  }

  Module m;
  int nbody, nu;
  qeltest::Creature c;
  qeltest::Posture p;
};

void expect_near(const V3& got, const V3& want, double tol, const char* what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " component " << i;
}

TEST_P(Momentum, MomentumEnergyAndInertiaAreSumsOverTheBodies) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    setup(seed);
    const Results r = results();
    const V3 cm = mass_centre();
    V3 lmom{0, 0, 0}, amom{0, 0, 0};
    double twice_ke = 0.0, inertia[3][3] = {};
    for (int b = 0; b < nbody; ++b) {
      const Body k = body(b);
      const double mass = c.mass[b];
      const double* I = c.inertia[b].data();
      const V3 Iw = mul(I, k.w), spin = mul(k.R, Iw);
      const V3 d{k.pos[0] - cm[0], k.pos[1] - cm[1], k.pos[2] - cm[2]};
      const V3 mv{mass * k.vel[0], mass * k.vel[1], mass * k.vel[2]};
      const V3 moment = cross(d, mv);
      for (int i = 0; i < 3; ++i) {
        lmom[i] += mv[i];
        amom[i] += spin[i] + moment[i];
      }
      twice_ke += qeltest::dot(k.w, Iw) + mass * qeltest::dot(k.vel, k.vel);
      // R I R^T plus the point mass about the system mass centre.
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          double rir = 0.0;
          for (int a = 0; a < 3; ++a)
            for (int e = 0; e < 3; ++e) rir += k.R[3 * i + a] * I[3 * a + e] * k.R[3 * j + e];
          inertia[i][j] += rir + mass * ((i == j ? qeltest::dot(d, d) : 0.0) - d[i] * d[j]);
        }
    }
    const double M = total_mass();
    const double pscale = std::sqrt(qeltest::dot(lmom, lmom)) + M;
    expect_near(r.lmom, lmom, 1e-12 * pscale, "linear momentum");
    expect_near(r.amom, amom, 1e-12 * pscale, "angular momentum");
    EXPECT_NEAR(r.kinetic, 0.5 * twice_ke, 1e-12 * twice_ke);
    EXPECT_NEAR(r.msum, M, 1e-14 * M);
    expect_near(r.cm, cm, 1e-13, "mass centre");
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(r.inertia[i][j], inertia[i][j], 1e-12 * M) << i << ", " << j;
        EXPECT_EQ(r.inertia[i][j], r.inertia[j][i]);
      }
    EXPECT_TRUE(m.take_reports().empty());
  }
}

// The linear momentum is the total mass times the velocity of the mass
// centre: a central difference of mbsys's cm along the motion.
TEST_P(Momentum, LinearMomentumMovesTheMassCentre) {
  setup(4);
  const Results r = results();
  const double h = 1e-5;
  V3 cm[2];
  for (int side = 0; side < 2; ++side) {
    const double s = side ? h : -h;
    std::vector<double> q = p.q;
    for (int k = 0; k < nu; ++k)
      if (k < 3 || k > 5) q[k] += s * p.u[k];
    // The quaternion's rate for body 0's own angular velocity, scalar last;
    // mbstate puts it back on the unit sphere.
    const V3 e{p.q[3], p.q[4], p.q[5]}, w{p.u[3], p.u[4], p.u[5]}, ew = cross(e, w);
    const double e4 = p.q[nu];
    for (int i = 0; i < 3; ++i) q[3 + i] += s * 0.5 * (e4 * w[i] + ew[i]);
    q[nu] -= s * 0.5 * qeltest::dot(e, w);
    set(q, p.u);
    double msum, inertia[3][3];
    m.mbsys(&msum, cm[side].data(), inertia);
  }
  for (int i = 0; i < 3; ++i) EXPECT_NEAR((cm[1][i] - cm[0][i]) / (2 * h), r.lmom[i] / r.msum, 1e-7) << i;
  EXPECT_TRUE(m.take_reports().empty());
}

// Moving only through the root, the model is one rigid body: its momenta and
// energy follow from the system inertia, the mass centre and the root's motion.
TEST_P(Momentum, RigidMotionFollowsTheSystemInertia) {
  setup(5);
  struct Case {
    const char* what;
    V3 v, w;  // root joint point velocity (ground), body 0's angular velocity (own frame)
  } cases[] = {{"translation", {0.7, -1.1, 0.4}, {0, 0, 0}}, {"turning", {0.3, 0.2, -0.5}, {1.3, -0.6, 0.9}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<double> u(nu, 0.0);
    for (int i = 0; i < 3; ++i) u[i] = k.v[i], u[3 + i] = k.w[i];
    set(p.q, u);
    const Results r = results();
    const Body b0 = body(0);
    const V3 w = mul(b0.R, k.w);
    V3 joint;
    m.mbpos(0, c.btj[0].data(), joint.data());
    const V3 arm{r.cm[0] - joint[0], r.cm[1] - joint[1], r.cm[2] - joint[2]}, turn = cross(w, arm);
    const V3 vcm{k.v[0] + turn[0], k.v[1] + turn[1], k.v[2] + turn[2]};
    const V3 Iw = mul(&r.inertia[0][0], w);
    const double M = r.msum;
    expect_near(r.lmom, {M * vcm[0], M * vcm[1], M * vcm[2]}, 1e-12 * M, "linear momentum");
    expect_near(r.amom, Iw, 1e-12 * M, "angular momentum");
    EXPECT_NEAR(r.kinetic, 0.5 * (qeltest::dot(w, Iw) + M * qeltest::dot(vcm, vcm)), 1e-12 * M);
  }
  // At rest everything is exactly zero.
  set(p.q, std::vector<double>(nu, 0.0));
  const Results r = results();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.lmom[i], 0.0);
    EXPECT_EQ(r.amom[i], 0.0);
  }
  EXPECT_EQ(r.kinetic, 0.0);
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Momentum, MovingTheWholeModelKeepsItsInertia) {
  setup(6);
  const Results r = results();
  std::vector<double> q = p.q;
  const V3 shift{2.5, -1.5, 4.0};
  for (int i = 0; i < 3; ++i) q[i] += shift[i];
  set(q, p.u);
  const Results s = results();
  EXPECT_EQ(s.msum, r.msum);
  expect_near(s.cm, {r.cm[0] + shift[0], r.cm[1] + shift[1], r.cm[2] + shift[2]}, 1e-13, "mass centre");
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(s.inertia[i][j], r.inertia[i][j], 1e-12 * r.msum) << i << ", " << j;
}

TEST_P(Momentum, AnswersOnlyWithAStateAndAlikeAfterTheDerivatives) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto refused = [&](const char* when) {
    SCOPED_TRACE(when);
    double lmom[3] = {nan, nan, nan}, amom[3] = {nan, nan, nan}, kinetic = nan;
    double msum = nan, cm[3] = {nan, nan, nan}, inertia[3][3];
    for (auto& row : inertia)
      for (double& x : row) x = nan;
    m.mbmom(lmom, amom, &kinetic);
    m.mbsys(&msum, cm, inertia);
    EXPECT_EQ(m.take_reports(), (std::vector<Report>{{19, 23}, {20, 23}}));
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::isnan(lmom[i]) && std::isnan(amom[i]) && std::isnan(cm[i]));
      for (int j = 0; j < 3; ++j) EXPECT_TRUE(std::isnan(inertia[i][j]));
    }
    EXPECT_TRUE(std::isnan(kinetic) && std::isnan(msum));
  };
  refused("at load");
  c = qeltest::make_creature(m, 7);
  qeltest::supply(m, c);
  m.take_reports();
  refused("after mbinit");
  p = qeltest::random_posture(m, c, 8);
  set(p.q, p.u);
  const Results r2 = results();
  std::vector<double> qdot(nu + 1), udot(nu);
  m.mbderiv(qdot.data(), udot.data());
  const Results r3 = results();
  EXPECT_EQ(r3.lmom, r2.lmom);
  EXPECT_EQ(r3.amom, r2.amom);
  EXPECT_EQ(r3.kinetic, r2.kinetic);
  EXPECT_EQ(r3.cm, r2.cm);
  EXPECT_EQ(0, std::memcmp(r3.inertia, r2.inertia, sizeof r2.inertia));
  EXPECT_TRUE(m.take_reports().empty());
  m.mbmass(1, c.mass[1]);
  refused("after a parameter change");
}

INSTANTIATE_TEST_SUITE_P(Modules, Momentum, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
