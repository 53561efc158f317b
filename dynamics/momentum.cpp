// Whole-model momentum, kinetic energy and mass properties: pure reads of the
// tables of mbinit and the last mbstate.
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

using namespace qel;

extern "C" QEL_API void mbmom(double lmom[3], double amom[3], double* kinetic) {
  if (mbchkstate(QEL_R_MBMOM)) return;
  const PositionTables& P = position;
  const VelocityTables& V = velocity;
  double lin[3] = {0.0, 0.0, 0.0}, ang[3] = {0.0, 0.0, 0.0}, twice_ke = 0.0;
  for (int b = 0; b < nbody; ++b) {
    double mv[3];
    mbvmul(params.body_mass[b], V.body_vel[b], mv);
    mbvadd(lin, mv, lin);
  }
  // Spin momentum in ground, plus the moment of each body's momentum about
  // the origin; shifted to the system mass centre once at the end.
  for (int b = 0; b < nbody; ++b) {
    const double* w = V.body_angvel[b];
    double h[3], spin[3], mv[3], moment[3];
    mat_vec(params.body_inertia[b], w, h);
    mat_vec(P.body_rot[b], h, spin);
    mbvmul(params.body_mass[b], V.body_vel[b], mv);
    mbvcross(P.body_pos[b], mv, moment);
    for (int i = 0; i < 3; ++i) ang[i] = ang[i] + (spin[i] + moment[i]);
    twice_ke = twice_ke + (dot3(w, h) + params.body_mass[b] * dot3(V.body_vel[b], V.body_vel[b]));
  }
  double shift[3];
  mbvcross(P.sys_mass_centre, lin, shift);
  mbvsub(ang, shift, ang);
  mbvcopy(lin, lmom);
  mbvcopy(ang, amom);
  *kinetic = 0.5 * twice_ke;
}

namespace {

// m (|p|^2 delta_ij - p_i p_j): the point-mass inertia of m at p about the origin.
inline double point_inertia(double m, const double* p, int i, int j) {
  if (i != j) return m * (0.0 - p[i] * p[j]);
  const int a = i == 0 ? 1 : 0, c = i == 2 ? 1 : 2;
  return m * (p[a] * p[a] + p[c] * p[c]);
}

}  // namespace

extern "C" QEL_API void mbsys(double* msum, double cm[3], double inertia[3][3]) {
  if (mbchkstate(QEL_R_MBSYS)) return;
  const PositionTables& P = position;
  double sum[3][3] = {};
  for (int b = 0; b < nbody; ++b) {
    const mat33& R = P.body_rot[b];
    double RI[3][3];
    mat_mul(R, params.body_inertia[b], RI);
    for (int i = 0; i < 3; ++i)
      for (int j = i; j < 3; ++j) {
        const double spin = (RI[i][0] * R[j][0] + RI[i][1] * R[j][1]) + RI[i][2] * R[j][2];
        sum[i][j] = sum[i][j] + (spin + point_inertia(params.body_mass[b], P.body_pos[b], i, j));
      }
  }
  // The parallel-axis shift to the mass centre, once, with the total mass.
  const double M = derived.total_mass;
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) sum[i][j] = sum[i][j] - point_inertia(M, P.sys_mass_centre, i, j);
  *msum = M;
  mbvcopy(P.sys_mass_centre, cm);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) inertia[i][j] = j >= i ? sum[i][j] : sum[j][i];
}
