// Module load runs nothing of this system: every table is constant-
// initialized from the image and there is no static constructor anywhere.
// The loader hook that other platforms use to switch off per-thread
// attach/detach notifications has no counterpart for an ELF shared object,
// which gets no such notifications; so there is no entry point at all.
#include "frame/errors.hpp"

namespace qel {

ErrorHooks error_hooks = {nullptr, nullptr, nullptr};

int mbseterr(int routine, int code) {
  if (error_hooks.seterr_fn == nullptr) return 0;
  return error_hooks.seterr_fn(error_hooks.err_context, routine, code);
}

int mberror(int* routine, int* code) {
  if (error_hooks.error_fn == nullptr) {
    *routine = 0;
    *code = 0;
    return 0;
  }
  return error_hooks.error_fn(error_hooks.err_context, routine, code);
}

}  // namespace qel

extern "C" {

QEL_API int mbseterrRegister(void* context, qel_report_fn fn) {
  qel::error_hooks.err_context = context;
  qel::error_hooks.seterr_fn = fn;
  return 0;
}

QEL_API int mberrorRegister(void* context, qel_query_fn fn) {
  qel::error_hooks.err_context = context;
  qel::error_hooks.error_fn = fn;
  return 0;
}

QEL_API int GetModelInterfaceVersion(void) { return QEL_INTERFACE_VERSION; }

}  // extern "C"
