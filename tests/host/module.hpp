// A host's view of one model module: loads a private copy of the .qel file
// (so every Module starts from the image's tables), registers recording
// callbacks and exposes the exported routines by name.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "qel_model.h"

namespace qeltest {

struct Report {
  int routine;
  int code;
  bool operator==(const Report& o) const { return routine == o.routine && code == o.code; }
};

inline std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << "(" << r.routine << ", " << r.code << ")";
}

struct ModelDims {
  const char* name;
  int nbody;
  int nu;
};
inline void PrintTo(const ModelDims& d, std::ostream* os) { *os << d.name; }
inline const ModelDims kModels[] = {{"velmor", 16, 35}, {"drakkun", 18, 33}, {"pestrel", 15, 32}};

class Module {
 public:
  explicit Module(const std::string& name, bool register_callbacks = true) : name_(name) {
    static int counter = 0;
    const std::string src = std::string(QEL_MODULE_DIR) + "/" + name + ".qel";
    copy_ = "/tmp/qel-host-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + name + ".qel";
    {
      std::ifstream in(src, std::ios::binary);
      if (!in) throw std::runtime_error("cannot read " + src);
      std::ofstream out(copy_, std::ios::binary);
      out << in.rdbuf();
    }
    handle_ = dlopen(copy_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define QEL_ROUTINE(fn) fn = reinterpret_cast<decltype(&::fn)>(sym(#fn));
#include "host/routines.inc"
#undef QEL_ROUTINE
    if (register_callbacks) {
      mbseterrRegister(this, &Module::on_report);
      mberrorRegister(this, &Module::on_query);
    }
  }
  ~Module() {
    if (handle_) dlclose(handle_);
    std::remove(copy_.c_str());
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  void* sym(const char* name) {
    void* p = dlsym(handle_, name);
    if (!p) throw std::runtime_error(std::string("missing export ") + name);
    return p;
  }
  bool exports(const char* name) { return dlsym(handle_, name) != nullptr; }

  // Reports received since the last take_reports().
  std::vector<Report> take_reports() { return std::exchange(reports, {}); }

  // What the query callback hands back: the last report, unless cleared.
  void clear_last() { last = {0, 0}; }

  const std::string& name() const { return name_; }

#define QEL_ROUTINE(fn) decltype(&::fn) fn = nullptr;
#include "host/routines.inc"
#undef QEL_ROUTINE

  std::vector<Report> reports;
  Report last{0, 0};
  int queries = 0;

  // The callbacks the constructor registers, with the Module as context.
  static int on_report(void* ctx, int routine, int code) {
    auto* m = static_cast<Module*>(ctx);
    m->reports.push_back({routine, code});
    m->last = {routine, code};
    return 0;
  }
  static int on_query(void* ctx, int* routine, int* code) {
    auto* m = static_cast<Module*>(ctx);
    ++m->queries;
    *routine = m->last.routine;
    *code = m->last.code;
    return 0;
  }

 private:
  std::string name_;
  std::string copy_;
  void* handle_ = nullptr;
};

}  // namespace qeltest
