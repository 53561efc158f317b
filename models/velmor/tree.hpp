// velmor: trunk (body 0) with a neck and head (bodies 2, 3), a tail root
// (body 1) and four three-body limbs.
#pragma once

namespace qel::model_def {

inline constexpr char name[] = "velmor";

// joint_type: 6 root (three translations + quaternion), 3 three-rotation, 1 pin.
inline constexpr int joint_type[] = {6, 3, 3, 3, 3, 1, 1, 3, 1, 1, 3, 1, 1, 3, 1, 1};
// joint_inboard: the body each joint hangs from, -1 = ground.
inline constexpr int joint_inboard[] = {-1, 0, 0, 2, 0, 4, 5, 0, 7, 8, 0, 10, 11, 0, 13, 14};

// The dimensions the module is published with; checked against the ones the
// engine derives from the two tables above.
inline constexpr int published_nbody = 16;
inline constexpr int published_nu = 35;
inline constexpr int published_three_rotation_joints = 7;
inline constexpr int published_pin_joints = 8;

}  // namespace qel::model_def
