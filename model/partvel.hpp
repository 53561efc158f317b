#pragma once

#include "model/topology.hpp"

namespace qel {

// Partial-velocity tables: filled lazily by mbpartprep under partvel_valid,
// zeroed by mbinit / read by mbpartvel.
struct PartialVelocityTables {
  double partvel_axis[nu][3];  // (nu x 3) ground direction of each axis
  double partvel_arm[nu][3];   // (nu x 3) ground point on each axis
};
extern PartialVelocityTables partvel;

}  // namespace qel
