// mbinit: report what is still to be supplied, normalize the pins and derive
// the constants the stages read instead of recomputing them per state. It
// never stops early: it computes from whatever the tables hold.
#include <cmath>

#include "frame/errors.hpp"
#include "model/partvel.hpp"
#include "model/records.hpp"

namespace qel {

PartialVelocityTables partvel = {};

namespace {

void report_missing() {
  for (int c = 0; c < 3; ++c)
    if (param_status.gravity[c] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_GRAVITY_MISSING);
  for (int b = 0; b < nbody; ++b) {
    if (param_status.mass[b] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_MASS_MISSING);
    for (int k = 0; k < 3; ++k) {
      if (param_status.btj[b][k] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_BTJ_MISSING);
      if (param_status.itj[b][k] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_ITJ_MISSING);
      for (int c = 0; c < 3; ++c)
        if (param_status.inertia[b][k][c] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_INERTIA_MISSING);
    }
  }
  for (int k = 0; k < nu; ++k)
    for (int c = 0; c < 3; ++c)
      if (param_status.pin[k][c] == kToSupply) mbseterr(QEL_R_MBINIT, QEL_E_PIN_MISSING);
}

// Scale every rotation pin to unit length. A pin too short to give a
// direction is scaled by 0, so it becomes zero with the signs of its
// components. One whose squared length is NaN or infinite is written as
// exact zeros instead: 1/sqrt would give NaN components, and a NaN or
// infinite component times 0 would stay NaN.
void normalize_pins() {
  for (int k = 6; k < nu; ++k) {
    double* a = params.joint_pin[k];
    const double s = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
    if (!std::isfinite(s)) {
      a[0] = a[1] = a[2] = 0.0;
      mbseterr(QEL_R_MBINIT, QEL_E_PIN_TOO_SHORT);
      continue;
    }
    double f = 0.0;
    if (s >= 1e-10) f = 1.0 / std::sqrt(s);
    else mbseterr(QEL_R_MBINIT, QEL_E_PIN_TOO_SHORT);
    for (int c = 0; c < 3; ++c) a[c] = a[c] * f;
  }
}

}  // namespace
}  // namespace qel

using namespace qel;

extern "C" QEL_API void mbinit(void) {
  report_missing();
  normalize_pins();

  partvel = {};

  // root to tip: b_j x (pin of the joint's last axis), at l(j).
  for (int j = 1; j < njnt; ++j) {
    const double* b = params.body_to_joint[j];
    const double* a = params.joint_pin[joint_last_axis[j]];
    double* x = derived.btj_cross_pin[joint_last_axis[j]];
    x[0] = b[1] * a[2] - b[2] * a[1];
    x[1] = b[2] * a[0] - b[0] * a[2];
    x[2] = b[0] * a[1] - b[1] * a[0];
  }

  // root to tip: inboard body's joint point to this joint's point, at f(j).
  for (int j = 1; j < njnt; ++j) {
    const double* bp = params.body_to_joint[joint_inboard[j]];
    for (int c = 0; c < 3; ++c)
      derived.inboard_offset[joint_first_axis[j]][c] = params.inboard_to_joint[j][c] - bp[c];
  }

  double m = 0.0;
  for (int b = 0; b < nbody; ++b) m += params.body_mass[b];
  derived.total_mass = m;

  // every body: S = m skew(b), off-diagonal only, at l(j).
  for (int j = 0; j < njnt; ++j) {
    const double mj = params.body_mass[j];
    const double* b = params.body_to_joint[j];
    double(&S)[3][3] = derived.body_mass_skew[joint_last_axis[j]];
    S[0][1] = -(mj * b[2]);
    S[0][2] = mj * b[1];
    S[1][0] = mj * b[2];
    S[1][2] = -(mj * b[0]);
    S[2][0] = -(mj * b[1]);
    S[2][1] = mj * b[0];
  }

  // every body: J = I - S skew(b), the inertia about the joint point.
  for (int j = 0; j < njnt; ++j) {
    const double* b = params.body_to_joint[j];
    const double(&I)[3][3] = params.body_inertia[j];
    const double(&S)[3][3] = derived.body_mass_skew[joint_last_axis[j]];
    double(&J)[3][3] = derived.joint_inertia[joint_last_axis[j]];
    J[0][0] = I[0][0] - (S[0][1] * b[2] - S[0][2] * b[1]);
    J[0][1] = I[0][1] - S[0][2] * b[0];
    J[0][2] = I[0][2] + S[0][1] * b[0];
    J[1][0] = I[1][0] + S[1][2] * b[1];
    J[1][1] = I[1][1] - (S[1][2] * b[0] - S[1][0] * b[2]);
    J[1][2] = I[1][2] - S[1][0] * b[1];
    J[2][0] = I[2][0] - S[2][1] * b[2];
    J[2][1] = I[2][1] + S[2][0] * b[2];
    J[2][2] = I[2][2] - (S[2][0] * b[1] - S[2][1] * b[0]);
  }

  control.call_state = 1;
}
