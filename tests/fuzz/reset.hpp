#pragma once

namespace qelfuzz {

// Every table, flag and callback of the module back to its load-time value.
void reset_module();

}  // namespace qelfuzz
