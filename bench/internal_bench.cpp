// Routines a host reaches only through the derivative road, timed on the
// model's static library: the mass matrix and inverse dynamics. Each
// iteration sets a new state first, so the figure includes mbstate's
// position and velocity work.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_inputs.hpp"
#include "dynamics/inverse.hpp"
#include "model/topology.hpp"
#include "qel_model.h"

namespace {

// The engine's own C routines under the names the fixtures call.
struct Direct {
#define QEL_ROUTINE(fn) decltype(&::fn) fn = &::fn;
#include "host/routines.inc"
#undef QEL_ROUTINE
};

int ignore_report(void*, int, int) { return 0; }
int answer_none(void*, int* routine, int* code) {
  *routine = 0;
  *code = 0;
  return 0;
}

qelbench::Inputs& inputs() {
  static Direct d;
  static qelbench::Inputs in = [] {
    mbseterrRegister(nullptr, ignore_report);
    mberrorRegister(nullptr, answer_none);
    return qelbench::make_inputs(d);
  }();
  return in;
}

void state_and_mass_matrix(benchmark::State& st) {
  qelbench::Inputs& in = inputs();
  static double mm[qel::nu * qel::nu];
  int i = 0;
  double t = 0.0;
  for (auto _ : st) {
    const qeltest::Posture& p = in.states[i];
    mbstate(t, p.q.data(), p.u.data());
    qel::mbmassmtx(mm);
    benchmark::DoNotOptimize(mm);
    benchmark::ClobberMemory();
    i = (i + 1) % qelbench::kRing;
    t += 1e-3;
  }
}

void state_and_inverse_dynamics(benchmark::State& st) {
  qelbench::Inputs& in = inputs();
  double ht[qel::nu];
  int i = 0;
  double t = 0.0;
  for (auto _ : st) {
    const qeltest::Posture& p = in.states[i];
    mbstate(t, p.q.data(), p.u.data());
    qel::mbinvdyn(in.speeds[i].data(), nullptr, ht);
    benchmark::DoNotOptimize(ht);
    benchmark::ClobberMemory();
    i = (i + 1) % qelbench::kRing;
    t += 1e-3;
  }
}

const bool registered = [] {
  const std::string name = QEL_MODEL_NAME;
  benchmark::RegisterBenchmark((name + "/state_and_mass_matrix").c_str(), state_and_mass_matrix);
  benchmark::RegisterBenchmark((name + "/state_and_inverse_dynamics").c_str(), state_and_inverse_dynamics);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
