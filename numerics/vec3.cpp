#include "numerics/vec3.hpp"

#include "frame/errors.hpp"

namespace qel {

void mbvrot(const double* v, const double* axis, double angle, double* out) {
  const double len = mbvnrm(axis);
  if (!(len > 0.0)) {
    mbvcopy(v, out);
    mbseterr(QEL_R_MBVROT, QEL_E_ZERO_ROTATION_AXIS);
    return;
  }
  const double s = std::sin(angle), c = std::cos(angle);
  vec3 sv, cv, n, w;
  mbvmul(s, v, sv);
  mbvmul(c, v, cv);
  mbvmul(1.0 / len, axis, n);
  const double d = mbvdot(v, n);
  mbvcross(n, sv, w);
  // c v + (1 - c)(v.n) n + s (n x v); v is fully read before out is written.
  mbvaxpy((1.0 - c) * d, n, cv, out);
  mbvadd(out, w, out);
}

}  // namespace qel
