// The user-load hooks and the two integrator slots, all empty in the
// delivered modules.
#include "analysis/analysis.hpp"

namespace qel {

namespace {
// Set only through set_test_load_hook, which nothing in the module calls.
LoadHookFn test_load_hook = nullptr;
}  // namespace

void set_test_load_hook(LoadHookFn fn) { test_load_hook = fn; }

void mbloadhook(double t, const double q[nq], const double u[nu]) {
  if (test_load_hook) test_load_hook(t, q, u);
}

void mbloadhookb(double /*t*/, const double* /*q*/, const double* /*u*/) {}

int mbvarstep(MotionFn /*fn*/, double* /*t*/, double* /*state*/, double* /*state_rate*/, void* /*param*/,
              double /*dt*/, double* /*step*/, int /*n*/, double /*tol*/, double* /*work*/, int* /*err*/,
              int* /*extra*/) {
  return 0;
}

int mbfixstep(MotionFn /*fn*/, double* /*t*/, double* /*state*/, double* /*state_rate*/, void* /*param*/,
              double /*dt*/, int /*n*/, double* /*work*/, double* /*err_est*/, int* /*err*/) {
  return 0;
}

}  // namespace qel
