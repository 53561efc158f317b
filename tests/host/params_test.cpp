// Parameters, their statuses, mbinit's reports and the model queries, as a
// host sees them through the exported routines.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>

#include "host/creature.hpp"
#include "host/module.hpp"

using qeltest::Module;
using qeltest::ModelDims;
using qeltest::Report;

namespace {

class Params : public ::testing::TestWithParam<ModelDims> {};

std::vector<Report> expected_reports_with_nothing_supplied(const ModelDims& d) {
  std::vector<Report> r;
  for (int c = 0; c < 3; ++c) r.push_back({7, 25});
  for (int b = 0; b < d.nbody; ++b) {
    r.push_back({7, 26});
    for (int k = 0; k < 3; ++k) {
      r.push_back({7, 29});
      r.push_back({7, 30});
      for (int c = 0; c < 3; ++c) r.push_back({7, 27});
    }
  }
  for (int k = 6; k < d.nu; ++k)
    for (int c = 0; c < 3; ++c) r.push_back({7, 28});
  for (int k = 6; k < d.nu; ++k) r.push_back({7, 1});
  return r;
}

TEST_P(Params, InitWithNothingSuppliedReportsEveryMissingComponentInOrder) {
  const ModelDims d = GetParam();
  Module m(d.name);
  m.mbinit();
  const auto reports = m.take_reports();
  EXPECT_EQ(reports.size(), static_cast<size_t>(3 + 16 * d.nbody + 4 * (d.nu - 6)));
  EXPECT_EQ(reports, expected_reports_with_nothing_supplied(d));
  // It still completes: a second mbinit reports the same, no more.
  m.mbinit();
  EXPECT_EQ(m.take_reports(), expected_reports_with_nothing_supplied(d));
}

TEST_P(Params, InitWithEverythingSuppliedReportsNothing) {
  Module m(GetParam().name);
  qeltest::supply(m, qeltest::make_creature(m, 3));
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Params, InfoAndJointDescriptions) {
  const ModelDims d = GetParam();
  Module m(d.name);
  int info[12];
  std::fill(info, info + 12, 77);
  m.mbinfo(info);
  const int expect[12] = {1, d.nbody, d.nu, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  for (int w = 0; w < 12; ++w) EXPECT_EQ(info[w], expect[w]) << "word " << w;

  int ji[11], trans[6];
  m.mbjnt(0, ji, trans);
  const int root[11] = {6, 0, -1, 0, 6, 0, 0, 0, d.nu, -1, -1};
  for (int w = 0; w < 11; ++w) EXPECT_EQ(ji[w], root[w]) << "root word " << w;
  const int root_trans[6] = {1, 1, 1, 0, 0, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(trans[k], root_trans[k]);

  // Every other joint: a 3- or 1-rotation joint, axes following without gaps.
  int next_axis = 6;
  for (int j = 1; j < d.nbody; ++j) {
    m.mbjnt(j, ji, trans);
    EXPECT_TRUE(ji[0] == 3 || ji[0] == 1);
    EXPECT_EQ(ji[4], ji[0]);
    EXPECT_EQ(ji[3], j);
    EXPECT_LT(ji[2], j);
    EXPECT_GE(ji[2], 0);
    EXPECT_EQ(ji[7], next_axis);
    EXPECT_EQ(ji[8], -104);
    next_axis += ji[4];
    for (int k = 0; k < 6; ++k) EXPECT_EQ(trans[k], k < ji[4] ? 0 : -1);
  }
  EXPECT_EQ(next_axis, d.nu);
  EXPECT_TRUE(m.take_reports().empty());
}

TEST_P(Params, AxisIndices) {
  const ModelDims d = GetParam();
  Module m(d.name);
  EXPECT_EQ(m.mbindx(0, 6), d.nu);
  EXPECT_EQ(m.mbindx(0, 4), 4);
  EXPECT_EQ(m.mbindx(1, 2), 8);
  EXPECT_TRUE(m.take_reports().empty());
  EXPECT_EQ(m.mbindx(1, 3), 0);
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{36, 18}}));
}

// One bad argument, one report under the calling routine's number, nothing
// written.
struct BadCall {
  const char* what;
  std::function<void(Module&, double*, int*)> call;
  Report report;
};

