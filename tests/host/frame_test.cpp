#include <gtest/gtest.h>

#include "host/module.hpp"

using qeltest::kModels;
using qeltest::Module;
using qeltest::Report;

namespace {

class EachModule : public ::testing::TestWithParam<qeltest::ModelDims> {};

TEST_P(EachModule, AnswersInterfaceVersionBeforeAnyRegistration) {
  Module m(GetParam().name, /*register_callbacks=*/false);
  EXPECT_EQ(m.GetModelInterfaceVersion(), 5);
}

TEST_P(EachModule, BothCallbacksReceiveTheContextOfTheLastRegistration) {
  Module m(GetParam().name, /*register_callbacks=*/false);
  struct Ctx {
    std::vector<Report> reports;
  } a, b;
  auto report = [](void* ctx, int routine, int code) {
    static_cast<Ctx*>(ctx)->reports.push_back({routine, code});
    return 0;
  };
  auto query = [](void*, int* routine, int* code) {
    *routine = 0;
    *code = 0;
    return 0;
  };
  EXPECT_EQ(m.mbseterrRegister(&a, report), 0);
  EXPECT_EQ(m.mberrorRegister(&b, query), 0);
  double mass = 0;
  m.mbgetmass(99, &mass);
  EXPECT_TRUE(a.reports.empty());
  ASSERT_EQ(b.reports.size(), 1u);
  EXPECT_EQ(b.reports[0], (Report{40, 15}));
}

TEST_P(EachModule, ReportsWithoutARegisteredCallbackAreDropped) {
  Module m(GetParam().name, /*register_callbacks=*/false);
  double mass = -1;
  m.mbgetmass(99, &mass);  // would report (40, 15)
  m.mbinit();              // reports every missing component
  EXPECT_EQ(mass, -1);
}

INSTANTIATE_TEST_SUITE_P(Modules, EachModule, ::testing::ValuesIn(kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
