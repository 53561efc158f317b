// The state records: what mbstate computes from (t, q, u), and the load
// accumulators the host adds into between mbstate and mbderiv. Per-joint
// values kept in per-axis tables sit at f(j) or l(j) as noted; a body's
// mass-centre value sits at slot 5 for body 0 and l(j) for body j >= 1.
#pragma once

#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/topology.hpp"

namespace qel {

// Position stage: computed by mbstate when t or q change / read by the
// velocity stage, the kinematic queries and every dynamics stage.
struct PositionTables {
  double state_time;
  double state_q[nq];                 // (nq) q exactly as passed: the coordinate cache
  double state_qn[nq];                // (nq) q with the quaternion normalized
  double q_sincos[nu - 6][2];         // (nu-6 x 2) sin, cos of q[6..nu-1]
  double axis_local_rot[nu][3][3];    // (nu x 3 x 3) slot 3: body 0 to ground; k >= 6: A_k
  double axis_frame_rot[nu][3][3];    // (nu x 3 x 3) k >= 6: frame after axis k to ground
  double axis_skew_rot[nu][3][3];     // (nu x 3 x 3) slot f(j): [inboard_offset]x A_f
  double axis_load_arm[nu][3];        // (nu x 3) slot f(j): inboard_to_joint in frame f (pin: minus btj)
  double axis_pos[nu][3];             // (nu x 3) joint points and mass centres, ground
  double body_rot[nbody][3][3];       // (nbody x 3 x 3) body to ground
  double body_pos[nbody][3];          // (nbody x 3) mass centres, ground
  double body_gravity[nbody][3];      // (nbody x 3) gravity in each body frame
  double sys_mass_centre[3];          // ground
};

// Velocity stage: computed by mbstate when t, q or u change / read by the
// kinematic queries, the velocity-product terms and the dynamics stages.
struct VelocityTables {
  double state_u[nu];                 // (nu) u exactly as passed: the speed cache
  double state_qdot[nq];              // (nq) coordinate derivatives
  double axis_pin_rate[nu][3];        // (nu x 3) k >= 6: u[k] pin[k]
  double axis_angvel[nu][3];          // (nu x 3) k >= 6: angular velocity of frame k, in it
  double axis_linvel[nu][3];          // (nu x 3) joint-point and mass-centre velocities, ground
  double joint_arm_vel[nu][3];        // (nu x 3) slot f(j): w_p x inboard_to_joint, inboard frame
  double body_angvel[nbody][3];       // (nbody x 3) body frame
  double body_vel[nbody][3];          // (nbody x 3) mass-centre velocity, ground
  double cm_rel_vel[nbody][3];        // (nbody x 3) btj x w, body frame
  double body_gyro[nbody][3];         // (nbody x 3) w x (I w), body frame
  double body_wwmat[9 * nbody];       // (9 x nbody) products of w, element (r, b) at r*nbody + b
};

// Load accumulators: zeroed by every accepted mbstate, added to by mbhinget,
// mbpointf and mbbodyt / read by the generalized-force, inverse-dynamics and
// reaction stages.
struct LoadAccumulators {
  double applied_force[nbody][3];     // (nbody x 3) point forces, body frame
  double applied_torque[nbody][3];    // (nbody x 3) torques about the mass centre, body frame
  double applied_ht[nu];              // (nu) hinge loads
};

extern PositionTables position;
extern VelocityTables velocity;
extern LoadAccumulators loads;

// Copies the nq coordinates of in to out with the root quaternion scaled to
// unit length (a zero one becomes (0, 0, 0, 1)); with routine != 0 reports
// (routine, 14) when its length lies outside [0.9, 1.1] or is not a number.
// in and out may be the same array.
void mbnormstchk(const double in[nq], double out[nq], int routine);

// Call state 2 or 3: a state is set, with or without its accelerations.
inline bool state_is_set() { return control.call_state == 2 || control.call_state == 3; }

// The call-state checks, shaped like the argument validators: each reports
// (routine, code) and returns 1 when the call must end. mbchkstate needs a
// state (call state 2 or 3), mbchkaccel its accelerations (call state 3).
inline int mbchkstate(int routine) {
  if (state_is_set()) return 0;
  mbseterr(routine, QEL_E_NEEDS_STATE);
  return 1;
}
inline int mbchkaccel(int routine) {
  if (control.call_state == 3) return 0;
  mbseterr(routine, QEL_E_NEEDS_ACCELERATIONS);
  return 1;
}

}  // namespace qel