TEST_P(Params, BadArgumentsGiveOneReportAndWriteNothing) {
  const ModelDims d = GetParam();
  const int nb = d.nbody;
  const double v[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::vector<BadCall> cases = {
      {"mbmass ground", [&](Module& m, double*, int*) { m.mbmass(-1, 5.0); }, {2, 15}},
      {"mbmass nbody", [&](Module& m, double*, int*) { m.mbmass(nb, 5.0); }, {2, 15}},
      {"mbmass INT_MIN", [&](Module& m, double*, int*) { m.mbmass(INT_MIN, 5.0); }, {2, 15}},
      {"mbiner ground", [&](Module& m, double*, int*) { m.mbiner(-1, v); }, {3, 15}},
      {"mbiner -2", [&](Module& m, double*, int*) { m.mbiner(-2, v); }, {3, 15}},
      {"mbbtj -1", [&](Module& m, double*, int*) { m.mbbtj(-1, v); }, {4, 16}},
      {"mbitj nbody", [&](Module& m, double*, int*) { m.mbitj(nb, v); }, {5, 16}},
      {"mbpin bad joint", [&](Module& m, double*, int*) { m.mbpin(INT_MAX, 0, v); }, {6, 16}},
      {"mbpin pin 6", [&](Module& m, double*, int*) { m.mbpin(1, 6, v); }, {6, 17}},
      {"mbpin pin -1", [&](Module& m, double*, int*) { m.mbpin(1, -1, v); }, {6, 17}},
      {"mbpin pin 3", [&](Module& m, double*, int*) { m.mbpin(1, 3, v); }, {6, 18}},
      {"mbpin root", [&](Module& m, double*, int*) { m.mbpin(0, 0, v); }, {6, 19}},
      {"mbpres bad joint", [&](Module& m, double*, int*) { m.mbpres(nb, 0, 1); }, {37, 16}},
      {"mbpres axis 7", [&](Module& m, double*, int*) { m.mbpres(1, 7, 1); }, {37, 17}},
      {"mbpres axis 3", [&](Module& m, double*, int*) { m.mbpres(1, 3, 1); }, {37, 18}},
      {"mbpres quaternion scalar", [&](Module& m, double*, int*) { m.mbpres(0, 6, 1); }, {37, 18}},
      {"mbpres fixed", [&](Module& m, double*, int*) { m.mbpres(1, 0, 1); }, {37, 19}},
      {"mbgetmass ground", [&](Module& m, double* out, int*) { m.mbgetmass(-1, out); }, {40, 15}},
      {"mbgetmass 99", [&](Module& m, double* out, int*) { m.mbgetmass(99, out); }, {40, 15}},
      {"mbgetiner ground", [&](Module& m, double* out, int*) { m.mbgetiner(-1, out); }, {41, 15}},
      {"mbgetbtj", [&](Module& m, double* out, int*) { m.mbgetbtj(nb, out); }, {42, 16}},
      {"mbgetitj", [&](Module& m, double* out, int*) { m.mbgetitj(-1, out); }, {43, 16}},
      {"mbgetpin bad joint", [&](Module& m, double* out, int*) { m.mbgetpin(-5, 0, out); }, {44, 16}},
      {"mbgetpin pin 6", [&](Module& m, double* out, int*) { m.mbgetpin(0, 6, out); }, {44, 17}},
      {"mbgetpin pin 1 of root", [&](Module& m, double* out, int*) { m.mbgetpin(0, 3, out); }, {44, 18}},
      {"mbgetpres axis -1", [&](Module& m, double*, int* out) { m.mbgetpres(1, -1, out); }, {45, 17}},
      {"mbgetpres quaternion scalar", [&](Module& m, double*, int* out) { m.mbgetpres(0, 6, out); }, {45, 18}},
      {"mbjnt", [&](Module& m, double*, int* out) { m.mbjnt(nb, out, out + 11); }, {48, 16}},
      {"mbcons 0", [&](Module& m, double*, int*) { m.mbcons(0); }, {49, 21}},
      {"mbcons -1", [&](Module& m, double*, int*) { m.mbcons(-1); }, {49, 21}},
  };
  for (const BadCall& c : cases) {
    SCOPED_TRACE(c.what);
    Module m(d.name);
    qeltest::supply(m, qeltest::make_creature(m, 5));
    m.take_reports();
    double before[9], after[9], out[9];
    int iout[17];
    std::fill(out, out + 9, -7.0);
    std::fill(iout, iout + 17, -7);
    m.mbgetmass(1, &before[0]);
    m.mbgetbtj(1, &before[1]);
    m.mbgetpin(1, 0, &before[4]);
    m.take_reports();
    c.call(m, out, iout);
    EXPECT_EQ(m.take_reports(), (std::vector<Report>{c.report}));
    for (double x : out) EXPECT_EQ(x, -7.0);
    for (int x : iout) EXPECT_EQ(x, -7);
    m.mbgetmass(1, &after[0]);
    m.mbgetbtj(1, &after[1]);
    m.mbgetpin(1, 0, &after[4]);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(before[i], after[i]);
  }
}

TEST_P(Params, SetAndGetRoundTrips) {
  Module m(GetParam().name);
  const double g[3] = {0.5, -1.5, -9.0};
  m.mbgrav(g);
  double got[9];
  m.mbgetgrav(got);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(got[c], g[c]);

  m.mbmass(2, 3.25);
  double mass = 0;
  m.mbgetmass(2, &mass);
  EXPECT_EQ(mass, 3.25);

  // Only the upper triangle is read; the stored inertia is its mirror image.
  const double unsym[9] = {1, 2, 3, 90, 4, 5, 91, 92, 6};
  m.mbiner(1, unsym);
  m.mbgetiner(1, got);
  const double sym[9] = {1, 2, 3, 2, 4, 5, 3, 5, 6};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], sym[i]) << i;

  const double b[3] = {0.1, -0.2, 0.3}, t[3] = {-0.4, 0.5, 0.6};
  m.mbbtj(3, b);
  m.mbitj(3, t);
  m.mbgetbtj(3, got);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(got[c], b[c]);
  m.mbgetitj(3, got);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(got[c], t[c]);

  // A pin is stored as given and normalized by mbinit.
  const double pin[3] = {0, 0, 2};
  m.mbpin(1, 0, pin);
  m.mbgetpin(1, 0, got);
  EXPECT_EQ(got[2], 2.0);
  m.mbinit();
  m.mbgetpin(1, 0, got);
  EXPECT_EQ(got[0], 0.0);
  EXPECT_EQ(got[1], 0.0);
  EXPECT_EQ(got[2], 1.0);
  // The root's pins are fixed ground axes.
  m.mbgetpin(0, 1, got);
  EXPECT_EQ(got[0], 0.0);
  EXPECT_EQ(got[1], 1.0);
  EXPECT_EQ(got[2], 0.0);

  m.mbstab(0.25, -3.0);
  double s0 = 0, s1 = 0;
  m.mbgetstab(&s0, &s1);
  EXPECT_EQ(s0, 0.25);
  EXPECT_EQ(s1, -3.0);

  int pres = -1;
  m.mbgetpres(1, 0, &pres);
  EXPECT_EQ(pres, 0);
  m.take_reports();
  // Nothing can be prescribed: an out-of-range value is reported, then the
  // store is refused.
  m.mbpres(1, 0, 2);
  EXPECT_EQ(m.take_reports(), (std::vector<Report>{{37, 20}, {37, 19}}));
  m.mbgetpres(1, 0, &pres);
  EXPECT_EQ(pres, 0);
}

