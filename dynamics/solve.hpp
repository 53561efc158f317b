// The generalized-acceleration solve and the small routines around it.
// Internal; none is exported.
#pragma once

namespace qel {

// Solves M(q) udot = gen_force with the articulated-inertia factors (after
// mbdynprep(routine)) into state_udot, and copies it to udot (nu).
void mbsolveudot(int routine, double* udot);

// mbsolveudot under routine 66, in call state 2 or 3; no acceleration results.
void mbcompudot(double* udot);

// The accelerations of the constraint multipliers mult (never read): zeros,
// after the opening step of an evaluation (routine 67).
void mbzeroudot(const double* mult, double* udot);
void mbzeroudotwork(int routine, const double* mult, double* udot);

// Drops call state 3 to 2 and sets state_mark.
void mbmarkstate();

}  // namespace qel
