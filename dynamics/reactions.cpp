// Joint reactions: a Newton-Euler sweep from the tips inward that gives the
// force and torque each joint exerts on its outboard body, from the
// accelerations of the last evaluation.
#include "dynamics/axes.hpp"
#include "dynamics/results.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

namespace qel {
namespace {

// Reaction work: computed and read by mbreac only, slot by slot, tip to root.
struct ReactionTables {
  double axis_reac_force[nu][3];   // (nu x 3) joint force on the body, frame of the axis
  double axis_reac_torque[nu][3];  // (nu x 3) joint torque about the joint point, frame of the axis
  double body_loads_in[nbody][2][3];  // (nbody x 2 x 3) applied force and torque less what the children take
};
ReactionTables reac;

// Newton and Euler for body b, with the loads its children's joints push
// back with already taken off; then the pair is carried back through the
// inner frames of a three-rotation joint and handed to the inboard body.
template <int b>
[[gnu::always_inline]] inline void reaction_block() {
  constexpr int f = b == 0 ? 5 : joint_first_axis[b];
  constexpr int L = joint_last_axis[b];
  const double* E = reac.body_loads_in[b][0];
  const double* Q = reac.body_loads_in[b][1];
  double* F = reac.axis_reac_force[L];
  double* T = reac.axis_reac_torque[L];

  double x[3], y[3];
  mbvsub(results.body_acc_local[b], position.body_gravity[b], x);
  mbvmul(params.body_mass[b], x, x);
  mbvsub(x, E, F);
  mat_vec(params.body_inertia[b], results.body_angacc[b], x);
  mbvadd(x, velocity.body_gyro[b], x);
  mbvcross(params.body_to_joint[b], F, y);
  mbvadd(y, Q, y);
  mbvsub(x, y, T);

  if constexpr (b != 0) {
    if constexpr (f != L) {
      // All three rotations turn about the joint point: no moment shift.
      for (int k = L; k > f; --k) {
        mat_vec(position.axis_local_rot[k], reac.axis_reac_force[k], reac.axis_reac_force[k - 1]);
        mat_vec(position.axis_local_rot[k], reac.axis_reac_torque[k], reac.axis_reac_torque[k - 1]);
      }
    }
    // What this joint pushes back on the inboard body, in that body's frame.
    constexpr int p = joint_inboard[b];
    double G[3], t[3];
    mat_vec(position.axis_local_rot[f], reac.axis_reac_force[f], G);
    mat_vec(position.axis_local_rot[f], reac.axis_reac_torque[f], t);
    mbvcross(params.inboard_to_joint[b], G, x);
    mbvadd(t, x, t);
    double* Ep = reac.body_loads_in[p][0];
    double* Qp = reac.body_loads_in[p][1];
    mbvsub(Ep, G, Ep);
    mbvsub(Qp, t, Qp);
  }
}

template <int... B>
[[gnu::always_inline]] inline void reaction_sweep(std::integer_sequence<int, B...>) {
  // tip to root: children (higher numbers) before their inboard bodies.
  (reaction_block<nbody - 1 - B>(), ...);
}

}  // namespace

#ifdef QEL_FUZZ
// The fuzz harness starts every input from load-time tables.
void fuzz_reset_reactions() { reac = {}; }
#endif
}  // namespace qel

using namespace qel;

extern "C" QEL_API void mbreac(double force[][3], double torque[][3]) {
  if (mbchkaccel(QEL_R_MBREAC)) return;
  for (int b = 0; b < nbody; ++b) {
    mbvcopy(loads.applied_force[b], reac.body_loads_in[b][0]);
    mbvcopy(loads.applied_torque[b], reac.body_loads_in[b][1]);
  }
  reaction_sweep(std::make_integer_sequence<int, nbody>{});
  for (int b = 0; b < nbody; ++b) {
    mbvcopy(reac.axis_reac_force[joint_last_axis[b]], force[b]);
    mbvcopy(reac.axis_reac_torque[joint_last_axis[b]], torque[b]);
  }
}
