// The evaluation road as a host drives it: each module loaded through
// dlopen, every routine called through its exported C name.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "bench_inputs.hpp"
#include "host/module.hpp"

namespace {

using qelbench::Inputs;
using qelbench::kRing;
using qeltest::Module;

struct Loaded {
  std::unique_ptr<Module> m;
  Inputs in;
};

Loaded& loaded(const std::string& name) {
  static std::map<std::string, Loaded> all;
  Loaded& l = all[name];
  if (!l.m) {
    l.m = std::make_unique<Module>(name);
    l.in = qelbench::make_inputs(*l.m);
  }
  return l;
}

// Adds the hinge torques of one state, one per axis but the root's
// quaternion-scalar slot.
void add_torques(Module& m, const std::vector<double>& t) {
  int info[12];
  m.mbinfo(info);
  for (int j = 0; j < info[1]; ++j) {
    int ji[11], trans[6];
    m.mbjnt(j, ji, trans);
    for (int a = 0; a < ji[4]; ++a) m.mbhinget(j, a, t[ji[7] + a]);
  }
}

// The timing loop: iteration i evaluates ring entry i % kRing at time t
// (advancing unless the case keeps t fixed) and its output is consumed.
template <class Step>
void run(benchmark::State& st, const std::string& name, bool advance_time, Step step) {
  Loaded& l = loaded(name);
  std::vector<double> qdot(l.in.nq), udot(l.in.nu);
  int i = 0;
  double t = 0.0;
  for (auto _ : st) {
    step(*l.m, l.in, i, t, qdot.data(), udot.data());
    benchmark::DoNotOptimize(udot.data());
    benchmark::ClobberMemory();
    i = (i + 1) % kRing;
    if (advance_time) t += 1e-3;
  }
}

// New t, q and u every iteration: the whole position, velocity and
// dynamics road.
void full_evaluation(benchmark::State& st, const std::string& name) {
  run(st, name, true, [](Module& m, const Inputs& in, int i, double t, double* qdot, double* udot) {
    m.mbstate(t, in.states[i].q.data(), in.states[i].u.data());
    m.mbderiv(qdot, udot);
  });
}

// Same t and q, new speeds: the position work and the articulated-inertia
// pass stay cached.
void speed_only(benchmark::State& st, const std::string& name) {
  run(st, name, false, [](Module& m, const Inputs& in, int i, double t, double* qdot, double* udot) {
    m.mbstate(t, in.states[0].q.data(), in.speeds[i].data());
    m.mbderiv(qdot, udot);
  });
}

// Same state, new hinge torques: only the force terms and the solve.
void load_only(benchmark::State& st, const std::string& name) {
  run(st, name, false, [](Module& m, const Inputs& in, int i, double t, double* qdot, double* udot) {
    m.mbstate(t, in.states[0].q.data(), in.states[0].u.data());
    add_torques(m, in.torques[i]);
    m.mbderiv(qdot, udot);
  });
}

// A full evaluation followed by the joint reactions of its result.
void evaluation_and_reactions(benchmark::State& st, const std::string& name) {
  run(st, name, true, [](Module& m, const Inputs& in, int i, double t, double* qdot, double* udot) {
    double force[32][3], torque[32][3];
    m.mbstate(t, in.states[i].q.data(), in.states[i].u.data());
    m.mbderiv(qdot, udot);
    m.mbreac(force, torque);
    benchmark::DoNotOptimize(&force[0][0]);
    benchmark::DoNotOptimize(&torque[0][0]);
  });
}

const bool registered = [] {
  for (const qeltest::ModelDims& d : qeltest::kModels) {
    const std::string name = d.name;
    benchmark::RegisterBenchmark((name + "/full_evaluation").c_str(), full_evaluation, name);
    benchmark::RegisterBenchmark((name + "/speed_only").c_str(), speed_only, name);
    benchmark::RegisterBenchmark((name + "/load_only").c_str(), load_only, name);
    benchmark::RegisterBenchmark((name + "/evaluation_and_reactions").c_str(), evaluation_and_reactions, name);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
