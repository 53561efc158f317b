// Model queries: dimensions, joint descriptions and axis indices.
#include "frame/errors.hpp"
#include "model/records.hpp"
#include "model/validate.hpp"

using namespace qel;

extern "C" {

QEL_API void mbinfo(int info[12]) {
  for (int w = 0; w < 11; ++w) info[w] = model_info[w];
  info[11] = 0;
}

QEL_API void mbjnt(int joint, int info[11], int trans[6]) {
  if (mbchkjnum(QEL_R_MBJNT, joint)) return;
  const int words[11] = {joint_type[joint],       0,
                         joint_inboard[joint],    joint_outboard[joint],
                         joint_dof[joint],        joint_word5,
                         joint_word6,             joint_first_axis[joint],
                         joint_quat_index[joint], joint_word9,
                         joint_word10};
  for (int w = 0; w < 11; ++w) info[w] = words[w];
  for (int k = 0; k < 6; ++k) trans[k] = k < joint_dof[joint] ? axis_is_translation[joint_first_axis[joint] + k] : -1;
}

QEL_API int mbindx(int joint, int axis) {
  if (mbchkjaxis(QEL_R_MBINDX, joint, axis)) return 0;
  return axis_index(joint, axis);
}

QEL_API void mbcons(int constraint) { mbchkcnum(QEL_R_MBCONS, constraint); }

}  // extern "C"
