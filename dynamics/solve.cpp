// The generalized-acceleration solve: an inward sweep that reduces gen_force
// with the articulated-inertia gains (forward substitution), the root's six
// axes reduced and solved in body 0's frame and ground, and an outward sweep
// that yields udot axis by axis (backward substitution). M(q) is never formed.
#include "dynamics/solve.hpp"

#include "dynamics/abi.hpp"
#include "dynamics/axes.hpp"
#include "dynamics/forces.hpp"
#include "dynamics/results.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

namespace qel {

namespace {

// The axis traits each sweep's step reads.
constexpr int kReduceTraits = kTipAxis | kFirstAxis | kArrivalBits;
constexpr int kSolveTraits = kTipAxis | kFirstAxis;

// Axis k of the inward sweep: its reduced force e[k], and its residual
// loads carried into its inward slot.
template <int kTraits>
[[gnu::noinline]] void reduce_axis(const int k, double* e, double (*F)[3], double (*N)[3]) {
  using T = AxisTraits<kTraits>;
  const double* gf = forces.gen_force;
  const double(*gF)[3] = abi.abi_gain[0];
  const double(*gN)[3] = abi.abi_gain[1];
  const int t = axis_inward_slot[k];
  double Fk[3], Nk[3];
  if constexpr (T::tip) {
    e[k] = gf[k];
    mbvmul(e[k], gF[k], Fk);
    mbvmul(e[k], gN[k], Nk);
  } else {
    e[k] = gf[k] - dot3(params.joint_pin[k], N[k]);
    mbvaxpy(e[k], gF[k], F[k], Fk);
    mbvaxpy(e[k], gN[k], N[k], Nk);
  }
  const mat33& A = position.axis_local_rot[k];
  double f[3], m[3];
  mat_vec(A, Fk, f);
  mat_vec(A, Nk, m);
  if constexpr (T::first) {
    double s[3];
    mat_vec(position.axis_skew_rot[k], Fk, s);
    mbvadd(m, s, m);
  }
  if constexpr (T::arrives == Arrival::kAtBody) {
    mbvadd(F[t], f, F[t]);
    mbvadd(N[t], m, N[t]);
  } else {
    mbvcopy(f, F[t]);
    mbvcopy(m, N[t]);
  }
}

// Axis k of the outward sweep: udot[k] from the accelerations carried out.
template <int kTraits>
[[gnu::noinline]] void solve_axis(const int k, const double* e, double (*alpha)[3], double (*acc)[3]) {
  using T = AxisTraits<kTraits>;
  const double(*gF)[3] = abi.abi_gain[0];
  const double(*gN)[3] = abi.abi_gain[1];
  double* ud = results.state_udot;
  const int pred = axis_inward_slot[k];
  const mat33& A = position.axis_local_rot[k];
  double al[3], ac[3];
  mat_tvec(A, alpha[pred], al);
  mat_tvec(A, acc[pred], ac);
  if constexpr (T::first) {
    // The joint point moves with the inboard body's rotation.
    double s[3];
    mat_tvec(position.axis_skew_rot[k], alpha[pred], s);
    mbvadd(ac, s, ac);
  }
  ud[k] = e[k] * abi.axis_pivot_inv[k] - (dot3(gF[k], ac) + dot3(gN[k], al));
  if constexpr (!T::tip) {
    mbvaxpy(ud[k], params.joint_pin[k], al, alpha[k]);
    mbvcopy(ac, acc[k]);
  }
}

}  // namespace

void mbsolveudot(int routine, double* udot) {
  mbdynprep(routine);
  const double* gf = forces.gen_force;
  const double* pinv = abi.axis_pivot_inv;
  const double(*gF)[3] = abi.abi_gain[0];
  const double(*gN)[3] = abi.abi_gain[1];
  double* ud = results.state_udot;

  // Per axis: force and moment (about the axis's joint point) carried in from
  // outboard, reduced force e, and the outward accelerations (alpha, acc).
  // Slot 5 holds the root body's values.
  double F[nu][3], N[nu][3], e[nu], alpha[nu][3], acc[nu][3];

  // tip to root: reduce gen_force and carry the residual loads inward.
  for_axes_down<nu - 1, 6>([&](auto kc) {
    constexpr int k = decltype(kc)::value;
    reduce_axis<axis_traits(k) & kReduceTraits>(k, e, F, N);
  });

  // Root reduction: rotations 5, 4, 3 in body 0's frame, then the
  // translations 2, 1, 0 in ground.
  const mat33& R0 = position.axis_local_rot[3];
  const double e5 = gf[5] - N[5][2];
  const double e4 = gf[4] - (N[5][1] + e5 * gN[5][1]);
  const double e3 = gf[3] - ((N[5][0] + e5 * gN[5][0]) + e4 * gN[4][0]);
  double Fs[3], G[3];
  for (int c = 0; c < 3; ++c) Fs[c] = ((F[5][c] + e5 * gF[5][c]) + e4 * gF[4][c]) + e3 * gF[3][c];
  mat_vec(R0, Fs, G);
  const double e2 = gf[2] - G[2];
  const double e1 = gf[1] - (G[1] + e2 * gF[2][1]);
  const double e0 = gf[0] - ((G[0] + e2 * gF[2][0]) + e1 * gF[1][0]);

  // Root solve, 0 to 5.
  ud[0] = e0 * pinv[0];
  ud[1] = e1 * pinv[1] - gF[1][0] * ud[0];
  ud[2] = e2 * pinv[2] - (gF[2][0] * ud[0] + gF[2][1] * ud[1]);
  mat_tvec(R0, ud, acc[5]);
  ud[3] = e3 * pinv[3] - dot3(gF[3], acc[5]);
  ud[4] = e4 * pinv[4] - (dot3(gF[4], acc[5]) + gN[4][0] * ud[3]);
  ud[5] = e5 * pinv[5] - ((dot3(gF[5], acc[5]) + gN[5][0] * ud[3]) + gN[5][1] * ud[4]);
  mbvcopy(ud + 3, alpha[5]);

  // root to tip: carry the accelerations out and solve each axis.
  for_axes_up<6, nu - 1>([&](auto kc) {
    constexpr int k = decltype(kc)::value;
    solve_axis<axis_traits(k) & kSolveTraits>(k, e, alpha, acc);
  });

  for (int k = 0; k < nu; ++k) udot[k] = ud[k];
}

void mbcompudot(double* udot) {
  if (mbchkstate(QEL_R_MBCOMPUDOT)) return;
  mbsolveudot(QEL_R_MBCOMPUDOT, udot);
}

void mbzeroudotwork(int routine, const double* /*mult*/, double* udot) {
  mbdynprep(routine);
  for (int k = 0; k < nu; ++k) results.state_udot[k] = 0.0;
  for (int k = 0; k < nu; ++k) udot[k] = results.state_udot[k];
}

void mbzeroudot(const double* mult, double* udot) {
  if (mbchkstate(QEL_R_MBZEROUDOT)) return;
  mbzeroudotwork(QEL_R_MBZEROUDOT, mult, udot);
}

void mbmarkstate() {
  // Only a set state is marked down; states 0 and 1 are never lifted.
  if (control.call_state == 3) control.call_state = 2;
  if (control.state_mark == 0) control.state_mark = 1;
}

}  // namespace qel
