#include <gtest/gtest.h>

#include "frame/errors.hpp"

namespace {

TEST(ErrorHooks, WithoutCallbacksReportsAreDroppedAndQueriesAnswerNone) {
  mbseterrRegister(nullptr, nullptr);
  mberrorRegister(nullptr, nullptr);
  EXPECT_EQ(qel::mbseterr(7, 1), 0);
  int routine = -1, code = -1;
  qel::mberror(&routine, &code);
  EXPECT_EQ(code, 0);
}

TEST(ErrorHooks, DispatchersPassTheSharedContextAndTheResult) {
  static void* seen[2];
  static int last[2];
  int ctx_a = 0, ctx_b = 0;
  mbseterrRegister(&ctx_a, [](void* c, int r, int code) {
    seen[0] = c;
    last[0] = r;
    last[1] = code;
    return 42;
  });
  mberrorRegister(&ctx_b, [](void* c, int* r, int* code) {
    seen[1] = c;
    *r = 8;
    *code = 14;
    return 7;
  });
  EXPECT_EQ(qel::mbseterr(62, 46), 42);
  EXPECT_EQ(seen[0], &ctx_b);
  EXPECT_EQ(last[0], 62);
  EXPECT_EQ(last[1], 46);
  int r = 0, code = 0;
  EXPECT_EQ(qel::mberror(&r, &code), 7);
  EXPECT_EQ(seen[1], &ctx_b);
  EXPECT_EQ(r, 8);
  EXPECT_EQ(code, 14);
}

}  // namespace
