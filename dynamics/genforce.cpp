// The generalized-force vector and the sweep it shares with the
// load-equivalent forces and inverse dynamics; the force-total table and the
// generalized-force output.
#include "dynamics/forces.hpp"
#include "dynamics/inverse.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

namespace qel {

ForceTerms forces = {};

namespace {

// Child joints of every body in decreasing joint order, the order in which
// their totals are added to the body's: joints begin[b] .. begin[b + 1] - 1.
struct ChildTable {
  int begin[nbody + 1];
  int joint[njnt];
};
constexpr ChildTable make_children() {
  ChildTable t{};
  int n = 0;
  for (int b = 0; b < nbody; ++b) {
    t.begin[b] = n;
    for (int i = njnt - 1; i > b; --i)
      if (joint_inboard[i] == b) t.joint[n++] = i;
  }
  t.begin[nbody] = n;
  return t;
}
constexpr ChildTable children = make_children();

inline bool is_leaf(int b) { return children.begin[b] == children.begin[b + 1]; }

// Whether joint j hands its totals on at axis_force/axis_torque[f(j)]: a
// three-rotation joint always does, a pin joint when its body has children
// (f = l then); a leaf pin joint hands on its body's own loads.
constexpr IntTable<njnt> make_hands_on_slot() {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = joint_type[j] == kThreeRotation || has_children(j) ? 1 : 0;
  return t;
}
constexpr IntTable<njnt> hands_on_slot = make_hands_on_slot();

template <SweepKind kind>
inline double hinge_entry(int k, double projection) {
  if constexpr (kind == SweepKind::kInverse)
    return -(projection + loads.applied_ht[k]);
  else
    return loads.applied_ht[k] - projection;
}

// Totals of body b and everything outboard of it, body frame, torque about
// the mass centre: summed into axis_force/axis_torque[l(b)] when b has
// children, else b's own loads. F and T are pointed at them.
inline void body_totals(int b, const double (*own_force)[3], const double (*own_torque)[3], const double*& F,
                        const double*& T) {
  if (is_leaf(b)) {
    F = own_force[b];
    T = own_torque[b];
    return;
  }
  const int L = joint_last_axis[b];
  double* sf = forces.axis_force[L];
  double* st = forces.axis_torque[L];
  mbvcopy(own_force[b], sf);
  mbvcopy(own_torque[b], st);
  for (int n = children.begin[b]; n < children.begin[b + 1]; ++n) {
    const int i = children.joint[n], g = joint_first_axis[i];
    const double* Fc = hands_on_slot[i] ? forces.axis_force[g] : own_force[i];
    const double* Tc = hands_on_slot[i] ? forces.axis_torque[g] : own_torque[i];
    const mat33& R = position.axis_local_rot[g];
    double r[3], m[3], s[3];
    mat_vec(R, Fc, r);
    mbvadd(sf, r, sf);
    mbvcross(position.axis_load_arm[g], Fc, m);
    mbvadd(Tc, m, s);
    mat_vec(R, s, r);
    mbvadd(st, r, st);
  }
  F = sf;
  T = st;
}

}  // namespace

template <SweepKind kind>
void tip_to_root(const double (*own_force)[3], const double (*own_torque)[3], double* out) {
  const Parameters& prm = params;
  const mat33* R = position.axis_local_rot;
  double (*af)[3] = forces.axis_force;
  double (*at)[3] = forces.axis_torque;

  // tip to root: the totals of every non-root body, projected on its joint's axes.
  for (int j = njnt - 1; j >= 1; --j) {
    const int f = joint_first_axis[j], L = joint_last_axis[j];
    const double *F, *T;
    body_totals(j, own_force, own_torque, F, T);
    const double* pin = prm.joint_pin[L];
    const double* bxp = derived.btj_cross_pin[L];
    if (kind == SweepKind::kLoadOnly && is_leaf(j))
      out[L] = hinge_entry<kind>(L, dot3(bxp, F) - dot3(pin, loads.applied_torque[j]));
    else
      out[L] = hinge_entry<kind>(L, dot3(pin, T) + dot3(bxp, F));
    if (joint_type[j] == kPinJoint) continue;
    // Three-rotation joint: the torque moves to the joint point, then the
    // pair turns back through the two inner axes.
    double m[3], s[3];
    mat_vec(R[L], F, af[L - 1]);
    mbvcross(F, prm.body_to_joint[j], m);
    mbvadd(T, m, s);
    mat_vec(R[L], s, at[L - 1]);
    out[L - 1] = hinge_entry<kind>(L - 1, dot3(prm.joint_pin[L - 1], at[L - 1]));
    mat_vec(R[L - 1], af[L - 1], af[f]);
    mat_vec(R[L - 1], at[L - 1], at[f]);
    out[f] = hinge_entry<kind>(f, dot3(prm.joint_pin[f], at[f]));
  }

  // Root: body-frame torque about the joint point for axes 3-5, ground-frame
  // force for axes 0-2.
  const double *F5, *T5;
  body_totals(0, own_force, own_torque, F5, T5);
  double m[3];
  mbvcross(F5, prm.body_to_joint[0], m);
  mbvadd(T5, m, at[4]);
  out[5] = hinge_entry<kind>(5, at[4][2]);
  out[4] = hinge_entry<kind>(4, at[4][1]);
  out[3] = hinge_entry<kind>(3, at[4][0]);
  mat_vec(R[3], F5, af[2]);
  out[2] = hinge_entry<kind>(2, af[2][2]);
  out[1] = hinge_entry<kind>(1, af[2][1]);
  out[0] = hinge_entry<kind>(0, af[2][0]);
}

template void tip_to_root<SweepKind::kInverse>(const double (*)[3], const double (*)[3], double*);

void mbfrcterms() {
  if (control.frcterms_valid) return;
  mbfrcnop();
  mbvelprod();
  const Parameters& prm = params;
  ForceTerms& ft = forces;

  // Own loads of every body, all forces before all torques; body 0 has no
  // angular velocity-product term.
  for (int b = 0; b < nbody; ++b) {
    const double* a = ft.velprod_lin[joint_last_axis[b]];
    for (int i = 0; i < 3; ++i)
      ft.body_load_force[b][i] =
          prm.body_mass[b] * (a[i] - position.body_gravity[b][i]) - loads.applied_force[b][i];
  }
  mbvsub(velocity.body_gyro[0], loads.applied_torque[0], ft.body_load_torque[0]);
  for (int b = 1; b < nbody; ++b) {
    double h[3];
    mat_vec(prm.body_inertia[b], ft.velprod_ang[joint_last_axis[b]], h);
    for (int i = 0; i < 3; ++i)
      ft.body_load_torque[b][i] = (h[i] + velocity.body_gyro[b][i]) - loads.applied_torque[b][i];
  }

  tip_to_root<SweepKind::kGenForce>(ft.body_load_force, ft.body_load_torque, ft.gen_force);
  control.frcterms_valid = 1;
}

void mbloadht(double* ht) {
  if (mbchkstate(QEL_R_MBLOADHT)) return;
  // Weights and applied loads only: no velocity or inertia term.
  double own_force[nbody][3], own_torque[nbody][3];
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i)
      own_force[b][i] = -(position.body_gravity[b][i] * params.body_mass[b] + loads.applied_force[b][i]);
  for (int b = 0; b < nbody; ++b)
    for (int i = 0; i < 3; ++i) own_torque[b][i] = -loads.applied_torque[b][i];
  tip_to_root<SweepKind::kLoadOnly>(own_force, own_torque, ht);
}

void mbgetgenf(double* genf) {
  if (mbchkstate(QEL_R_MBGETGENF)) return;
  mbfrcterms();
  for (int k = 0; k < nu; ++k) genf[k] = forces.gen_force[k];
}

// No model has constraints, so the total is the generalized force itself.
void mbgenfcopy() {
  for (int k = 0; k < nu; ++k) forces.gen_force_total[k] = forces.gen_force[k];
}
void mbgenfzero() {
  for (int k = 0; k < nu; ++k) forces.gen_force_total[k] = 0.0;
}
// Summed onto +0.0, so a -0.0 entry of gen_force arrives as +0.0.
static void add_gen_force() {
  for (int k = 0; k < nu; ++k) forces.gen_force_total[k] = forces.gen_force_total[k] + forces.gen_force[k];
}
void mbgenfsum() {
  mbgenfzero();
  add_gen_force();
}
void mbgenfzerob() { mbgenfzero(); }
void mbgenfsumb() {
  mbgenfzerob();
  add_gen_force();
}
void mbnoop() {}

}  // namespace qel
