// Parameter set routines and their get twins. A set routine stores only the
// components the model does not fix, marks them supplied, and sends the
// module back to call state 0 so that mbinit re-derives its constants.
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/validate.hpp"

namespace qel {

Parameters params = initial_parameters();
ParamStatus param_status = initial_param_status();
DerivedConstants derived = {};
Control control = {};

namespace {

// Stores value where the status allows it; returns whether it did.
bool store(double& slot, int& status, double value) {
  if (status == kFixed) return false;
  slot = value;
  status = kSupplied;
  return true;
}

// The three components of one row of a vector table, as mbbtj, mbitj and
// mbpin store them.
void store_vec3(int routine, double (&slot)[3], int (&status)[3], const double* v) {
  bool any = false;
  for (int c = 0; c < 3; ++c) any |= store(slot[c], status[c], v[c]);
  if (!any) mbseterr(routine, QEL_E_ALL_FIXED);
  control.call_state = 0;
}

void copy_vec3(const double (&from)[3], double* to) {
  for (int c = 0; c < 3; ++c) to[c] = from[c];
}

// A real body: ground has no mass or inertia to set or read.
bool bad_real_body(int routine, int body) {
  if (mbchkbnum(routine, body)) return true;
  if (body == -1) {
    mbseterr(routine, QEL_E_BAD_BODY);
    return true;
  }
  return false;
}

}  // namespace
}  // namespace qel

using namespace qel;

extern "C" {

QEL_API void mbgrav(const double g[3]) {
  for (int c = 0; c < 3; ++c) {
    params.gravity[c] = g[c];
    param_status.gravity[c] = kSupplied;
  }
  control.call_state = 0;
}

QEL_API void mbmass(int body, double mass) {
  if (bad_real_body(QEL_R_MBMASS, body)) return;
  if (!store(params.body_mass[body], param_status.mass[body], mass)) mbseterr(QEL_R_MBMASS, QEL_E_ALL_FIXED);
  control.call_state = 0;
}

QEL_API void mbiner(int body, const double inertia[9]) {
  if (bad_real_body(QEL_R_MBINER, body)) return;
  double(&I)[3][3] = params.body_inertia[body];
  int(&S)[3][3] = param_status.inertia[body];
  // Only the upper triangle is read; each off-diagonal element is mirrored,
  // so the stored inertia stays symmetric.
  static constexpr int upper[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  bool any = false;
  for (const auto& rc : upper) {
    const int r = rc[0], c = rc[1];
    if (!store(I[r][c], S[r][c], inertia[3 * r + c])) continue;
    any = true;
    if (r != c) {
      I[c][r] = inertia[3 * r + c];
      S[c][r] = kSupplied;
    }
  }
  if (!any) mbseterr(QEL_R_MBINER, QEL_E_ALL_FIXED);
  control.call_state = 0;
}

QEL_API void mbbtj(int joint, const double v[3]) {
  if (mbchkjnum(QEL_R_MBBTJ, joint)) return;
  store_vec3(QEL_R_MBBTJ, params.body_to_joint[joint], param_status.btj[joint], v);
}

QEL_API void mbitj(int joint, const double v[3]) {
  if (mbchkjnum(QEL_R_MBITJ, joint)) return;
  store_vec3(QEL_R_MBITJ, params.inboard_to_joint[joint], param_status.itj[joint], v);
}

QEL_API void mbpin(int joint, int pin_no, const double v[3]) {
  if (mbchkjpin(QEL_R_MBPIN, joint, pin_no)) return;
  const int s = pin_slot(joint, pin_no);
  store_vec3(QEL_R_MBPIN, params.joint_pin[s], param_status.pin[s], v);
}

QEL_API void mbpres(int joint, int axis, int value) {
  if (mbchkjaxis(QEL_R_MBPRES, joint, axis)) return;
  const int k = axis_index(joint, axis);
  // The root's quaternion scalar (k == nu) has no speed and so no
  // prescribed-motion flag.
  if (k >= nu) {
    mbseterr(QEL_R_MBPRES, QEL_E_NO_SUCH_AXIS);
    return;
  }
  if (value != 0 && value != 1) mbseterr(QEL_R_MBPRES, QEL_E_BAD_PRESCRIBED_VALUE);
  if (!store(params.axis_prescribed[k], param_status.pres[k], value != 0 ? 1.0 : 0.0))
    mbseterr(QEL_R_MBPRES, QEL_E_ALL_FIXED);
  control.state_mark = 0;
}

QEL_API void mbstab(double s0, double s1) {
  params.stab_const[0] = s0;
  params.stab_const[1] = s1;
  param_status.stab[0] = kSupplied;
  param_status.stab[1] = kSupplied;
  control.qdot_stale = 1;
}

QEL_API void mbgetgrav(double g[3]) { copy_vec3(params.gravity, g); }

QEL_API void mbgetmass(int body, double* mass) {
  if (bad_real_body(QEL_R_MBGETMASS, body)) return;
  *mass = params.body_mass[body];
}

QEL_API void mbgetiner(int body, double inertia[9]) {
  if (bad_real_body(QEL_R_MBGETINER, body)) return;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) inertia[3 * r + c] = params.body_inertia[body][r][c];
}

QEL_API void mbgetbtj(int joint, double v[3]) {
  if (mbchkjnum(QEL_R_MBGETBTJ, joint)) return;
  copy_vec3(params.body_to_joint[joint], v);
}

QEL_API void mbgetitj(int joint, double v[3]) {
  if (mbchkjnum(QEL_R_MBGETITJ, joint)) return;
  copy_vec3(params.inboard_to_joint[joint], v);
}

QEL_API void mbgetpin(int joint, int pin_no, double v[3]) {
  if (mbchkjpin(QEL_R_MBGETPIN, joint, pin_no)) return;
  copy_vec3(params.joint_pin[pin_slot(joint, pin_no)], v);
}

QEL_API void mbgetpres(int joint, int axis, int* value) {
  if (mbchkjaxis(QEL_R_MBGETPRES, joint, axis)) return;
  const int k = axis_index(joint, axis);
  if (k >= nu) {
    mbseterr(QEL_R_MBGETPRES, QEL_E_NO_SUCH_AXIS);
    return;
  }
  // Any value but +-0.0 counts as prescribed, NaN included.
  *value = params.axis_prescribed[k] == 0.0 ? 0 : 1;
}

QEL_API void mbgetstab(double* s0, double* s1) {
  *s0 = params.stab_const[0];
  *s1 = params.stab_const[1];
}

}  // extern "C"
