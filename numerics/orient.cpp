#include "numerics/orient.hpp"

#include <cmath>

namespace {

// Margin below |d(0,2)| = 1 inside which the second angle counts as +-90 deg.
constexpr double kGimbalMargin = -1e-15;
// The angle reported for the second rotation at gimbal lock. Deliberately this
// decimal, not the double nearest pi/2: hosts compare against it.
constexpr double kGimbalAngle = 1.5707963267949;

}  // namespace

extern "C" {

QEL_API void mbang2dc(double a1, double a2, double a3, double dc[9]) {
  const double s1 = std::sin(a1), c1 = std::cos(a1);
  const double s2 = std::sin(a2), c2 = std::cos(a2);
  const double s3 = std::sin(a3), c3 = std::cos(a3);
  dc[0] = c2 * c3;
  dc[1] = -(s3 * c2);
  dc[2] = s2;
  dc[3] = s3 * c1 + (s2 * c3) * s1;
  dc[4] = c1 * c3 - (s2 * s3) * s1;
  dc[5] = -(c2 * s1);
  dc[6] = s3 * s1 - (s2 * c3) * c1;
  dc[7] = c3 * s1 + (s2 * s3) * c1;
  dc[8] = c1 * c2;
}

QEL_API void mbdc2ang(const double dc[9], double* a1, double* a2, double* a3) {
  const double x = std::fabs(dc[2]) - 1.0;
  double r1, r2, r3;
  if (x >= kGimbalMargin) {
    // Only a1 + a3 (or a1 - a3) is defined: put it all in a1.
    r1 = std::atan2(dc[7], dc[4]);
    r2 = dc[2] > 0.0 ? kGimbalAngle : -kGimbalAngle;
    r3 = 0.0;
  } else {  // also a NaN in d(0,2)
    r1 = std::atan2(-dc[5], dc[8]);
    r2 = std::asin(dc[2]);
    r3 = std::atan2(-dc[1], dc[0]);
  }
  *a1 = r1;
  *a2 = r2;
  *a3 = r3;
}

QEL_API void mbquat2dc(double e1, double e2, double e3, double e4, double dc[9]) {
  double n = std::sqrt(((e4 * e4 + e3 * e3) + e2 * e2) + e1 * e1);
  if (!(n > 0.0)) {  // zero (or NaN) length: take the identity rotation
    e4 = 1.0;
    n = 1.0;
  }
  const double s = 1.0 / n;
  const double q1 = e1 * s, q2 = e2 * s, q3 = e3 * s, q4 = s * e4;
  dc[0] = 1.0 - 2.0 * (q3 * q3 + q2 * q2);
  dc[1] = 2.0 * (q1 * q2 - q4 * q3);
  dc[2] = 2.0 * (q1 * q3 + q4 * q2);
  dc[3] = 2.0 * (q4 * q3 + q1 * q2);
  dc[4] = 1.0 - 2.0 * (q3 * q3 + q1 * q1);
  dc[5] = 2.0 * (q3 * q2 - q4 * q1);
  dc[6] = 2.0 * (q3 * q1 - q4 * q2);
  dc[7] = 2.0 * (q4 * q1 + q3 * q2);
  dc[8] = 1.0 - 2.0 * (q2 * q2 + q1 * q1);
}

QEL_API void mbdc2quat(const double dc[9], double* e1, double* e2, double* e3, double* e4) {
  const double d00 = dc[0], d11 = dc[4], d22 = dc[8];
  const double tr = (d22 + d11) + d00;
  // Build from the largest of (trace, diagonal) so no square root of a small
  // difference is taken; ties go to the earlier candidate.
  double E1, E2, E3, E4;
  if (tr >= d00 && tr >= d11 && tr >= d22) {
    E1 = dc[7] - dc[5];
    E2 = dc[2] - dc[6];
    E3 = dc[3] - dc[1];
    E4 = 1.0 + tr;
  } else if (d00 >= d11 && d00 >= d22) {
    E1 = 1.0 - (tr - 2.0 * d00);
    E2 = dc[3] + dc[1];
    E3 = dc[6] + dc[2];
    E4 = dc[7] - dc[5];
  } else if (d11 >= d22) {
    E1 = dc[3] + dc[1];
    E2 = 1.0 - (tr - 2.0 * d11);
    E3 = dc[7] + dc[5];
    E4 = dc[2] - dc[6];
  } else {
    E1 = dc[6] + dc[2];
    E2 = dc[7] + dc[5];
    E3 = 1.0 - (tr - 2.0 * d22);
    E4 = dc[3] - dc[1];
  }
  const double s = 1.0 / std::sqrt(((E4 * E4 + E3 * E3) + E2 * E2) + E1 * E1);
  *e1 = E1 * s;
  *e2 = E2 * s;
  *e3 = E3 * s;
  *e4 = s * E4;
}

}  // extern "C"
