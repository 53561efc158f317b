#include "model/validate.hpp"

#include "frame/errors.hpp"
#include "model/records.hpp"

namespace qel {

// The generic rules also know joint types that none of the three models uses
// (4: quaternion-only joint, 7: one-pin joint, 11 and 21: offset pin slots);
// they stay here so the interface behaves as for any model built on it.
namespace {
constexpr int kQuatJoint = 4, kOnePinJoint = 7, kPinSlotPlus1 = 11, kPinSlotPlus3 = 21;
}

int mbchkbnum(int routine, int body) {
  if (body >= -1 && body < nbody) return 0;
  mbseterr(routine, QEL_E_BAD_BODY);
  return 1;
}

int mbchkjnum(int routine, int joint) {
  if (joint >= 0 && joint < njnt) return 0;
  mbseterr(routine, QEL_E_BAD_JOINT);
  return 1;
}

int mbchkcnum(int routine, int /*constraint*/) {
  constexpr int nc = 0;
  static_assert(nc == 0, "every constraint number is out of range");
  mbseterr(routine, QEL_E_NO_SUCH_CONSTRAINT);
  return 1;
}

int mbchkjaxis(int routine, int joint, int axis) {
  if (mbchkjnum(routine, joint)) return 1;
  if (axis < 0 || axis > 6) {
    mbseterr(routine, QEL_E_BAD_AXIS_NUMBER);
    return 1;
  }
  const int type = joint_type[joint];
  int highest = joint_dof[joint] - 1;
  // Joints with a quaternion address its scalar part as one further axis.
  if (type == kQuatJoint || type == kRootJoint || type == kPinSlotPlus3) highest = joint_dof[joint];
  if (axis > highest) {
    mbseterr(routine, QEL_E_NO_SUCH_AXIS);
    return 1;
  }
  return 0;
}

int mbchkjpin(int routine, int joint, int pin) {
  if (mbchkjnum(routine, joint)) return 1;
  if (pin < 0 || pin > 5) {
    mbseterr(routine, QEL_E_BAD_AXIS_NUMBER);
    return 1;
  }
  const int type = joint_type[joint];
  int highest = joint_dof[joint] < 3 ? joint_dof[joint] - 1 : 2;
  if (type == kQuatJoint) highest = -1;
  if (type == kOnePinJoint) highest = 0;
  if (pin > highest) {
    mbseterr(routine, QEL_E_NO_SUCH_AXIS);
    return 1;
  }
  return 0;
}

int axis_index(int joint, int axis) {
  const int type = joint_type[joint];
  if ((type == kQuatJoint && axis == 3) || ((type == kRootJoint || type == kPinSlotPlus3) && axis == 6))
    return joint_quat_index[joint];
  return joint_first_axis[joint] + axis;
}

int pin_slot(int joint, int pin_no) {
  int s = joint_first_axis[joint] + pin_no;
  if (joint_type[joint] == kPinSlotPlus3) s += 3;
  if (joint_type[joint] == kPinSlotPlus1) s += 1;
  return s;
}

void mbclrmark() { control.state_mark = 0; }

}  // namespace qel
