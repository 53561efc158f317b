// A plausible creature for any of the three modules: masses of a few kg,
// symmetric positive definite inertias, unit pins away from the coordinate
// axes (consecutive pins of a three-rotation joint at least 60 degrees
// apart), non-zero joint offsets. Deterministic for a given seed.
#pragma once

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "host/module.hpp"

namespace qeltest {

using V3 = std::array<double, 3>;

struct JointInfo {
  int type, inboard, dof, first_axis;
};

inline JointInfo joint_info(Module& m, int j) {
  int info[11], trans[6];
  m.mbjnt(j, info, trans);
  return {info[0], info[2], info[4], info[7]};
}

struct Creature {
  V3 gravity{0.0, 0.0, -9.81};
  std::vector<double> mass;                  // per body
  std::vector<std::array<double, 9>> inertia;  // per body, row-major, symmetric
  std::vector<V3> btj, itj;                  // per joint
  std::vector<std::vector<V3>> pins;         // per joint, one per rotation axis (empty for the root)
};

inline double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline V3 random_unit(std::mt19937& rng) {
  std::normal_distribution<double> n(0.0, 1.0);
  for (;;) {
    V3 v{n(rng), n(rng), n(rng)};
    const double len = std::sqrt(dot(v, v));
    if (len < 1e-3) continue;
    for (double& x : v) x /= len;
    // Keep away from the coordinate axes so no product of zeros hides a fault.
    if (std::fabs(v[0]) > 0.1 && std::fabs(v[1]) > 0.1 && std::fabs(v[2]) > 0.1) return v;
  }
}

inline Creature make_creature(Module& m, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  auto in = [&](double lo, double hi) { return lo + (hi - lo) * u01(rng); };
  int info[12];
  m.mbinfo(info);
  const int nbody = info[1];
  Creature c;
  for (int b = 0; b < nbody; ++b) {
    c.mass.push_back(b == 0 ? in(8.0, 12.0) : in(0.5, 4.0));
    // I = Q diag(d) Q^T with a random rotation Q and principal moments that
    // satisfy the triangle inequality of a real body.
    const double d0 = in(0.02, 0.2), d1 = in(0.02, 0.2), d2 = in(std::fabs(d0 - d1) + 0.01, d0 + d1);
    const V3 a = random_unit(rng);
    V3 t = random_unit(rng);
    const double p = dot(a, t);
    V3 b2{t[0] - p * a[0], t[1] - p * a[1], t[2] - p * a[2]};
    const double lb = std::sqrt(dot(b2, b2));
    for (double& x : b2) x /= lb;
    const V3 c3{a[1] * b2[2] - a[2] * b2[1], a[2] * b2[0] - a[0] * b2[2], a[0] * b2[1] - a[1] * b2[0]};
    const V3* Q[3] = {&a, &b2, &c3};
    const double d[3] = {d0, d1, d2};
    std::array<double, 9> I{};
    for (int r = 0; r < 3; ++r)
      for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k) I[3 * r + s] += (*Q[k])[r] * d[k] * (*Q[k])[s];
    for (int r = 0; r < 3; ++r)
      for (int s = 0; s < r; ++s) I[3 * r + s] = I[3 * s + r];
    c.inertia.push_back(I);
    c.btj.push_back({in(-0.2, 0.2), in(-0.2, 0.2), in(0.05, 0.25)});
    c.itj.push_back({in(-0.3, 0.3), in(-0.3, 0.3), in(-0.3, 0.3)});
    std::vector<V3> pins;
    const JointInfo ji = joint_info(m, b);
    if (ji.type != 6) {
      for (int k = 0; k < ji.dof; ++k) {
        V3 pin = random_unit(rng);
        while (k > 0 && std::fabs(dot(pin, pins.back())) > 0.5) pin = random_unit(rng);
        pins.push_back(pin);
      }
    }
    c.pins.push_back(pins);
  }
  return c;
}

// Supplies every parameter of the creature and runs mbinit.
inline void supply(Module& m, const Creature& c, bool init = true) {
  m.mbgrav(c.gravity.data());
  for (int b = 0; b < static_cast<int>(c.mass.size()); ++b) {
    m.mbmass(b, c.mass[b]);
    m.mbiner(b, c.inertia[b].data());
    m.mbbtj(b, c.btj[b].data());
    m.mbitj(b, c.itj[b].data());
    for (int k = 0; k < static_cast<int>(c.pins[b].size()); ++k) m.mbpin(b, k, c.pins[b][k].data());
  }
  if (init) m.mbinit();
}

}  // namespace qeltest
