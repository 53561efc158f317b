// mbstate: takes the host's (t, q, u), decides from the cache which stages
// must run, and fills the position and velocity tables every later stage
// reads. Each stage is one sweep over the tree, unrolled at compile time so
// that the joint kinds fold away; the result is the same as the plain loop
// over joints in increasing number.
#include "model/state.hpp"

#include <cmath>
#include <utility>

#include "frame/errors.hpp"
#include "model/kinematics.hpp"
#include "model/records.hpp"
#include "numerics/vec3.hpp"

namespace qel {

PositionTables position = {};
VelocityTables velocity = {};
LoadAccumulators loads = {};

namespace {

// 1 - cos 5 degrees, to 15 significant digits.
constexpr double kGimbalMargin = 0.00380530190825447;

// Slot of a body's mass-centre value in the per-axis tables.
constexpr int cm_slot(int body) { return body == 0 ? 5 : joint_last_axis[body]; }

// Calls fn(std::integral_constant<int, j>) for j = 1 .. njnt-1 in increasing
// order, so each joint's kind and axis range are constants inside fn.
template <class Fn, int... J>
inline void sweep_impl(Fn&& fn, std::integer_sequence<int, J...>) {
  (fn(std::integral_constant<int, J + 1>{}), ...);
}
template <class Fn>
inline void root_to_tip(Fn&& fn) {
  sweep_impl(fn, std::make_integer_sequence<int, njnt - 1>{});
}

// A = p p^T + c (I - p p^T) + s [p]x, the rotation by the angle with sine s
// and cosine c about the unit pin p.
inline void axis_rotation(const double* p, double s, double c, mat33& A) {
  const double p0 = p[0], p1 = p[1], p2 = p[2];
  A[0][0] = p0 * p0 + (1.0 - p0 * p0) * c;
  A[0][1] = (p0 * p1 - s * p2) - c * p0 * p1;
  A[0][2] = (p0 * p2 + s * p1) - c * p0 * p2;
  A[1][0] = (p0 * p1 + s * p2) - c * p0 * p1;
  A[1][1] = p1 * p1 + (1.0 - p1 * p1) * c;
  A[1][2] = (p1 * p2 - s * p0) - c * p1 * p2;
  A[2][0] = (p0 * p2 - s * p1) - c * p0 * p2;
  A[2][1] = (p1 * p2 + s * p0) - c * p1 * p2;
  A[2][2] = p2 * p2 + (1.0 - p2 * p2) * c;
}

// Body 0's orientation from the normalized quaternion, vector part e[3..5],
// scalar e[nu].
inline void root_rotation(const double* e, mat33& R) {
  const double e1 = e[3], e2 = e[4], e3 = e[5], e4 = e[nu];
  R[0][0] = 1.0 - 2.0 * (e2 * e2 + e3 * e3);
  R[0][1] = 2.0 * (e1 * e2 - e3 * e4);
  R[0][2] = 2.0 * (e1 * e3 + e2 * e4);
  R[1][0] = 2.0 * (e1 * e2 + e3 * e4);
  R[1][1] = 1.0 - 2.0 * (e1 * e1 + e3 * e3);
  R[1][2] = 2.0 * (e2 * e3 - e1 * e4);
  R[2][0] = 2.0 * (e1 * e3 - e2 * e4);
  R[2][1] = 2.0 * (e2 * e3 + e1 * e4);
  R[2][2] = 1.0 - 2.0 * (e1 * e1 + e2 * e2);
}

// out = [v]x A: column m is v x (column m of A).
inline void skew_times(const double* v, const mat33& A, mat33& out) {
  for (int m = 0; m < 3; ++m) {
    const double a[3] = {A[0][m], A[1][m], A[2][m]};
    double x[3];
    mbvcross(v, a, x);
    out[0][m] = x[0];
    out[1][m] = x[1];
    out[2][m] = x[2];
  }
}

// out = base - R b: a mass centre from its joint point.
inline void below_joint(const double* base, const mat33& R, const double* b, double* out) {
  double d[3];
  mat_vec(R, b, d);
  mbvsub(base, d, out);
}

// out = base + R v.
inline void add_rotated(const double* base, const mat33& R, const double* v, double* out) {
  double d[3];
  mat_vec(R, v, d);
  mbvadd(base, d, out);
}

// One joint of the position sweep. The code is shared by all joints of a
// kind, not repeated per joint: the whole sweep then stays in the
// instruction cache.
template <int kType>
[[gnu::noinline]] void position_joint(const int j, double* moment) {
  PositionTables& P = position;
  const double* q = P.state_q;
  const int f = joint_first_axis[j], l = f + dof_of_type(kType) - 1, p = joint_inboard[j];
  const mat33& Rp = P.body_rot[p];
  double g[3];
  mbvcopy(P.body_gravity[p], g);
  const mat33* F = &Rp;
  for (int k = f; k <= l; ++k) {
    const double s = std::sin(q[k]), c = std::cos(q[k]);
    P.q_sincos[k - 6][0] = s;
    P.q_sincos[k - 6][1] = c;
    mat33& A = P.axis_local_rot[k];
    axis_rotation(params.joint_pin[k], s, c, A);
    mat_tvec(A, g, g);
    mat_mul(*F, A, P.axis_frame_rot[k]);
    F = &P.axis_frame_rot[k];
  }
  mbvcopy(g, P.body_gravity[j]);
  mat_copy(P.axis_frame_rot[l], P.body_rot[j]);

  const mat33& Af = P.axis_local_rot[f];
  mat_tvec(Af, params.inboard_to_joint[j], P.axis_load_arm[f]);
  if constexpr (kType == kPinJoint) mbvsub(P.axis_load_arm[f], params.body_to_joint[j], P.axis_load_arm[f]);
  skew_times(derived.inboard_offset[f], Af, P.axis_skew_rot[f]);

  double J[3];
  add_rotated(P.axis_pos[cm_slot(p)], Rp, params.inboard_to_joint[j], J);
  if constexpr (kType == kThreeRotation) mbvcopy(J, P.axis_pos[f]);
  below_joint(J, P.body_rot[j], params.body_to_joint[j], P.axis_pos[l]);
  mbvcopy(P.axis_pos[l], P.body_pos[j]);
  double mp[3];
  mbvmul(params.body_mass[j], P.body_pos[j], mp);
  mbvadd(moment, mp, moment);
}

void position_stage() {
  PositionTables& P = position;
  const double* q = P.state_q;
  mbnormstchk(P.state_q, P.state_qn, QEL_R_MBSTATE);

  // The root: orientation, gravity, joint point and mass centre.
  mat33& R0 = P.axis_local_rot[3];
  root_rotation(P.state_qn, R0);
  mat_copy(R0, P.body_rot[0]);
  mat_tvec(R0, params.gravity, P.body_gravity[0]);
  const double* itj0 = params.inboard_to_joint[0];
  P.axis_pos[0][0] = q[0] + itj0[0];
  P.axis_pos[1][1] = q[1] + itj0[1];
  P.axis_pos[2][2] = q[2] + itj0[2];
  const double root_point[3] = {P.axis_pos[0][0], P.axis_pos[1][1], P.axis_pos[2][2]};
  below_joint(root_point, R0, params.body_to_joint[0], P.axis_pos[5]);
  mbvcopy(P.axis_pos[5], P.body_pos[0]);
  double moment[3];
  mbvmul(params.body_mass[0], P.body_pos[0], moment);

  // root to tip: rotations, frames, gravity, load arms, positions, mass moment.
  root_to_tip([&](auto jc) {
    constexpr int j = decltype(jc)::value;
    position_joint<joint_type[j]>(j, moment);
  });

  // Without mass there is no mass centre to divide out; zero stands for it.
  const double M = derived.total_mass;
  mbvmul(M == 0.0 ? 0.0 : 1.0 / M, moment, P.sys_mass_centre);
}

// root to tip: three-rotation joints whose first and third axes are within
// 5 degrees of parallel (NaN counts as locked).
void gimbal_check() {
  root_to_tip([](auto jc) {
    constexpr int j = decltype(jc)::value;
    if constexpr (joint_type[j] == kThreeRotation) {
      constexpr int f = joint_first_axis[j];
      double a[3], b[3];
      mat_vec(position.axis_frame_rot[f], params.joint_pin[f], a);
      mat_vec(position.axis_frame_rot[f + 2], params.joint_pin[f + 2], b);
      const double d = dot3(a, b);
      if (!(std::fabs(std::fabs(d) - 1.0) > kGimbalMargin)) mbseterr(QEL_R_MBSTATE, QEL_E_GIMBAL_LOCK);
    }
  });
}

// e-dot = 1/2 e (x) (w, 0) for the quaternion e of q (scalar q[nu]) and the
// body-frame angular velocity w; rates go to qdot[3..5] and qdot[nu].
inline void quaternion_rates(const double* q, double w1, double w2, double w3, double* qdot) {
  const double e1 = q[3], e2 = q[4], e3 = q[5], e4 = q[nu];
  qdot[3] = ((e2 * w3 - e3 * w2) + e4 * w1) * 0.5;
  qdot[4] = ((e4 * w2 - e1 * w3) + e3 * w1) * 0.5;
  qdot[5] = ((e1 * w2 + e4 * w3) - e2 * w1) * 0.5;
  qdot[nu] = -(((e3 * w3 + e2 * w2) + e1 * w1) * 0.5);
}

// state_qdot from the cached q and u, with the norm-stabilizing term.
void coordinate_derivatives() {
  const double* q = position.state_q;
  const double* u = velocity.state_u;
  double* qdot = velocity.state_qdot;
  for (int i = 0; i < nu; ++i) qdot[i] = u[i];
  quaternion_rates(q, u[3], u[4], u[5], qdot);
  const double gain = params.stab_const[0];
  if (gain != 0.0) {
    const double e1 = q[3], e2 = q[4], e3 = q[5], e4 = q[nu];
    const double s = ((e1 * e1 + e2 * e2) + e3 * e3) + e4 * e4;
    // A zero or non-finite length has been reported already; the term would
    // only turn the rates into NaN.
    if (s != 0.0 && std::isfinite(s)) {
      const double h = ((1.0 - s) * gain) / s;
      qdot[3] += e1 * h;
      qdot[4] += e2 * h;
      qdot[5] += e3 * h;
      qdot[nu] += e4 * h;
    }
  }
  control.qdot_stale = 0;
}

// The angular-velocity products of one body: relative mass-centre velocity,
// gyroscopic term and the nine products of w.
inline void body_rate_terms(int b) {
  VelocityTables& V = velocity;
  const double* w = V.body_angvel[b];
  mbvcross(params.body_to_joint[b], w, V.cm_rel_vel[b]);
  double H[3];
  mat_vec(params.body_inertia[b], w, H);
  mbvcross(w, H, V.body_gyro[b]);
  const double xx = w[0] * w[0], yy = w[1] * w[1], zz = w[2] * w[2];
  double* ww = V.body_wwmat;
  ww[0 * nbody + b] = xx;
  ww[1 * nbody + b] = yy;
  ww[2 * nbody + b] = zz;
  ww[3 * nbody + b] = w[0] * w[1];
  ww[4 * nbody + b] = w[0] * w[2];
  ww[5 * nbody + b] = w[1] * w[2];
  ww[6 * nbody + b] = -(xx + yy);
  ww[7 * nbody + b] = -(xx + zz);
  ww[8 * nbody + b] = -(yy + zz);
}

// One joint of the velocity sweep, shared by all joints of a kind.
template <int kType>
[[gnu::noinline]] void velocity_joint(const int j, const double* u) {
  VelocityTables& V = velocity;
  const PositionTables& P = position;
  const int f = joint_first_axis[j], l = f + dof_of_type(kType) - 1, p = joint_inboard[j];
  const double* wp = V.body_angvel[p];
  const double* w = wp;
  for (int k = f; k <= l; ++k) {
    mbvmul(u[k], params.joint_pin[k], V.axis_pin_rate[k]);
    double t[3];
    mat_tvec(P.axis_local_rot[k], w, t);
    mbvadd(t, V.axis_pin_rate[k], V.axis_angvel[k]);
    w = V.axis_angvel[k];
  }
  mbvcopy(w, V.body_angvel[j]);
  mbvcross(wp, params.inboard_to_joint[j], V.joint_arm_vel[f]);
  body_rate_terms(j);

  double vj[3];
  add_rotated(V.axis_linvel[cm_slot(p)], P.body_rot[p], V.joint_arm_vel[f], vj);
  if constexpr (kType == kThreeRotation) mbvcopy(vj, V.axis_linvel[f]);
  add_rotated(vj, P.body_rot[j], V.cm_rel_vel[j], V.axis_linvel[l]);
  mbvcopy(V.axis_linvel[l], V.body_vel[j]);
}

void velocity_stage(const double* u) {
  VelocityTables& V = velocity;
  const PositionTables& P = position;
  control.velprod_valid = 0;
  for (int i = 0; i < nu; ++i) V.state_u[i] = u[i];

  mbvset(u[3], u[4], u[5], V.body_angvel[0]);
  body_rate_terms(0);
  const double root_vel[3] = {u[0], u[1], u[2]};
  add_rotated(root_vel, P.body_rot[0], V.cm_rel_vel[0], V.axis_linvel[5]);
  mbvcopy(V.axis_linvel[5], V.body_vel[0]);

  // root to tip: pin rates, angular velocities, rate terms, linear velocities.
  root_to_tip([&](auto jc) {
    constexpr int j = decltype(jc)::value;
    velocity_joint<joint_type[j]>(j, u);
  });

  coordinate_derivatives();
}

// An unordered comparison (NaN) counts as a change, so a NaN input is
// never answered with the previous state's tables.
inline bool same_values(const double* a, const double* b, int n) {
  for (int i = 0; i < n; ++i)
    if (!(a[i] == b[i])) return false;
  return true;
}

}  // namespace

void mbgetqdot(double qdot[nq]) {
  if (mbchkstate(QEL_R_MBGETQDOT)) return;
  for (int i = 0; i < nq; ++i) qdot[i] = velocity.state_qdot[i];
}

void mbu2qdot(const double u[nu], double qdot[nq]) {
  if (mbchkstate(QEL_R_MBU2QDOT)) return;
  // Read the angular speeds first: qdot may be the array u itself.
  const double w1 = u[3], w2 = u[4], w3 = u[5];
  for (int i = 0; i < nu; ++i) qdot[i] = u[i];
  quaternion_rates(position.state_q, w1, w2, w3, qdot);
}

}  // namespace qel

