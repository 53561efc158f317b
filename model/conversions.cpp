// Conversions of a whole coordinate vector between the quaternion form (nq)
// and the angle form (nu, body-fixed 1-2-3 angles in place of the
// quaternion), and the quaternion normalization mbstate relies on. Each reads
// the orientation before it writes, so the analysis drivers can convert their
// state vectors in place.
#include <cmath>

#include "frame/errors.hpp"
#include "model/state.hpp"

namespace qel {

void mbnormstchk(const double in[nq], double out[nq], int routine) {
  const double e1 = in[3], e2 = in[4], e3 = in[5], e4 = in[nu];
  for (int i = 0; i < nq; ++i) out[i] = in[i];
  double norm = std::sqrt(((e1 * e1 + e3 * e3) + e4 * e4) + e2 * e2);
  // The window [0.9, 1.1] is closed; a NaN length is outside it.
  if (routine != 0 && !(norm >= 0.9 && norm <= 1.1)) mbseterr(routine, QEL_E_QUAT_NORM);
  if (norm == 0.0) {
    out[nu] = 1.0;
    norm = 1.0;
  }
  const double r = 1.0 / norm;
  out[3] *= r;
  out[4] *= r;
  out[5] *= r;
  out[nu] *= r;
}

}  // namespace qel

using namespace qel;

extern "C" {

QEL_API void mbnormst(const double in[], double out[]) { mbnormstchk(in, out, 0); }

QEL_API void mbst2ang(const double st[], double ang[]) {
  double dc[9];
  mbquat2dc(st[3], st[4], st[5], st[nu], dc);
  for (int i = 0; i < nu; ++i) ang[i] = st[i];
  mbdc2ang(dc, &ang[3], &ang[4], &ang[5]);
}

QEL_API void mbang2st(const double ang[], double st[]) {
  double dc[9];
  mbang2dc(ang[3], ang[4], ang[5], dc);
  for (int i = 0; i < nu; ++i) st[i] = ang[i];
  mbdc2quat(dc, &st[3], &st[4], &st[5], &st[nu]);
}

}  // extern "C"
