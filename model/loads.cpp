// Applied loads: the host adds hinge loads, point forces and body torques
// into accumulators that hold for the present state only (mbstate zeroes
// them); mbgetht reads the hinge loads of the evaluation back. Also the
// constraint routines, which have nothing to do in models without
// constraints.
#include "dynamics/results.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "model/validate.hpp"
#include "numerics/vec3.hpp"

namespace qel {
namespace {

// The axis of a valid (joint, axis) pair that carries a hinge load, or -1
// after reporting (routine, 18): the root's axis 6 addresses the quaternion
// scalar, which has no speed and so no hinge load.
int hinge_axis(int routine, int joint, int axis) {
  if (mbchkjaxis(routine, joint, axis)) return -1;
  const int k = axis_index(joint, axis);
  if (k >= nu) {
    mbseterr(routine, QEL_E_NO_SUCH_AXIS);
    return -1;
  }
  return k;
}

// The checks of the two body-load routines; true when the load is to be
// added to a real body.
bool accepts_body_load(int routine, int body) {
  if (mbchkbnum(routine, body)) return false;
  if (control.call_state != 2) {
    mbseterr(routine, QEL_E_NEEDS_STATE);
    return false;
  }
  // A load on ground is accepted and has nothing to act on.
  return body != -1;
}

}  // namespace
}  // namespace qel

using namespace qel;

extern "C" {

QEL_API void mbhinget(int joint, int axis, double torque) {
  const int k = hinge_axis(QEL_R_MBHINGET, joint, axis);
  if (k < 0) return;
  if (control.call_state != 2) {
    mbseterr(QEL_R_MBHINGET, QEL_E_NEEDS_STATE);
    return;
  }
  control.frcterms_valid = 0;
  loads.applied_ht[k] += torque;
}

QEL_API void mbpointf(int body, const double point[3], const double force[3]) {
  if (!accepts_body_load(QEL_R_MBPOINTF, body)) return;
  double m[3];
  mbvcross(point, force, m);
  control.frcterms_valid = 0;
  mbvadd(loads.applied_force[body], force, loads.applied_force[body]);
  mbvadd(loads.applied_torque[body], m, loads.applied_torque[body]);
}

QEL_API void mbbodyt(int body, const double torque[3]) {
  if (!accepts_body_load(QEL_R_MBBODYT, body)) return;
  control.frcterms_valid = 0;
  mbvadd(loads.applied_torque[body], torque, loads.applied_torque[body]);
}

QEL_API void mbgetht(int joint, int axis, double* torque) {
  const int k = hinge_axis(QEL_R_MBGETHT, joint, axis);
  if (k < 0) return;
  if (mbchkaccel(QEL_R_MBGETHT)) return;
  *torque = results.ht_result[k];
}

QEL_API void mbpseudo(void) {}
QEL_API void mbpsqdot(void) {}
QEL_API void mbpsudot(void) {}
QEL_API void mbperr(double* /*errs*/) {}
QEL_API void mbverr(double* /*errs*/) {}
QEL_API void mbaerr(void) {}
QEL_API void mbpresacc(void) {}
QEL_API void mbpresvel(void) {}
QEL_API void mbprespos(void) {}

}  // extern "C"
