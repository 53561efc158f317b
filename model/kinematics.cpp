// Kinematic queries of body points and frames, read from the tables of the
// last mbstate, and the partial velocities with their lazily filled tables.
// Every query reads all of its input vector before it writes an output, so
// the output may be the input array.
#include "model/kinematics.hpp"

#include "frame/errors.hpp"
#include "model/partvel.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "model/validate.hpp"
#include "numerics/vec3.hpp"

namespace qel {
namespace {

// The body check, then the call-state check; true when the call must end.
bool refused(int routine, int body) { return mbchkbnum(routine, body) || mbchkstate(routine); }

// loc = body_pos + body_rot pt, ground; body >= 0.
void point_position(int body, const double* pt, double* loc) {
  double g[3];
  mat_vec(position.body_rot[body], pt, g);
  mbvadd(position.body_pos[body], g, loc);
}

}  // namespace

void mbpartprep() {
  if (control.partvel_valid) return;
  const PositionTables& P = position;
  double(&axis)[nu][3] = partvel.partvel_axis;
  double(&arm)[nu][3] = partvel.partvel_arm;
  const mat33& R0 = P.axis_local_rot[3];
  const double* itj0 = params.inboard_to_joint[0];
  const double x = P.axis_pos[0][0], y = P.axis_pos[1][1], z = P.axis_pos[2][2];

  // The root: translations along ground, rotations about body 0's own axes.
  for (int k = 0; k < 3; ++k) axis[k][k] = 1.0;
  for (int c = 0; c < 3; ++c) mbvset(R0[0][c], R0[1][c], R0[2][c], axis[3 + c]);
  mbvset(x, itj0[1], itj0[2], arm[0]);
  mbvset(x, y, itj0[2], arm[1]);
  for (int k = 2; k < 5; ++k) mbvset(x, y, z, arm[k]);
  double b[3];
  mat_vec(R0, params.body_to_joint[0], b);
  mbvadd(P.axis_pos[5], b, arm[5]);

  // root to tip: each pin in ground and the point of its joint.
  for (int j = 1; j < njnt; ++j) {
    const int f = joint_first_axis[j], l = joint_last_axis[j];
    for (int k = f; k <= l; ++k) mat_vec(P.axis_frame_rot[k], params.joint_pin[k], axis[k]);
    for (int k = f; k < l; ++k) mbvcopy(P.axis_pos[f], arm[k]);
    mat_vec(P.axis_frame_rot[l], params.body_to_joint[j], b);
    mbvadd(P.axis_pos[l], b, arm[l]);
  }
  control.partvel_valid = 1;
}

void mbpartvel(int axis, int body, const double pt[3], double linear[3], double angular[3]) {
  if (axis < 0 || axis > nu - 1) {
    mbseterr(QEL_R_MBPARTVEL, QEL_E_BAD_SPEED_INDEX);
    return;
  }
  if (refused(QEL_R_MBPARTVEL, body)) return;
  // Keep the point before the outputs are cleared: either may be pt.
  const double p[3] = {pt[0], pt[1], pt[2]};
  mbvset(0.0, 0.0, 0.0, linear);
  mbvset(0.0, 0.0, 0.0, angular);
  if (body == -1) return;

  // tip to root: the joint on the body's path that owns the axis, if any.
  int b = body;
  while (axis < joint_first_axis[b]) {
    b = joint_inboard[b];
    if (b == -1) return;
  }
  if (axis >= joint_first_axis[b] + joint_dof[b]) return;

  mbpartprep();
  const mat33& R = position.body_rot[body];
  double s[3];
  mat_tvec(R, partvel.partvel_axis[axis], s);
  if (axis_is_translation[axis]) {
    mbvcopy(s, linear);
    return;
  }
  mbvcopy(s, angular);
  double d[3];
  point_position(body, p, d);
  mbvsub(d, partvel.partvel_arm[axis], d);
  mat_tvec(R, d, d);
  mbvcross(s, d, linear);
}

}  // namespace qel

using namespace qel;

extern "C" {

QEL_API void mbpos(int body, const double pt[3], double loc[3]) {
  if (refused(QEL_R_MBPOS, body)) return;
  if (body == -1)
    mbvcopy(pt, loc);
  else
    point_position(body, pt, loc);
}

QEL_API void mbvel(int body, const double pt[3], double vel[3]) {
  if (refused(QEL_R_MBVEL, body)) return;
  if (body == -1) {
    mbvset(0.0, 0.0, 0.0, vel);
    return;
  }
  double c[3];
  mbvcross(velocity.body_angvel[body], pt, c);
  mat_vec(position.body_rot[body], c, c);
  mbvadd(velocity.body_vel[body], c, vel);
}

QEL_API void mborient(int body, double rot[3][3]) {
  if (refused(QEL_R_MBORIENT, body)) return;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rot[r][c] = body == -1 ? (r == c ? 1.0 : 0.0) : position.body_rot[body][r][c];
}

QEL_API void mbangvel(int body, double wvec[3]) {
  if (refused(QEL_R_MBANGVEL, body)) return;
  if (body == -1)
    mbvset(0.0, 0.0, 0.0, wvec);
  else
    mbvcopy(velocity.body_angvel[body], wvec);
}

QEL_API void mbtrans(int from_body, const double vin[3], int to_body, double vout[3]) {
  if (mbchkbnum(QEL_R_MBTRANS, from_body) || refused(QEL_R_MBTRANS, to_body)) return;
  if (to_body == from_body) {
    mbvcopy(vin, vout);
  } else if (from_body == -1) {
    mat_tvec(position.body_rot[to_body], vin, vout);
  } else if (to_body == -1) {
    mat_vec(position.body_rot[from_body], vin, vout);
  } else {
    double g[3];
    mat_vec(position.body_rot[from_body], vin, g);
    mat_tvec(position.body_rot[to_body], g, vout);
  }
}

}  // extern "C"
