// Pieces shared by the hostile-input tests: the sentinel that marks an
// output a refused call must not write, and the one evaluation whose result
// stands for a module's whole answer.
#pragma once

#include <vector>

#include "host/creature.hpp"
#include "host/module.hpp"

namespace qeltest {

constexpr double kSentinel = 12345.678;
constexpr int kIntSentinel = -77;

// Caller arrays for a routine's outputs, n doubles and n ints, that start as
// sentinels so a write shows.
struct SentinelOutputs {
  std::vector<double> d;
  std::vector<int> i;
  explicit SentinelOutputs(int n = 12) : d(n, kSentinel), i(n, kIntSentinel) {}
  bool untouched() const {
    for (double x : d)
      if (x != kSentinel) return false;
    for (int x : i)
      if (x != kIntSentinel) return false;
    return true;
  }
  double (*rows())[3] { return reinterpret_cast<double(*)[3]>(d.data()); }
};

// qdot (nq) then udot (nu) after a fixed state and hinge load.
inline std::vector<double> evaluate(Module& m, const Posture& p, int nu) {
  std::vector<double> rates(2 * nu + 1);
  m.mbstate(0.5, p.q.data(), p.u.data());
  m.mbhinget(1, 0, 0.25);
  m.mbderiv(rates.data(), rates.data() + nu + 1);
  return rates;
}

}  // namespace qeltest
