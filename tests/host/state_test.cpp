// mbstate as a host sees it: which calls recompute and which reports repeat,
// the gimbal-lock and quaternion-norm reports, the state conversions, and
// every routine of the state, kinematics and load interface refusing bad
// arguments and wrong call states with exactly one report.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "host/creature.hpp"
#include "host/module.hpp"

using qeltest::Module;
using qeltest::ModelDims;
using qeltest::Report;
using qeltest::V3;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDeg = M_PI / 180.0;

class State : public ::testing::TestWithParam<ModelDims> {
 protected:
  State() : m(GetParam().name), nbody(GetParam().nbody), nu(GetParam().nu) {}

  // Supplies a creature whose three-rotation joints all turn about ground-like
  // pins x, y, z (optionally x, y, x), so the test knows when they lock.
  void supply_xyz(bool first_equals_third = false) {
    c = qeltest::make_creature(m, 21);
    for (int j : qeltest::joints_of_type(m, 3)) c.pins[j] = {{1, 0, 0}, {0, 1, 0}, {first_equals_third ? V3{1, 0, 0} : V3{0, 0, 1}}};
    qeltest::supply(m, c);
    m.take_reports();
  }

  int count(const std::vector<Report>& rs, Report r) { return static_cast<int>(std::count(rs.begin(), rs.end(), r)); }

  Module m;
  int nbody, nu;
  qeltest::Creature c;
  std::vector<double> u0 = std::vector<double>(64, 0.0);
};

TEST_P(State, RefusedUntilInitializedAndAgainAfterAParameterChange) {
  c = qeltest::make_creature(m, 2);
  const std::vector<double> q = qeltest::random_posture(m, c, 3).q;
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{8, 22}}));
  qeltest::supply(m, c);
  m.take_reports();
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_TRUE(m.take_reports().empty());
  m.mbmass(0, 3.0);
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{8, 22}}));
  // The refused call left no state behind: the queries still refuse.
  double loc[3] = {7, 7, 7};
  const double pt[3] = {0, 0, 0};
  m.mbpos(0, pt, loc);
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{21, 23}}));
  EXPECT_EQ(loc[0], 7.0);
}

TEST_P(State, FirstCallAfterInitRecomputesEvenForTheCachedState) {
  c = qeltest::make_creature(m, 4);
  qeltest::supply(m, c);
  const qeltest::Posture p = qeltest::random_posture(m, c, 5);
  m.mbstate(0.0, p.q.data(), p.u.data());
  double joint_point[3], old_cm[3], new_cm[3];
  m.mbpos(1, c.btj[1].data(), joint_point);
  const double zero[3] = {0, 0, 0};
  m.mbpos(1, zero, old_cm);
  // Move body 1's mass centre relative to its joint and re-initialize.
  V3 btj = c.btj[1];
  btj[0] += 0.125;
  m.mbbtj(1, btj.data());
  m.mbinit();
  m.mbstate(0.0, p.q.data(), p.u.data());
  m.mbpos(1, zero, new_cm);
  double joint_again[3];
  m.mbpos(1, btj.data(), joint_again);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(joint_again[i], joint_point[i], 1e-14);
  EXPECT_GT(std::fabs(new_cm[0] - old_cm[0]) + std::fabs(new_cm[1] - old_cm[1]) + std::fabs(new_cm[2] - old_cm[2]), 0.1);
  EXPECT_TRUE(m.take_reports().empty());
}

// The norm report comes from the position stage, which a repeated state skips;
// the gimbal reports come on every call.
TEST_P(State, GimbalReportsRepeatOnEveryCallNormReportsOnlyWhenTheCoordinatesChange) {
  supply_xyz();
  const int n3 = static_cast<int>(qeltest::joints_of_type(m, 3).size());
  std::vector<double> q = qeltest::rest_q(nu);
  for (int j : qeltest::joints_of_type(m, 3)) q[qeltest::joint_info(m, j).first_axis + 1] = 90.0 * kDeg;
  q[nu] = 1.2;
  std::vector<Report> locked(n3, Report{8, 43}), norm_then_locked{{8, 14}};
  norm_then_locked.insert(norm_then_locked.end(), locked.begin(), locked.end());

  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(m.take_reports(), norm_then_locked);
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(m.take_reports(), locked);
  std::vector<double> u(nu, 0.5);
  m.mbstate(0.0, q.data(), u.data());  // speeds only
  EXPECT_EQ(m.take_reports(), locked);
  std::vector<double> qm = q;
  qm[0] = -0.0;  // equal to the cached 0.0
  m.mbstate(0.0, qm.data(), u.data());
  EXPECT_EQ(m.take_reports(), locked);
  m.mbstate(1.0, q.data(), u.data());  // time only: a new position stage
  EXPECT_EQ(m.take_reports(), norm_then_locked);
  // A NaN never compares equal, so such a state is recomputed on every call.
  q[1] = kNaN;
  m.mbstate(1.0, q.data(), u.data());
  EXPECT_EQ(m.take_reports(), norm_then_locked);
  m.mbstate(1.0, q.data(), u.data());
  EXPECT_EQ(m.take_reports(), norm_then_locked);
}

