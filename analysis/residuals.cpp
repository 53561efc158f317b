// The residual and derivative functions of the analysis drivers. Each takes
// its state down the ordinary evaluation road: coordinates from angle form,
// mbstate, the user-load hook, the constraint errors, mbderiv.
#include "analysis/analysis.hpp"
#include "qel_model.h"

namespace qel {

void mbassemblefunc(const double ang[nu], void* param, double resid[]) {
  const double* t = static_cast<const double*>(param);
  double q[nq];
  const double u[nu] = {};
  mbang2st(ang, q);
  mbstate(t[0], q, u);
  mbperr(resid);
}

void mbinitvelfunc(const double u[nu], void* param, double resid[]) {
  const double* q_then_t = static_cast<const double*>(param);
  mbstate(q_then_t[nq], q_then_t, u);
  mbverr(resid);
}

void mbstaticfunc(const double ang[nu], void* param, double resid[nu]) {
  const double* u_then_t = static_cast<const double*>(param);
  const double t = u_then_t[nu];
  double q[nq], qdot[nq];
  mbang2st(ang, q);
  mbstate(t, q, u_then_t);
  mbloadhook(t, q, u_then_t);
  mbperr(resid);
  mbderiv(qdot, resid);
}

void mbsteadyfunc(const double x[2 * nu], void* param, double resid[nu]) {
  const double t = *static_cast<const double*>(param);
  const double* u = x + nu;
  double q[nq], qdot[nq];
  mbang2st(x, q);
  mbstate(t, q, u);
  mbloadhook(t, q, u);
  mbperr(resid);
  mbverr(resid);
  mbderiv(qdot, resid);
}

void mbmotionfunc(double t, const double state[nq + nu], double state_rate[nq + nu], void* /*param*/, int* status) {
  mbstate(t, state, state + nq);
  mbloadhook(t, state, state + nq);
  mbderiv(state_rate, state_rate + nq);
  *status = 0;
}

}  // namespace qel
