// drakkun: trunk (body 0), a head (body 1) and four four-body chains.
#pragma once

namespace qel::model_def {

inline constexpr char name[] = "drakkun";

// joint_type: 6 root (three translations + quaternion), 3 three-rotation, 1 pin.
inline constexpr int joint_type[] = {6, 3, 3, 1, 1, 1, 3, 1, 1, 1, 3, 1, 1, 1, 3, 1, 1, 1};
// joint_inboard: the body each joint hangs from, -1 = ground.
inline constexpr int joint_inboard[] = {-1, 0, 0, 2, 3, 4, 0, 6, 7, 8, 0, 10, 11, 12, 0, 14, 15, 16};

inline constexpr int published_nbody = 18;
inline constexpr int published_nu = 33;
inline constexpr int published_three_rotation_joints = 5;
inline constexpr int published_pin_joints = 12;

}  // namespace qel::model_def
