// Inverse dynamics and the mass matrix built from it. mbinvdyn forms its own
// velocity terms from the state tables, so it needs nothing but mbstate and
// the loads, and it changes no state beyond the shared sweep scratch.
#include "dynamics/inverse.hpp"

#include "dynamics/forces.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

namespace qel {

namespace {

// Body b's angular velocity, body frame.
inline const double* body_omega(int b) {
  return b == 0 ? &velocity.state_u[3] : velocity.axis_angvel[joint_last_axis[b]];
}

}  // namespace

void mbinvdyn(const double* udot, const double* /*mult: no constraints*/, double* ht) {
  if (mbchkstate(QEL_R_MBINVDYN)) return;
  const PositionTables& P = position;
  const VelocityTables& V = velocity;
  const Parameters& prm = params;

  // Angular accelerations per axis; slot 5 holds body 0's, so every body's
  // sits at l(b).
  double alpha[nu][3];
  mbvset(udot[3], udot[4], udot[5], alpha[5]);
  // root to tip: angular accelerations of every frame.
  for (int j = 1; j < njnt; ++j) {
    const int f = joint_first_axis[j];
    for (int k = f; k <= joint_last_axis[j]; ++k) {
      double r[3], c[3];
      mat_tvec(P.axis_local_rot[k], alpha[k > f ? k - 1 : joint_last_axis[joint_inboard[j]]], r);
      mbvcross(V.axis_angvel[k], V.axis_pin_rate[k], c);
      for (int i = 0; i < 3; ++i) alpha[k][i] = (r[i] + c[i]) + udot[k] * prm.joint_pin[k][i];
    }
  }

  // root to tip: mass-centre accelerations, body frames.
  double acc[nbody][3];
  {
    double r[3], nb[3], c1[3], c2[3];
    mat_tvec(P.axis_local_rot[3], udot, r);
    mbvmul(-1.0, prm.body_to_joint[0], nb);
    mbvcross(alpha[5], nb, c1);
    mbvcross(body_omega(0), V.cm_rel_vel[0], c2);
    for (int i = 0; i < 3; ++i) acc[0][i] = (r[i] + c1[i]) + c2[i];
  }
  for (int j = 1; j < njnt; ++j) {
    const int p = joint_inboard[j], f = joint_first_axis[j], L = joint_last_axis[j];
    double aJ[3], nb[3], c1[3], c2[3];
    mbvcross(alpha[joint_last_axis[p]], prm.inboard_to_joint[j], c1);
    mbvcross(body_omega(p), V.joint_arm_vel[f], c2);
    for (int i = 0; i < 3; ++i) aJ[i] = (acc[p][i] + c1[i]) + c2[i];
    // The joint point does not move under the joint's own rotations.
    for (int k = f; k <= L; ++k) mat_tvec(P.axis_local_rot[k], aJ, aJ);
    mbvmul(-1.0, prm.body_to_joint[j], nb);
    mbvcross(alpha[L], nb, c1);
    mbvcross(body_omega(j), V.cm_rel_vel[j], c2);
    for (int i = 0; i < 3; ++i) acc[j][i] = (aJ[i] + c1[i]) + c2[i];
  }

  // Loads each body needs beyond its weight and applied loads, all forces
  // before all torques.
  double force[nbody][3], torque[nbody][3];
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i)
      force[b][i] = prm.body_mass[b] * (P.body_gravity[b][i] - acc[b][i]) + loads.applied_force[b][i];
  for (int b = 0; b < nbody; ++b) {
    double h[3];
    mat_vec(prm.body_inertia[b], alpha[joint_last_axis[b]], h);
    for (int i = 0; i < 3; ++i) torque[b][i] = loads.applied_torque[b][i] - (h[i] + V.body_gyro[b][i]);
  }

  tip_to_root<SweepKind::kInverse>(force, torque, ht);
}

void mbudot2ht(const double* udot, double* ht) {
  if (mbchkstate(QEL_R_MBUDOT2HT)) return;
  mbinvdyn(udot, nullptr, ht);
}

void mbmult2ht(const double* /*mult: no constraints*/, double* ht) {
  if (mbchkstate(QEL_R_MBMULT2HT)) return;
  for (int k = 0; k < nu; ++k) ht[k] = 0.0;
}

void mbmassmtx(double* mm) {
  if (mbchkstate(QEL_R_MBMASSMTX)) return;
  // Column j is the change of the torques that a unit udot[j] makes.
  double e[nu] = {}, t0[nu], c[nu];
  mbudot2ht(e, t0);
  for (int j = 0; j < nu; ++j) {
    e[j] = 1.0;
    mbudot2ht(e, c);
    e[j] = 0.0;
    for (int i = j; i < nu; ++i) mm[j * nu + i] = mm[i * nu + j] = c[i] - t0[i];
  }
  // A diagonal that is not clearly positive (or NaN) means an axis carries
  // no mass or inertia.
  for (int k = 0; k < nu; ++k)
    if (!(mm[k * nu + k] > 1e-13)) mbseterr(QEL_R_MBMASSMTX, QEL_E_SMALL_PIVOT);
}

}  // namespace qel
