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
/* Orientations: dc is a row-major direction-cosine matrix (body frame to
 * ground); angles are body-fixed 1-2-3, radians; Euler parameters have the
 * scalar last. A zero quaternion converts to the identity. */
QEL_API void mbang2dc(double a1, double a2, double a3, double dc[9]);
QEL_API void mbdc2ang(const double dc[9], double* a1, double* a2, double* a3);
QEL_API void mbquat2dc(double e1, double e2, double e3, double e4, double dc[9]);
QEL_API void mbdc2quat(const double dc[9], double* e1, double* e2, double* e3, double* e4);
/* Smallest-norm x over var_map solving the m equations over eq_map (row
 * stride lda): the first m - ngoal exactly, the last ngoal in least squares.
 * mdim is unused. Work sizes, S = m + n, m' = m (ngoal = 0) or
 * n + m - ngoal: dwork m^2 (ngoal = 0) or 2 m'^2, rwork 3S + m',
 * iwork 2S + m'. */
QEL_API void mblsslv(int mdim, int lda, int m, int n, int ngoal, const int eq_map[], const int var_map[],
                     double tol, double dwork[], double rwork[], int iwork[], const double A[],
                     const double b[], double x[]);
/* Residual function of mbroot: fills f[nf] at x[nx]; param is passed through. */
typedef void (*qel_residual_fn)(const double* x, void* param, double* f);
/* Damped Newton solve of nf residuals in nx unknowns: the last |nk| residuals
 * are desired (sum of magnitudes, or the largest when nk < 0), the others
 * required. err: 0 converged, 1 only the desired missed goal_tol, 2 the
 * required missed req_tol. With k = |nk| and m' = nf (k = 0) or nx + nf - k:
 * J nf*nx, rwork 6nf + 8nx + m', iwork 3(nf + nx) + m',
 * dwork nf^2 (k = 0) or 2 m'^2. */
QEL_API void mbroot(qel_residual_fn fn, double x[], void* param, int nf, int nx, int nk, const int lock[],
                    double req_tol, double goal_tol, int max_evals, double J[], double dwork[],
                    double rwork[], int iwork[], double f[], int* n_evals, int* err);

/* ---- State, conversions and kinematics ---- */
/* Sets time t, coordinates q[nq] (root translations, quaternion vector part
 * at 3..5, rotation angles, quaternion scalar last) and speeds u[nu]. */
QEL_API void mbstate(double t, const double q[], const double u[]);
QEL_API void mbpsstate(void);
/* Quaternion form (nq) to angle form (nu, body-fixed 1-2-3 angles at 3..5)
 * and back; either may work in place. */
QEL_API void mbst2ang(const double st[], double ang[]);
QEL_API void mbang2st(const double ang[], double st[]);
/* Copy of in[nq] with the quaternion scaled to unit length; may work in place. */
QEL_API void mbnormst(const double in[], double out[]);
/* A body point pt is the vector from the body's mass centre, body frame;
 * body -1 is ground. Positions and velocities are ground frame, angular
 * velocity body frame; rot maps body to ground. Outputs may alias inputs. */
QEL_API void mbpos(int body, const double pt[3], double loc[3]);
QEL_API void mbvel(int body, const double pt[3], double vel[3]);
QEL_API void mborient(int body, double rot[3][3]);
QEL_API void mbangvel(int body, double wvec[3]);
QEL_API void mbtrans(int from_body, const double vin[3], int to_body, double vout[3]);
/* Accelerations after mbderiv or mbresid (call state 3): of a body point,
 * ground frame; angular, body frame. */
QEL_API void mbacc(int body, const double pt[3], double acc[3]);
QEL_API void mbangacc(int body, double wdot[3]);

/* ---- Applied loads and constraint routines ---- */
/* Loads of the present state, added between mbstate and mbderiv: a force or
 * torque along a joint axis, a force at a body point, a torque on a body
 * (body frame). mbgetht reads the hinge load back after mbderiv. */
