#include "numerics/root.hpp"

#include <cmath>
#include <limits>

namespace {

constexpr double kDiffFloor = 1e-13;      // smaller residual changes count as no sensitivity
constexpr double kLsqTol = 1e-13;         // rank tolerance of every Newton correction
constexpr double kRestoreWindow = 0.05;   // restoration repairs only small required misses
constexpr int kRestoreTries = 5;
constexpr double kMuFloor = 0.01;
constexpr int kSlowSteps = 3;             // this many slow steps in a row end a pass
constexpr double kLambdaFloor[2] = {0.01, 1e-5};

struct Measures {
  double hard, softmax, soft;
};

// A point with a non-finite unknown cannot be measured: all its measures are
// NaN, so every test below takes its failing branch on it.
Measures measure(const double* x, int nx, const double* f, int nf, int k, int useMax) {
  Measures r;
  qel::mbrootnorms(f, nf, k, useMax, &r.softmax, &r.hard, &r.soft);
  for (int j = 0; j < nx; ++j) {
    if (!std::isfinite(x[j])) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      return {nan, nan, nan};
    }
  }
  return r;
}

bool finite(const Measures& m) { return std::isfinite(m.hard) && std::isfinite(m.soft); }

void copy(const double* from, int n, double* to) {
  for (int i = 0; i < n; ++i) to[i] = from[i];
}

// A zero Jacobian column already gives a zero correction; this keeps locked
// unknowns bitwise fixed even when the solve has produced a non-finite value.
void zero_locked(const int* lock, int nx, double* dx) {
  for (int j = 0; j < nx; ++j)
    if (lock[j] != 0) dx[j] = 0.0;
}

}  // namespace

namespace qel {

void mbrootnorms(const double* f, int nf, int k, int useMax, double* softmax, double* hard, double* soft) {
  const int nreq = nf - k;
  double h = 0.0, smax = 0.0, ssum = 0.0;
  for (int i = 0; i < nreq; ++i) {
    const double a = std::fabs(f[i]);
    if (a > h || a != a) h = a;  // once NaN, stays NaN
  }
  for (int i = nreq; i < nf; ++i) {
    const double a = std::fabs(f[i]);
    if (a > smax || a != a) smax = a;
    ssum = ssum + a;
  }
  *hard = h;
  *softmax = smax;
  *soft = useMax ? smax : ssum;
}

void mbrootjac(qel_residual_fn fn, double* x, void* param, int nrows, int nx, const int* lock, double delta,
               const double* fbase, double* fwork, double* J, int* n_evals, double* rowscale) {
  for (int j = 0; j < nx; ++j) {
    if (lock[j] != 0) {
      for (int i = 0; i < nrows; ++i) J[i * nx + j] = 0.0;
      continue;
    }
    const double saved = x[j];
    // The divisor is h itself, not the rounded difference of the two points.
    const double h = (std::fabs(x[j]) + 1.0) * delta;
    x[j] = h + x[j];
    fn(x, param, fwork);
    qel::mbrootcount(n_evals);
    x[j] = saved;
    for (int i = 0; i < nrows; ++i) {
      const double diff = fwork[i] - fbase[i];
      J[i * nx + j] = !(std::fabs(diff) >= kDiffFloor) ? 0.0 : diff / h;
    }
  }
  for (int i = 0; i < nrows; ++i) {
    double m = 0.0;
    for (int j = 0; j < nx; ++j)
      if (std::fabs(J[i * nx + j]) > m) m = std::fabs(J[i * nx + j]);
    if (m > 0.0) {
      rowscale[i] = 1.0 / m;
      for (int j = 0; j < nx; ++j) J[i * nx + j] = J[i * nx + j] * rowscale[i];
    } else {
      rowscale[i] = 1.0;
    }
  }
}

void mbrootstep(qel_residual_fn fn, const double* x, void* param, int nf, int k, int useMax, int nx,
                const double* dx, double lambda, double hard0, double soft0, double req_tol, int* n_evals,
                double* xnew, double* ftrial) {
  double M = 1.0;
  for (int j = 0; j < nx; ++j) {
    const double r = std::fabs(lambda * dx[j]) / (std::fabs(x[j]) * 0.1 + 1.0);
    if (r > M) M = r;
  }
  double alpha = 1.0 / M;
  double prev = alpha;
  int count = 0;
  bool final = false;
  double H = hard0, S = soft0;
  for (;;) {
    ++count;
    for (int j = 0; j < nx; ++j) xnew[j] = x[j] - (dx[j] * lambda) * alpha;
    fn(xnew, param, ftrial);
    qel::mbrootcount(n_evals);
    if (final) return;
    const Measures t = measure(xnew, nx, ftrial, nf, k, useMax);
    // Each trial is compared with the one before it.
    const double d = (H <= req_tol && t.hard <= req_tol) ? S - t.soft : H - t.hard;
    H = t.hard;
    S = t.soft;
    // Only a trial that can be measured lets the step grow: without this an
    // unmeasurable trial could keep alpha from ever reaching 0.5.
    if (finite(t) && d > 0.0) {
      if (alpha >= 0.5) return;
      const double g = count < 5 ? 1.25 : count < 10 ? 2.0 : 10.0;
      prev = alpha;
      alpha = alpha * g;
      if (alpha > 1.0) alpha = 1.0;
    } else {
      if (alpha == prev) return;  // the first trial
      alpha = prev;               // evaluate the last improving trial again
      final = true;
    }
  }
}

}  // namespace qel

