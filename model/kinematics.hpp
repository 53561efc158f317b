// Internal kinematic routines: partial velocities and coordinate derivatives.
// None is exported; each reports under its own routine number.
#pragma once

#include "model/topology.hpp"

namespace qel {

// Fills partvel_axis and partvel_arm for the present coordinates unless
// partvel_valid says they are current.
void mbpartprep();

// Partial linear and angular velocity of the point pt of body (body frame)
// with respect to speed u[axis]; zeros when the axis does not move the body.
// Outputs may be the array pt itself.
void mbpartvel(int axis, int body, const double pt[3], double linear[3], double angular[3]);

// Copy of the coordinate derivatives of the last mbstate.
void mbgetqdot(double qdot[nq]);

// Coordinate derivatives of the speeds u at the cached coordinates, without
// the stabilizing term; qdot may be the array u itself (then nq long).
void mbu2qdot(const double u[nu], double qdot[nq]);

}  // namespace qel
