// Householder QR with column pivoting, its rank decision and the
// least-squares solver built on it (exported as mblsslv). Every routine works
// on a sub-matrix of a larger row-major array with row stride ld: logical
// element (i, j) is A[rowmap[i] * ld + colmap[j]], and solution component j
// is written to x[colmap[j]]. The first argument of each is unused.
#pragma once

#include "qel_model.h"

namespace qel {

// A := its factorization (R on and above the diagonal, the reflections below
// it and in qraux); jpvt[j] = the logical column now at position j.
void mbqrpiv(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, double* A, double* qraux,
             int* jpvt);
// x = R_k^-1 (Q^T b)[0..k-1] with the leading k x k triangle; qty: m scratch.
void mbqrbsolve(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, int k, double* qty,
                const double* A, const double* qraux, const double* b, double* x);
// Rank decision (|R_kk| > tol |R_00|), basic solution, pivoting undone;
// jwork: n scratch ints.
void mblsqrank(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, double tol, double* qty,
               int* jwork, const double* A, const double* qraux, const int* jpvt, const double* b, double* x,
               int* rank);
// mbqrpiv, then mblsqrank.
void mblsqsolve(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, double tol, int* jpvt,
                double* qraux, double* qty, int* jwork, double* A, const double* b, double* x, int* rank);

}  // namespace qel
