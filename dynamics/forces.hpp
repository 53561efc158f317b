// Force-term records: the velocity-product accelerations of every frame and
// the generalized-force vector, the right-hand side of M(q) udot = gen_force.
// Per-body values kept in per-axis tables sit at slot 5 for body 0 and l(j)
// for body j >= 1.
#pragma once

#include "model/topology.hpp"

namespace qel {

// Force terms: velprod_* computed by mbvelprod under velprod_valid, the rest by
// mbfrcterms under frcterms_valid / read by the acceleration solve, the
// acceleration-level results and mbgetgenf; axis_force/axis_torque are scratch
// that mbfrcterms, mbloadht and mbinvdyn each write before reading.
struct ForceTerms {
  double velprod_ang[nu][3];         // (nu x 3) k >= 6: angular acceleration of frame k at zero udot, in it
  double velprod_lin[nu][3];         // (nu x 3) slot 5 / l(j): mass-centre acceleration at zero udot, body frame;
                                     //   inner axes of a 3-rotation joint: joint point, frame k
  double velprod_joint[nu][3];       // (nu x 3) slot f(j): joint-point acceleration at zero udot, inboard frame
  double gen_force[nu];              // (nu) generalized force, one per axis
  double gen_force_total[nu];        // (nu) gen_force plus the (empty) multiplier part; nothing reads it
  double body_load_force[nbody][3];  // (nbody x 3) m (velprod - gravity) - applied force, body frame
  double body_load_torque[nbody][3]; // (nbody x 3) I velprod_ang + gyro - applied torque, about the mass centre
  double axis_force[nu][3];          // (nu x 3) scratch: force total carried by axis k, frame k
  double axis_torque[nu][3];         // (nu x 3) scratch: torque total carried by axis k, frame k
};

extern ForceTerms forces;

// Velocity-product terms; returns at once while velprod_valid.
void mbvelprod();
// Empty step run just before mbvelprod by mbfrcterms.
void mbfrcnop();
// gen_force for the present state and loads; returns at once while frcterms_valid.
void mbfrcterms();

// The tip-to-root force sweep of mbfrcterms, mbloadht and mbinvdyn: adds
// each body's own loads (own_force, own_torque: nbody x 3, body frame, about
// the mass centre) to its outboard bodies' totals, using axis_force and
// axis_torque as scratch, and projects the totals on every axis into out
// (nu), nu - 1 down to 0. The kinds differ in how a projection becomes an
// entry of out: applied_ht - projection for kGenForce and kLoadOnly,
// -(projection + applied_ht) for kInverse.
enum class SweepKind { kGenForce, kLoadOnly, kInverse };
template <SweepKind kind>
void tip_to_root(const double (*own_force)[3], const double (*own_torque)[3], double* out);

// gen_force_total from gen_force (copy, or zero and sum); the b twins are the same.
void mbgenfcopy();
void mbgenfzero();
void mbgenfsum();
void mbgenfzerob();
void mbgenfsumb();
void mbnoop();

}  // namespace qel
