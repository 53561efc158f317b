// Every result of the evaluation road, bit for bit, against a table recorded
// from the plain loops before any of them was tuned for speed. A speed-up
// that changes the order of a single sum shows here.
//
// To record the table again (only when a result is meant to change):
//   QEL_WRITE_GOLDEN=1 build/release/tests/host_tests --gtest_filter='*Golden*'
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/creature.hpp"
#include "host/module.hpp"

namespace {

using qeltest::Module;

constexpr int kStates = 200;

// FNV-1a over the bit patterns, so -0.0 and 0.0 and every NaN payload differ.
struct Hash {
  std::uint64_t h = 1469598103934665603ull;
  void add(const double* v, int n) {
    for (int i = 0; i < n; ++i) {
      std::uint64_t bits;
      std::memcpy(&bits, &v[i], sizeof bits);
      for (int b = 0; b < 8; ++b) {
        h ^= (bits >> (8 * b)) & 0xffu;
        h *= 1099511628211ull;
      }
    }
  }
};

// One line per state: hashes of qdot, udot, the reactions, the momentum and
// energy, and the mass centre with its system inertia.
std::string results_line(Module& m, const qeltest::Creature& c, int i, int nbody, int nu) {
  const qeltest::Posture p = qeltest::random_posture(m, c, 5000 + i);
  std::vector<double> qdot(nu + 1), udot(nu);
  m.mbstate(0.01 * i, p.q.data(), p.u.data());
  // A load of each kind, so the load paths are covered too.
  const double point[3] = {0.05, -0.02, 0.1}, force[3] = {1.0, -2.0, 0.5 * i}, torque[3] = {0.3, 0.1, -0.2};
  m.mbhinget(1, 0, 0.01 * (i % 7));
  m.mbpointf(i % nbody, point, force);
  m.mbbodyt((i + 3) % nbody, torque);
  m.mbderiv(qdot.data(), udot.data());
  std::vector<double> rf(3 * nbody), rt(3 * nbody);
  m.mbreac(reinterpret_cast<double(*)[3]>(rf.data()), reinterpret_cast<double(*)[3]>(rt.data()));
  double lm[3], am[3], ke, msum, cm[3], inertia[3][3];
  m.mbmom(lm, am, &ke);
  m.mbsys(&msum, cm, inertia);
  Hash hq, hu, hr, hm, hs;
  hq.add(qdot.data(), nu + 1);
  hu.add(udot.data(), nu);
  hr.add(rf.data(), 3 * nbody);
  hr.add(rt.data(), 3 * nbody);
  hm.add(lm, 3);
  hm.add(am, 3);
  hm.add(&ke, 1);
  hs.add(&msum, 1);
  hs.add(cm, 3);
  hs.add(&inertia[0][0], 9);
  char line[160];
  std::snprintf(line, sizeof line, "%d %016llx %016llx %016llx %016llx %016llx", i,
                static_cast<unsigned long long>(hq.h), static_cast<unsigned long long>(hu.h),
                static_cast<unsigned long long>(hr.h), static_cast<unsigned long long>(hm.h),
                static_cast<unsigned long long>(hs.h));
  return line;
}

class Golden : public ::testing::TestWithParam<qeltest::ModelDims> {};

TEST_P(Golden, EveryResultMatchesTheRecordedTableBitForBit) {
  const qeltest::ModelDims d = GetParam();
  Module m(d.name);
  const qeltest::Creature c = qeltest::make_creature(m, 11);
  qeltest::supply(m, c);
  ASSERT_TRUE(m.take_reports().empty());

  const std::string path = std::string(QEL_GOLDEN_DIR) + "/" + d.name + ".txt";
  std::vector<std::string> now;
  for (int i = 0; i < kStates; ++i) now.push_back(results_line(m, c, i, d.nbody, d.nu));
  EXPECT_TRUE(m.take_reports().empty());

  if (std::getenv("QEL_WRITE_GOLDEN")) {
    std::ofstream out(path);
    out << "# state qdot udot reactions momentum system (FNV-1a of the bit patterns)\n";
    for (const std::string& l : now) out << l << "\n";
    GTEST_SKIP() << "recorded " << path;
  }
  std::ifstream in(path);
  ASSERT_TRUE(in) << "no table at " << path;
  std::vector<std::string> recorded;
  for (std::string l; std::getline(in, l);)
    if (!l.empty() && l[0] != '#') recorded.push_back(l);
  ASSERT_EQ(recorded.size(), now.size());
  int differing = 0;
  for (int i = 0; i < kStates; ++i)
    if (recorded[i] != now[i] && ++differing <= 5)
      ADD_FAILURE() << "state " << i << "\n  recorded " << recorded[i] << "\n  now      " << now[i];
  EXPECT_EQ(differing, 0);
}

INSTANTIATE_TEST_SUITE_P(Modules, Golden, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