// A pin too short to give a direction is scaled by 0 and keeps the signs of
// its components; one whose squared length is not finite becomes +0 exactly.
TEST_P(Params, InitZeroesPinsTooShortOrNotFinite) {
  const ModelDims d = GetParam();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double pin[3];
    bool zeroed;
    bool negative[3];  // sign bits of a zeroed pin
  } cases[] = {
      {{0, 0, 1e-6}, true, {}},  // squared length 1e-12
      {{-1e-6, 0, 0}, true, {true, false, false}},
      {{1e-7, -0.0, -2e-6}, true, {false, true, true}},
      {{0, 0, 0}, true, {}},
      {{nan, 0, 1}, true, {}},
      {{-inf, 0, -1}, true, {}},
      {{1e200, -1e200, 0}, true, {}},  // squared length overflows
      {{0, 0, 1e-5}, false, {}},       // squared length exactly at the limit is kept
      {{3, 0, 4}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.pin[0] << ' ' << c.pin[1] << ' ' << c.pin[2]);
    Module m(d.name);
    qeltest::supply(m, qeltest::make_creature(m, 9), false);
    m.mbpin(1, 1, c.pin);
    m.take_reports();
    m.mbinit();
    double got[3];
    m.mbgetpin(1, 1, got);
    if (c.zeroed) {
      EXPECT_EQ(m.take_reports(), (std::vector<Report>{{7, 1}}));
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i], 0.0) << i;
        EXPECT_EQ(std::signbit(got[i]), c.negative[i]) << i;
      }
    } else {
      EXPECT_TRUE(m.take_reports().empty());
      const double len = std::sqrt(got[0] * got[0] + got[1] * got[1] + got[2] * got[2]);
      EXPECT_NEAR(len, 1.0, 1e-15);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, Params, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