TEST_P(State, GimbalMarginIsFiveDegreesBetweenFirstAndThirdAxes) {
  supply_xyz();
  const std::vector<int> js = qeltest::joints_of_type(m, 3);
  // Middle angle theta puts the third axis at 90 - theta degrees from the first.
  const struct {
    double theta_deg;
    bool locked;
  } rows[] = {{0, false}, {84, false}, {84.9, false}, {85.1, true}, {86, true},  {90, true},
              {94, true}, {96, false}, {-86, true},   {-84, false}, {180, false}, {kNaN, true}};
  for (int j : js) {
    // A NaN angle also makes every frame outboard of the joint NaN.
    int nan_locked = 0;
    for (int k : js)
      for (int i = k; i != -1; i = qeltest::joint_info(m, i).inboard) nan_locked += i == j;
    for (const auto& r : rows) {
      std::vector<double> q = qeltest::rest_q(nu);
      q[qeltest::joint_info(m, j).first_axis + 1] = r.theta_deg * kDeg;
      m.mbstate(0.0, q.data(), u0.data());
      const int expect = !r.locked ? 0 : std::isnan(r.theta_deg) ? nan_locked : 1;
      EXPECT_EQ(m.take_reports(), std::vector<Report>(expect, Report{8, 43}))
          << "joint " << j << " at " << r.theta_deg << " degrees";
    }
  }
}

TEST_P(State, EqualFirstAndThirdPinsLockAtZeroMiddleAngle) {
  supply_xyz(/*first_equals_third=*/true);
  const int n3 = static_cast<int>(qeltest::joints_of_type(m, 3).size());
  std::vector<double> q = qeltest::rest_q(nu);
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(count(m.take_reports(), {8, 43}), n3);
}

TEST_P(State, QuaternionNormWindow) {
  supply_xyz();
  const struct {
    double scalar;
    bool reported;
  } rows[] = {{0.89, true}, {0.9, false}, {1.0, false}, {1.1, false}, {1.11, true}, {0.0, true}, {kNaN, true}, {-1.0, false}};
  for (const auto& r : rows) {
    std::vector<double> q = qeltest::rest_q(nu);
    q[nu] = r.scalar;
    m.mbstate(0.0, q.data(), u0.data());
    // (A NaN quaternion also makes every frame NaN, which the gimbal check reports.)
    EXPECT_EQ(count(m.take_reports(), {8, 14}), r.reported ? 1 : 0) << r.scalar;
  }
}

TEST_P(State, BodyZeroTurnsByTheNormalizedQuaternion) {
  c = qeltest::make_creature(m, 6);
  qeltest::supply(m, c);
  const qeltest::Posture p = qeltest::random_posture(m, c, 8);
  double unit[3][3], scaled[3][3], dc[9];
  m.mbstate(0.0, p.q.data(), u0.data());
  m.mborient(0, unit);
  m.mbquat2dc(p.q[3], p.q[4], p.q[5], p.q[nu], dc);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(unit[i / 3][i % 3], dc[i], 1e-15);
  std::vector<double> q = p.q;
  for (int i : {3, 4, 5, nu}) q[i] *= 0.95;
  m.mbstate(0.0, q.data(), u0.data());
  m.mborient(0, scaled);
  EXPECT_TRUE(m.take_reports().empty());
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(scaled[i / 3][i % 3], unit[i / 3][i % 3], 1e-15);
  // A zero quaternion is reported and stands for no rotation.
  for (int i : {3, 4, 5, nu}) q[i] = 0.0;
  m.mbstate(0.0, q.data(), u0.data());
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{8, 14}}));
  m.mborient(0, scaled);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(scaled[i / 3][i % 3], i % 4 == 0 ? 1.0 : 0.0);
}

