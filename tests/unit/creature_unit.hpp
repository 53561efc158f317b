// A plausible random creature and posture for the model these unit tests are
// linked against, supplied through the module's own C routines, so internal
// routines can be called on a real state. Parameters are read back from
// qel::params after mbinit (pins normalized).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "model/records.hpp"
#include "model/state.hpp"
#include "model/topology.hpp"
#include "numerics/vec3.hpp"
#include "qel_model.h"

namespace qelunit {

using Report = std::pair<int, int>;

inline std::vector<Report>& recorded() {
  static std::vector<Report> r;
  return r;
}
inline int record_report(void*, int routine, int code) {
  recorded().push_back({routine, code});
  return 0;
}
// Reports since the last call.
inline std::vector<Report> take_reports() { return std::exchange(recorded(), {}); }

struct Rng {
  explicit Rng(unsigned seed) : gen(seed) {}
  double in(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(gen); }
  // A unit vector with no small component, so no product of zeros hides a fault.
  void direction(double* v) {
    for (;;) {
      for (int i = 0; i < 3; ++i) v[i] = in(-1.0, 1.0);
      const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      if (n < 0.3) continue;
      for (int i = 0; i < 3; ++i) v[i] /= n;
      if (std::fabs(v[0]) > 0.1 && std::fabs(v[1]) > 0.1 && std::fabs(v[2]) > 0.1) return;
    }
  }
  std::mt19937 gen;
};

// Supplies every parameter (gravity g) and runs mbinit; reports go to the
// recorder. Inertias are Q diag(d) Q^T with principal moments of a real body;
// consecutive pins of a three-rotation joint are at least 60 degrees apart.
inline void supply_creature(unsigned seed, const double* g = nullptr) {
  mbseterrRegister(nullptr, &record_report);
  Rng r(seed);
  const double g0[3] = {0.3, -0.4, -9.81};
  mbgrav(g ? g : g0);
  for (int b = 0; b < qel::nbody; ++b) {
    mbmass(b, b == 0 ? r.in(6.0, 10.0) : r.in(0.4, 3.0));
    const double d0 = r.in(0.02, 0.2), d1 = r.in(0.02, 0.2);
    const double d[3] = {d0, d1, r.in(std::fabs(d0 - d1) + 0.01, d0 + d1)};
    double a[3], Q[9];
    r.direction(a);
    mbquat2dc(a[0] * 0.6, a[1] * 0.6, a[2] * 0.6, 0.8, Q);
    double I[9];
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k)
        I[3 * i + k] = Q[3 * i] * d[0] * Q[3 * k] + Q[3 * i + 1] * d[1] * Q[3 * k + 1] + Q[3 * i + 2] * d[2] * Q[3 * k + 2];
    mbiner(b, I);
    const double btj[3] = {r.in(-0.2, 0.2), r.in(-0.2, 0.2), r.in(0.05, 0.25)};
    const double itj[3] = {r.in(-0.3, 0.3), r.in(-0.3, 0.3), r.in(-0.3, 0.3)};
    mbbtj(b, btj);
    mbitj(b, itj);
    if (b == 0) continue;
    double prev[3] = {0, 0, 0};
    for (int k = 0; k < qel::joint_dof[b]; ++k) {
      double pin[3];
      do r.direction(pin);
      while (std::fabs(pin[0] * prev[0] + pin[1] * prev[1] + pin[2] * prev[2]) > 0.5);
      mbpin(b, k, pin);
      for (int i = 0; i < 3; ++i) prev[i] = pin[i];
    }
  }
  mbinit();
}

struct State {
  double t = 0.0;
  double q[qel::nq] = {};
  double u[qel::nu] = {};
  void set() const { mbstate(t, q, u); }
};

// True when every three-rotation joint keeps its first and third ground axes
// at least 25 degrees from parallel at the present state.
inline bool far_from_gimbal_lock() {
  for (int j = 1; j < qel::njnt; ++j) {
    if (qel::joint_type[j] != qel::kThreeRotation) continue;
    const int f = qel::joint_first_axis[j];
    double a[3], b[3];
    qel::mat_vec(qel::position.axis_frame_rot[f], qel::params.joint_pin[f], a);
    qel::mat_vec(qel::position.axis_frame_rot[f + 2], qel::params.joint_pin[f + 2], b);
    if (std::fabs(qel::dot3(a, b)) > 0.9063) return false;  // cos 25 degrees
  }
  return true;
}