using namespace qel;

extern "C" QEL_API void mbstate(double t, const double q[nq], const double u[nu]) {
  const int state = control.call_state;
  if (state < 1 || state > 3) {
    mbseterr(QEL_R_MBSTATE, QEL_E_NOT_INITIALIZED);
    return;
  }
  bool coords_changed = true, speeds_changed = true;
  if (state == 1) {
    for (int k = 0; k < nu; ++k)
      if (param_status.pres[k] == kToSupply) mbseterr(QEL_R_MBSTATE, QEL_E_PRESCRIBED_MISSING);
  } else {
    coords_changed = !(t == position.state_time) || !same_values(q, position.state_q, nq);
    speeds_changed = coords_changed || !same_values(u, velocity.state_u, nu);
  }

  control.call_state = 2;
  position.state_time = t;
  if (coords_changed) {
    control.partvel_valid = 0;
    control.abi_valid = 0;
    control.state_mark = 0;
    for (int i = 0; i < nq; ++i) position.state_q[i] = q[i];
    position_stage();
  }
  gimbal_check();
  if (speeds_changed)
    velocity_stage(u);
  else if (control.qdot_stale)
    coordinate_derivatives();

  // The loads belong to one state only.
  loads = {};
  control.frcterms_valid = 0;
}

extern "C" QEL_API void mbpsstate(void) {
  if (control.call_state != 2) mbseterr(QEL_R_MBPSSTATE, QEL_E_NEEDS_STATE);
}
