// A creature supplied to the engine linked into the unit test, through the
// same fixture the host tests use, and a record of the engine's reports.
#pragma once

// creature.hpp brings the host's Module along; unit tests never load one.
#ifndef QEL_MODULE_DIR
#define QEL_MODULE_DIR ""
#endif

#include <gtest/gtest.h>

#include <vector>

#include "host/creature.hpp"
#include "model/records.hpp"
#include "model/state.hpp"
#include "qel_model.h"

namespace qeltest {

// The routines creature.hpp calls, taken straight from the engine.
struct Engine {
  decltype(&::mbinfo) mbinfo = &::mbinfo;
  decltype(&::mbjnt) mbjnt = &::mbjnt;
  decltype(&::mbgrav) mbgrav = &::mbgrav;
  decltype(&::mbmass) mbmass = &::mbmass;
  decltype(&::mbiner) mbiner = &::mbiner;
  decltype(&::mbbtj) mbbtj = &::mbbtj;
  decltype(&::mbitj) mbitj = &::mbitj;
  decltype(&::mbpin) mbpin = &::mbpin;
  decltype(&::mbinit) mbinit = &::mbinit;
};

// Every test starts from a freshly supplied creature in call state 1 with
// the stabilization off; the engine's reports are collected in `reports`.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mbseterrRegister(this, &EngineTest::on_report);
    mberrorRegister(this, &EngineTest::on_query);
    mbstab(0.0, 0.0);
    creature = make_creature(engine, 31);
    supply(engine, creature);
    posture = random_posture(engine, creature, 32);
    reports.clear();
  }
  void TearDown() override {
    mbseterrRegister(nullptr, nullptr);
    mberrorRegister(nullptr, nullptr);
  }

  void set_state(const Posture& s, double t = 0.0) { mbstate(t, s.q.data(), s.u.data()); }
  std::vector<Report> take_reports() { return std::exchange(reports, {}); }

  Engine engine;
  Creature creature;
  Posture posture;
  std::vector<Report> reports;

 private:
  static int on_report(void* ctx, int routine, int code) {
    static_cast<EngineTest*>(ctx)->reports.push_back({routine, code});
    return 0;
  }
  static int on_query(void*, int* routine, int* code) {
    *routine = 0;
    *code = 0;
    return 0;
  }
};

}  // namespace qeltest
