#include <gtest/gtest.h>

#include <cstring>

#include "model/topology.hpp"

namespace {

TEST(Topology, AxesRunInJointOrderWithoutGaps) {
  int k = 0;
  for (int j = 0; j < qel::njnt; ++j) {
    EXPECT_EQ(qel::joint_first_axis[j], k);
    k += qel::joint_dof[j];
  }
  EXPECT_EQ(k, qel::nu);
  EXPECT_STREQ(qel::model_def::name, QEL_MODEL_NAME);
}

}  // namespace
