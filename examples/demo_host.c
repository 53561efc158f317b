/* A small host for a qel model module, written against the public C header.
 *
 *   demo_host [velmor|drakkun|pestrel|path/to/module.qel] [--max-drift X]
 *
 * Loads the module (default velmor from the build's modules directory), supplies a demonstration creature, integrates one second with
 * fixed-step RK4 through mbstate/mbderiv, and prints the final mass centre,
 * the relative energy drift and the evaluation rate. Every (routine, code)
 * report is printed as a message. With --max-drift the exit status tells
 * whether the drift stayed below X. */
#define _POSIX_C_SOURCE 199309L
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "qel_model.h"

/* Where the build puts the modules; a bare model name is looked up there. */
#ifndef QEL_MODULE_DIR
#define QEL_MODULE_DIR "."
#endif

enum { MAX_Q = 64 };

static const char* routine_name(int routine) {
  switch (routine) {
    case QEL_R_MBMASS: return "mbmass";
    case QEL_R_MBINER: return "mbiner";
    case QEL_R_MBBTJ: return "mbbtj";
    case QEL_R_MBITJ: return "mbitj";
    case QEL_R_MBPIN: return "mbpin";
    case QEL_R_MBINIT: return "mbinit";
    case QEL_R_MBSTATE: return "mbstate";
    case QEL_R_MBHINGET: return "mbhinget";
    case QEL_R_MBPOINTF: return "mbpointf";
    case QEL_R_MBBODYT: return "mbbodyt";
    case QEL_R_MBRESID: return "mbresid";
    case QEL_R_MBDERIV: return "mbderiv";
    case QEL_R_MBMOM: return "mbmom";
    case QEL_R_MBSYS: return "mbsys";
    case QEL_R_MBPOS: return "mbpos";
    case QEL_R_MBVEL: return "mbvel";
    case QEL_R_MBJNT: return "mbjnt";
    default: return "a module routine";
  }
}

static const char* code_text(int code) {
  switch (code) {
    case QEL_E_PIN_TOO_SHORT: return "a pin axis is too short to normalize and was set to zero";
    case QEL_E_QUAT_NORM: return "the root quaternion's length is outside [0.9, 1.1]";
    case QEL_E_BAD_BODY: return "no such body";
    case QEL_E_BAD_JOINT: return "no such joint";
    case QEL_E_BAD_AXIS_NUMBER: return "axis or pin number out of range";
    case QEL_E_NO_SUCH_AXIS: return "the joint has no such axis or pin";
    case QEL_E_ALL_FIXED: return "nothing stored: the model fixes these components";
    case QEL_E_NOT_INITIALIZED: return "call mbinit first (after any parameter change)";
    case QEL_E_NEEDS_STATE: return "set a state with mbstate first";
    case QEL_E_NEEDS_ACCELERATIONS: return "call mbderiv first";
    case QEL_E_GRAVITY_MISSING: return "gravity not supplied";
    case QEL_E_MASS_MISSING: return "a body mass not supplied";
    case QEL_E_INERTIA_MISSING: return "an inertia element not supplied";
    case QEL_E_PIN_MISSING: return "a pin component not supplied";
    case QEL_E_BTJ_MISSING: return "a body-to-joint component not supplied";
    case QEL_E_ITJ_MISSING: return "an inboard-to-joint component not supplied";
    case QEL_E_GIMBAL_LOCK: return "a three-rotation joint is within 5 degrees of gimbal lock";
    case QEL_E_SMALL_PIVOT: return "the mass matrix is (nearly) singular";
    default: return "error";
  }
}

typedef struct {
  int routine, code, count;
} LastError;

static int on_report(void* ctx, int routine, int code) {
  LastError* last = (LastError*)ctx;
  last->routine = routine;
  last->code = code;
  if (++last->count <= 20) fprintf(stderr, "module: %s: %s (%d, %d)\n", routine_name(routine), code_text(code), routine, code);
  return 0;
}

static int on_query(void* ctx, int* routine, int* code) {
  const LastError* last = (const LastError*)ctx;
  *routine = last->routine;
  *code = last->code;
  return 0;
}

#define ROUTINES(X) \
  X(GetModelInterfaceVersion) X(mbseterrRegister) X(mberrorRegister) X(mbinfo) X(mbjnt) X(mbgrav) \
  X(mbmass) X(mbiner) X(mbbtj) X(mbitj) X(mbpin) X(mbinit) X(mbstate) X(mbderiv) X(mbmom) X(mbsys)

static struct {
#define DECLARE(fn) __typeof__(&fn) fn;
  ROUTINES(DECLARE)
#undef DECLARE
} api;

