// Acceleration-level results: from state_udot, every body's angular and
// mass-centre acceleration and its point-acceleration matrix, and the hinge
// loads mbgetht reports; plus the two queries that read them.
//
// The sweep carries only the parts linear in udot; the velocity-product
// terms (the same frames' accelerations at zero udot) join once per body.
#include "dynamics/axes.hpp"
#include "dynamics/forces.hpp"
#include "dynamics/results.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "model/validate.hpp"
#include "numerics/vec3.hpp"

namespace qel {

namespace {

// Body b's results from the udot parts of its angular acceleration (alpha_u)
// and mass-centre acceleration (acc_u), both in its own frame, at slot l.
template <bool kRootBody>
[[gnu::always_inline]] inline void body_results(const int b, const double* alpha_u, const double* acc_u,
                                                const mat33& rot) {
  const int l = joint_last_axis[b];
  double* al = results.body_angacc[b];
  // Body 0's angular speeds are its angular velocity: no velocity-product term.
  if constexpr (kRootBody) mbvcopy(alpha_u, al);
  else mbvadd(alpha_u, forces.velprod_ang[l], al);

  // skew(alpha) + skew(w)^2 from the products of w.
  const double* ww = velocity.body_wwmat;
  auto row = [&](int r) { return ww[r * nbody + b]; };
  double(&X)[3][3] = results.body_accmat[b];
  X[0][0] = row(8);
  X[1][1] = row(7);
  X[2][2] = row(6);
  X[0][1] = row(3) - al[2];
  X[1][0] = row(3) + al[2];
  X[0][2] = row(4) + al[1];
  X[2][0] = row(4) - al[1];
  X[1][2] = row(5) - al[0];
  X[2][1] = row(5) + al[0];

  mbvadd(acc_u, forces.velprod_lin[l], results.body_acc_local[b]);
  mat_vec(rot, results.body_acc_local[b], results.body_acc[b]);
}

// The axis traits the sweep's step reads.
constexpr int kAccelTraits = kFirstAxis | kLastAxis;

// Axis k: the udot parts of its frame's angular acceleration and of the
// point it carries, and the body's results at the joint's last axis.
template <int kTraits>
[[gnu::noinline]] void accel_axis(const int k, double (*alpha_u)[3], double (*acc_u)[3]) {
  using T = AxisTraits<kTraits>;
  const double* ud = results.state_udot;
  const int j = axis_joint[k];
  const int pred = axis_inward_slot[k];
  const mat33& A = position.axis_local_rot[k];
  double t[3];
  mat_tvec(A, alpha_u[pred], t);
  mbvaxpy(ud[k], params.joint_pin[k], t, alpha_u[k]);

  if constexpr (T::first) {
    // The joint point, in the inboard body's frame.
    double x[3], jp[3];
    mbvcross(alpha_u[pred], params.inboard_to_joint[j], x);
    mbvadd(acc_u[pred], x, jp);
    mat_tvec(A, jp, acc_u[k]);
  } else {
    mat_tvec(A, acc_u[k - 1], acc_u[k]);
  }
  if constexpr (T::last) {
    double x[3];
    mbvcross(alpha_u[k], params.body_to_joint[j], x);
    mbvsub(acc_u[k], x, acc_u[k]);
    body_results<false>(j, alpha_u[k], acc_u[k], position.axis_frame_rot[k]);
  }
}

}  // namespace

void mbudot2acc() {
  for (int k = 0; k < nu; ++k) results.ht_result[k] = loads.applied_ht[k];
  mbvelprod();

  const double* ud = results.state_udot;
  const mat33& R0 = position.axis_local_rot[3];
  // udot parts of each frame's angular acceleration and of the point it
  // carries (joint point; the mass centre at a body's last axis), in that
  // frame. Slot 5 is body 0 (slot 3 its joint point).
  double alpha_u[nu][3], acc_u[nu][3];
  mbvcopy(ud + 3, alpha_u[5]);
  mat_tvec(R0, ud, acc_u[3]);
  {
    double x[3];
    mbvcross(alpha_u[5], params.body_to_joint[0], x);
    mbvsub(acc_u[3], x, acc_u[5]);
  }
  body_results<true>(0, alpha_u[5], acc_u[5], R0);

  // root to tip.
  for_axes_up<6, nu - 1>([&](auto kc) {
    constexpr int k = decltype(kc)::value;
    accel_axis<axis_traits(k) & kAccelTraits>(k, alpha_u, acc_u);
  });

  control.call_state = 3;
}

void mbsetudot(const double* udot) {
  if (mbchkstate(QEL_R_MBSETUDOT)) return;
  for (int k = 0; k < nu; ++k) results.state_udot[k] = udot[k];
  mbudot2acc();
}

}  // namespace qel

using namespace qel;

extern "C" {

QEL_API void mbacc(int body, const double pt[3], double acc[3]) {
  if (mbchkbnum(QEL_R_MBACC, body)) return;
  if (mbchkaccel(QEL_R_MBACC)) return;
  if (body == -1) {
    mbvset(0.0, 0.0, 0.0, acc);
    return;
  }
  double rel[3], g[3];
  mat_vec(results.body_accmat[body], pt, rel);
  mat_vec(position.body_rot[body], rel, g);
  mbvadd(results.body_acc[body], g, acc);
}

QEL_API void mbangacc(int body, double wdot[3]) {
  if (mbchkbnum(QEL_R_MBANGACC, body)) return;
  if (mbchkaccel(QEL_R_MBANGACC)) return;
  if (body == -1) {
    mbvset(0.0, 0.0, 0.0, wdot);
    return;
  }
  mbvcopy(results.body_angacc[body], wdot);
}

}  // extern "C"