// At rest every frame is ground-aligned and each mass centre sits at the
// root translation plus the joint offsets along its path.
TEST_P(State, RestPostureStacksTheOffsetsAlongEachPath) {
  c = qeltest::make_creature(m, 7);
  qeltest::supply(m, c);
  std::vector<double> q = qeltest::rest_q(nu);
  q[0] = 0.3, q[1] = -0.2, q[2] = 1.1;
  m.mbstate(0.0, q.data(), u0.data());
  const double zero[3] = {0, 0, 0};
  for (int b = 0; b < nbody; ++b) {
    double rot[3][3], pos[3];
    m.mborient(b, rot);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(rot[i / 3][i % 3], i % 4 == 0 ? 1.0 : 0.0) << "body " << b;
    double expect[3] = {q[0], q[1], q[2]};
    for (int j = b; j != -1; j = qeltest::joint_info(m, j).inboard)
      for (int i = 0; i < 3; ++i) expect[i] += c.itj[j][i] - c.btj[j][i];
    m.mbpos(b, zero, pos);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(pos[i], expect[i], 1e-14) << "body " << b;
  }
}

TEST_P(State, ConversionsRoundTripAndWorkInPlace) {
  c = qeltest::make_creature(m, 9);
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const std::vector<double> st = qeltest::random_posture(m, c, seed).q;
    std::vector<double> ang(nu), back(nu + 1, 5.0);
    m.mbst2ang(st.data(), ang.data());
    m.mbang2st(ang.data(), back.data());
    for (int i = 0; i < nu; ++i)
      if (i < 3 || i > 5) {
        EXPECT_EQ(ang[i], st[i]);
        EXPECT_EQ(back[i], st[i]);
      }
    // The same orientation, the quaternion possibly negated.
    const double sign = back[3] * st[3] + back[4] * st[4] + back[5] * st[5] + back[nu] * st[nu] < 0 ? -1.0 : 1.0;
    for (int i : {3, 4, 5, nu}) EXPECT_NEAR(sign * back[i], st[i], 1e-14);

    std::vector<double> in_place = st;
    m.mbst2ang(in_place.data(), in_place.data());
    EXPECT_EQ(std::vector<double>(in_place.begin(), in_place.begin() + nu), ang);
    EXPECT_EQ(in_place[nu], st[nu]);  // the old scalar stays behind
    m.mbang2st(in_place.data(), in_place.data());
    EXPECT_EQ(in_place, back);
  }
  std::vector<double> st = qeltest::rest_q(nu), ang(nu, 9.0);
  m.mbst2ang(st.data(), ang.data());
  EXPECT_EQ(ang[3], 0.0);
  EXPECT_EQ(ang[4], 0.0);
  EXPECT_EQ(ang[5], 0.0);
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(State, NormstScalesOnlyTheQuaternion) {
  const struct {
    double e[4], expect[4];
  } rows[] = {{{0, 0, 0, 2}, {0, 0, 0, 1}},
              {{0, 0, 0, 0}, {0, 0, 0, 1}},
              {{-0.0, 0, 0, 0}, {-0.0, 0, 0, 1}},
              {{3, 0, -4, 0}, {0.6, 0, -0.8, 0}},
              {{0.5, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}}};
  for (const auto& r : rows) {
    std::vector<double> in(nu + 1);
    for (int i = 0; i <= nu; ++i) in[i] = 0.25 * i - 1.0;
    const int slot[4] = {3, 4, 5, nu};
    for (int i = 0; i < 4; ++i) in[slot[i]] = r.e[i];
    std::vector<double> out(nu + 1, 9.0), same = in;
    m.mbnormst(in.data(), out.data());
    m.mbnormst(same.data(), same.data());
    EXPECT_EQ(same, out);
    for (int i = 0; i <= nu; ++i)
      if (i < 3 || (i > 5 && i < nu)) EXPECT_EQ(out[i], in[i]);
    for (int i = 0; i < 4; ++i) {
      EXPECT_DOUBLE_EQ(out[slot[i]], r.expect[i]);
      EXPECT_EQ(std::signbit(out[slot[i]]), std::signbit(r.expect[i]));
    }
  }
  EXPECT_TRUE(m.take_reports().empty());
}

