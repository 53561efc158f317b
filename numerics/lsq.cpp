#include "numerics/lsq.hpp"

#include <cmath>

namespace qel {

namespace {

inline int min_int(int a, int b) { return a < b ? a : b; }

}  // namespace

// Column norms are recomputed after every reflection, not downdated.
void mbqrpiv(int, int ld, int m, int n, const int* rowmap, const int* colmap, double* A, double* qraux,
             int* jpvt) {
  auto a = [&](int i, int j) -> double& { return A[rowmap[i] * ld + colmap[j]]; };
  for (int j = 0; j < n; ++j) {
    jpvt[j] = j;
    double s = 0.0;
    for (int i = 0; i < m; ++i) s = s + a(i, j) * a(i, j);
    qraux[j] = std::sqrt(s);
  }
  const int mn = min_int(m, n);
  for (int l = 0; l < mn; ++l) {
    // Largest remaining norm; the first of equal norms wins.
    int p = l;
    double best = 0.0;
    for (int c = l; c < n; ++c) {
      if (qraux[c] > best) {
        best = qraux[c];
        p = c;
      }
    }
    if (p != l) {
      for (int i = 0; i < m; ++i) {
        const double t = a(i, l);
        a(i, l) = a(i, p);
        a(i, p) = t;
      }
      qraux[p] = qraux[l];
      const int t = jpvt[p];
      jpvt[p] = jpvt[l];
      jpvt[l] = t;
    }
    qraux[l] = 0.0;
    if (l >= m - 1) continue;
    double s = 0.0;
    for (int i = l; i < m; ++i) s = s + a(i, l) * a(i, l);
    double nrm = std::sqrt(s);
    if (nrm == 0.0) continue;
    if (a(l, l) < 0.0) nrm = -nrm;
    const double r = 1.0 / nrm;
    for (int i = l; i < m; ++i) a(i, l) = a(i, l) * r;
    a(l, l) = a(l, l) + 1.0;
    for (int c = l + 1; c < n; ++c) {
      double dot = 0.0;
      for (int i = l; i < m; ++i) dot = dot + a(i, c) * a(i, l);
      const double t = -dot;
      for (int i = l; i < m; ++i) a(i, c) = a(i, c) + a(i, l) * (t / a(l, l));
      double cs = 0.0;
      for (int i = l + 1; i < m; ++i) cs = cs + a(i, c) * a(i, c);
      qraux[c] = std::sqrt(cs);
    }
    qraux[l] = a(l, l);
    a(l, l) = -nrm;
  }
}

// The reflector's first element is kept in qraux (the diagonal holds R), so
// it is read from there and A stays untouched.
void mbqrbsolve(int, int ld, int m, int n, const int* rowmap, const int* colmap, int k, double* qty,
                const double* A, const double* qraux, const double* b, double* x) {
  (void)n;
  auto a = [&](int i, int j) { return A[rowmap[i] * ld + colmap[j]]; };
  for (int i = 0; i < m; ++i) qty[i] = b[rowmap[i]];
  const int nref = min_int(k, m - 1);
  for (int l = 0; l < nref; ++l) {
    const double v0 = qraux[l];
    if (v0 == 0.0) continue;
    double dot = v0 * qty[l];
    for (int i = l + 1; i < m; ++i) dot = dot + a(i, l) * qty[i];
    const double t = -dot;
    qty[l] = qty[l] + v0 * (t / v0);
    for (int i = l + 1; i < m; ++i) qty[i] = qty[i] + a(i, l) * (t / v0);
  }
  for (int j = 0; j < k; ++j) x[colmap[j]] = qty[j];
  for (int j = k - 1; j >= 0; --j) {
    x[colmap[j]] = x[colmap[j]] / a(j, j);
    for (int i = 0; i < j; ++i) x[colmap[i]] = x[colmap[i]] - a(i, j) * x[colmap[j]];
  }
}

void mblsqrank(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, double tol, double* qty,
               int* jwork, const double* A, const double* qraux, const int* jpvt, const double* b, double* x,
               int* rank) {
  auto a = [&](int i, int j) { return A[rowmap[i] * ld + colmap[j]]; };
  for (int j = 0; j < n; ++j) jwork[j] = jpvt[j];
  if (tol < 0.0) tol = 0.0;  // a zero diagonal is never inside the rank
  const int mn = min_int(m, n);
  int k = 0;
  if (mn > 0) {
    const double floor = tol * std::fabs(a(0, 0));
    while (k < mn && std::fabs(a(k, k)) > floor) ++k;
  }
  if (k > 0) mbqrbsolve(ignored, ld, m, n, rowmap, colmap, k, qty, A, qraux, b, x);
  for (int j = k; j < n; ++j) x[colmap[j]] = 0.0;
  // Follow each cycle of the permutation, so the component of pivot
  // position j ends at x[colmap[jpvt[j]]].
  for (int j = 0; j < n; ++j) {
    while (jwork[j] != j) {
      const int w = jwork[j];
      const double t = x[colmap[j]];
      x[colmap[j]] = x[colmap[w]];
      x[colmap[w]] = t;
      jwork[j] = jwork[w];
      jwork[w] = w;
    }
  }
  *rank = k;
}

void mblsqsolve(int ignored, int ld, int m, int n, const int* rowmap, const int* colmap, double tol, int* jpvt,
                double* qraux, double* qty, int* jwork, double* A, const double* b, double* x, int* rank) {
  mbqrpiv(ignored, ld, m, n, rowmap, colmap, A, qraux, jpvt);
  mblsqrank(ignored, ld, m, n, rowmap, colmap, tol, qty, jwork, A, qraux, jpvt, b, x, rank);
}

}  // namespace qel

