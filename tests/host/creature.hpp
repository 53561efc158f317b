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

// M is a Module, or anything else with the routines as callable members
// (the unit tests call the engine directly).
template <class M>
inline JointInfo joint_info(M& m, int j) {
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

template <class M>
inline Creature make_creature(M& m, unsigned seed = 1) {
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
template <class M>
inline void supply(M& m, const Creature& c, bool init = true) {
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

// v rotated about the unit axis a by the angle t (right-handed).
inline V3 rotate(const V3& v, const V3& a, double t) {
  const double c = std::cos(t), s = std::sin(t), d = dot(a, v);
  const V3 x{a[1] * v[2] - a[2] * v[1], a[2] * v[0] - a[0] * v[2], a[0] * v[1] - a[1] * v[0]};
  V3 r;
  for (int i = 0; i < 3; ++i) r[i] = c * v[i] + (1.0 - c) * d * a[i] + s * x[i];
  return r;
}

struct Posture {
  std::vector<double> q;  // nq: quaternion vector part at 3..5, scalar last
  std::vector<double> u;  // nu
};

// A random posture and motion of the creature: a uniformly random unit
// quaternion, rotation angles in (-pi, pi), speeds of order one. A
// three-rotation joint's middle angle is redrawn while its first and third
// axes lie within 30 degrees of parallel, so that no joint is near gimbal
// lock and tolerances can stay tight.
template <class M>
inline Posture random_posture(M& m, const Creature& c, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> angle(-3.1, 3.1), speed(-1.0, 1.0);
  std::normal_distribution<double> n(0.0, 1.0);
  int info[12];
  m.mbinfo(info);
  const int nbody = info[1], nu = info[2];
  Posture p{std::vector<double>(nu + 1), std::vector<double>(nu)};
  for (int k = 0; k < 3; ++k) p.q[k] = speed(rng);
  double e[4], len = 0.0;
  do {
    len = 0.0;
    for (double& x : e) {
      x = n(rng);
      len += x * x;
    }
  } while (len < 1e-6);
  len = std::sqrt(len);
  p.q[3] = e[0] / len;
  p.q[4] = e[1] / len;
  p.q[5] = e[2] / len;
  p.q[nu] = e[3] / len;
  for (int k = 6; k < nu; ++k) p.q[k] = angle(rng);
  for (int k = 0; k < nu; ++k) p.u[k] = 2.0 * speed(rng);
  for (int j = 1; j < nbody; ++j) {
    const std::vector<V3>& pin = c.pins[j];
    if (pin.size() != 3) continue;
    double& mid = p.q[joint_info(m, j).first_axis + 1];
    while (std::fabs(dot(pin[0], rotate(pin[2], pin[1], mid))) > std::cos(30.0 * M_PI / 180.0)) mid = angle(rng);
  }
  return p;
}

// Coordinates of the rest posture: every coordinate 0, identity quaternion.
inline std::vector<double> rest_q(int nu) {
  std::vector<double> q(nu + 1, 0.0);
  q[nu] = 1.0;
  return q;
}

// The joints of one type (6 root, 3 three-rotation, 1 pin), in joint order.
template <class M>
inline std::vector<int> joints_of_type(M& m, int type) {
  int info[12];
  m.mbinfo(info);
  std::vector<int> js;
  for (int j = 0; j < info[1]; ++j)
    if (joint_info(m, j).type == type) js.push_back(j);
  return js;
}

}  // namespace qeltest
