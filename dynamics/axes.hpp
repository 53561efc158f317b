// Compile-time facts about the axes that the forward-dynamics sweeps need,
// and a helper that runs a sweep as straight-line code: each step is
// instantiated with its axis number as a constant, so every table lookup and
// every joint-kind test below folds away.
#pragma once

#include <utility>

#include "model/topology.hpp"

namespace qel {

// axis_joint: the joint that owns each axis.
inline constexpr IntTable<nu> axis_joint = [] {
  IntTable<nu> t{};
  for (int j = 0; j < njnt; ++j)
    for (int k = joint_first_axis[j]; k <= joint_last_axis[j]; ++k) t.v[k] = j;
  return t;
}();

// True when joint j is the highest-numbered child of its inboard body: in a
// tip-to-root sweep its contribution is the first to reach that body.
constexpr bool first_to_reach_inboard(int j) {
  for (int i = j + 1; i < njnt; ++i)
    if (joint_inboard[i] == joint_inboard[j]) return false;
  return true;
}


// The first axis of a non-root joint hands its sweep totals to the inboard
// body's slot (its last axis, 5 for body 0); every other axis to axis k - 1.
constexpr bool is_first_axis(int k) { return k >= 6 && k == joint_first_axis[axis_joint[k]]; }

constexpr int inward_slot(int k) {
  return is_first_axis(k) ? joint_last_axis[joint_inboard[axis_joint[k]]] : k - 1;
}

// inward_slot as a table, for sweeps that index it at run time.
inline constexpr IntTable<nu> axis_inward_slot = [] {
  IntTable<nu> t{};
  for (int k = 1; k < nu; ++k) t.v[k] = inward_slot(k);
  t.v[0] = -1;
  return t;
}();

// How a tip-to-root sweep's value of axis k enters inward_slot(k): as the
// slot's only value, as the first of several that reach a body, or added to
// what is there.
enum class Arrival { kAssign, kFirstAtBody, kAtBody };

constexpr Arrival arrival(int k) {
  if (!is_first_axis(k)) return Arrival::kAssign;
  return first_to_reach_inboard(axis_joint[k]) ? Arrival::kFirstAtBody : Arrival::kAtBody;
}

// The last axis of a body without children: nothing reaches it from outboard.
constexpr bool is_tip_axis(int k) { return k == joint_last_axis[axis_joint[k]] && !has_children(axis_joint[k]); }

// How many axes' values reach slot n in a tip-to-root sweep.
constexpr int contributor_count(int n) {
  int c = 0;
  for (int k = n + 1; k < nu; ++k) c += inward_slot(k) == n ? 1 : 0;
  return c;
}

// Height of axis k above the tips: 0 for a tip, else one more than the
// highest axis whose value reaches slot k. Axes of one height are independent.
inline constexpr IntTable<nu> axis_height = [] {
  IntTable<nu> h{};
  for (int k = nu - 1; k >= 0; --k) {
    h.v[k] = 0;
    for (int c = k + 1; c < nu; ++c)
      if (inward_slot(c) == k && h.v[c] + 1 > h.v[k]) h.v[k] = h.v[c] + 1;
  }
  return h;
}();

inline constexpr int nlevel = axis_height[0] + 1;

constexpr int level_width(int level) {
  int n = 0;
  for (int k = 0; k < nu; ++k) n += axis_height[k] == level ? 1 : 0;
  return n;
}

// The i-th axis of height level, in descending order.
constexpr int level_axis(int level, int i) {
  for (int k = nu - 1; k >= 0; --k)
    if (axis_height[k] == level && i-- == 0) return k;
  return -1;
}

// A value for a slot that several axes reach is held until that slot's axis
// starts, so that the values enter in descending order whatever the schedule.
constexpr bool is_held(int k) { return k >= 1 && contributor_count(inward_slot(k)) > 1; }

inline constexpr IntTable<nu> held_index = [] {
  IntTable<nu> t{};
  int n = 0;
  for (int k = nu - 1; k >= 0; --k) t.v[k] = is_held(k) ? n++ : -1;
  return t;
}();

inline constexpr int nheld = [] {
  int n = 0;
  for (int k = 0; k < nu; ++k) n += is_held(k) ? 1 : 0;
  return n;
}();

// What a sweep's step at a non-root axis can depend on, packed into one int.
// A sweep instantiates its step on the bits it reads, so the step is compiled
// once per combination that occurs rather than once per axis: the sweeps stay
// small enough for the instruction cache, and every test still folds away.
enum AxisTraitBits : int {
  kTipAxis = 1,     // is_tip_axis
  kFirstAxis = 2,   // is_first_axis
  kLastAxis = 4,    // its joint's last axis
  kHeldAxis = 8,    // is_held
  kArrivalBits = 48  // arrival(k), shifted by 4
};

constexpr int axis_traits(int k) {
  return (is_tip_axis(k) ? kTipAxis : 0) | (is_first_axis(k) ? kFirstAxis : 0) |
         (k == joint_last_axis[axis_joint[k]] ? kLastAxis : 0) | (is_held(k) ? kHeldAxis : 0) |
         (static_cast<int>(arrival(k)) << 4);
}

template <int kTraits>
struct AxisTraits {
  static constexpr bool tip = (kTraits & kTipAxis) != 0;
  static constexpr bool first = (kTraits & kFirstAxis) != 0;
  static constexpr bool last = (kTraits & kLastAxis) != 0;
  static constexpr bool held = (kTraits & kHeldAxis) != 0;
  static constexpr Arrival arrives = static_cast<Arrival>((kTraits & kArrivalBits) >> 4);
};

static_assert(nheld > 0, "body 0 has several child joints");
static_assert(level_width(nlevel - 1) == 1 && level_axis(nlevel - 1, 0) == 0, "axis 0 closes a sweep alone");

template <int K>
using AxisConst = std::integral_constant<int, K>;

namespace detail {
template <int Hi, class Fn, int... I>
[[gnu::always_inline]] inline void sweep_down(Fn& fn, std::integer_sequence<int, I...>) {
  (fn(AxisConst<Hi - I>{}), ...);
}
template <int Lo, class Fn, int... I>
[[gnu::always_inline]] inline void sweep_up(Fn& fn, std::integer_sequence<int, I...>) {
  (fn(AxisConst<Lo + I>{}), ...);
}
}  // namespace detail

// fn(AxisConst<k>) for k = Hi, Hi - 1, ..., Lo.
template <int Hi, int Lo, class Fn>
[[gnu::always_inline]] inline void for_axes_down(Fn&& fn) {
  if constexpr (Hi >= Lo) detail::sweep_down<Hi>(fn, std::make_integer_sequence<int, Hi - Lo + 1>{});
}

// fn(AxisConst<k>) for k = Lo, Lo + 1, ..., Hi.
template <int Lo, int Hi, class Fn>
[[gnu::always_inline]] inline void for_axes_up(Fn&& fn) {
  if constexpr (Hi >= Lo) detail::sweep_up<Lo>(fn, std::make_integer_sequence<int, Hi - Lo + 1>{});
}

}  // namespace qel
