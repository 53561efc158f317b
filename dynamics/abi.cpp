// The tip-to-root articulated-inertia pass. For every axis k, from nu - 1 down
// to 0: take the articulated inertia IA_k, its column IA_k s_k along the axis
// and the pivot D_k = s_k . IA_k s_k; remove the axis (remainder
// P_k = IA_k - IA_k s_k s_k^T IA_k / D_k), factor P_k as L D L^T without row
// exchanges and carry each column of L into the next slot's frame and
// reference point, where sum d_j w_j w_j^T adds to that slot's inertia.
//
// Axes of one height above the tips are independent: the pass runs level by
// level, each step for every axis of the level before the next step, so the
// long chains of divisions in their factorizations overlap. Each axis still
// does exactly the arithmetic of a descending visit; what depends on order
// is kept: the contributions to a body with several child joints are held
// and entered, highest joint first, when that body's axis starts, and pivot
// failures are reported in descending axis order at the end of the pass.
#include "dynamics/abi.hpp"

#include "dynamics/axes.hpp"
#include "dynamics/forces.hpp"
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "numerics/vec3.hpp"

#include <utility>

namespace qel {

ArticulatedInertia abi = {};

namespace {

constexpr double kPivotTol = 1e-13;

// mbabiin takes over with the root's levels; where the split lies changes nothing.
constexpr int kInnerLevel = axis_height[5];

// What the closing query leaves when the host's callback writes no code.
constexpr int kNoAnswer = -1;

// One axis's work while its level runs. The 6x6 remainder P_k (force
// components 0..2, then moment components 3..5) is factored in place as
// L D L^T without row exchanges; afterwards P holds nothing of use.
struct AxisWork {
  double P[6][6];  // remainder, upper triangle
  double L[6][6];  // multipliers below the diagonal
  double d[6];     // raw pivots
  double w[6][6];  // carried columns: w[j] is column j
};

// Factors the n remainders of a level, column by column across the level.
[[gnu::noinline]] void factor_level(AxisWork* x, int n) {
  for (int j = 0; j < 5; ++j)
    for (int m = 0; m < n; ++m) {
      double(&P)[6][6] = x[m].P;
      double(&L)[6][6] = x[m].L;
      x[m].d[j] = P[j][j];
      // A pivot below the tolerance (or NaN) only drops its couplings.
      const double inv = P[j][j] >= kPivotTol ? 1.0 / P[j][j] : 0.0;
      for (int i = j + 1; i < 6; ++i) L[i][j] = P[j][i] * inv;
      for (int i = j + 1; i < 6; ++i)
        for (int l = i; l < 6; ++l) P[i][l] -= L[i][j] * P[j][l];
    }
  for (int m = 0; m < n; ++m) x[m].d[5] = x[m].P[5][5];
}

// w[j] = X_k l_j for the columns l_j of the unit lower-triangular L, with
// X_k (f; m) = (R f; SR f + R m). The zero upper-right block of X_k, the
// zeros above L's diagonal and its unit diagonal are not multiplied; the
// force part of the moment columns 3..5 is zero and is not written.
template <bool kWithSkew>
[[gnu::noinline]] void carry_columns(const mat33& R, const mat33& SR, const double (&L)[6][6],
                                                 double (&w)[6][6]) {
  for (int r = 0; r < 3; ++r) {
    w[0][r] = (R[r][0] + R[r][1] * L[1][0]) + R[r][2] * L[2][0];
    w[1][r] = R[r][1] + R[r][2] * L[2][1];
    w[2][r] = R[r][2];
    for (int j = 0; j < 3; ++j) {
      const double rm = (R[r][0] * L[3][j] + R[r][1] * L[4][j]) + R[r][2] * L[5][j];
      if constexpr (kWithSkew) {
        const double sm = j == 0   ? (SR[r][0] + SR[r][1] * L[1][0]) + SR[r][2] * L[2][0]
                          : j == 1 ? SR[r][1] + SR[r][2] * L[2][1]
                                   : SR[r][2];
        w[j][3 + r] = sm + rm;
      } else {
        w[j][3 + r] = rm;
      }
    }
    w[3][3 + r] = (R[r][0] + R[r][1] * L[4][3]) + R[r][2] * L[5][3];
    w[4][3 + r] = R[r][1] + R[r][2] * L[5][4];
    w[5][3 + r] = R[r][2];
  }
}

// The identity steps between root axes carry the columns unchanged.
[[gnu::always_inline]] inline void copy_columns(const double (&L)[6][6], double (&w)[6][6]) {
  for (int j = 0; j < 6; ++j)
    for (int i = (j < 3 ? 0 : 3); i < 6; ++i) w[j][i] = i < j ? 0.0 : i == j ? 1.0 : L[i][j];
}

// Enters sum_j d_j w_j w_j^T into slot n: entry (r, s) is the sum over j, in
// j order, of (d_j w_j[r]) w_j[s]. Both halves of the symmetric blocks are
// summed that way rather than mirrored: (r, s) and (s, r) round apart, and
// whole columns of J (and of M at the root translations) are read later. A
// body's own inertia joins with the first contribution that reaches its slot.
template <Arrival kArrival>
[[gnu::noinline]] void enter_contribution(int n, const double (&w)[6][6], const double (&d)[6]) {
  double sc[6][6];
  for (int j = 0; j < 6; ++j)
    for (int i = (j < 3 ? 0 : 3); i < 6; ++i) sc[j][i] = d[j] * w[j][i];

  double(&M)[3][3] = abi.abi_inertia[0][n];
  double(&H)[3][3] = abi.abi_inertia[1][n];
  double(&J)[3][3] = abi.abi_inertia[2][n];
  [[maybe_unused]] const double mass = params.body_mass[axis_joint[n]];
  // The moment columns 3..5 have no force part: they add nothing to M and H.
  for (int r = 0; r < 3; ++r) {
    for (int s = 0; s < 3; ++s) {
      const double cm = (sc[0][r] * w[0][s] + sc[1][r] * w[1][s]) + sc[2][r] * w[2][s];
      if constexpr (kArrival == Arrival::kFirstAtBody) M[r][s] = r == s ? cm + mass : cm;
      else if constexpr (kArrival == Arrival::kAtBody) M[r][s] = cm + M[r][s];
      else M[r][s] = cm;
    }
    for (int s = 0; s < 3; ++s) {
      const double ch = (sc[0][r] * w[0][3 + s] + sc[1][r] * w[1][3 + s]) + sc[2][r] * w[2][3 + s];
      if constexpr (kArrival == Arrival::kFirstAtBody) H[r][s] = ch + derived.body_mass_skew[n][r][s];
      else if constexpr (kArrival == Arrival::kAtBody) H[r][s] = ch + H[r][s];
      else H[r][s] = ch;
    }
    for (int s = 0; s < 3; ++s) {
      double cj = sc[0][3 + r] * w[0][3 + s];
      for (int j = 1; j < 6; ++j) cj += sc[j][3 + r] * w[j][3 + s];
      if constexpr (kArrival == Arrival::kFirstAtBody) J[r][s] = cj + derived.joint_inertia[n][r][s];
      else if constexpr (kArrival == Arrival::kAtBody) J[r][s] = cj + J[r][s];
      else J[r][s] = cj;
    }
  }
}

// What the pass does at a root axis depends on which one it is; at a
// non-root axis only on these traits.
constexpr int kPassTraits = kTipAxis | kFirstAxis | kHeldAxis | kArrivalBits;

// The step's template arguments for axis k: the root axis (-1 for none) and
// the traits of a non-root axis.
constexpr int root_axis(int k) { return k < 6 ? k : -1; }
constexpr int pass_traits(int k) { return k < 6 ? 0 : axis_traits(k) & kPassTraits; }

template <int kRoot, int kTraits>
struct Kind : AxisTraits<kTraits> {
  static constexpr bool root = kRoot >= 0;
  static constexpr bool rot = kRoot >= 3;                  // root rotation about body 0's axis c
  static constexpr bool trans = root && kRoot < 3;         // root translation along ground axis c
  static constexpr int c = rot ? kRoot - 3 : kRoot;
};

// The held contributions enter slot n, highest joint first; a body's own
// inertia joins with the first.
template <int n>
[[gnu::always_inline]] inline void gather() {
  if constexpr (contributor_count(n) > 1) {
    for_axes_down<nu - 1, n + 1>([&](auto cc) {
      constexpr int c = decltype(cc)::value;
      if constexpr (inward_slot(c) == n)
        enter_contribution<arrival(c)>(n, abi.abi_prop_col[held_index[c]], abi.abi_prop_pivot[held_index[c]]);
    });
  }
}

// Axis k up to its remainder: column, pivot test, gains, P.
template <int kRoot, int kTraits>
[[gnu::noinline]] void axis_remainder(const int axis, AxisWork& x) {
  using K = Kind<kRoot, kTraits>;
  constexpr bool root = K::root, rot = K::rot, trans = K::trans, tip = K::tip;
  constexpr int c = K::c;
  const int k = root ? kRoot : axis;
  // A tip's articulated inertia is its own: M = m 1, H = m skew(b), J about the joint point.
  const double mass = params.body_mass[axis_joint[k]];
  const mat33& M = abi.abi_inertia[0][k];
  const mat33& H = tip ? derived.body_mass_skew[k] : abi.abi_inertia[1][k];
  const mat33& J = tip ? derived.joint_inertia[k] : abi.abi_inertia[2][k];

  // Column (a; b) = IA_k s_k and pivot D_k = s_k . (a; b).
  double a[3], b[3], D;
  if constexpr (!root) {
    const double* p = params.joint_pin[k];
    mat_vec(H, p, a);
    mat_vec(J, p, b);
    D = dot3(b, p);
  } else if constexpr (rot) {
    for (int r = 0; r < 3; ++r) {
      a[r] = H[r][c];
      b[r] = J[r][c];
    }
    D = J[c][c];
  } else {
    for (int r = 0; r < 3; ++r) {
      a[r] = M[r][c];
      b[r] = H[c][r];
    }
    D = M[c][c];
  }

  // Pivot test; NaN fails. A failed non-root pivot stays raw in its slot; a
  // failed root pivot leaves the slot as an earlier pass left it.
  const bool pass = D >= kPivotTol;
  abi.axis_pivot_failed[k] = pass ? 0 : 1;
  if constexpr (!root) abi.axis_pivot_inv[k] = pass ? 1.0 / D : D;
  else if (pass) abi.axis_pivot_inv[k] = 1.0 / D;
  if constexpr (kRoot == 0) return;

  // Gains; a root axis's component along itself stands for exactly 1.
  const double pinv = abi.axis_pivot_inv[k];
  double g0[3], g1[3];
  mbvmul(pinv, a, g0);
  mbvmul(pinv, b, g1);
  for (int r = 0; r < 3; ++r) {
    if (!(trans && r == c)) abi.abi_gain[0][k][r] = g0[r];
    if (!(rot && r == c)) abi.abi_gain[1][k][r] = g1[r];
  }

  // Remainder, upper triangles of M and J. In a root axis's own row and
  // column the column value is subtracted as if D_k / D_k were exactly 1.
  double(&P)[6][6] = x.P;
  for (int r = 0; r < 3; ++r) {
    for (int s = r; s < 3; ++s) {
      const double m0 = tip ? (r == s ? mass : 0.0) : M[r][s];
      const double sub = trans && s == c ? a[r] : trans && r == c ? a[s] : a[r] * g0[s];
      P[r][s] = m0 - sub;
    }
    for (int s = 0; s < 3; ++s) {
      const double sub = rot && s == c ? a[r] : trans && r == c ? b[s] : a[r] * g1[s];
      P[r][3 + s] = H[r][s] - sub;
    }
    for (int s = r; s < 3; ++s) {
      const double sub = rot && s == c ? b[r] : rot && r == c ? b[s] : b[r] * g1[s];
      P[3 + r][3 + s] = J[r][s] - sub;
    }
  }
}

// Axis k's factored remainder, carried into its target slot and entered
// there, or held for it.
template <int kRoot, int kTraits>
[[gnu::noinline]] void axis_contribute(const int axis, AxisWork& x) {
  using K = Kind<kRoot, kTraits>;
  const int k = K::root ? kRoot : axis;
  // A held contribution is carried straight into the table where it waits.
  double(&w)[6][6] = *(K::held ? &abi.abi_prop_col[held_index[k]] : &x.w);
  if constexpr (K::root && kRoot != 3) {
    copy_columns(x.L, w);
  } else {
    const mat33& R = position.axis_local_rot[k];
    if constexpr (K::first) carry_columns<true>(R, position.axis_skew_rot[k], x.L, w);
    else carry_columns<false>(R, R, x.L, w);
  }
  if constexpr (K::held) {
    for (int j = 0; j < 6; ++j) abi.abi_prop_pivot[held_index[k]][j] = x.d[j];
  } else {
    enter_contribution<K::arrives>(axis_inward_slot[k], w, x.d);
  }
}

template <int k>
[[gnu::always_inline]] inline void remainder_of(AxisWork& x) {
  axis_remainder<root_axis(k), pass_traits(k)>(k, x);
}
template <int k>
[[gnu::always_inline]] inline void contribution_of(AxisWork& x) {
  axis_contribute<root_axis(k), pass_traits(k)>(k, x);
}

// One level of the pass, each step for all its axes before the next.
template <int level, int... I>
[[gnu::always_inline]] inline void run_level(std::integer_sequence<int, I...>) {
  AxisWork x[sizeof...(I)];
  (gather<level_axis(level, I)>(), ...);
  (remainder_of<level_axis(level, I)>(x[I]), ...);
  if constexpr (level < nlevel - 1) {
    factor_level(x, static_cast<int>(sizeof...(I)));
    (contribution_of<level_axis(level, I)>(x[I]), ...);
  }
}

template <int First, int Last>
[[gnu::always_inline]] inline void run_levels() {
  if constexpr (First <= Last) {
    run_level<First>(std::make_integer_sequence<int, level_width(First)>{});
    run_levels<First + 1, Last>();
  }
}

}  // namespace

void mbabiout(int routine) {
  if (control.abi_valid != 0) return;
  // tip to root: the levels below the root.
  run_levels<0, kInnerLevel - 1>();
  const int failed = mbabiin(routine);
  // The factors belong to these coordinates only if no pivot failed and the
  // host has no error on record.
  int last_routine = 0, last_code = kNoAnswer;
  mberror(&last_routine, &last_code);
  control.abi_valid = failed == 0 && last_code == 0 ? 1 : 0;
}

int mbabiin(int routine) {
  // tip to root: the root's levels, down to its first translation.
  run_levels<kInnerLevel, nlevel - 1>();
  // Each failed pivot reports once, in descending axis order: a non-root
  // axis under mbderiv's number whoever began the evaluation.
  int failed = 0;
  for (int k = nu - 1; k >= 0; --k) {
    if (abi.axis_pivot_failed[k] == 0) continue;
    mbseterr(k >= 6 ? QEL_R_MBDERIV : routine, QEL_E_SMALL_PIVOT);
    ++failed;
  }
  return failed;
}

void mbdynprep(int routine) {
  control.call_state = 2;
  mbabiout(routine);
  mbfrcterms();
}

}  // namespace qel