extern "C" QEL_API void mblsslv(int, int lda, int m, int n, int ngoal, const int eq_map[], const int var_map[],
                                double tol, double dwork[], double rwork[], int iwork[], const double A[],
                                const double b[], double x[]) {
  if (n <= 0) return;
  if (m < 0) m = 0;
  if (ngoal > m) ngoal = m;  // more goals than equations: all are goals
  auto a = [&](int row, int c) { return A[row * lda + var_map[c]]; };
  const int S = m + n;
  double* qraux = rwork;
  double* qty = rwork + S;
  double* rhs = rwork + 2 * S;
  double* y = rwork + 3 * S;
  int* ident = iwork;
  int* jpvt = iwork + S;
  int* jwork = iwork + 2 * S;
  int rank = 0;

  if (ngoal <= 0) {
    // Minimum norm: x = A^T y with (A A^T) y = b.
    double* G = dwork;
    for (int i = 0; i < m; ++i) {
      rhs[i] = b[eq_map[i]];
      ident[i] = i;
      for (int j = i; j < m; ++j) {
        double s = 0.0;
        for (int c = 0; c < n; ++c) s = s + a(eq_map[j], c) * a(eq_map[i], c);
        G[i * m + j] = s;
        G[j * m + i] = s;
      }
    }
    qel::mblsqsolve(m, m, m, m, ident, ident, tol, jpvt, qraux, qty, jwork, G, rhs, y, &rank);
    for (int c = 0; c < n; ++c) {
      double s = 0.0;
      for (int i = 0; i < m; ++i) s = s + a(eq_map[i], c) * y[i];
      x[var_map[c]] = s;
    }
    return;
  }

  // Goals under constraints: the normal equations of the goal rows bordered
  // by the exact rows, K = [[P^T P, E^T], [E, 0]], solved for its smallest-
  // norm solution as K^T y with (K K^T) y = rhs.
  const int mc = m - ngoal;
  const int N = n + mc;
  double* K = dwork;
  double* G = dwork + N * N;
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double s = 0.0;
      for (int g = mc; g < m; ++g) s = s + a(eq_map[g], j) * a(eq_map[g], i);
      K[i * N + j] = s;
      K[j * N + i] = s;
    }
  }
  for (int t = 0; t < mc; ++t) {
    for (int i = 0; i < n; ++i) {
      K[i * N + n + t] = a(eq_map[t], i);
      K[(n + t) * N + i] = a(eq_map[t], i);
    }
    for (int s = 0; s < mc; ++s) K[(n + t) * N + n + s] = 0.0;
  }
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int g = mc; g < m; ++g) s = s + a(eq_map[g], i) * b[eq_map[g]];
    rhs[i] = s;
  }
  for (int t = 0; t < mc; ++t) rhs[n + t] = b[eq_map[t]];
  for (int i = 0; i < N; ++i) {
    ident[i] = i;
    for (int j = i; j < N; ++j) {
      double s = 0.0;
      for (int k = 0; k < N; ++k) s = s + K[i * N + k] * K[j * N + k];
      G[i * N + j] = s;
      G[j * N + i] = s;
    }
  }
  qel::mblsqsolve(N, N, N, N, ident, ident, tol, jpvt, qraux, qty, jwork, G, rhs, y, &rank);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 0; k < N; ++k) s = s + K[k * N + i] * y[k];
    x[var_map[i]] = s;
  }
}
