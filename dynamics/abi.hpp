// The articulated-inertia factors: one inverse pivot and one six-component
// gain per axis, from a tip-to-root pass over the articulated inertias.
// Spatial quantities list the force (linear) part first and the moment
// (angular) part second; an articulated inertia is the symmetric 6x6
// [[M, H], [H^T, J]] about the point of the axis's joint, in the frame after
// the axis (root axes 0..2: ground axes).
#pragma once

#include "dynamics/axes.hpp"

namespace qel {

// Articulated inertia: computed by mbabiout/mbabiin when abi_valid is 0 /
// read by the acceleration solve (pivots and gains only).
struct ArticulatedInertia {
  double axis_pivot_inv[nu];           // (nu) 1/D_k; raw D_k after a non-root failure; kept after a root failure
  double abi_gain[2][nu][3];           // (2 x nu x 3) [0] force half, [1] moment half of (IA_k s_k) / D_k;
                                       //   a root axis's component along itself is an implicit 1, axis 0 unused
  double abi_inertia[3][nu][3][3];     // (3 x nu x 3 x 3) blocks M, H, J of IA_k as the contributions of
                                       //   the outboard axes arrive (tips read their own inertia instead)
  double abi_prop_col[nheld][6][6];    // (nheld x 6 x 6) carried columns w_j of the contributions held for
                                       //   a body with several child joints, by held_index
  double abi_prop_pivot[nheld][6];     // (nheld x 6) their pivots d_j
  int axis_pivot_failed[nu];           // (nu) 1 where this pass's pivot test failed
};

extern ArticulatedInertia abi;

// Opening step of every dynamics evaluation: call state 2, the pass unless
// its factors are valid, then gen_force. routine (17, 66 or 67) is the number
// under which root-axis pivot failures are reported.
void mbdynprep(int routine);

// The pass, unless abi_valid: axes nu-1 down to 0, then one query of the
// host's last error. The factors count as valid only when no pivot failed
// and the host's last recorded code is 0.
void mbabiout(int routine);

// The lower axes of the pass; returns the number of pivots that failed there.
int mbabiin(int routine);

}  // namespace qel
