// The analysis drivers' internals: the residual and derivative functions they
// run the evaluation road through, the user-load hook, the two integrator
// slots, and the drivers' work records. The work areas are module tables
// rather than automatic storage: mbsteady's alone would put about 200 KB on
// the host's stack, more than a worker thread has.
#pragma once

#include "model/topology.hpp"

namespace qel {

// Root-finder work: written by mbroot inside mbstatic and mbsteady / read by
// nothing between calls. Sized for mbsteady (nf = nu, nx = 2 nu); mbstatic's
// smaller problem (nx = nu) fits the same areas.
inline constexpr int kRootNf = nu;
inline constexpr int kRootNx = 2 * nu;
struct RootWork {
  double jacobian[kRootNf * kRootNx];                                      // (nf x nx)
  double dwork[2 * (kRootNf + kRootNx) * (kRootNf + kRootNx)];              // 2 (nf + nx)^2
  double rwork[3 * kRootNf + 5 * kRootNx + 4 * (kRootNf + kRootNx)];        // 3 nf + 5 nx + 4 (nf + nx)
  int iwork[4 * (kRootNf + kRootNx)];                                       // 4 (nf + nx)
  double resid[kRootNf];                                                    // (nf) residuals at the result
};

// Integrator work: handed by mbmotion and mbfmotion to their slots / read by
// the slots only.
struct StepWork {
  double var_work[6 * (nq + nu)];  // variable-step slot
  double fix_work[4 * (nq + nu)];  // fixed-step slot
};

// Motion control: written by mbmotion (and by a variable-step slot that
// adapts its step) / read by mbmotion. 0.0 at load.
struct MotionControl {
  double motion_step;  // the step size handed to the variable-step slot by address
};

extern RootWork root_work;
extern StepWork step_work;
extern MotionControl motion;

// Residual functions in mbroot's form fn(x, param, f); param points to the
// driver's parameter block of doubles.
void mbassemblefunc(const double ang[nu], void* param, double resid[]);  // param: t
void mbinitvelfunc(const double u[nu], void* param, double resid[]);     // param: q (nq), t
void mbstaticfunc(const double ang[nu], void* param, double resid[nu]);  // param: u (nu), t
void mbsteadyfunc(const double x[2 * nu], void* param, double resid[nu]); // param: t

// Derivative function of the motion drivers: state_rate := (qdot, udot) at
// (t, state); *status := 0. param is not read.
void mbmotionfunc(double t, const double state[nq + nu], double state_rate[nq + nu], void* param, int* status);
using MotionFn = void (*)(double t, const double state[], double state_rate[], void* param, int* status);

// The user-load hook: runs between mbstate and mbderiv in every residual and
// derivative function, where mbhinget, mbpointf and mbbodyt may add loads.
// Empty in the delivered modules. mbloadhookb is a second hook with no caller.
void mbloadhook(double t, const double q[nq], const double u[nu]);
void mbloadhookb(double t, const double q[nq], const double u[nu]);

// For unit tests only (not exported, and no code of the module calls it):
// makes mbloadhook call fn; nullptr restores the empty hook.
using LoadHookFn = void (*)(double t, const double q[nq], const double u[nu]);
void set_test_load_hook(LoadHookFn fn);

// The integrator slots. Both are empty: they return 0 and write nothing.
int mbvarstep(MotionFn fn, double* t, double state[], double state_rate[], void* param, double dt, double* step,
              int n, double tol, double work[], int* err, int* extra);
int mbfixstep(MotionFn fn, double* t, double state[], double state_rate[], void* param, double dt, int n,
              double work[], double* err_est, int* err);

}  // namespace qel
