// pestrel: trunk (body 0), two single bodies on three-rotation joints
// (bodies 1, 2) and four three-body limbs.
#pragma once

namespace qel::model_def {

inline constexpr char name[] = "pestrel";

// joint_type: 6 root (three translations + quaternion), 3 three-rotation, 1 pin.
inline constexpr int joint_type[] = {6, 3, 3, 3, 1, 1, 3, 1, 1, 3, 1, 1, 3, 1, 1};
// joint_inboard: the body each joint hangs from, -1 = ground.
inline constexpr int joint_inboard[] = {-1, 0, 0, 0, 3, 4, 0, 6, 7, 0, 9, 10, 0, 12, 13};

inline constexpr int published_nbody = 15;
inline constexpr int published_nu = 32;
inline constexpr int published_three_rotation_joints = 6;
inline constexpr int published_pin_joints = 8;

}  // namespace qel::model_def
