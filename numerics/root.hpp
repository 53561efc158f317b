// The damped Newton root finder (exported as mbroot) and its three parts.
// Residuals 0 .. nf-k-1 are required, nf-k .. nf-1 desired (k = |nk|).
#pragma once

#include <limits>

#include "qel_model.h"

namespace qel {

// One more evaluation in *n_evals. A budget of INT_MAX means no limit to some
// hosts, and the count may run past the budget within an iteration: it then
// stops at INT_MAX instead of overflowing.
inline void mbrootcount(int* n_evals) {
  if (*n_evals < std::numeric_limits<int>::max()) ++*n_evals;
}

// hard: largest |f| of the required residuals; softmax: largest |f| of the
// desired ones; soft: their sum of magnitudes, or softmax when useMax. An
// empty class measures 0; a NaN residual makes its measures NaN.
void mbrootnorms(const double* f, int nf, int k, int useMax, double* softmax, double* hard, double* soft);

// Row-scaled forward-difference Jacobian of the first nrows residuals at x
// (fbase: the residuals there). x is perturbed and restored exactly; a locked
// column is zero and costs no evaluation. rowscale[i] = 1 / largest |J_ij|,
// or 1 for a zero row.
void mbrootjac(qel_residual_fn fn, double* x, void* param, int nrows, int nx, const int* lock, double delta,
               const double* fbase, double* fwork, double* J, int* n_evals, double* rowscale);

// Trial xnew = x - alpha lambda dx, with alpha first limiting every move to
// 0.1 |x_j| + 1 and then growing while trials keep improving on each other;
// ftrial: the residuals at the returned xnew.
void mbrootstep(qel_residual_fn fn, const double* x, void* param, int nf, int k, int useMax, int nx,
                const double* dx, double lambda, double hard0, double soft0, double req_tol, int* n_evals,
                double* xnew, double* ftrial);

}  // namespace qel
