// Velocity-product terms: the angular and linear accelerations every frame
// and mass centre would have at the present q and u if every udot were zero.
#include "dynamics/forces.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

namespace qel {

void mbfrcnop() {}

void mbvelprod() {
  if (control.velprod_valid) return;
  const PositionTables& P = position;
  const VelocityTables& V = velocity;
  const Parameters& prm = params;
  ForceTerms& out = forces;

  // root to tip: angular terms of every non-root axis. The root body has
  // none, since u[3..5] are its angular velocity, so a joint on body 0 starts
  // from its local term alone.
  for (int j = 1; j < njnt; ++j) {
    const int p = joint_inboard[j];
    for (int k = joint_first_axis[j]; k <= joint_last_axis[j]; ++k) {
      double local[3];
      mbvcross(V.axis_angvel[k], V.axis_pin_rate[k], local);
      double* w = out.velprod_ang[k];
      if (k == joint_first_axis[j] && p == 0) {
        mbvcopy(local, w);
        continue;
      }
      const int prev = k > joint_first_axis[j] ? k - 1 : joint_last_axis[p];
      double carried[3];
      mat_tvec(P.axis_local_rot[k], out.velprod_ang[prev], carried);
      mbvadd(carried, local, w);
    }
  }

  // root to tip: joint-point and mass-centre terms.
  const double* w0 = &V.state_u[3];
  mbvcross(w0, V.cm_rel_vel[0], out.velprod_lin[5]);
  for (int j = 1; j < njnt; ++j) {
    const int p = joint_inboard[j], f = joint_first_axis[j], L = joint_last_axis[j];
    double* aj = out.velprod_joint[f];
    if (p == 0) {
      double c[3];
      mbvcross(w0, V.joint_arm_vel[f], c);
      mbvadd(c, out.velprod_lin[5], aj);
    } else {
      const int Lp = joint_last_axis[p];
      double c1[3], c2[3];
      mbvcross(out.velprod_ang[Lp], prm.inboard_to_joint[j], c1);
      mbvcross(V.axis_angvel[Lp], V.joint_arm_vel[f], c2);
      for (int i = 0; i < 3; ++i) aj[i] = (c1[i] + c2[i]) + out.velprod_lin[Lp][i];
    }
    for (int k = f; k < L; ++k) mat_tvec(P.axis_local_rot[k], k == f ? aj : out.velprod_lin[k - 1], out.velprod_lin[k]);
    // The body's mass-centre terms join the joint point's, rotated into the body frame.
    double c1[3], c2[3], r[3];
    mbvcross(prm.body_to_joint[j], out.velprod_ang[L], c1);
    mbvcross(V.axis_angvel[L], V.cm_rel_vel[j], c2);
    mat_tvec(P.axis_local_rot[L], L == f ? aj : out.velprod_lin[L - 1], r);
    for (int i = 0; i < 3; ++i) out.velprod_lin[L][i] = (c1[i] + c2[i]) + r[i];
  }

  control.velprod_valid = 1;
}

}  // namespace qel