// One table of refused calls: each gives exactly one report and leaves its
// output as it was.
TEST_P(State, RefusedCallsReportOnceAndWriteNothing) {
  c = qeltest::make_creature(m, 10);
  const int pin_joint = qeltest::joints_of_type(m, 1).front();
  const qeltest::Posture p = qeltest::random_posture(m, c, 1);
  enum Stage { kLoaded, kInitialized, kStateSet, kAccelerations };
  double out[9];
  const double v[3] = {0.1, 0.2, 0.3};
  const int nb = nbody, nj = nbody;
  const struct Row {
    const char* what;
    Stage stage;
    std::function<void(Module&)> call;
    Report report;
  } rows[] = {
      {"mbstate before mbinit", kLoaded, [&](Module& m) { m.mbstate(0.0, p.q.data(), p.u.data()); }, {8, 22}},
      {"mbpsstate", kInitialized, [](Module& m) { m.mbpsstate(); }, {9, 23}},
      {"mbpos", kInitialized, [&](Module& m) { m.mbpos(0, v, out); }, {21, 23}},
      {"mbpos ground", kInitialized, [&](Module& m) { m.mbpos(-1, v, out); }, {21, 23}},
      {"mbpos bad body first", kInitialized, [&](Module& m) { m.mbpos(nb, v, out); }, {21, 15}},
      {"mbvel", kInitialized, [&](Module& m) { m.mbvel(0, v, out); }, {22, 23}},
      {"mborient", kInitialized, [&](Module& m) { m.mborient(0, reinterpret_cast<double(*)[3]>(out)); }, {23, 23}},
      {"mbangvel", kInitialized, [&](Module& m) { m.mbangvel(0, out); }, {24, 23}},
      {"mbtrans", kInitialized, [&](Module& m) { m.mbtrans(0, v, 1, out); }, {25, 23}},
      {"mbhinget", kInitialized, [](Module& m) { m.mbhinget(1, 0, 1.0); }, {10, 23}},
      {"mbhinget bad joint first", kInitialized, [&](Module& m) { m.mbhinget(nj, 0, 1.0); }, {10, 16}},
      {"mbpointf", kInitialized, [&](Module& m) { m.mbpointf(0, v, v); }, {11, 23}},
      {"mbpointf ground", kInitialized, [&](Module& m) { m.mbpointf(-1, v, v); }, {11, 23}},
      {"mbbodyt", kInitialized, [&](Module& m) { m.mbbodyt(0, v); }, {12, 23}},
      {"mbgetht", kInitialized, [&](Module& m) { m.mbgetht(1, 0, out); }, {30, 24}},
      {"mbgetht with a state", kStateSet, [&](Module& m) { m.mbgetht(1, 0, out); }, {30, 24}},
      {"mbpos body nbody", kStateSet, [&](Module& m) { m.mbpos(nb, v, out); }, {21, 15}},
      {"mbpos body -2", kStateSet, [&](Module& m) { m.mbpos(-2, v, out); }, {21, 15}},
      {"mbvel body nbody", kStateSet, [&](Module& m) { m.mbvel(nb, v, out); }, {22, 15}},
      {"mborient body -2", kStateSet, [&](Module& m) { m.mborient(-2, reinterpret_cast<double(*)[3]>(out)); }, {23, 15}},
      {"mbangvel body nbody", kStateSet, [&](Module& m) { m.mbangvel(nb, out); }, {24, 15}},
      {"mbtrans both bad", kStateSet, [&](Module& m) { m.mbtrans(nb, v, -2, out); }, {25, 15}},
      {"mbtrans bad to", kStateSet, [&](Module& m) { m.mbtrans(0, v, nb, out); }, {25, 15}},
      {"mbhinget joint njnt", kStateSet, [&](Module& m) { m.mbhinget(nj, 0, 1.0); }, {10, 16}},
      {"mbhinget axis 7", kStateSet, [](Module& m) { m.mbhinget(1, 7, 1.0); }, {10, 17}},
      {"mbhinget axis -1", kStateSet, [](Module& m) { m.mbhinget(1, -1, 1.0); }, {10, 17}},
      {"mbhinget pin joint axis 1", kStateSet, [&](Module& m) { m.mbhinget(pin_joint, 1, 1.0); }, {10, 18}},
      {"mbhinget quaternion scalar", kStateSet, [](Module& m) { m.mbhinget(0, 6, 1.0); }, {10, 18}},
      {"mbpointf body nbody", kStateSet, [&](Module& m) { m.mbpointf(nb, v, v); }, {11, 15}},
      {"mbbodyt body -2", kStateSet, [&](Module& m) { m.mbbodyt(-2, v); }, {12, 15}},
      {"mbgetht joint -1", kStateSet, [&](Module& m) { m.mbgetht(-1, 0, out); }, {30, 16}},
      {"mbgetht axis 7", kStateSet, [&](Module& m) { m.mbgetht(1, 7, out); }, {30, 17}},
      {"mbgetht pin joint axis 1", kStateSet, [&](Module& m) { m.mbgetht(pin_joint, 1, out); }, {30, 18}},
      {"mbgetht quaternion scalar", kStateSet, [&](Module& m) { m.mbgetht(0, 6, out); }, {30, 18}},
      {"mbpsstate after mbderiv", kAccelerations, [](Module& m) { m.mbpsstate(); }, {9, 23}},
      {"mbhinget after mbderiv", kAccelerations, [](Module& m) { m.mbhinget(1, 0, 1.0); }, {10, 23}},
      {"mbpointf after mbderiv", kAccelerations, [&](Module& m) { m.mbpointf(0, v, v); }, {11, 23}},
      {"mbpointf ground after mbderiv", kAccelerations, [&](Module& m) { m.mbpointf(-1, v, v); }, {11, 23}},
      {"mbbodyt after mbderiv", kAccelerations, [&](Module& m) { m.mbbodyt(nb - 1, v); }, {12, 23}},
      {"mbhinget quaternion scalar after mbderiv", kAccelerations, [](Module& m) { m.mbhinget(0, 6, 1.0); }, {10, 18}},
      {"mbgetht quaternion scalar after mbderiv", kAccelerations, [&](Module& m) { m.mbgetht(0, 6, out); }, {30, 18}},
      {"mbgetht bad joint after mbderiv", kAccelerations, [&](Module& m) { m.mbgetht(nj, 0, out); }, {30, 16}},
  };
  for (const Row& r : rows) {
    Module fresh(GetParam().name);
    if (r.stage != kLoaded) qeltest::supply(fresh, c);
    if (r.stage >= kStateSet) fresh.mbstate(0.0, p.q.data(), p.u.data());
    std::vector<double> qdot(nu + 1), udot(nu);
    if (r.stage == kAccelerations) fresh.mbderiv(qdot.data(), udot.data());
    fresh.take_reports();
    std::fill(out, out + 9, 777.0);
    r.call(fresh);
    EXPECT_EQ(fresh.take_reports(), std::vector<Report>{r.report}) << r.what;
    for (double x : out) EXPECT_EQ(x, 777.0) << r.what;
  }
}

