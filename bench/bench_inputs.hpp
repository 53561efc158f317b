// Inputs shared by the benchmarks: a creature and a ring of random states,
// so that consecutive iterations never see the same coordinates or speeds
// and no cache inside the module can hide the work.
#pragma once

#include <vector>

#include "host/creature.hpp"

namespace qelbench {

constexpr int kRing = 64;

struct Inputs {
  int nu = 0, nq = 0;
  std::vector<qeltest::Posture> states;
  std::vector<std::vector<double>> speeds;   // a second ring of speeds for the first posture
  std::vector<std::vector<double>> torques;  // per state, one torque per axis
};

template <class M>
Inputs make_inputs(M& m, unsigned seed = 7) {
  const qeltest::Creature c = qeltest::make_creature(m, seed);
  qeltest::supply(m, c);
  int info[12];
  m.mbinfo(info);
  Inputs in;
  in.nu = info[2];
  in.nq = in.nu + 1;
  for (int i = 0; i < kRing; ++i) {
    in.states.push_back(qeltest::random_posture(m, c, seed * 1000 + i));
    in.speeds.push_back(qeltest::random_posture(m, c, seed * 2000 + i).u);
    std::vector<double> t(in.nu);
    for (int k = 0; k < in.nu; ++k) t[k] = 0.1 * ((k * 7 + i * 13) % 11 - 5);
    in.torques.push_back(t);
  }
  return in;
}

}  // namespace qelbench
