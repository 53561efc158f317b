// Small 3-vector and 3x3 helpers used on every stage of the engine. Each
// writes its output only after reading all of its inputs, so an output may be
// one of the inputs. Sums of three products are formed left to right,
// (first + second) + third, unless a helper says otherwise.
#pragma once

#include <cmath>

namespace qel {

using vec3 = double[3];
using mat33 = double[3][3];

// (a1 b1 + a2 b2) + a0 b0: this order is part of the routine's contract.
inline double mbvdot(const double* a, const double* b) { return (a[1] * b[1] + a[2] * b[2]) + a[0] * b[0]; }
inline double mbvnrm(const double* a) { return std::sqrt(mbvdot(a, a)); }
inline void mbvcopy(const double* a, double* b) {
  const double x = a[0], y = a[1], z = a[2];
  b[0] = x;
  b[1] = y;
  b[2] = z;
}
inline void mbvset(double x, double y, double z, double* v) {
  v[0] = x;
  v[1] = y;
  v[2] = z;
}
inline void mbvadd(const double* a, const double* b, double* c) {
  for (int i = 0; i < 3; ++i) c[i] = a[i] + b[i];
}
inline void mbvsub(const double* a, const double* b, double* c) {
  for (int i = 0; i < 3; ++i) c[i] = a[i] - b[i];
}
inline void mbvmul(double s, const double* a, double* b) {
  for (int i = 0; i < 3; ++i) b[i] = s * a[i];
}
inline void mbvaxpy(double s, const double* a, const double* b, double* c) {
  for (int i = 0; i < 3; ++i) c[i] = s * a[i] + b[i];
}
inline void mbvcross(const double* a, const double* b, double* c) {
  const double x = a[1] * b[2] - b[1] * a[2];
  const double y = b[0] * a[2] - a[0] * b[2];
  const double z = a[0] * b[1] - b[0] * a[1];
  c[0] = x;
  c[1] = y;
  c[2] = z;
}

// out = v turned about axis by angle (radians, right-handed); the axis need
// not be unit length. A zero (or NaN) axis copies v and reports (62, 46).
// out may be v or axis.
void mbvrot(const double* v, const double* axis, double angle, double* out);

// Plain dot product, (a0 b0 + a1 b1) + a2 b2.
inline double dot3(const double* a, const double* b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }

// out = R v.
inline void mat_vec(const mat33& R, const double* v, double* out) {
  const double x = (R[0][0] * v[0] + R[0][1] * v[1]) + R[0][2] * v[2];
  const double y = (R[1][0] * v[0] + R[1][1] * v[1]) + R[1][2] * v[2];
  const double z = (R[2][0] * v[0] + R[2][1] * v[1]) + R[2][2] * v[2];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

// out = R^T v.
inline void mat_tvec(const mat33& R, const double* v, double* out) {
  const double x = (R[0][0] * v[0] + R[1][0] * v[1]) + R[2][0] * v[2];
  const double y = (R[0][1] * v[0] + R[1][1] * v[1]) + R[2][1] * v[2];
  const double z = (R[0][2] * v[0] + R[1][2] * v[1]) + R[2][2] * v[2];
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

// C = A B (C must not alias A or B).
inline void mat_mul(const mat33& A, const mat33& B, mat33& C) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) C[i][j] = (A[i][0] * B[0][j] + A[i][1] * B[1][j]) + A[i][2] * B[2][j];
}

inline void mat_copy(const mat33& A, mat33& B) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) B[i][j] = A[i][j];
}

inline void mat_identity(mat33& A) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) A[i][j] = i == j ? 1.0 : 0.0;
}

}  // namespace qel
