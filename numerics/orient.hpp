// Conversions between the three descriptions of an orientation: a
// direction-cosine matrix (row-major, body frame to ground), body-fixed 1-2-3
// angles, and Euler parameters with the scalar last. They are exported, so
// their prototypes live in the public header; none checks or reports anything.
#pragma once

#include "qel_model.h"
