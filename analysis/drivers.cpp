// The exported analysis drivers. mbassemble, mbstatic and mbsteady hand the
// root finder the coordinates in angle form (no quaternion norm to keep) and
// convert them back; the solving drivers end with one more evaluation at
// their result, so that the module state and its results belong to it.
#include "analysis/analysis.hpp"
#include "model/records.hpp"
#include "numerics/root.hpp"
#include "qel_model.h"

namespace qel {

RootWork root_work;
StepWork step_work;
MotionControl motion;

namespace {

// A host that passes no lock table locks nothing.
constexpr int kNothingLocked[kRootNx] = {};

// mbroot's outcome as the drivers report it: the final evaluation counts
// towards the budget.
int solve_outcome(int rooterr, int n_evals, int max_evals) {
  if (rooterr == 0) return 0;
  return n_evals < max_evals ? 1 : 2;
}

// While call_state is 0 mbstate and mbderiv refuse, so no residual would be
// written: the drivers then solve nothing and leave the host's state vector
// alone. One evaluation lets the refusals' reports tell the host why.
void refuse_solve(qel_residual_fn fn, const double* x, void* param, int* n_evals, int* err) {
  fn(x, param, root_work.resid);
  *n_evals = 1;
  *err = 2;
}

}  // namespace

}  // namespace qel

using namespace qel;

extern "C" QEL_API void mbassemble(double t, double state[], int* /*lock*/, double /*tol*/, int /*max_evals*/,
                                   int* n_evals, int* err) {
  mbst2ang(state, state);
  *err = 0;
  *n_evals = 0;
  double param[1] = {t};
  double perr[nu] = {};
  mbassemblefunc(state, param, perr);
  *n_evals = 1;
  mbang2st(state, state);
}

extern "C" QEL_API void mbinitvel(double t, double state[], int* /*lock*/, double /*tol*/, int /*max_evals*/,
                                  int* n_evals, int* err) {
  double param[nq + 1];
  for (int i = 0; i < nq; ++i) param[i] = state[i];
  param[nq] = t;
  *err = 0;
  *n_evals = 0;
  double verr[nu] = {};
  mbinitvelfunc(state + nq, param, verr);
  *n_evals = 1;
}

extern "C" QEL_API void mbstatic(double t, double state[], const int lock[], double req_tol, double tol,
                                 int max_evals, int* n_evals, int* err) {
  double param[nu + 1];
  for (int i = 0; i < nu; ++i) param[i] = state[nq + i];
  param[nu] = t;
  if (control.call_state == 0) {
    double ang[nu];
    mbst2ang(state, ang);
    refuse_solve(mbstaticfunc, ang, param, n_evals, err);
    return;
  }
  mbst2ang(state, state);
  int rooterr = 0;
  mbroot(mbstaticfunc, state, param, nu, nu, nu, lock ? lock : kNothingLocked, req_tol, tol, max_evals,
         root_work.jacobian, root_work.dwork, root_work.rwork, root_work.iwork, root_work.resid, n_evals,
         &rooterr);
  mbstaticfunc(state, param, root_work.resid);
  mbrootcount(n_evals);
  mbang2st(state, state);
  *err = solve_outcome(rooterr, *n_evals, max_evals);
}

extern "C" QEL_API void mbsteady(double t, double state[], const int lock[], double req_tol, double tol,
                                 int max_evals, int* n_evals, int* err) {
  double param[1] = {t};
  double x[2 * nu];  // the angles, then the speeds
  mbst2ang(state, x);
  for (int i = 0; i < nu; ++i) x[nu + i] = state[nq + i];
  if (control.call_state == 0) {
    refuse_solve(mbsteadyfunc, x, param, n_evals, err);
    return;
  }
  int rooterr = 0;
  mbroot(mbsteadyfunc, x, param, nu, 2 * nu, nu, lock ? lock : kNothingLocked, req_tol, tol, max_evals,
         root_work.jacobian, root_work.dwork, root_work.rwork, root_work.iwork, root_work.resid, n_evals,
         &rooterr);
  mbsteadyfunc(x, param, root_work.resid);
  mbrootcount(n_evals);
  mbang2st(x, state);
  for (int i = 0; i < nu; ++i) state[nq + i] = x[nu + i];
  *err = solve_outcome(rooterr, *n_evals, max_evals);
}

extern "C" QEL_API void mbmotion(double* t, double state[], double state_rate[], double dt, double req_tol,
                                 double tol, int* flag, int* err) {
  double tl = *t;
  // req_tol is the driver's own copy; its address is the slot's param.
  // The error word starts clear: nothing in the module writes it while the
  // slot is empty.
  int errword = 0, extra = 0;
  if (*flag != 0) {
    int status = 0;
    mbmotionfunc(tl, state, state_rate, &req_tol, &status);
    motion.motion_step = dt;
    *flag = 0;
  }
  if (!(motion.motion_step > 0.0)) motion.motion_step = dt;
  mbvarstep(mbmotionfunc, &tl, state, state_rate, &req_tol, dt, &motion.motion_step, nq + nu, tol,
            step_work.var_work, &errword, &extra);
  *t = tl;
  *err = errword;
}

extern "C" QEL_API void mbfmotion(double* t, double state[], double state_rate[], double dt, double req_tol,
                                  int* flag, double* err_est, int* err) {
  *err = 0;
  double tl = *t;
  int errword = 0;
  if (*flag != 0) {
    mbmotionfunc(tl, state, state_rate, &req_tol, &errword);
    *flag = 0;
  }
  mbfixstep(mbmotionfunc, &tl, state, state_rate, &req_tol, dt, nq + nu, step_work.fix_work, err_est, &errword);
  if (errword != 0) *err = 1;
  *t = tl;
}
