// Everything the engine knows about the tree, derived at compile time from
// the two tables of the model's topology header (joint types and inboard
// bodies). The build puts exactly one model's directory on the include path.
#pragma once

#include <cstddef>

#include "tree.hpp"  // models/<name>/tree.hpp

namespace qel {

enum JointType : int { kRootJoint = 6, kThreeRotation = 3, kPinJoint = 1 };

inline constexpr int nbody = static_cast<int>(sizeof(model_def::joint_type) / sizeof(int));
inline constexpr int njnt = nbody;

constexpr int dof_of_type(int type) {
  return type == kRootJoint ? 6 : type == kThreeRotation ? 3 : type == kPinJoint ? 1 : 0;
}

// A compile-time table of N ints, indexable in constant expressions.
template <int N>
struct IntTable {
  int v[N];
  constexpr int operator[](int i) const { return v[i]; }
};

constexpr IntTable<njnt> make_joint_dof() {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = dof_of_type(model_def::joint_type[j]);
  return t;
}
inline constexpr IntTable<njnt> joint_dof = make_joint_dof();

constexpr int count_axes() {
  int n = 0;
  for (int j = 0; j < njnt; ++j) n += joint_dof[j];
  return n;
}
inline constexpr int nu = count_axes();
inline constexpr int nq = nu + 1;

constexpr IntTable<njnt> make_joint_first_axis() {
  IntTable<njnt> t{};
  int k = 0;
  for (int j = 0; j < njnt; ++j) {
    t.v[j] = k;
    k += joint_dof[j];
  }
  return t;
}
// joint_first_axis: first axis (and coordinate) of each joint.
inline constexpr IntTable<njnt> joint_first_axis = make_joint_first_axis();

constexpr IntTable<njnt> make_joint_last_axis() {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = joint_first_axis[j] + joint_dof[j] - 1;
  return t;
}
// joint_last_axis: l(j); a body's per-joint values sit at this slot.
inline constexpr IntTable<njnt> joint_last_axis = make_joint_last_axis();

inline constexpr IntTable<njnt> joint_type = [] {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = model_def::joint_type[j];
  return t;
}();
inline constexpr IntTable<njnt> joint_inboard = [] {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = model_def::joint_inboard[j];
  return t;
}();
inline constexpr IntTable<njnt> joint_outboard = [] {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = j;
  return t;
}();
// joint_quat_index: the quaternion scalar's coordinate for the root; the
// interface's historical marker -104 for every joint without a quaternion.
inline constexpr IntTable<njnt> joint_quat_index = [] {
  IntTable<njnt> t{};
  for (int j = 0; j < njnt; ++j) t.v[j] = model_def::joint_type[j] == kRootJoint ? nu : -104;
  return t;
}();
inline constexpr IntTable<nu> axis_is_translation = [] {
  IntTable<nu> t{};
  for (int k = 0; k < nu; ++k) t.v[k] = k < 3 ? 1 : 0;
  return t;
}();

// Words 0..10 handed out by mbinfo; word 1 is nbody and word 2 is nu.
inline constexpr int model_info[11] = {1, nbody, nu, 0, 0, 0, 0, 1, 0, 0, 0};
// Words 5, 6, 9 and 10 of mbjnt, the same for every joint.
inline constexpr int joint_word5 = 0;
inline constexpr int joint_word6 = 0;
inline constexpr int joint_word9 = -1;
inline constexpr int joint_word10 = -1;

constexpr int count_joints_of_type(int type) {
  int n = 0;
  for (int j = 0; j < njnt; ++j) n += model_def::joint_type[j] == type ? 1 : 0;
  return n;
}

constexpr bool tree_order_holds() {
  for (int j = 1; j < njnt; ++j)
    if (!(joint_inboard[j] >= 0 && joint_inboard[j] < j)) return false;
  return joint_inboard[0] == -1;
}

constexpr bool only_root_is_six_axis() {
  if (joint_type[0] != kRootJoint) return false;
  for (int j = 1; j < njnt; ++j)
    if (joint_type[j] != kThreeRotation && joint_type[j] != kPinJoint) return false;
  return true;
}

constexpr bool has_children(int body) {
  for (int i = body + 1; i < njnt; ++i)
    if (joint_inboard[i] == body) return true;
  return false;
}

static_assert(sizeof(model_def::joint_inboard) == sizeof(model_def::joint_type),
              "one inboard body per joint");
static_assert(only_root_is_six_axis(), "joint 0 is the six-axis root, every other joint a 3- or 1-rotation joint");
static_assert(tree_order_holds(), "joint_inboard[j] < j: ascending joints run root to tip");
static_assert(nbody == model_def::published_nbody, "body count differs from the published one");
static_assert(nu == model_def::published_nu, "axis count differs from the published one");
static_assert(count_joints_of_type(kThreeRotation) == model_def::published_three_rotation_joints,
              "three-rotation joint count differs from the published one");
static_assert(count_joints_of_type(kPinJoint) == model_def::published_pin_joints,
              "pin joint count differs from the published one");
static_assert(joint_first_axis[0] == 0 && joint_last_axis[0] == 5, "the root owns axes 0..5");
static_assert(joint_last_axis[njnt - 1] == nu - 1, "axes are numbered without gaps");

}  // namespace qel
