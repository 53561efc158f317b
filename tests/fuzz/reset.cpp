// Puts every piece of module-level state back to its load-time value, so that
// each fuzz input starts from a freshly loaded module and a crash reproduces
// from its input alone. Keep it in step with the module's tables: run.sh
// checks that the static library defines no data symbol this file does not
// account for (see reset_symbols.txt).
#include "analysis/analysis.hpp"
#include "dynamics/abi.hpp"
#include "dynamics/forces.hpp"
#include "dynamics/results.hpp"
#include "frame/errors.hpp"
#include "fuzz/reset.hpp"
#include "model/partvel.hpp"
#include "model/records.hpp"
#include "model/state.hpp"

namespace qel {
void fuzz_reset_reactions();  // dynamics/reactions.cpp, fuzz builds only
}

namespace qelfuzz {

void reset_module() {
  using namespace qel;
  error_hooks = {nullptr, nullptr, nullptr};
  params = initial_parameters();
  param_status = initial_param_status();
  derived = {};
  control = {};
  position = {};
  velocity = {};
  loads = {};
  partvel = {};
  abi = {};
  forces = {};
  results = {};
  root_work = {};
  step_work = {};
  motion = {};
  set_test_load_hook(nullptr);
  fuzz_reset_reactions();
}

}  // namespace qelfuzz
