#include "dynamics/results.hpp"

namespace qel {

AccelerationResults results = {};

}  // namespace qel
