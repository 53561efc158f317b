// Every routine that takes a body, joint, axis, pin or constraint number,
// called with numbers outside the model (including INT_MIN and INT_MAX): each
// refused call gives exactly one report, writes nothing to its outputs and
// leaves the module's tables as they were.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "host/creature.hpp"
#include "host/hostile.hpp"
#include "host/module.hpp"

namespace {

using qeltest::evaluate;
using qeltest::Module;

using Outputs = qeltest::SentinelOutputs;

// Two modules with the same creature: m takes the hostile calls, fresh
// never sees one and gives the answer m must still give afterwards.
class HostileIndex : public ::testing::TestWithParam<qeltest::ModelDims> {
 protected:
  HostileIndex() : d(GetParam()), m(d.name), fresh(d.name), c(qeltest::make_creature(m, 3)) {
    qeltest::supply(m, c);
    qeltest::supply(fresh, c);
    p = qeltest::random_posture(m, c, 9);
    expected = evaluate(fresh, p, d.nu);
  }
  void expect_fresh_answer() {
    m.take_reports();
    const std::vector<double> after = evaluate(m, p, d.nu);
    EXPECT_TRUE(m.take_reports().empty());
    for (size_t k = 0; k < after.size(); ++k) EXPECT_EQ(after[k], expected[k]) << "rate " << k;
  }
  const qeltest::ModelDims d;
  Module m, fresh;
  const qeltest::Creature c;
  qeltest::Posture p;
  std::vector<double> expected;
};

TEST_P(HostileIndex, RefusedCallsReportOnceWriteNothingAndChangeNothing) {
  evaluate(m, p, d.nu);  // call state 3: every query is allowed
  ASSERT_TRUE(m.take_reports().empty());

  const int bad_bodies[] = {-2, d.nbody, d.nbody + 1, INT_MIN, INT_MAX};
  const int bad_joints[] = {-1, d.nbody, INT_MIN, INT_MAX};
  const int bad_axes[] = {-1, 7, INT_MIN, INT_MAX};
  const double pt[3] = {0.1, 0.2, 0.3};

  // A refused call of fn: exactly one report, nothing written.
  auto refused = [&](const std::string& what, const std::function<void(Outputs&)>& fn) {
    Outputs o;
    fn(o);
    const std::vector<qeltest::Report> r = m.take_reports();
    EXPECT_EQ(r.size(), 1u) << what;
    EXPECT_TRUE(o.untouched()) << what;
  };

  for (int b : bad_bodies) {
    const std::string at = " body " + std::to_string(b);
    refused("mbmass" + at, [&](Outputs&) { m.mbmass(b, 1.0); });
    refused("mbiner" + at, [&](Outputs& o) { m.mbiner(b, o.d.data()); });
    refused("mbgetmass" + at, [&](Outputs& o) { m.mbgetmass(b, o.d.data()); });
    refused("mbgetiner" + at, [&](Outputs& o) { m.mbgetiner(b, o.d.data()); });
    refused("mbpos" + at, [&](Outputs& o) { m.mbpos(b, pt, o.d.data()); });
    refused("mbvel" + at, [&](Outputs& o) { m.mbvel(b, pt, o.d.data()); });
    refused("mborient" + at, [&](Outputs& o) { m.mborient(b, o.rows()); });
    refused("mbangvel" + at, [&](Outputs& o) { m.mbangvel(b, o.d.data()); });
    refused("mbacc" + at, [&](Outputs& o) { m.mbacc(b, pt, o.d.data()); });
    refused("mbangacc" + at, [&](Outputs& o) { m.mbangacc(b, o.d.data()); });
    refused("mbtrans from" + at, [&](Outputs& o) { m.mbtrans(b, pt, 0, o.d.data()); });
    refused("mbtrans to" + at, [&](Outputs& o) { m.mbtrans(0, pt, b, o.d.data()); });
  }
  for (int j : bad_joints) {
    const std::string at = " joint " + std::to_string(j);
    refused("mbbtj" + at, [&](Outputs&) { m.mbbtj(j, pt); });
    refused("mbitj" + at, [&](Outputs&) { m.mbitj(j, pt); });
    refused("mbgetbtj" + at, [&](Outputs& o) { m.mbgetbtj(j, o.d.data()); });
    refused("mbgetitj" + at, [&](Outputs& o) { m.mbgetitj(j, o.d.data()); });
    refused("mbpin" + at, [&](Outputs&) { m.mbpin(j, 0, pt); });
    refused("mbgetpin" + at, [&](Outputs& o) { m.mbgetpin(j, 0, o.d.data()); });
    refused("mbpres" + at, [&](Outputs&) { m.mbpres(j, 0, 1); });
    refused("mbgetpres" + at, [&](Outputs& o) { m.mbgetpres(j, 0, o.i.data()); });
    refused("mbjnt" + at, [&](Outputs& o) { m.mbjnt(j, o.i.data(), o.i.data() + 6); });
    refused("mbgetht" + at, [&](Outputs& o) { m.mbgetht(j, 0, o.d.data()); });
    refused("mbindx" + at, [&](Outputs&) { (void)m.mbindx(j, 0); });
    refused("mbcons " + std::to_string(j), [&](Outputs&) { m.mbcons(j); });
    for (int a : bad_axes) {
      const std::string ax = " joint 1 axis " + std::to_string(a);
      refused("mbpin" + ax, [&](Outputs&) { m.mbpin(1, a, pt); });
      refused("mbgetpin" + ax, [&](Outputs& o) { m.mbgetpin(1, a, o.d.data()); });
      refused("mbpres" + ax, [&](Outputs&) { m.mbpres(1, a, 1); });
      refused("mbgetpres" + ax, [&](Outputs& o) { m.mbgetpres(1, a, o.i.data()); });
      refused("mbgetht" + ax, [&](Outputs& o) { m.mbgetht(1, a, o.d.data()); });
    }
  }

  // The loads are refused the same way while a state is set.
  const qeltest::Posture p2 = qeltest::random_posture(m, c, 10);
  m.mbstate(0.25, p2.q.data(), p2.u.data());
  ASSERT_TRUE(m.take_reports().empty());
  for (int b : bad_bodies) {
    refused("mbpointf body " + std::to_string(b), [&](Outputs&) { m.mbpointf(b, pt, pt); });
    refused("mbbodyt body " + std::to_string(b), [&](Outputs&) { m.mbbodyt(b, pt); });
  }
  for (int j : bad_joints) refused("mbhinget joint " + std::to_string(j), [&](Outputs&) { m.mbhinget(j, 0, 1.0); });
  for (int a : bad_axes) refused("mbhinget axis " + std::to_string(a), [&](Outputs&) { m.mbhinget(1, a, 1.0); });

  // Nothing of the model or the refused loads survived.
  expect_fresh_answer();
}

// NaN and infinite values in every coordinate, speed, time and load: the
// module may report, but once a clean state is set its answers are those of
// a module that never saw the bad values, bit for bit.
TEST_P(HostileIndex, AfterNonFiniteStatesACleanStateGivesAFreshModulesAnswer) {

  const double bad_values[] = {std::nan(""), INFINITY, -INFINITY, 1e308};
  std::vector<double> qdot(d.nu + 1), udot(d.nu), force(3 * d.nbody), torque(3 * d.nbody);
  for (double bad : bad_values)
    for (int k = 0; k <= 2 * d.nu + 1; ++k) {
      qeltest::Posture h = p;
      double t = 0.5;
      if (k < d.nu + 1) h.q[k] = bad;
      else if (k < 2 * d.nu + 1) h.u[k - d.nu - 1] = bad;
      else t = bad;
      m.mbstate(t, h.q.data(), h.u.data());
      const double v[3] = {bad, 1.0, bad};
      m.mbhinget(1, 0, bad);
      m.mbpointf(0, v, v);
      m.mbbodyt(1, v);
      m.mbderiv(qdot.data(), udot.data());
      m.mbreac(reinterpret_cast<double(*)[3]>(force.data()), reinterpret_cast<double(*)[3]>(torque.data()));
      double lm[3], am[3], ke;
      m.mbmom(lm, am, &ke);
    }
  expect_fresh_answer();
}

// Non-finite, denormal, zero and huge parameters run through mbinit and a
// whole evaluation without harm; supplying the creature again then gives a
// fresh module's answer.
TEST_P(HostileIndex, BadParametersEvaluateHarmlesslyAndAreFullyReplaced) {
  const double bad_values[] = {std::nan(""), INFINITY, -INFINITY, 4.9e-324, 0.0, -1e308};
  std::vector<double> qdot(d.nu + 1), udot(d.nu), force(3 * d.nbody), torque(3 * d.nbody);
  const int body = d.nbody - 1;  // a tip on every model
  for (double bad : bad_values)
    for (int which = 0; which < 5; ++which) {
      qeltest::Creature h = c;
      switch (which) {
        case 0: h.mass[body] = bad; break;
        case 1: h.inertia[body][0] = bad; break;
        case 2: h.btj[body][1] = bad; break;
        case 3: h.itj[body][2] = bad; break;
        default: h.pins[body][0][0] = bad; break;
      }
      h.gravity[2] = which == 0 ? bad : h.gravity[2];
      qeltest::supply(m, h);
      m.mbstate(0.5, p.q.data(), p.u.data());
      m.mbderiv(qdot.data(), udot.data());
      m.mbreac(reinterpret_cast<double(*)[3]>(force.data()), reinterpret_cast<double(*)[3]>(torque.data()));
      double lm[3], am[3], ke, msum, cm[3], inertia[3][3];
      m.mbmom(lm, am, &ke);
      m.mbsys(&msum, cm, inertia);
    }
  qeltest::supply(m, c);
  expect_fresh_answer();
}

INSTANTIATE_TEST_SUITE_P(Modules, HostileIndex, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