// Sets a random posture (unit quaternion, angles within +-1.2 rad) and speeds
// within +-speed, redrawn until no joint is near gimbal lock.
inline State set_random_state(Rng& r, double speed = 1.0) {
  for (;;) {
    State s;
    s.t = r.in(0.0, 1.0);
    for (int i = 0; i < 3; ++i) s.q[i] = r.in(-0.5, 0.5);
    double e[4];
    for (;;) {
      for (double& x : e) x = r.in(-1.0, 1.0);
      const double n = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2] + e[3] * e[3]);
      if (n < 0.3) continue;
      for (double& x : e) x /= n;
      break;
    }
    s.q[3] = e[0], s.q[4] = e[1], s.q[5] = e[2], s.q[qel::nu] = e[3];
    for (int k = 6; k < qel::nu; ++k) s.q[k] = r.in(-1.2, 1.2);
    for (int k = 0; k < qel::nu; ++k) s.u[k] = r.in(-speed, speed);
    s.set();
    if (far_from_gimbal_lock()) {
      take_reports();
      return s;
    }
  }
}

// Adds a hinge load on every axis, a point force and a body torque on every
// body, all random.
inline void apply_random_loads(Rng& r) {
  for (int j = 0; j < qel::njnt; ++j)
    for (int a = 0; a < qel::joint_dof[j]; ++a) mbhinget(j, a, r.in(-2.0, 2.0));
  for (int b = 0; b < qel::nbody; ++b) {
    const double pt[3] = {r.in(-0.2, 0.2), r.in(-0.2, 0.2), r.in(-0.2, 0.2)};
    const double f[3] = {r.in(-5.0, 5.0), r.in(-5.0, 5.0), r.in(-5.0, 5.0)};
    const double tq[3] = {r.in(-1.0, 1.0), r.in(-1.0, 1.0), r.in(-1.0, 1.0)};
    mbpointf(b, pt, f);
    mbbodyt(b, tq);
  }
}

// Mass-centre velocity (ground) and angular velocity (body frame) of every
// body at the unit speed u = e_k, for every k: vel[k][b], angvel[k][b].
struct UnitSpeedMotion {
  std::vector<std::vector<std::array<double, 3>>> vel, angvel;
};

// Leaves the state at (s.t, s.q, e_{nu-1}): the caller sets its state again.
inline UnitSpeedMotion unit_speed_motion(const State& s) {
  UnitSpeedMotion m;
  const double origin[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < qel::nu; ++k) {
    double e[qel::nu] = {};
    e[k] = 1.0;
    mbstate(s.t, s.q, e);
    m.vel.emplace_back(qel::nbody);
    m.angvel.emplace_back(qel::nbody);
    for (int b = 0; b < qel::nbody; ++b) {
      mbvel(b, origin, m.vel[k][b].data());
      mbangvel(b, m.angvel[k][b].data());
    }
  }
  return m;
}

// The mass matrix as the kinetic energy defines it: sum over bodies of
// m V_i . V_j + W_i^T I W_j, row-major nu x nu. Sets state s again at the end.
inline std::vector<double> reference_mass_matrix(const State& s) {
  const UnitSpeedMotion m = unit_speed_motion(s);
  s.set();
  std::vector<double> M(qel::nu * qel::nu, 0.0);
  for (int i = 0; i < qel::nu; ++i)
    for (int j = 0; j < qel::nu; ++j) {
      double sum = 0.0;
      for (int b = 0; b < qel::nbody; ++b) {
        const auto &vi = m.vel[i][b], &vj = m.vel[j][b], &wi = m.angvel[i][b], &wj = m.angvel[j][b];
        double Iw[3];
        qel::mat_vec(qel::params.body_inertia[b], wj.data(), Iw);
        sum += qel::params.body_mass[b] * (vi[0] * vj[0] + vi[1] * vj[1] + vi[2] * vj[2]) + qel::dot3(wi.data(), Iw);
      }
      M[i * qel::nu + j] = sum;
    }
  return M;
}

// Largest magnitude of a vector, for relative tolerances.
inline double max_abs(const double* v, int n) {
  double m = 0.0;
  for (int i = 0; i < n; ++i) m = std::fmax(m, std::fabs(v[i]));
  return m;
}

}  // namespace qelunit
