// Argument validators shared by the whole interface. Each reports under the
// routine number its caller passes and returns 1 when the argument is bad.
#pragma once

namespace qel {

int mbchkbnum(int routine, int body);              // -1 (ground) .. nbody-1
int mbchkjnum(int routine, int joint);             // 0 .. njnt-1
int mbchkcnum(int routine, int constraint);        // the models have no constraints
int mbchkjaxis(int routine, int joint, int axis);  // axis of a joint, 6 = root quaternion scalar
int mbchkjpin(int routine, int joint, int pin);    // pin of a joint

// Coordinate/speed index of a (joint, axis) pair the caller has validated.
int axis_index(int joint, int axis);

// Parameter slot addressed by pin number pin_no of joint joint.
int pin_slot(int joint, int pin_no);

void mbclrmark();

}  // namespace qel
