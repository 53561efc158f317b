// L D L^T factorization of a symmetric matrix and solves with the factors,
// on the sub-matrix that an index map picks out of a larger row-major array:
// logical element (i, j) is X[map[i] * ld + map[j]], logical component i of a
// vector is v[map[i]]. Pivots with |d| <= tol are dropped: their column of L
// and their dinv are exact zeros and their unknown comes out as 0.
#pragma once

namespace qel {

// Only A(i, j) with j >= i is read. L is written at (j, i), j >= i, with 1 on
// the diagonal for a kept pivot. w1: n*n doubles, w2: n doubles (scratch).
void mbldudcomp(int ld, int n, const int* map, double tol, double* w1, double* w2, const double* A, double* L,
                double* dinv);
// Factor, then solve A x = b.
void mbldusolve(int ld, int n, const int* map, double tol, double* w1, double* w2, const double* A,
                const double* b, double* L, double* dinv, double* x);
// x = L^-T D^+ L^-1 b, formed in x (work is not used; kept for callers).
void mbldubslv(int ld, int n, const int* map, double* work, const double* L, const double* dinv, const double* b,
               double* x);
// L y = b (the diagonal of L is not read); y may be b.
void mbfwdsub(int ld, int n, const int* map, const double* L, const double* b, double* y);
// out = dinv * in, component by component; out may be in.
void mbdiagscl(int ld, int n, const int* map, const double* dinv, const double* in, double* out);
// L^T x = y (the diagonal of L is not read); x may be y.
void mbbacksub(int ld, int n, const int* map, const double* L, const double* y, double* x);

}  // namespace qel
