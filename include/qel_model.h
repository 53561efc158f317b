/* Public interface of a qel model module (velmor.qel, drakkun.qel,
 * pestrel.qel). Every module exports the same routines; only the model's
 * dimensions differ (ask mbinfo). A host loads the module, registers the two
 * error callbacks, supplies the parameters, calls mbinit, then per evaluation
 * mbstate, the load routines and mbderiv.
 *
 * Errors leave a module as (routine number, error code) pairs passed to the
 * report callback; the names below give both vocabularies. */
#ifndef QEL_MODEL_H
#define QEL_MODEL_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QEL_BUILDING_MODULE)
#define QEL_API __attribute__((visibility("default")))
#else
#define QEL_API
#endif

#define QEL_INTERFACE_VERSION 5

/* Report callback: (context, routine number, error code); result ignored. */
typedef int (*qel_report_fn)(void* context, int routine, int code);
/* Query callback: stores the last reported (routine, code), code 0 = none. */
typedef int (*qel_query_fn)(void* context, int* routine, int* code);

/* Routine numbers. */
enum {
  QEL_R_MBMASS = 2,
  QEL_R_MBINER = 3,
  QEL_R_MBBTJ = 4,
  QEL_R_MBITJ = 5,
  QEL_R_MBPIN = 6,
  QEL_R_MBINIT = 7,
  QEL_R_MBSTATE = 8,
  QEL_R_MBPSSTATE = 9,
  QEL_R_MBHINGET = 10,
  QEL_R_MBPOINTF = 11,
  QEL_R_MBBODYT = 12,
  QEL_R_MBRESID = 16,
  QEL_R_MBDERIV = 17,
  QEL_R_MBMOM = 19,
  QEL_R_MBSYS = 20,
  QEL_R_MBPOS = 21,
  QEL_R_MBVEL = 22,
  QEL_R_MBORIENT = 23,
  QEL_R_MBANGVEL = 24,
  QEL_R_MBTRANS = 25,
  QEL_R_MBGETHT = 30,
  QEL_R_MBREAC = 31,
  QEL_R_MBACC = 32,
  QEL_R_MBANGACC = 33,
  QEL_R_MBMULT = 34,
  QEL_R_MBINDX = 36,
  QEL_R_MBPRES = 37,
  QEL_R_MBGETMASS = 40,
  QEL_R_MBGETINER = 41,
  QEL_R_MBGETBTJ = 42,
  QEL_R_MBGETITJ = 43,
  QEL_R_MBGETPIN = 44,
  QEL_R_MBGETPRES = 45,
  QEL_R_MBJNT = 48,
  QEL_R_MBCONS = 49,
  QEL_R_MBLOADHT = 56,
  QEL_R_MBMASSMTX = 57,
  QEL_R_MBGETGENF = 58,
  QEL_R_MBPARTVEL = 59,
  QEL_R_MBUDOT2HT = 60,
  QEL_R_MBINVDYN = 61,
  QEL_R_MBVROT = 62,
  QEL_R_MBGETQDOT = 63,
  QEL_R_MBU2QDOT = 64,
  QEL_R_MBMULT2HT = 65,
  QEL_R_MBCOMPUDOT = 66,
  QEL_R_MBZEROUDOT = 67,
  QEL_R_MBSETUDOT = 68
};

/* Error codes. */
enum {
  QEL_E_PIN_TOO_SHORT = 1,        /* pin set to zero by mbinit */
  QEL_E_QUAT_NORM = 14,           /* quaternion length outside [0.9, 1.1] */
  QEL_E_BAD_BODY = 15,
  QEL_E_BAD_JOINT = 16,
  QEL_E_BAD_AXIS_NUMBER = 17,     /* axis outside 0..6 or pin outside 0..5 */
  QEL_E_NO_SUCH_AXIS = 18,        /* the joint has no such axis or pin */
  QEL_E_ALL_FIXED = 19,           /* nothing stored: every component fixed */
  QEL_E_BAD_PRESCRIBED_VALUE = 20,
  QEL_E_NO_SUCH_CONSTRAINT = 21,
  QEL_E_NOT_INITIALIZED = 22,     /* mbstate before mbinit / after a change */
  QEL_E_NEEDS_STATE = 23,
  QEL_E_NEEDS_ACCELERATIONS = 24,
  QEL_E_GRAVITY_MISSING = 25,
  QEL_E_MASS_MISSING = 26,
  QEL_E_INERTIA_MISSING = 27,
  QEL_E_PIN_MISSING = 28,
  QEL_E_BTJ_MISSING = 29,
  QEL_E_ITJ_MISSING = 30,
  QEL_E_PRESCRIBED_MISSING = 31,
  QEL_E_STAB0_MISSING = 32,
  QEL_E_STAB1_MISSING = 33,
  QEL_E_GIMBAL_LOCK = 43,
  QEL_E_BAD_SPEED_INDEX = 45,
  QEL_E_ZERO_ROTATION_AXIS = 46,
  QEL_E_SMALL_PIVOT = 47
};

/* ---- Module frame ---- */
QEL_API int GetModelInterfaceVersion(void);
QEL_API int mbseterrRegister(void* context, qel_report_fn fn);
QEL_API int mberrorRegister(void* context, qel_query_fn fn);

/* ---- Model parameters and queries ---- */
QEL_API void mbinit(void);
QEL_API void mbgrav(const double g[3]);
QEL_API void mbmass(int body, double mass);
QEL_API void mbiner(int body, const double inertia[9]);
QEL_API void mbbtj(int joint, const double v[3]);
QEL_API void mbitj(int joint, const double v[3]);
QEL_API void mbpin(int joint, int pin_no, const double v[3]);
QEL_API void mbpres(int joint, int axis, int value);
QEL_API void mbstab(double s0, double s1);
QEL_API void mbgetgrav(double g[3]);
QEL_API void mbgetmass(int body, double* mass);
QEL_API void mbgetiner(int body, double inertia[9]);
QEL_API void mbgetbtj(int joint, double v[3]);
QEL_API void mbgetitj(int joint, double v[3]);
QEL_API void mbgetpin(int joint, int pin_no, double v[3]);
QEL_API void mbgetpres(int joint, int axis, int* value);
QEL_API void mbgetstab(double* s0, double* s1);
/* Twelve words: the model's eleven info words, then a 0. */
QEL_API void mbinfo(int info[12]);
QEL_API void mbjnt(int joint, int info[11], int trans[6]);
QEL_API int mbindx(int joint, int axis);
QEL_API void mbcons(int constraint);

/* ---- Numerical routines ---- */

/* ---- State, conversions and kinematics ---- */

/* ---- Applied loads and constraint routines ---- */

/* ---- Dynamics and whole-model results ---- */

/* ---- Analysis ---- */

#ifdef __cplusplus
}
#endif

#endif /* QEL_MODEL_H */