QEL_API void mbhinget(int joint, int axis, double torque);
QEL_API void mbpointf(int body, const double point[3], const double force[3]);
QEL_API void mbbodyt(int body, const double torque[3]);
QEL_API void mbgetht(int joint, int axis, double* torque);
/* The models have no constraints: these do nothing and write nothing. */
QEL_API void mbpseudo(void);
QEL_API void mbpsqdot(void);
QEL_API void mbpsudot(void);
QEL_API void mbperr(double errs[]);
QEL_API void mbverr(double errs[]);
QEL_API void mbaerr(void);
QEL_API void mbpresacc(void);
QEL_API void mbpresvel(void);
QEL_API void mbprespos(void);

/* ---- Dynamics and whole-model results ---- */
/* Coordinate derivatives qdot[nq] and generalized accelerations udot[nu]
 * of the present state and loads. */
QEL_API void mbderiv(double qdot[], double udot[]);
/* Residuals resid[nq + nu] of estimated derivatives: qdot_in - qdot, then
 * the hinge loads M(q) udot_in - f that udot_in lacks. resid may overlap the
 * inputs; mult_in is not read. */
QEL_API void mbresid(const double qdot_in[], const double udot_in[], const double mult_in[], double resid[]);
/* Constraint multipliers (none: mult is not written) and *nviol = 0. */
QEL_API void mbmult(double mult[], int* nviol);
/* Force and torque (about the joint point) that each joint exerts on its
 * outboard body, in that body's frame; nbody rows each. */
QEL_API void mbreac(double force[][3], double torque[][3]);
/* Linear momentum, angular momentum about the system mass centre (both
 * ground frame) and kinetic energy of the whole model. */
QEL_API void mbmom(double lmom[3], double amom[3], double* kinetic);
/* Total mass, system mass centre and inertia about it (ground frame). */
QEL_API void mbsys(double* msum, double cm[3], double inertia[3][3]);

/* ---- Analysis ---- */
/* The state vector is q (nq doubles) followed by u (nu doubles). Every
 * evaluation runs mbstate and mbderiv, whose reports tell the host about a
 * refused call; the drivers report nothing of their own. */
/* Evaluates the position-constraint residuals once at (t, q, u = 0); the
 * quaternion comes back normalized. lock, tol and max_evals are not read. */
QEL_API void mbassemble(double t, double state[], int lock[], double tol, int max_evals, int* n_evals, int* err);
/* Evaluates the velocity-constraint residuals once at (t, q, u); the state
 * vector is not changed. lock, tol and max_evals are not read. */
QEL_API void mbinitvel(double t, double state[], int lock[], double tol, int max_evals, int* n_evals, int* err);
/* Static equilibrium: adjusts the coordinates (not the speeds) until every
 * |udot| <= tol. lock: nu words, nonzero holds that coordinate; null locks
 * nothing. err: 0 converged, 1 stopped with evaluations to spare, 2 budget
 * used up, or refused (call state 0: the state vector is left as it was). */
QEL_API void mbstatic(double t, double state[], const int lock[], double req_tol, double tol, int max_evals,
                      int* n_evals, int* err);
/* Steady motion: adjusts coordinates and speeds until every |udot| <= tol.
 * lock: 2 nu words, the coordinates' then the speeds'; null locks nothing.
 * err as for mbstatic. */
QEL_API void mbsteady(double t, double state[], const int lock[], double req_tol, double tol, int max_evals,
                      int* n_evals, int* err);
/* Motion drivers. With *flag set the state rates (qdot, udot) are evaluated
 * at the present state and *flag is cleared; the integrator steps that
 * follow are empty in every module, so t and the state are left unchanged. */
QEL_API void mbmotion(double* t, double state[], double state_rate[], double dt, double req_tol, double tol,
                      int* flag, int* err);
QEL_API void mbfmotion(double* t, double state[], double state_rate[], double dt, double req_tol, int* flag,
                       double* err_est, int* err);

#ifdef __cplusplus
}
#endif

#endif /* QEL_MODEL_H */