namespace {

// The caller's arrays carved into their roles.
struct RootWork {
  qel_residual_fn fn;
  void* param;
  int nf, nx, k, nreq, useMax;
  const int* lock;
  double req_tol;
  double* J;
  double* dwork;
  double* ftrial;    // trial residuals (also the step's right-hand side)
  double* faux;      // restoration: perturbed, scaled and trial residuals
  double* rowscale;
  double* dx;
  double* xtrial;
  double* xr;        // restoration point
  double* dxr;
  double* xrtrial;
  double* lsq_real;
  int* rowmap;
  int* colmap;
  int* lsq_int;
};

// Pulls a trial that lowered the desired measure but just missed the
// required tolerance back inside it with minimum-norm steps on the required
// rows. On success the trial (point, residuals, measures) is replaced by the
// restored one; false abandons the trial.
bool restore(const RootWork& w, double delta, double soft, Measures& trial, int* n_evals) {
  copy(w.xtrial, w.nx, w.xr);
  double mu = 1.0;
  double B = trial.hard;
  for (int tries = 0;;) {
    qel::mbrootjac(w.fn, w.xr, w.param, w.nreq, w.nx, w.lock, delta, w.ftrial, w.faux, w.J, n_evals, w.rowscale);
    for (int i = 0; i < w.nreq; ++i) w.faux[i] = w.rowscale[i] * w.ftrial[i];
    mblsslv(w.nreq, w.nx, w.nreq, w.nx, 0, w.rowmap, w.colmap, kLsqTol, w.dwork, w.lsq_real, w.lsq_int, w.J,
            w.faux, w.dxr);
    zero_locked(w.lock, w.nx, w.dxr);
    Measures sub;
    for (;;) {
      qel::mbrootstep(w.fn, w.xr, w.param, w.nf, w.k, w.useMax, w.nx, w.dxr, mu, B, soft, w.req_tol, n_evals,
                      w.xrtrial, w.faux);
      sub = measure(w.xrtrial, w.nx, w.faux, w.nf, w.k, w.useMax);
      if (B - sub.hard >= w.req_tol) break;  // dropped by at least req_tol
      mu = mu * 0.5;
      if (mu < kMuFloor) return false;
    }
    if (!(sub.soft <= soft)) return false;  // would give back the desired gain
    copy(w.faux, w.nf, w.ftrial);
    copy(w.xrtrial, w.nx, w.xr);
    B = sub.hard;
    trial = sub;
    if (sub.hard <= w.req_tol) {
      copy(w.xr, w.nx, w.xtrial);
      return true;
    }
    mu = 2.0 * mu;
    if (mu > 1.0) mu = 1.0;
    if (++tries >= kRestoreTries) return false;
  }
}

}  // namespace

