// Inverse dynamics, the mass matrix and the load-equivalent and output forms
// of the generalized force. Internal routines; each checks the call state
// itself (2 or 3) and reports under its own routine number.
#pragma once

namespace qel {

// ht = M(q) udot - gen_force: the hinge loads to add so that udot results.
// mult (the constraint multipliers) is never read and may be null.
void mbinvdyn(const double* udot, const double* mult, double* ht);
void mbudot2ht(const double* udot, double* ht);
// The multipliers' hinge loads: nu zeros, as the models have no constraints.
void mbmult2ht(const double* mult, double* ht);
// The nu x nu mass matrix, row-major, from nu + 1 inverse-dynamics evaluations.
void mbmassmtx(double* mm);
// The generalized forces of gravity and the applied loads alone.
void mbloadht(double* ht);
// Brings gen_force up to date and copies it out (nu doubles).
void mbgetgenf(double* genf);

}  // namespace qel
