// The host's entries to the equations of motion: the explicit form (mbderiv),
// the implicit residual form (mbresid) and the constraint multipliers
// (mbmult; the models have no constraints).
#include "dynamics/inverse.hpp"
#include "dynamics/results.hpp"
#include "dynamics/solve.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"

using namespace qel;

extern "C" {

QEL_API void mbderiv(double qdot[], double udot[]) {
  if (mbchkstate(QEL_R_MBDERIV)) return;
  if (param_status.stab[0] == kToSupply) mbseterr(QEL_R_MBDERIV, QEL_E_STAB0_MISSING);
  if (param_status.stab[1] == kToSupply) mbseterr(QEL_R_MBDERIV, QEL_E_STAB1_MISSING);
  double scratch[nu];
  mbsolveudot(QEL_R_MBDERIV, scratch);
  mbudot2acc();
  results.viol_count = 0;
  for (int i = 0; i < nq; ++i) qdot[i] = velocity.state_qdot[i];
  for (int k = 0; k < nu; ++k) udot[k] = results.state_udot[k];
}

QEL_API void mbresid(const double qdot_in[], const double udot_in[], const double mult_in[], double resid[]) {
  if (mbchkstate(QEL_R_MBRESID)) return;
  if (param_status.stab[1] == kToSupply) mbseterr(QEL_R_MBRESID, QEL_E_STAB1_MISSING);
  double ht[nu], dq[nq];
  mbinvdyn(udot_in, mult_in, ht);
  // Every input is read before resid is written: resid may overlap them.
  for (int i = 0; i < nq; ++i) dq[i] = qdot_in[i] - velocity.state_qdot[i];
  for (int k = 0; k < nu; ++k) results.state_udot[k] = udot_in[k];
  for (int i = 0; i < nq; ++i) resid[i] = dq[i];
  for (int k = 0; k < nu; ++k) resid[nq + k] = ht[k];
  mbudot2acc();
}

QEL_API void mbmult(double /*mult*/[], int* nviol) {
  if (mbchkaccel(QEL_R_MBMULT)) return;
  *nviol = results.viol_count;
}

}  // extern "C"