extern "C" QEL_API void mbroot(qel_residual_fn fn, double x[], void* param, int nf, int nx, int nk, const int lock[],
                               double req_tol, double goal_tol, int max_evals, double J[], double dwork[],
                               double rwork[], int iwork[], double f[], int* n_evals, int* err) {
  // Negative sizes are empty problems; k is kept inside 0..nf whatever nk
  // says (INT_MIN included), so no residual outside f is ever measured.
  if (nf < 0) nf = 0;
  if (nx < 0) nx = 0;
  const int k = nk < 0 ? (nk < -nf ? nf : -nk) : (nk > nf ? nf : nk);
  const int useMax = nk < 0 ? 1 : 0;
  RootWork w;
  w.fn = fn;
  w.param = param;
  w.nf = nf;
  w.nx = nx;
  w.k = k;
  w.nreq = nf - k;
  w.useMax = useMax;
  w.lock = lock;
  w.req_tol = req_tol;
  w.J = J;
  w.dwork = dwork;
  w.ftrial = rwork;
  w.faux = rwork + nf;
  w.rowscale = rwork + 2 * nf;
  w.dx = rwork + 3 * nf;
  w.xtrial = w.dx + nx;
  w.xr = w.dx + 2 * nx;
  w.dxr = w.dx + 3 * nx;
  w.xrtrial = w.dx + 4 * nx;
  w.lsq_real = w.dx + 5 * nx;
  w.rowmap = iwork;
  w.colmap = iwork + nf;
  w.lsq_int = iwork + nf + nx;
  *n_evals = 0;
  *err = 0;
  for (int i = 0; i < nf; ++i) w.rowmap[i] = i;
  for (int j = 0; j < nx; ++j) w.colmap[j] = j;

  fn(x, param, f);
  qel::mbrootcount(n_evals);
  Measures cur = measure(x, nx, f, nf, k, useMax);
  double delta = 1e-6;
  bool out_of_evals = false;
  for (int pass = 0; pass < 2 && !out_of_evals; ++pass, delta = delta * 0.001) {
    int slow = 0;
    double lambda = 1.0;
    bool pass_over = false;
    while (!pass_over) {
      if (cur.hard <= req_tol && cur.softmax <= goal_tol) return;  // NaN is never converged
      if (*n_evals >= max_evals) {
        out_of_evals = true;
        break;
      }
      // Newton correction: required rows exactly, desired rows in least
      // squares, smallest norm.
      qel::mbrootjac(fn, x, param, nf, nx, lock, delta, f, w.ftrial, J, n_evals, w.rowscale);
      for (int i = 0; i < nf; ++i) w.ftrial[i] = w.rowscale[i] * f[i];
      mblsslv(nf, nx, nf, nx, k, w.rowmap, w.colmap, kLsqTol, dwork, w.lsq_real, w.lsq_int, J, w.ftrial, w.dx);
      zero_locked(lock, nx, w.dx);
      for (;;) {  // trials along dx, lambda halving on each rejection
        qel::mbrootstep(fn, x, param, nf, k, useMax, nx, w.dx, lambda, cur.hard, cur.soft, req_tol, n_evals,
                        w.xtrial, w.ftrial);
        Measures t = measure(w.xtrial, nx, w.ftrial, nf, k, useMax);
        bool judged = true;
        if (t.soft < cur.soft && cur.hard <= req_tol && req_tol < t.hard && t.hard <= kRestoreWindow)
          judged = restore(w, delta, cur.soft, t, n_evals);
        if (judged) {
          double d;
          bool is_slow;
          if (cur.hard <= req_tol && t.hard <= req_tol) {
            d = cur.soft - t.soft;
            is_slow = !(d >= 0.01 * t.soft + 0.1 * goal_tol);
          } else {
            d = cur.hard - t.hard;
            is_slow = !(d >= 0.01 * req_tol + 0.01 * t.hard);
          }
          if (d >= 0.0) {  // accept
            copy(w.ftrial, nf, f);
            copy(w.xtrial, nx, x);
            cur = t;
            if (is_slow) {
              if (++slow >= kSlowSteps) pass_over = true;
            } else {
              slow = 0;
            }
            lambda = lambda * 2.0;
            if (lambda > 1.0) lambda = 1.0;
            break;  // new Jacobian at the new point
          }
        }
        lambda = lambda * 0.5;
        if (lambda < kLambdaFloor[pass]) {
          pass_over = true;
          break;
        }
      }
    }
  }
  // Written so that a NaN measure takes the failing branch.
  if (!(cur.hard <= req_tol))
    *err = 2;
  else if (!(cur.softmax <= goal_tol))
    *err = 1;
}
