// The load accumulators: what each adding routine adds, when it is refused
// with nothing changed, mbgetht reading the hinge loads back, and the empty
// constraint routines.
#include <cstring>
#include <functional>

#include "dynamics/results.hpp"
#include "unit/state_fixture.hpp"

namespace {

using namespace qel;
using qeltest::Report;

class Loads : public qeltest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    set_state(posture);
    take_reports();
  }
  bool loads_are(const LoadAccumulators& expect) const { return std::memcmp(&loads, &expect, sizeof loads) == 0; }
};

TEST_F(Loads, PointForcesTorquesAndHingeLoadsAddUp) {
  const double at_centre[3] = {0, 0, 0}, f[3] = {1.0, 2.0, 3.0};
  const double up[3] = {0, 1, 0}, x[3] = {1, 0, 0}, t[3] = {0.5, -0.25, 0.125};
  mbpointf(2, at_centre, f);
  EXPECT_EQ(loads.applied_torque[2][0], 0.0);
  EXPECT_EQ(loads.applied_torque[2][1], 0.0);
  EXPECT_EQ(loads.applied_torque[2][2], 0.0);
  mbpointf(2, up, x);  // moment (0, 1, 0) x (1, 0, 0) = (0, 0, -1)
  mbbodyt(2, t);
  mbhinget(1, 0, 1.5);
  mbhinget(1, 0, 0.25);
  mbhinget(0, 2, -4.0);
  LoadAccumulators expect = {};
  expect.applied_force[2][0] = 2.0;
  expect.applied_force[2][1] = 2.0;
  expect.applied_force[2][2] = 3.0;
  expect.applied_torque[2][0] = 0.5;
  expect.applied_torque[2][1] = -0.25;
  expect.applied_torque[2][2] = -0.875;
  expect.applied_ht[joint_first_axis[1]] = 1.75;
  expect.applied_ht[2] = -4.0;
  EXPECT_TRUE(loads_are(expect));
  EXPECT_TRUE(take_reports().empty());
  // The next state starts again from nothing, even the same state.
  set_state(posture);
  EXPECT_TRUE(loads_are(LoadAccumulators{}));
}

TEST_F(Loads, AddingClearsTheForceTermsButGroundTakesNothing) {
  const double v[3] = {1, 2, 3};
  const std::function<void()> adders[] = {[&] { mbpointf(0, v, v); }, [&] { mbbodyt(0, v); },
                                          [&] { mbhinget(0, 0, 1.0); }};
  for (const auto& add : adders) {
    control.frcterms_valid = 1;
    add();
    EXPECT_EQ(control.frcterms_valid, 0);
  }
  set_state(posture);
  control.frcterms_valid = 1;
  mbpointf(-1, v, v);
  mbbodyt(-1, v);
  EXPECT_EQ(control.frcterms_valid, 1);
  EXPECT_TRUE(loads_are(LoadAccumulators{}));
  EXPECT_TRUE(take_reports().empty());
}

TEST_F(Loads, RefusedAddsChangeNothing) {
  const double v[3] = {1, 2, 3};
  mbhinget(1, 0, 2.0);
  const LoadAccumulators before = loads;
  control.frcterms_valid = 1;
  mbhinget(0, 6, 1.0);  // the quaternion scalar has no hinge load
  mbhinget(1, 7, 1.0);
  mbpointf(nbody, v, v);
  control.call_state = 3;  // accelerations known: no more loads
  mbhinget(1, 0, 1.0);
  mbpointf(0, v, v);
  mbbodyt(0, v);
  mbbodyt(-1, v);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{10, 18}, {10, 17}, {11, 15}, {10, 23}, {11, 23}, {12, 23}, {12, 23}}));
  EXPECT_TRUE(loads_are(before));
  EXPECT_EQ(control.frcterms_valid, 1);
}

TEST_F(Loads, GethtReadsTheHingeLoadsOfTheEvaluation) {
  for (int k = 0; k < nu; ++k) results.ht_result[k] = 10.0 + k;
  double torque = -1.0;
  mbgetht(1, 1, &torque);  // call state 2
  EXPECT_EQ(take_reports(), (std::vector<Report>{{30, 24}}));
  EXPECT_EQ(torque, -1.0);
  control.call_state = 3;
  mbgetht(1, 1, &torque);
  EXPECT_EQ(torque, 10.0 + joint_first_axis[1] + 1);
  mbgetht(0, 5, &torque);
  EXPECT_EQ(torque, 15.0);
  torque = -1.0;
  mbgetht(0, 6, &torque);
  mbgetht(njnt, 0, &torque);
  EXPECT_EQ(take_reports(), (std::vector<Report>{{30, 18}, {30, 16}}));
  EXPECT_EQ(torque, -1.0);
}

TEST_F(Loads, ConstraintRoutinesTouchNothing) {
  double errs[8];
  for (int i = 0; i < 8; ++i) errs[i] = 0.5 * i;
  const double copy[8] = {0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5};
  const Control before = control;
  mbperr(errs);
  mbverr(errs);
  mbpseudo();
  mbpsqdot();
  mbpsudot();
  mbaerr();
  mbpresacc();
  mbpresvel();
  mbprespos();
  EXPECT_EQ(std::memcmp(errs, copy, sizeof errs), 0);
  EXPECT_EQ(std::memcmp(&control, &before, sizeof control), 0);
  EXPECT_TRUE(take_reports().empty());
}

}  // namespace