static double now_seconds(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

/* A fixed, deterministic creature: a heavy trunk, limbs that get lighter
 * towards the tips, pins tilted off the coordinate axes. Every inertia is
 * positive definite (small products of inertia), as a real body's must be. */
static void supply_creature(int nbody) {
  const double g[3] = {0.0, 0.0, -9.81};
  api.mbgrav(g);
  for (int b = 0; b < nbody; ++b) {
    int info[11], trans[6];
    api.mbjnt(b, info, trans);
    const int type = info[0], dof = info[4];
    const double m = b == 0 ? 10.0 : 1.0 + 0.1 * (b % 5);
    const double r = b == 0 ? 0.2 : 0.06;
    const double I[9] = {m * r * r * 0.5, 0.0001 * b, 0.0,
                         0.0001 * b, m * r * r * 0.6, 0.0005,
                         0.0, 0.0005, m * r * r * 0.4};
    const double btj[3] = {0.01 * (b % 3), -0.02, b == 0 ? 0.0 : 0.12};
    const double itj[3] = {b == 0 ? 0.0 : 0.05 * ((b % 4) - 1.5), b == 0 ? 0.0 : 0.04 * ((b % 3) - 1.0), b == 0 ? 0.0 : -0.1};
    api.mbmass(b, m);
    api.mbiner(b, I);
    api.mbbtj(b, btj);
    api.mbitj(b, itj);
    if (type == 6) continue;
    for (int k = 0; k < dof; ++k) {
      double pin[3] = {0.15, 0.2, 0.15};
      pin[k % 3] = 1.0;
      api.mbpin(b, k, pin);
    }
  }
  api.mbinit();
}

static double energy(double* cm) {
  double lmom[3], amom[3], kinetic, msum, inertia[3][3];
  const double g[3] = {0.0, 0.0, -9.81};
  api.mbmom(lmom, amom, &kinetic);
  api.mbsys(&msum, cm, inertia);
  return kinetic - msum * (g[0] * cm[0] + g[1] * cm[1] + g[2] * cm[2]);
}

static int nq_, nu_;
static long evaluations;

static void derivs(double t, const double* y, double* dy) {
  api.mbstate(t, y, y + nq_);
  api.mbderiv(dy, dy + nq_);
  ++evaluations;
}

int main(int argc, char** argv) {
  const char* arg = "velmor";
  double max_drift = -1.0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--max-drift") == 0 && i + 1 < argc) max_drift = atof(argv[++i]);
    else arg = argv[i];
  }
  /* "drakkun" or "drakkun.qel" means the built module; anything with a
   * slash is taken as a path. */
  char path[4096];
  if (strchr(arg, '/')) snprintf(path, sizeof path, "%s", arg);
  else {
    const size_t len = strlen(arg);
    const int has_suffix = len > 4 && strcmp(arg + len - 4, ".qel") == 0;
    snprintf(path, sizeof path, "%s/%s%s", QEL_MODULE_DIR, arg, has_suffix ? "" : ".qel");
  }
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 2;
  }
#define RESOLVE(fn)                                                 \
  *(void**)(&api.fn) = dlsym(handle, #fn);                           \
  if (!api.fn) {                                                    \
    fprintf(stderr, "%s does not export %s\n", path, #fn);          \
    return 2;                                                       \
  }
  ROUTINES(RESOLVE)
#undef RESOLVE

  LastError last = {0, 0, 0};
  api.mbseterrRegister(&last, on_report);
  api.mberrorRegister(&last, on_query);
  if (api.GetModelInterfaceVersion() != QEL_INTERFACE_VERSION) {
    fprintf(stderr, "%s speaks interface %d, this host %d\n", path, api.GetModelInterfaceVersion(), QEL_INTERFACE_VERSION);
    return 2;
  }
  int info[12];
  api.mbinfo(info);
  const int nbody = info[1];
  nu_ = info[2];
  nq_ = nu_ + 1;
  if (nq_ + nu_ > 2 * MAX_Q) return 2;
  supply_creature(nbody);

  /* Upright, the limbs slightly bent, a gentle initial spin and drift. */
  double y[2 * MAX_Q] = {0}, k1[2 * MAX_Q], k2[2 * MAX_Q], k3[2 * MAX_Q], k4[2 * MAX_Q], tmp[2 * MAX_Q];
  const int n = nq_ + nu_;
  y[2] = 1.0;
  y[nu_] = 1.0; /* quaternion scalar */
  for (int k = 6; k < nu_; ++k) y[k] = 0.2 * sin(0.7 * k);
  y[nq_ + 0] = 0.3;
  y[nq_ + 5] = 0.5;
  for (int k = 6; k < nu_; ++k) y[nq_ + k] = 0.3 * cos(1.3 * k);

  double cm[3];
  derivs(0.0, y, k1);
  const double e0 = energy(cm);
  const double dt = 1e-3;
  const int steps = 1000;
  const double start = now_seconds();
  for (int s = 0; s < steps; ++s) {
    const double t = s * dt;
    derivs(t, y, k1);
    for (int i = 0; i < n; ++i) tmp[i] = y[i] + 0.5 * dt * k1[i];
    derivs(t + 0.5 * dt, tmp, k2);
    for (int i = 0; i < n; ++i) tmp[i] = y[i] + 0.5 * dt * k2[i];
    derivs(t + 0.5 * dt, tmp, k3);
    for (int i = 0; i < n; ++i) tmp[i] = y[i] + dt * k3[i];
    derivs(t + dt, tmp, k4);
    for (int i = 0; i < n; ++i) y[i] += dt / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
  }
  const double elapsed = now_seconds() - start;
  derivs(steps * dt, y, k1);
  const double e1 = energy(cm);
  const double drift = fabs(e1 - e0) / (fabs(e0) > 1.0 ? fabs(e0) : 1.0);

  printf("module          %s (%d bodies, %d speeds)\n", path, nbody, nu_);
  printf("mass centre     %.6f %.6f %.6f m after %.1f s\n", cm[0], cm[1], cm[2], steps * dt);
  printf("energy          %.9f J -> %.9f J, relative drift %.3e\n", e0, e1, drift);
  printf("evaluations     %ld, %.0f per second (%.2f us each)\n", evaluations, 4.0 * steps / elapsed, 1e6 * elapsed / (4.0 * steps));
  if (last.count > 0) printf("reports         %d\n", last.count);
  dlclose(handle);
  if (max_drift >= 0.0 && !(drift <= max_drift)) {
    fprintf(stderr, "energy drift %.3e exceeds %.3e\n", drift, max_drift);
    return 1;
  }
  return 0;
}
