// libFuzzer target: decodes its input into a sequence of calls, with
// arguments, on one model's routines (exported and internal), starting from
// a freshly loaded module every time. Host arrays are allocated at exactly the
// size the interface gives, so the sanitizers see any access past them.
//
// Checks besides the sanitizers: every report carries a known routine number
// and error code; a call refused for a bad index or the wrong call state
// leaves its outputs untouched; the constraint stubs write nothing; the call
// state stays within 0..3.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "analysis/analysis.hpp"
#include "dynamics/forces.hpp"
#include "dynamics/inverse.hpp"
#include "dynamics/results.hpp"
#include "dynamics/solve.hpp"
#include "fuzz/reset.hpp"
#include "host/creature.hpp"
#include "model/kinematics.hpp"
#include "model/validate.hpp"
#include "model/records.hpp"
#include "model/topology.hpp"
#include "numerics/vec3.hpp"
#include "qel_model.h"

namespace {

using qel::nbody;
using qel::njnt;
using qel::nq;
using qel::nu;

// The routines as callable members, the shape creature.hpp expects.
struct Direct {
#define QEL_ROUTINE(fn) decltype(&::fn) fn = &::fn;
#include "host/routines.inc"
#undef QEL_ROUTINE
};

[[noreturn]] void fail(const char* what, int a = 0, int b = 0) {
  std::fprintf(stderr, "interface_fuzz(%s): %s (%d, %d)\n", QEL_MODEL_NAME, what, a, b);
  std::abort();
}

bool known_routine(int r) {
  static const int all[] = {2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 16, 17, 19, 20, 21, 22, 23, 24, 25,
                            30, 31, 32, 33, 34, 36, 37, 40, 41, 42, 43, 44, 45, 48, 49, 56, 57, 58, 59, 60,
                            61, 62, 63, 64, 65, 66, 67, 68};
  for (int x : all)
    if (x == r) return true;
  return false;
}

bool known_code(int c) { return c == 1 || (c >= 14 && c <= 33) || c == 43 || c == 45 || c == 46 || c == 47; }

// Codes with which a routine refuses the call: nothing may be written.
bool refusal(int c) {
  return c == QEL_E_BAD_BODY || c == QEL_E_BAD_JOINT || c == QEL_E_BAD_AXIS_NUMBER || c == QEL_E_NO_SUCH_AXIS ||
         c == QEL_E_NO_SUCH_CONSTRAINT || c == QEL_E_NEEDS_STATE || c == QEL_E_NEEDS_ACCELERATIONS ||
         c == QEL_E_BAD_SPEED_INDEX;
}

// What the host has recorded, and how its query callback answers.
struct HostRecord {
  int last_routine = 0, last_code = 0;
  int query_mode = 0;  // 0 the last report, 1 always none, 2 a fixed stale code
  int reports = 0;
  bool refused = false;
  bool listening = false;  // the report callback is registered: silence means no report
} host;

// QEL_FUZZ_TRACE=1 in the environment prints every step and report, to read
// what a crashing input does.
const bool trace = std::getenv("QEL_FUZZ_TRACE") != nullptr;

int on_report(void*, int routine, int code) {
  if (trace) std::fprintf(stderr, "  report (%d, %d)\n", routine, code);
  if (!known_routine(routine)) fail("report with unknown routine number", routine, code);
  if (!known_code(code)) fail("report with unknown error code", routine, code);
  host.last_routine = routine;
  host.last_code = code;
  ++host.reports;
  if (refusal(code)) host.refused = true;
  return 0;
}

int on_query(void*, int* routine, int* code) {
  switch (host.query_mode) {
    case 0: *routine = host.last_routine; *code = host.last_code; break;
    case 1: *routine = 0; *code = 0; break;
    default: *routine = QEL_R_MBSTATE; *code = QEL_E_QUAT_NORM; break;
  }
  return 0;
}

// The input as a stream of choices; reads past its end give zeros.
class Bytes {
 public:
  Bytes(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool empty() const { return n_ == 0; }
  uint8_t u8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | u8();
    return v;
  }
  // An index mostly in lo..hi, sometimes just outside or far off.
  int index(int lo, int hi) {
    const uint8_t c = u8();
    if (c < 232) return lo + c % (hi - lo + 1);
    switch (c & 7) {
      case 0: return INT_MIN;
      case 1: return INT_MAX;
      case 2: return lo - 1;
      case 3: return hi + 1;
      case 4: return hi + 2;
      case 5: return -2;
      case 6: return lo - 1000;
      default: return static_cast<int>(u32());
    }
  }
  // Mostly a plausible value of magnitude up to 4 scale, sometimes a
  // hostile one.
  double real(double scale = 1.0) {
    const uint8_t c = u8();
    if (c < 216) {
      const int16_t s = static_cast<int16_t>((u8() << 8) | u8());
      return scale * (s / 8192.0);
    }
    switch (c % 12) {
      case 0: return NAN;
      case 1: return INFINITY;
      case 2: return -INFINITY;
      case 3: return 4.9e-324;
      case 4: return DBL_MIN;
      case 5: return 1e300;
      case 6: return -1e300;
      case 7: return 0.0;
      case 8: return -0.0;
      case 9: return DBL_MAX;
      case 10: return 1e-300;
      default: {
        uint64_t bits = (static_cast<uint64_t>(u32()) << 32) | u32();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
      }
    }
  }
  void reals(double* v, int n, double scale = 1.0) {
    for (int i = 0; i < n; ++i) v[i] = real(scale);
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

// Host-side output buffers, exactly sized, filled with a pattern that no
// routine produces so untouched outputs can be told apart.
constexpr uint64_t kPoisonBits = 0x7ff4dead5eed1234ull;
struct Out {
  explicit Out(size_t n) : v(n) {
    for (double& x : v) std::memcpy(&x, &kPoisonBits, sizeof x);
  }
  double* data() { return v.data(); }
  double& operator[](size_t i) { return v[i]; }
  bool intact() const {
    for (const double& x : v)
      if (std::memcmp(&x, &kPoisonBits, sizeof x) != 0) return false;
    return true;
  }
  std::vector<double> v;
};
constexpr int kPoisonInt = -0x5eed;
struct OutInt {
  explicit OutInt(size_t n) : v(n, kPoisonInt) {}
  int* data() { return v.data(); }
  bool intact() const {
    for (int x : v)
      if (x != kPoisonInt) return false;
    return true;
  }
  std::vector<int> v;
};

// A refused call (a bad index, the wrong call state) leaves its outputs as they were.
template <class... O>
void check_refused(const char* routine, const O&... outs) {
  if (host.refused && !(outs.intact() && ...)) fail(routine);
}

// The session of one input.
struct Session {
  Direct m;
  std::optional<qeltest::Creature> creature;
  double t = 0.0;
  std::vector<double> q = qeltest::rest_q(nu), u = std::vector<double>(nu, 0.0);

  const qeltest::Creature& some_creature() {
    if (!creature) creature = qeltest::make_creature(m, 1);
    return *creature;
  }
};

// One parameter of the creature overwritten with an arbitrary value.
void spoil(Bytes& in, qeltest::Creature& c) {
  const int b = in.u8() % nbody;
  switch (in.u8() % 5) {
    case 0: c.mass[b] = in.real(4.0); break;
    case 1: c.inertia[b][in.u8() % 9] = in.real(0.2); break;
    case 2: c.btj[b][in.u8() % 3] = in.real(0.2); break;
    case 3: c.itj[b][in.u8() % 3] = in.real(0.2); break;
    default:
      if (!c.pins[b].empty()) c.pins[b][in.u8() % c.pins[b].size()][in.u8() % 3] = in.real(1.0);
      else c.gravity[in.u8() % 3] = in.real(10.0);
  }
}

// The state the next mbstate passes: a posture, the rest posture or the last
// one, with a few coordinates or speeds overwritten.
void choose_state(Bytes& in, Session& s) {
  switch (in.u8() % 4) {
    case 0: {
      const qeltest::Posture p = qeltest::random_posture(s.m, s.some_creature(), in.u8());
      s.q = p.q;
      s.u = p.u;
      break;
    }
    case 1:
      s.q = qeltest::rest_q(nu);
      std::fill(s.u.begin(), s.u.end(), 0.0);
      break;
    default: break;  // the last state again: the caches' road
  }
  if (in.u8() % 4 == 0) s.t = in.real(10.0);
  const int changes = in.u8() % 4;
  for (int i = 0; i < changes; ++i) {
    const int k = in.u8() % (nq + nu);
    if (k < nq) s.q[k] = in.real(3.0);
    else s.u[k - nq] = in.real(3.0);
  }
}

std::vector<double> state_vector(Session& s) {
  std::vector<double> x(s.q);
  x.insert(x.end(), s.u.begin(), s.u.end());
  return x;
}

// mbroot's residuals: a small quadratic system with fuzzed coefficients.
struct Quadratic {
  int nf, nx;
  double a[4][4], c[4][4], b[4];
};
void quadratic(const double* x, void* param, double* f) {
  const Quadratic& p = *static_cast<const Quadratic*>(param);
  for (int i = 0; i < p.nf; ++i) {
    double s = p.b[i];
    for (int j = 0; j < p.nx; ++j) s += (p.a[i][j] + p.c[i][j] * x[j]) * x[j];
    f[i] = s;
  }
}

int small_budget(Bytes& in) {
  static const int budgets[] = {INT_MIN, -1, 0, 1, 2, 5, nu, 3 * nu};
  return budgets[in.u8() % 8];
}

void call_mbroot(Bytes& in) {
  Quadratic p{};
  p.nf = 1 + in.u8() % 4;
  p.nx = 1 + in.u8() % 4;
  for (int i = 0; i < p.nf; ++i) {
    p.b[i] = in.real();
    for (int j = 0; j < p.nx; ++j) {
      p.a[i][j] = in.real();
      p.c[i][j] = in.u8() % 2 ? in.real(0.5) : 0.0;
    }
  }
  const int nk = static_cast<int>(in.u8() % (2 * p.nf + 1)) - p.nf;
  const int k = std::abs(nk), mp = k == 0 ? p.nf : p.nx + p.nf - k;
  std::vector<double> x(p.nx), J(p.nf * p.nx), f(p.nf);
  std::vector<double> dwork(k == 0 ? p.nf * p.nf : 2 * mp * mp), rwork(6 * p.nf + 8 * p.nx + mp);
  std::vector<int> iwork(3 * (p.nf + p.nx) + mp), lock(p.nx);
  in.reals(x.data(), p.nx, 2.0);
  for (int& l : lock) l = in.u8() % 4 == 0;
  const double req_tol = std::fabs(in.real(1e-3));
  const double goal_tol = std::fabs(in.real(1e-3));
  int n_evals = -1, err = -1;
  mbroot(quadratic, x.data(), &p, p.nf, p.nx, nk, lock.data(), req_tol, goal_tol, small_budget(in), J.data(),
         dwork.data(), rwork.data(), iwork.data(), f.data(), &n_evals, &err);
  if (err < 0 || err > 2) fail("mbroot err outside 0..2", err);
}

void call_mblsslv(Bytes& in) {
  const int m = 1 + in.u8() % 5, n = 1 + in.u8() % 5, ngoal = in.u8() % (m + 1);
  const int rows = m + in.u8() % 3, cols = n + in.u8() % 3;
  std::vector<int> eq_map(m), var_map(n);
  for (int& r : eq_map) r = in.u8() % rows;
  for (int& c : var_map) c = in.u8() % cols;
  const int S = m + n, mp = ngoal == 0 ? m : n + m - ngoal;
  std::vector<double> A(rows * cols), b(rows), dwork(ngoal == 0 ? m * m : 2 * mp * mp), rwork(3 * S + mp);
  std::vector<int> iwork(2 * S + mp);
  in.reals(A.data(), rows * cols);
  in.reals(b.data(), rows);
  Out x(cols);
  mblsslv(m, cols, m, n, ngoal, eq_map.data(), var_map.data(), in.u8() % 2 ? 1e-13 : in.real(), dwork.data(),
          rwork.data(), iwork.data(), A.data(), b.data(), x.data());
}

void call_orientation(Bytes& in) {
  Out dc(9);
  double a[3], e[4];
  switch (in.u8() % 4) {
    case 0: in.reals(a, 3, 2.0); mbang2dc(a[0], a[1], a[2], dc.data()); break;
    case 1: in.reals(e, 4); mbquat2dc(e[0], e[1], e[2], e[3], dc.data()); break;
    case 2: {
      std::vector<double> d(9);
      if (in.u8() % 2) in.reals(d.data(), 9);
      else { in.reals(a, 3, 2.0); mbang2dc(a[0], a[1], a[2], d.data()); }
      mbdc2ang(d.data(), &a[0], &a[1], &a[2]);
      break;
    }
    default: {
      std::vector<double> d(9);
      if (in.u8() % 2) in.reals(d.data(), 9);
      else { in.reals(e, 4); mbquat2dc(e[0], e[1], e[2], e[3], d.data()); }
      mbdc2quat(d.data(), &e[0], &e[1], &e[2], &e[3]);
    }
  }
}

void call_vrot(Bytes& in) {
  std::vector<double> v(3), axis(3), out(3);
  in.reals(v.data(), 3);
  in.reals(axis.data(), 3);
  const double angle = in.real(2.0);
  switch (in.u8() % 3) {
    case 0: qel::mbvrot(v.data(), axis.data(), angle, out.data()); break;
    case 1: qel::mbvrot(v.data(), axis.data(), angle, v.data()); break;
    default: qel::mbvrot(v.data(), axis.data(), angle, axis.data());
  }
}

bool same_bits(const double* a, const double* b, int n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

// A set routine, then, when it reported nothing, its get twin must hand back
// exactly what was stored.
void call_setter(Bytes& in) {
  double v[9], got[9];
  const int before = host.listening ? host.reports : -1;
  switch (in.u8() % 8) {
    case 0:
      in.reals(v, 3, 10.0);
      mbgrav(v);
      mbgetgrav(got);
      if (!same_bits(v, got, 3)) fail("mbgetgrav after mbgrav");
      break;
    case 1: {
      const int b = in.index(-1, nbody - 1);
      v[0] = in.real(4.0);
      mbmass(b, v[0]);
      if (host.reports != before) break;
      mbgetmass(b, got);
      if (!same_bits(v, got, 1)) fail("mbgetmass after mbmass", b);
      break;
    }
    case 2: {
      in.reals(v, 9, 0.2);
      const int b = in.index(-1, nbody - 1);
      mbiner(b, v);
      if (host.reports != before) break;
      mbgetiner(b, got);
      // The upper triangle is stored and mirrored.
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
          if (!same_bits(&v[3 * std::min(r, c) + std::max(r, c)], &got[3 * r + c], 1))
            fail("mbgetiner after mbiner", r, c);
      break;
    }
    case 3:
    case 4: {
      in.reals(v, 3, 0.2);
      const int j = in.index(0, njnt - 1);
      const bool btj = in.u8() % 2;
      (btj ? mbbtj : mbitj)(j, v);
      if (host.reports != before) break;
      (btj ? mbgetbtj : mbgetitj)(j, got);
      if (!same_bits(v, got, 3)) fail("mbgetbtj/mbgetitj after mbbtj/mbitj", j, btj);
      break;
    }
    case 5: {
      const int j = in.index(0, njnt - 1), pin = in.index(0, 3);
      in.reals(v, 3);
      mbpin(j, pin, v);
      if (host.reports != before) break;
      mbgetpin(j, pin, got);
      if (!same_bits(v, got, 3)) fail("mbgetpin after mbpin", j, pin);
      break;
    }
    case 6: {
      const int j = in.index(0, njnt - 1), axis = in.index(0, 6);
      mbpres(j, axis, in.index(-1, 2));
      break;
    }
    default: {
      v[0] = in.real();
      v[1] = in.real();
      mbstab(v[0], v[1]);
      mbgetstab(&got[0], &got[1]);
      if (!same_bits(v, got, 2)) fail("mbgetstab after mbstab");
    }
  }
}

void call_getter(Bytes& in) {
  switch (in.u8() % 12) {
    case 0: { Out g(3); mbgetgrav(g.data()); break; }
    case 1: { Out v(1); mbgetmass(in.index(-1, nbody - 1), v.data()); check_refused("mbgetmass", v); break; }
    case 2: { Out v(9); mbgetiner(in.index(-1, nbody - 1), v.data()); check_refused("mbgetiner", v); break; }
    case 3: { Out v(3); mbgetbtj(in.index(0, njnt - 1), v.data()); check_refused("mbgetbtj", v); break; }
    case 4: { Out v(3); mbgetitj(in.index(0, njnt - 1), v.data()); check_refused("mbgetitj", v); break; }
    case 5: {
      Out v(3);
      const int j = in.index(0, njnt - 1);
      mbgetpin(j, in.index(0, 3), v.data());
      check_refused("mbgetpin", v);
      break;
    }
    case 6: {
      OutInt v(1);
      const int j = in.index(0, njnt - 1);
      mbgetpres(j, in.index(0, 6), v.data());
      check_refused("mbgetpres", v);
      break;
    }
    case 7: { Out a(1), b(1); mbgetstab(a.data(), b.data()); break; }
    case 8: { OutInt info(12); mbinfo(info.data()); break; }
    case 9: {
      OutInt info(11), trans(6);
      mbjnt(in.index(0, njnt - 1), info.data(), trans.data());
      check_refused("mbjnt", info, trans);
      break;
    }
    case 10: { const int j = in.index(0, njnt - 1); mbindx(j, in.index(0, 6)); break; }
    default: mbcons(in.index(0, 1));
  }
}

void call_conversion(Bytes& in, Session& s) {
  std::vector<double> st(nq), ang(nu);
  if (in.u8() % 2) st = s.q;
  else in.reals(st.data(), nq, 2.0);
  switch (in.u8() % 5) {
    case 0: mbst2ang(st.data(), ang.data()); break;
    case 1: mbst2ang(st.data(), st.data()); break;
    case 2: in.reals(ang.data(), nu, 2.0); mbang2st(ang.data(), st.data()); break;
    case 3: mbang2st(st.data(), st.data()); break;
    default:
      if (in.u8() % 2) mbnormst(st.data(), st.data());
      else { std::vector<double> out(nq); mbnormst(st.data(), out.data()); }
  }
}

void call_kinematics(Bytes& in) {
  const int body = in.index(-1, nbody - 1);
  std::vector<double> pt(3);
  in.reals(pt.data(), 3, 0.3);
  Out out(3);
  switch (in.u8() % 8) {
    case 0: mbpos(body, pt.data(), out.data()); check_refused("mbpos", out); break;
    case 1: mbvel(body, pt.data(), out.data()); check_refused("mbvel", out); break;
    case 2: mbpos(body, pt.data(), pt.data()); break;
    case 3: {
      Out rot(9);
      mborient(body, reinterpret_cast<double(*)[3]>(rot.data()));
      check_refused("mborient", rot);
      break;
    }
    case 4: mbangvel(body, out.data()); check_refused("mbangvel", out); break;
    case 5: mbtrans(body, pt.data(), in.index(-1, nbody - 1), out.data()); check_refused("mbtrans", out); break;
    case 6: mbacc(body, pt.data(), out.data()); check_refused("mbacc", out); break;
    default: mbangacc(body, out.data()); check_refused("mbangacc", out);
  }
}

void call_load(Bytes& in) {
  switch (in.u8() % 4) {
    case 0: {
      const int j = in.index(0, njnt - 1), axis = in.index(0, 6);
      mbhinget(j, axis, in.real(5.0));
      break;
    }
    case 1: {
      const int body = in.index(-1, nbody - 1);
      std::vector<double> pt(3), f(3);
      in.reals(pt.data(), 3, 0.3);
      in.reals(f.data(), 3, 10.0);
      mbpointf(body, pt.data(), f.data());
      break;
    }
    case 2: {
      const int body = in.index(-1, nbody - 1);
      std::vector<double> tq(3);
      in.reals(tq.data(), 3, 5.0);
      mbbodyt(body, tq.data());
      break;
    }
    default: {
      const int j = in.index(0, njnt - 1), axis = in.index(0, 6);
      Out v(1);
      mbgetht(j, axis, v.data());
      check_refused("mbgetht", v);
    }
  }
}

void call_stubs() {
  Out e(1);
  mbpseudo();
  mbpsqdot();
  mbpsudot();
  mbperr(e.data());
  mbverr(e.data());
  mbaerr();
  mbpresacc();
  mbpresvel();
  mbprespos();
  if (!e.intact()) fail("a constraint stub wrote its output");
}

void call_dynamics(Bytes& in) {
  switch (in.u8() % 7) {
    case 0: {
      Out qdot(nq), udot(nu);
      mbderiv(qdot.data(), udot.data());
      check_refused("mbderiv", qdot, udot);
      break;
    }
    case 1: {
      std::vector<double> qdot_in(nq), udot_in(nu);
      in.reals(qdot_in.data(), nq);
      in.reals(udot_in.data(), nu);
      Out resid(nq + nu);
      mbresid(qdot_in.data(), udot_in.data(), nullptr, resid.data());
      check_refused("mbresid", resid);
      break;
    }
    case 2: {
      // The residuals written over the estimates they come from.
      std::vector<double> buf(nq + nu);
      in.reals(buf.data(), nq + nu);
      mbresid(buf.data(), buf.data() + nq, nullptr, buf.data());
      break;
    }
    case 3: {
      Out mult(1);
      OutInt nviol(1);
      mbmult(mult.data(), nviol.data());
      if (!mult.intact()) fail("mbmult wrote mult");
      check_refused("mbmult", nviol);
      break;
    }
    case 4: {
      Out f(3 * nbody), tq(3 * nbody);
      mbreac(reinterpret_cast<double(*)[3]>(f.data()), reinterpret_cast<double(*)[3]>(tq.data()));
      check_refused("mbreac", f, tq);
      break;
    }
    case 5: {
      Out l(3), a(3), ke(1);
      mbmom(l.data(), a.data(), ke.data());
      check_refused("mbmom", l, a, ke);
      break;
    }
    default: {
      Out msum(1), cm(3), I(9);
      mbsys(msum.data(), cm.data(), reinterpret_cast<double(*)[3]>(I.data()));
      check_refused("mbsys", msum, cm, I);
    }
  }
}

void call_internal(Bytes& in) {
  std::vector<double> v(nu);
  in.reals(v.data(), nu);
  switch (in.u8() % 13) {
    case 0: { Out mm(nu * nu); qel::mbmassmtx(mm.data()); check_refused("mbmassmtx", mm); break; }
    case 1: { Out g(nu); qel::mbgetgenf(g.data()); check_refused("mbgetgenf", g); break; }
    case 2: { Out ht(nu); qel::mbinvdyn(v.data(), nullptr, ht.data()); check_refused("mbinvdyn", ht); break; }
    case 3: { Out ht(nu); qel::mbudot2ht(v.data(), ht.data()); check_refused("mbudot2ht", ht); break; }
    case 4: { Out ht(nu); qel::mbmult2ht(nullptr, ht.data()); break; }
    case 5: { Out ht(nu); qel::mbloadht(ht.data()); check_refused("mbloadht", ht); break; }
    case 6: {
      const int axis = in.index(0, nu - 1), body = in.index(-1, nbody - 1);
      std::vector<double> pt(3);
      in.reals(pt.data(), 3, 0.3);
      Out lin(3), ang(3);
      qel::mbpartvel(axis, body, pt.data(), lin.data(), ang.data());
      check_refused("mbpartvel", lin, ang);
      break;
    }
    case 7: { Out qd(nq); qel::mbgetqdot(qd.data()); check_refused("mbgetqdot", qd); break; }
    case 8: {
      if (in.u8() % 2) {
        Out qd(nq);
        qel::mbu2qdot(v.data(), qd.data());
        check_refused("mbu2qdot", qd);
      } else {
        std::vector<double> w(nq);
        std::copy(v.begin(), v.end(), w.begin());
        qel::mbu2qdot(w.data(), w.data());
      }
      break;
    }
    case 9: { Out ud(nu); qel::mbcompudot(ud.data()); check_refused("mbcompudot", ud); break; }
    case 10: { Out ud(nu); qel::mbzeroudot(nullptr, ud.data()); check_refused("mbzeroudot", ud); break; }
    case 11: qel::mbsetudot(v.data()); break;
    default:
      // Routines nothing in the module calls yet.
      switch (in.u8() % 8) {
        case 0: qel::mbgenfcopy(); break;
        case 1: qel::mbgenfzero(); break;
        case 2: qel::mbgenfsum(); break;
        case 3: qel::mbgenfzerob(); break;
        case 4: qel::mbgenfsumb(); break;
        case 5: qel::mbmarkstate(); break;
        case 6: qel::mbclrmark(); break;
        default: qel::mbloadhookb(0.0, v.data(), v.data());
      }
  }
}

void call_driver(Bytes& in, Session& s) {
  std::vector<double> x = state_vector(s);
  const int mutations = in.u8() % 3;
  for (int i = 0; i < mutations; ++i) x[in.u8() % (nq + nu)] = in.real(3.0);
  const double t = in.real(10.0);
  int n_evals = -1, err = -1;
  switch (in.u8() % 6) {
    case 0: {
      std::vector<int> lock(nu);
      const double tol = in.real();
      mbassemble(t, x.data(), lock.data(), tol, small_budget(in), &n_evals, &err);
      break;
    }
    case 1: {
      std::vector<int> lock(nu);
      const double tol = in.real();
      mbinitvel(t, x.data(), lock.data(), tol, small_budget(in), &n_evals, &err);
      break;
    }
    case 2:
    case 3: {
      const bool steady = in.u8() % 2;
      std::vector<int> lock((steady ? 2 : 1) * nu);
      for (int& l : lock) l = in.u8() % 3 == 0;
      const int* lk = in.u8() % 4 == 0 ? nullptr : lock.data();
      const double req_tol = std::fabs(in.real(1e-3));
      const double tol = std::fabs(in.real(1e-3));
      const int budget = small_budget(in);
      if (steady) mbsteady(t, x.data(), lk, req_tol, tol, budget, &n_evals, &err);
      else mbstatic(t, x.data(), lk, req_tol, tol, budget, &n_evals, &err);
      if (err < 0 || err > 2) fail("analysis err outside 0..2", err);
      break;
    }
    case 4: {
      double tt = t;
      std::vector<double> rate(nq + nu);
      int flag = in.u8() % 2;
      const double dt = in.real(0.01), req_tol = in.real(1e-3), tol = in.real(1e-3);
      mbmotion(&tt, x.data(), rate.data(), dt, req_tol, tol, &flag, &err);
      break;
    }
    default: {
      double tt = t, err_est = 0.0;
      std::vector<double> rate(nq + nu);
      int flag = in.u8() % 2;
      const double dt = in.real(0.01), req_tol = in.real(1e-3);
      mbfmotion(&tt, x.data(), rate.data(), dt, req_tol, &flag, &err_est, &err);
    }
  }
}

void call_registration(Bytes& in) {
  const uint8_t c = in.u8();
  switch (c % 5) {
    case 0:
      host.listening = !(c & 8);
      mbseterrRegister(&host, host.listening ? on_report : nullptr);
      break;
    case 1: mberrorRegister(&host, (c & 8) ? nullptr : on_query); break;
    case 2: host.query_mode = (c >> 3) % 3; break;
    case 3: host.last_routine = 0; host.last_code = 0; break;  // the host clears its record
    default:
      if (GetModelInterfaceVersion() != QEL_INTERFACE_VERSION) fail("interface version");
  }
}

void step(Bytes& in, Session& s) {
  host.refused = false;
  const int op = in.u8() % 20;
  if (trace) std::fprintf(stderr, "step %d, call state %d\n", op, qel::control.call_state);
  switch (op) {
    case 0:
    case 1: {
      // A plausible creature, perhaps with one parameter spoilt, then mbinit.
      // Postures are drawn for the unspoilt creature: its pins keep the
      // gimbal-lock redraw from looping.
      s.creature = qeltest::make_creature(s.m, in.u8());
      qeltest::Creature supplied = *s.creature;
      if (in.u8() % 4 == 0) spoil(in, supplied);
      qeltest::supply(s.m, supplied, in.u8() % 8 != 0);
      break;
    }
    case 2: mbinit(); break;
    case 3: call_setter(in); break;
    case 4: call_getter(in); break;
    case 5:
    case 6:
      choose_state(in, s);
      mbstate(s.t, s.q.data(), s.u.data());
      break;
    case 7: mbpsstate(); break;
    case 8: call_conversion(in, s); break;
    case 9:
    case 10: call_kinematics(in); break;
    case 11: call_load(in); break;
    case 12: call_stubs(); break;
    case 13:
    case 14: call_dynamics(in); break;
    case 15: call_internal(in); break;
    case 16: call_driver(in, s); break;
    case 17: call_registration(in); break;
    case 18: call_mbroot(in); break;
    default:
      switch (in.u8() % 3) {
        case 0: call_mblsslv(in); break;
        case 1: call_orientation(in); break;
        default: call_vrot(in);
      }
  }
  if (qel::control.call_state < 0 || qel::control.call_state > 3) fail("call state", qel::control.call_state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qelfuzz::reset_module();
  host = HostRecord{};
  Bytes in(data, size);
  // Most hosts register both callbacks first; the first byte may say otherwise.
  const uint8_t setup = in.u8();
  if (setup % 8 != 7) {
    host.listening = true;
    mbseterrRegister(&host, on_report);
    mberrorRegister(&host, on_query);
  }
  Session s;
  for (int n = 0; n < 64 && !in.empty(); ++n) step(in, s);
  return 0;
}