// The loads of one state, as a host sees them through mbgetht: added up on
// their axis and nowhere else, untouched by refused calls, gone after the
// next mbstate even when it repeats the state.
TEST_P(State, HingeLoadsAddUpAndLastOneState) {
  c = qeltest::make_creature(m, 12);
  qeltest::supply(m, c);
  const qeltest::Posture p = qeltest::random_posture(m, c, 13);
  std::vector<double> qdot(nu + 1), udot(nu);
  auto all_hinge_loads = [&] {
    std::vector<double> ht;
    for (int j = 0; j < nbody; ++j)
      for (int a = 0; a < qeltest::joint_info(m, j).dof; ++a) {
        double t = 777.0;
        m.mbgetht(j, a, &t);
        ht.push_back(t);
      }
    return ht;
  };
  const int pin_joint = qeltest::joints_of_type(m, 1).front();
  const int axis = qeltest::joint_info(m, pin_joint).first_axis;
  m.mbstate(0.0, p.q.data(), p.u.data());
  m.mbhinget(pin_joint, 0, 1.5);
  m.mbhinget(pin_joint, 0, -0.25);
  m.mbhinget(0, 6, 100.0);         // the quaternion scalar: refused
  m.mbhinget(pin_joint, 1, 100.0);  // no such axis: refused
  m.mbderiv(qdot.data(), udot.data());
  m.mbhinget(pin_joint, 0, 100.0);  // after the accelerations: refused
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{10, 18}, {10, 18}, {10, 23}}));
  std::vector<double> expect(nu, 0.0);
  expect[axis] = 1.25;
  EXPECT_EQ(all_hinge_loads(), expect);

  m.mbstate(0.0, p.q.data(), p.u.data());
  m.mbderiv(qdot.data(), udot.data());
  EXPECT_EQ(all_hinge_loads(), std::vector<double>(nu, 0.0));
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(State, PsstateAcceptsASetState) {
  qeltest::supply(m, qeltest::make_creature(m, 11));
  std::vector<double> q = qeltest::rest_q(nu);
  m.mbstate(0.0, q.data(), u0.data());
  m.take_reports();
  m.mbpsstate();
  EXPECT_TRUE(m.take_reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, State, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
