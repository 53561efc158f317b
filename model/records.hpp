// The module's model-level records: parameters and their statuses, the
// constants mbinit derives from them, and the control words (call state and
// validity flags). Sizes are the model's, from model/topology.hpp.
#pragma once

#include "model/topology.hpp"

namespace qel {

// Parameters: written by the set routines (joint_pin also by mbinit, which
// normalizes it) / read by mbinit, the get twins and every stage.
struct Parameters {
  double gravity[3];                  // ground frame
  double body_mass[nbody];            // (nbody)
  double body_inertia[nbody][3][3];   // (nbody x 3 x 3) about the mass centre, body frame
  double joint_pin[nu][3];            // (nu x 3) axis directions; unit after mbinit for k >= 6
  double body_to_joint[nbody][3];     // (nbody x 3) mass centre to own joint point, body frame
  double inboard_to_joint[njnt][3];   // (njnt x 3) inboard mass centre to joint point, inboard frame
  double axis_prescribed[nu];         // (nu) 1.0 prescribed, 0.0 free
  double stab_const[2];               // [0] quaternion-norm drift gain, [1] stored only
};

// param_status, one per parameter component: 0 fixed by the model, 1 still to
// be supplied, 3 supplied. Written by the set routines / read by them, mbinit,
// mbstate, mbderiv and mbresid.
enum ParamStatusValue : int { kFixed = 0, kToSupply = 1, kSupplied = 3 };
struct ParamStatus {
  int gravity[3];
  int mass[nbody];
  int inertia[nbody][3][3];
  int pin[nu][3];
  int btj[nbody][3];
  int itj[njnt][3];
  int pres[nu];
  int stab[2];
};

// Derived constants: computed by mbinit / read by the state and dynamics
// stages. Per-joint values live in per-axis tables at the slot noted.
struct DerivedConstants {
  double total_mass;
  double btj_cross_pin[nu][3];       // slot l(j), j >= 1: body_to_joint x last pin
  double inboard_offset[nu][3];      // slot f(j), j >= 1: inboard_to_joint - b_p(j)
  double body_mass_skew[nu][3][3];   // slot l(j): m skew(b), off-diagonal only
  double joint_inertia[nu][3][3];    // slot l(j): inertia about the joint point
};

// Control words: call_state set by mbinit, mbstate, the evaluation and the
// parameter set routines; each flag set by the stage that fills its tables
// and cleared by mbstate and the load routines.
struct Control {
  int call_state;      // 0 uninitialized/changed, 1 initialized, 2 state set, 3 accelerations
  int partvel_valid;
  int velprod_valid;
  int abi_valid;
  int frcterms_valid;
  int state_mark;      // no result depends on it
  int qdot_stale;      // set by mbstab: the next mbstate redoes the coordinate derivatives
};

extern Parameters params;
extern ParamStatus param_status;
extern DerivedConstants derived;
extern Control control;

constexpr Parameters initial_parameters() {
  Parameters p{};
  // The root's translational axes run along ground x, y, z.
  p.joint_pin[0][0] = 1.0;
  p.joint_pin[1][1] = 1.0;
  p.joint_pin[2][2] = 1.0;
  return p;
}

constexpr ParamStatus initial_param_status() {
  ParamStatus s{};
  for (int c = 0; c < 3; ++c) s.gravity[c] = kToSupply;
  for (int b = 0; b < nbody; ++b) {
    s.mass[b] = kToSupply;
    for (int r = 0; r < 3; ++r) {
      s.btj[b][r] = kToSupply;
      s.itj[b][r] = kToSupply;
      for (int c = 0; c < 3; ++c) s.inertia[b][r][c] = kToSupply;
    }
  }
  // The root's pins are fixed; every other pin must be supplied.
  for (int k = 6; k < nu; ++k)
    for (int c = 0; c < 3; ++c) s.pin[k][c] = kToSupply;
  // No axis can be prescribed (pres stays kFixed); the stabilization
  // constants count as supplied (both 0) from the start.
  s.stab[0] = kSupplied;
  s.stab[1] = kSupplied;
  return s;
}

}  // namespace qel
