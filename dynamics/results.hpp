// Acceleration-level results: the generalized accelerations and what the
// host can ask about them once call state 3 is reached.
#pragma once

#include "model/topology.hpp"

namespace qel {

// Acceleration results: state_udot computed by the solve, mbzeroudotwork,
// mbsetudot and mbresid; the rest by mbudot2acc / read by mbacc, mbangacc,
// mbgetht, mbreac and the copy-outs of mbderiv; viol_count by mbderiv / mbmult.
struct AccelerationResults {
  double state_udot[nu];            // (nu) 0..2 root joint point, ground; 3..5 body 0, own frame; k >= 6 about pin k
  double ht_result[nu];             // (nu) hinge loads of the evaluation, as mbgetht reports them
  double body_accmat[nbody][3][3];  // (nbody x 3 x 3) skew(alpha) + skew(w)^2: point acceleration relative to the mass centre
  double body_acc[nbody][3];        // (nbody x 3) mass-centre acceleration, ground
  double body_angacc[nbody][3];     // (nbody x 3) angular acceleration, body frame
  double body_acc_local[nbody][3];  // (nbody x 3) mass-centre acceleration, body frame
  int viol_count;                   // violated constraints (the models have none)
};

extern AccelerationResults results;

// The acceleration-level results of state_udot at the present state; call
// state 3 afterwards. Checks nothing.
void mbudot2acc();

// Installs udot (nu) as the accelerations and forms their results (routine 68).
void mbsetudot(const double* udot);

}  // namespace qel
