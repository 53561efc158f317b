// The host error interface: the only way any routine reports a problem is
// mbseterr(routine, code); the articulated-inertia pass alone asks back with
// mberror.
#pragma once

#include "qel_model.h"

namespace qel {

// error_hooks: written by the two registrations; read by the dispatchers.
struct ErrorHooks {
  qel_report_fn seterr_fn;
  qel_query_fn error_fn;
  void* err_context;  // one slot shared by both registrations
};
extern ErrorHooks error_hooks;

// Report dispatcher. With no report callback registered the report is dropped.
int mbseterr(int routine, int code);

// Query dispatcher. With no query callback registered the host has recorded
// nothing: the answer is (0, 0).
int mberror(int* routine, int* code);

}  // namespace qel
