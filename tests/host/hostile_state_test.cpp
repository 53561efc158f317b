// Every exported routine called in every call state with sensible arguments:
// each call gives exactly the reports its call state calls for, a refused
// call writes nothing, and no call leaves a trace in the module's later
// answer. Then non-finite and extreme values in the double arguments that
// the state and load tests leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/creature.hpp"
#include "host/hostile.hpp"
#include "host/module.hpp"

namespace {

using qeltest::kIntSentinel;
using qeltest::kSentinel;
using qeltest::Module;
using qeltest::Report;

// The call states a host can leave a module in.
enum State { kFresh, kSupplied, kInitialized, kStateSet, kAccelerations, kChanged, kStates };
const char* const kStateNames[kStates] = {"fresh",          "supplied, no mbinit",     "after mbinit",
                                          "after mbstate",  "after mbderiv",           "parameter changed"};

struct Outcome {
  std::vector<Report> reports;
  bool refused = false;  // nothing may be written
};
using PerState = std::array<Outcome, kStates>;

PerState allowed_everywhere() { return {}; }

PerState reported_everywhere(Report r) {
  PerState e;
  for (Outcome& o : e) o = {{r}, true};
  return e;
}

// Refused with these reports in every state but the allowed ones.
PerState allowed_only_in(std::initializer_list<State> allowed, std::vector<Report> refusal) {
  PerState e;
  for (Outcome& o : e) o = {refusal, true};
  for (State s : allowed) e[s] = {};
  return e;
}

constexpr std::initializer_list<State> kStateIsSet = {kStateSet, kAccelerations};
constexpr std::initializer_list<State> kInitDone = {kInitialized, kStateSet, kAccelerations};

PerState needs_state(int routine) { return allowed_only_in(kStateIsSet, {{routine, QEL_E_NEEDS_STATE}}); }
PerState needs_exactly_state(int routine) { return allowed_only_in({kStateSet}, {{routine, QEL_E_NEEDS_STATE}}); }
PerState needs_accelerations(int routine) {
  return allowed_only_in({kAccelerations}, {{routine, QEL_E_NEEDS_ACCELERATIONS}});
}

// Caller arrays: every output goes into d or i, which start as sentinels.
using Io = qeltest::SentinelOutputs;

// Two unknowns, two linear residuals: x = (1, -2).
void linear_residual(const double* x, void*, double* f) {
  f[0] = x[0] - 1.0;
  f[1] = x[1] + 2.0 * x[0];
}
void nan_residual(const double*, void*, double* f) { f[0] = f[1] = std::nan(""); }

// mbroot on a two-by-two problem with its own work arrays.
struct RootCall {
  double x[2] = {0.0, 0.0}, f[2] = {}, J[4] = {}, dwork[64] = {}, rwork[64] = {};
  int lock[2] = {0, 0}, iwork[64] = {}, n_evals = -1, err = -1;
  void run(Module& m, qel_residual_fn fn, int nk, double req_tol, double goal_tol, int max_evals) {
    m.mbroot(fn, x, nullptr, 2, 2, nk, lock, req_tol, goal_tol, max_evals, J, dwork, rwork, iwork, f, &n_evals,
             &err);
  }
};

struct Row {
  const char* name;
  std::function<void(Module&, Io&, State)> call;
  PerState expect;
  bool needs_init = false;  // the later answer needs a new mbinit
};

class HostileState : public ::testing::TestWithParam<qeltest::ModelDims> {
 protected:
  HostileState()
      : d(GetParam()), nq(d.nu + 1), probe(d.name), c(qeltest::make_creature(probe, 3)),
        p(qeltest::random_posture(probe, c, 9)), p2(qeltest::random_posture(probe, c, 10)) {
    state_vector = p2.q;
    state_vector.insert(state_vector.end(), p2.u.begin(), p2.u.end());
  }

  // Brings a fresh module into call state s by the ordinary road.
  void enter(Module& m, State s) {
    if (s == kFresh) return;
    qeltest::supply(m, c, s != kSupplied);
    if (s == kInitialized || s == kSupplied) return;
    m.mbstate(0.25, p2.q.data(), p2.u.data());
    if (s == kStateSet) return;
    m.mbhinget(1, 0, 0.5);
    std::vector<double> qdot(nq), udot(d.nu);
    m.mbderiv(qdot.data(), udot.data());
    if (s == kChanged) m.mbmass(1, c.mass[1]);
  }

  // The shortest road from state s to the evaluation of evaluate(). Every
  // mbinit rescales the pins, which may move their last bit, so the pins
  // are given again before each one: then every road has scaled them once.
  std::vector<double> later_answer(Module& m, State s, bool reinit) {
    if (s == kFresh) qeltest::supply(m, c, false);
    if (s == kFresh || s == kSupplied || s == kChanged || reinit) {
      for (int j = 0; j < d.nbody; ++j)
        for (int k = 0; k < static_cast<int>(c.pins[j].size()); ++k) m.mbpin(j, k, c.pins[j][k].data());
      m.mbinit();
    }
    return qeltest::evaluate(m, p, d.nu);
  }

  std::vector<Row> rows();
  std::vector<Report> mbinit_with_nothing_supplied() const;

  const qeltest::ModelDims d;
  const int nq;
  Module probe;  // only asked for the creature and postures
  const qeltest::Creature c;
  const qeltest::Posture p, p2;
  std::vector<double> state_vector;  // p2 as the analysis drivers take it
};

// 25 per gravity component; per body 26, then per row 29, 30 and three 27;
// 28 per pin component of every non-root axis; then one (7, 1) per such pin,
// since every one of them is zero.
std::vector<Report> HostileState::mbinit_with_nothing_supplied() const {
  std::vector<Report> r(3, {QEL_R_MBINIT, QEL_E_GRAVITY_MISSING});
  for (int b = 0; b < d.nbody; ++b) {
    r.push_back({QEL_R_MBINIT, QEL_E_MASS_MISSING});
    for (int k = 0; k < 3; ++k) {
      r.push_back({QEL_R_MBINIT, QEL_E_BTJ_MISSING});
      r.push_back({QEL_R_MBINIT, QEL_E_ITJ_MISSING});
      r.insert(r.end(), 3, {QEL_R_MBINIT, QEL_E_INERTIA_MISSING});
    }
  }
  r.insert(r.end(), 3 * (d.nu - 6), {QEL_R_MBINIT, QEL_E_PIN_MISSING});
  r.insert(r.end(), d.nu - 6, {QEL_R_MBINIT, QEL_E_PIN_TOO_SHORT});
  return r;
}

std::vector<Row> HostileState::rows() {
  const int nu = d.nu, nbody = d.nbody;
  const double pt[3] = {0.1, -0.2, 0.3};
  PerState init_reports;
  init_reports[kFresh].reports = mbinit_with_nothing_supplied();
  // Every evaluation of a driver runs mbstate, and the solving ones mbderiv;
  // in call state 0 both refuse.
  const Report not_initialized{QEL_R_MBSTATE, QEL_E_NOT_INITIALIZED};
  const Report no_state{QEL_R_MBDERIV, QEL_E_NEEDS_STATE};
  const PerState one_evaluation = allowed_only_in(kInitDone, {not_initialized});
  const PerState full_evaluation = allowed_only_in(kInitDone, {not_initialized, no_state});
  // The solving drivers in call state 0 evaluate once and leave the host's
  // state vector alone.
  auto refused_solve = [this](State s, const std::vector<double>& sv, int n_evals, int err) {
    if (s != kFresh && s != kSupplied && s != kChanged) return;
    EXPECT_EQ(sv, state_vector);
    EXPECT_EQ(n_evals, 1);
    EXPECT_EQ(err, 2);
  };

  return {
      {"GetModelInterfaceVersion", [](Module& m, Io&, State) { EXPECT_EQ(m.GetModelInterfaceVersion(), 5); },
       allowed_everywhere()},
      {"mbseterrRegister", [](Module& m, Io&, State) { m.mbseterrRegister(&m, Module::on_report); },
       allowed_everywhere()},
      {"mberrorRegister", [](Module& m, Io&, State) { m.mberrorRegister(&m, Module::on_query); },
       allowed_everywhere()},
      {"mbinit", [](Module& m, Io&, State) { m.mbinit(); }, init_reports, true},
      {"mbgrav", [this](Module& m, Io&, State) { m.mbgrav(c.gravity.data()); }, allowed_everywhere(), true},
      {"mbmass", [this](Module& m, Io&, State) { m.mbmass(1, c.mass[1]); }, allowed_everywhere(), true},
      {"mbiner", [this](Module& m, Io&, State) { m.mbiner(1, c.inertia[1].data()); }, allowed_everywhere(), true},
      {"mbbtj", [this](Module& m, Io&, State) { m.mbbtj(1, c.btj[1].data()); }, allowed_everywhere(), true},
      {"mbitj", [this](Module& m, Io&, State) { m.mbitj(1, c.itj[1].data()); }, allowed_everywhere(), true},
      {"mbpin", [this](Module& m, Io&, State) { m.mbpin(1, 0, c.pins[1][0].data()); }, allowed_everywhere(), true},
      {"mbpres", [](Module& m, Io&, State) { m.mbpres(1, 0, 0); },
       reported_everywhere({QEL_R_MBPRES, QEL_E_ALL_FIXED})},
      {"mbstab",
       [](Module& m, Io&, State) {
         double s0, s1;
         m.mbgetstab(&s0, &s1);
         m.mbstab(s0, s1);
       },
       allowed_everywhere()},
      {"mbgetgrav", [](Module& m, Io& o, State) { m.mbgetgrav(o.d.data()); }, allowed_everywhere()},
      {"mbgetmass", [](Module& m, Io& o, State) { m.mbgetmass(1, o.d.data()); }, allowed_everywhere()},
      {"mbgetiner", [](Module& m, Io& o, State) { m.mbgetiner(1, o.d.data()); }, allowed_everywhere()},
      {"mbgetbtj", [](Module& m, Io& o, State) { m.mbgetbtj(1, o.d.data()); }, allowed_everywhere()},
      {"mbgetitj", [](Module& m, Io& o, State) { m.mbgetitj(1, o.d.data()); }, allowed_everywhere()},
      {"mbgetpin", [](Module& m, Io& o, State) { m.mbgetpin(1, 0, o.d.data()); }, allowed_everywhere()},
      {"mbgetpres", [](Module& m, Io& o, State) { m.mbgetpres(1, 0, o.i.data()); }, allowed_everywhere()},
      {"mbgetstab", [](Module& m, Io& o, State) { m.mbgetstab(&o.d[0], &o.d[1]); }, allowed_everywhere()},
      {"mbinfo", [](Module& m, Io& o, State) { m.mbinfo(o.i.data()); }, allowed_everywhere()},
      {"mbjnt", [](Module& m, Io& o, State) { m.mbjnt(1, o.i.data(), o.i.data() + 11); }, allowed_everywhere()},
      {"mbindx", [](Module& m, Io& o, State) { o.i[0] = m.mbindx(0, 6); }, allowed_everywhere()},
      {"mbcons", [](Module& m, Io&, State) { m.mbcons(0); },
       reported_everywhere({QEL_R_MBCONS, QEL_E_NO_SUCH_CONSTRAINT})},
      {"mbang2dc", [](Module& m, Io& o, State) { m.mbang2dc(0.1, 0.2, 0.3, o.d.data()); }, allowed_everywhere()},
      {"mbdc2ang",
       [pt](Module& m, Io& o, State) {
         double dc[9];
         m.mbang2dc(pt[0], pt[1], pt[2], dc);
         m.mbdc2ang(dc, &o.d[0], &o.d[1], &o.d[2]);
         EXPECT_NEAR(o.d[1], pt[1], 1e-14);
       },
       allowed_everywhere()},
      {"mbquat2dc", [](Module& m, Io& o, State) { m.mbquat2dc(0.1, 0.2, 0.3, 0.9, o.d.data()); },
       allowed_everywhere()},
      {"mbdc2quat",
       [](Module& m, Io& o, State) {
         const double dc[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
         m.mbdc2quat(dc, &o.d[0], &o.d[1], &o.d[2], &o.d[3]);
         EXPECT_EQ(o.d[3], 1.0);
       },
       allowed_everywhere()},
      {"mblsslv",
       [](Module& m, Io& o, State) {
         const double A[4] = {2, 1, 1, 3}, b[2] = {3, 5};
         const int map[2] = {0, 1};
         double dwork[16], rwork[16];
         int iwork[16];
         m.mblsslv(2, 2, 2, 2, 0, map, map, 1e-13, dwork, rwork, iwork, A, b, o.d.data());
         EXPECT_NEAR(o.d[0], 0.8, 1e-12);
         EXPECT_NEAR(o.d[1], 1.4, 1e-12);
       },
       allowed_everywhere()},
      {"mbroot",
       [](Module& m, Io&, State) {
         RootCall r;
         r.run(m, linear_residual, 0, 1e-10, 1e-10, 50);
         EXPECT_EQ(r.err, 0);
         EXPECT_NEAR(r.x[1], -2.0, 1e-8);
       },
       allowed_everywhere()},
      {"mbstate", [this](Module& m, Io&, State) { m.mbstate(0.75, p2.q.data(), p2.u.data()); },
       allowed_only_in(kInitDone, {not_initialized})},
      {"mbpsstate", [](Module& m, Io&, State) { m.mbpsstate(); }, needs_exactly_state(QEL_R_MBPSSTATE)},
      {"mbst2ang", [this](Module& m, Io& o, State) { m.mbst2ang(p2.q.data(), o.d.data()); }, allowed_everywhere()},
      {"mbang2st", [this](Module& m, Io& o, State) { m.mbang2st(p2.q.data(), o.d.data()); }, allowed_everywhere()},
      {"mbnormst", [this](Module& m, Io& o, State) { m.mbnormst(p2.q.data(), o.d.data()); }, allowed_everywhere()},
      {"mbpos", [pt](Module& m, Io& o, State) { m.mbpos(1, pt, o.d.data()); }, needs_state(QEL_R_MBPOS)},
      {"mbvel", [pt](Module& m, Io& o, State) { m.mbvel(1, pt, o.d.data()); }, needs_state(QEL_R_MBVEL)},
      {"mborient", [](Module& m, Io& o, State) { m.mborient(1, o.rows()); }, needs_state(QEL_R_MBORIENT)},
      {"mbangvel", [](Module& m, Io& o, State) { m.mbangvel(1, o.d.data()); }, needs_state(QEL_R_MBANGVEL)},
      {"mbtrans", [pt](Module& m, Io& o, State) { m.mbtrans(1, pt, 2, o.d.data()); }, needs_state(QEL_R_MBTRANS)},
      {"mbacc", [pt](Module& m, Io& o, State) { m.mbacc(1, pt, o.d.data()); }, needs_accelerations(QEL_R_MBACC)},
      {"mbangacc", [](Module& m, Io& o, State) { m.mbangacc(1, o.d.data()); }, needs_accelerations(QEL_R_MBANGACC)},
      {"mbhinget", [](Module& m, Io&, State) { m.mbhinget(1, 0, 2.0); }, needs_exactly_state(QEL_R_MBHINGET)},
      {"mbpointf", [pt](Module& m, Io&, State) { m.mbpointf(1, pt, pt); }, needs_exactly_state(QEL_R_MBPOINTF)},
      {"mbbodyt", [pt](Module& m, Io&, State) { m.mbbodyt(1, pt); }, needs_exactly_state(QEL_R_MBBODYT)},
      {"mbgetht",
       [](Module& m, Io& o, State s) {
         m.mbgetht(1, 0, o.d.data());
         if (s == kAccelerations) EXPECT_EQ(o.d[0], 0.5);  // the load of enter()
       },
       needs_accelerations(QEL_R_MBGETHT)},
      // The constraint stubs write nothing, whatever the state.
      {"mbpseudo", [](Module& m, Io&, State) { m.mbpseudo(); }, allowed_everywhere()},
      {"mbpsqdot", [](Module& m, Io&, State) { m.mbpsqdot(); }, allowed_everywhere()},
      {"mbpsudot", [](Module& m, Io&, State) { m.mbpsudot(); }, allowed_everywhere()},
      {"mbperr",
       [](Module& m, Io& o, State) {
         m.mbperr(o.d.data());
         EXPECT_TRUE(o.untouched());
       },
       allowed_everywhere()},
      {"mbverr",
       [](Module& m, Io& o, State) {
         m.mbverr(o.d.data());
         EXPECT_TRUE(o.untouched());
       },
       allowed_everywhere()},
      {"mbaerr", [](Module& m, Io&, State) { m.mbaerr(); }, allowed_everywhere()},
      {"mbpresacc", [](Module& m, Io&, State) { m.mbpresacc(); }, allowed_everywhere()},
      {"mbpresvel", [](Module& m, Io&, State) { m.mbpresvel(); }, allowed_everywhere()},
      {"mbprespos", [](Module& m, Io&, State) { m.mbprespos(); }, allowed_everywhere()},
      {"mbmom", [](Module& m, Io& o, State) { m.mbmom(o.d.data(), o.d.data() + 3, o.d.data() + 6); },
       needs_state(QEL_R_MBMOM)},
      {"mbsys",
       [](Module& m, Io& o, State) {
         m.mbsys(o.d.data(), o.d.data() + 1, reinterpret_cast<double(*)[3]>(o.d.data() + 4));
       },
       needs_state(QEL_R_MBSYS)},
      {"mbderiv", [nq = nq](Module& m, Io& o, State) { m.mbderiv(o.d.data(), o.d.data() + nq); },
       needs_state(QEL_R_MBDERIV)},
      {"mbresid",
       [this, nu](Module& m, Io& o, State) {
         const std::vector<double> udot_in(nu, 0.1);
         m.mbresid(p2.q.data(), udot_in.data(), nullptr, o.d.data());
       },
       needs_state(QEL_R_MBRESID)},
      {"mbmult",
       [](Module& m, Io& o, State s) {
         double mult[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
         m.mbmult(mult, o.i.data());
         for (double x : mult) EXPECT_EQ(x, kSentinel);
         if (s == kAccelerations) EXPECT_EQ(o.i[0], 0);
       },
       needs_accelerations(QEL_R_MBMULT)},
      {"mbreac", [nbody](Module& m, Io& o, State) { m.mbreac(o.rows(), o.rows() + nbody); },
       needs_accelerations(QEL_R_MBREAC)},
      {"mbassemble",
       [this](Module& m, Io&, State) {
         std::vector<double> sv = state_vector;
         int n_evals = -1, err = -1;
         m.mbassemble(0.25, sv.data(), nullptr, 1e-9, 5, &n_evals, &err);
         EXPECT_EQ(n_evals, 1);
         EXPECT_EQ(err, 0);
       },
       one_evaluation},
      {"mbinitvel",
       [this](Module& m, Io&, State) {
         std::vector<double> sv = state_vector;
         int n_evals = -1, err = -1;
         m.mbinitvel(0.25, sv.data(), nullptr, 1e-9, 5, &n_evals, &err);
         EXPECT_EQ(sv, state_vector);
         EXPECT_EQ(n_evals, 1);
         EXPECT_EQ(err, 0);
       },
       one_evaluation},
      // max_evals 1: one evaluation, then the final one, and no step taken.
      {"mbstatic",
       [this, refused_solve](Module& m, Io&, State s) {
         std::vector<double> sv = state_vector;
         int n_evals = -1, err = -1;
         m.mbstatic(0.25, sv.data(), nullptr, 1e-9, 1e-9, 1, &n_evals, &err);
         refused_solve(s, sv, n_evals, err);
       },
       full_evaluation},
      {"mbsteady",
       [this, refused_solve](Module& m, Io&, State s) {
         std::vector<double> sv = state_vector;
         int n_evals = -1, err = -1;
         m.mbsteady(0.25, sv.data(), nullptr, 1e-9, 1e-9, 1, &n_evals, &err);
         refused_solve(s, sv, n_evals, err);
       },
       full_evaluation},
      {"mbmotion",
       [this](Module& m, Io& o, State) {
         std::vector<double> sv = state_vector;
         double t = 0.25;
         int flag = 1, err = -1;
         m.mbmotion(&t, sv.data(), o.d.data(), 0.01, 1e-6, 1e-6, &flag, &err);
         EXPECT_EQ(t, 0.25);
         EXPECT_EQ(sv, state_vector);
         EXPECT_EQ(flag, 0);
         EXPECT_EQ(err, 0);
       },
       full_evaluation},
      {"mbfmotion",
       [this](Module& m, Io& o, State) {
         std::vector<double> sv = state_vector;
         double t = 0.25, err_est = kSentinel;
         int flag = 1, err = -1;
         m.mbfmotion(&t, sv.data(), o.d.data(), 0.01, 1e-6, &flag, &err_est, &err);
         EXPECT_EQ(t, 0.25);
         EXPECT_EQ(sv, state_vector);
         EXPECT_EQ(flag, 0);
         EXPECT_EQ(err, 0);
         EXPECT_EQ(err_est, kSentinel);
       },
       full_evaluation},
  };
}

TEST_P(HostileState, EveryRoutineInEveryCallStateReportsAsDefinedAndLeavesNoTrace) {
  std::vector<Row> table = rows();
  // Every exported routine has its row.
  std::vector<std::string> names;
  for (const Row& r : table) names.push_back(r.name);
#define QEL_ROUTINE(fn) EXPECT_NE(std::find(names.begin(), names.end(), #fn), names.end()) << #fn " has no row";
#include "host/routines.inc"
#undef QEL_ROUTINE

  const int buffer = 2 * (nq + d.nu) + 6 * d.nbody;
  for (int s = 0; s < kStates; ++s) {
    const State state = static_cast<State>(s);
    Module reference(d.name);
    enter(reference, state);
    ASSERT_TRUE(reference.take_reports().empty()) << kStateNames[s];
    const std::vector<double> expected = later_answer(reference, state, false);
    ASSERT_TRUE(reference.take_reports().empty()) << kStateNames[s];

    for (const Row& row : table) {
      SCOPED_TRACE(std::string(row.name) + " " + kStateNames[s]);
      Module m(d.name);
      enter(m, state);
      m.take_reports();
      Io io(buffer);
      row.call(m, io, state);
      const Outcome& want = row.expect[s];
      EXPECT_EQ(m.take_reports(), want.reports);
      if (want.refused) EXPECT_TRUE(io.untouched());

      const std::vector<double> after = later_answer(m, state, row.needs_init);
      EXPECT_TRUE(m.take_reports().empty());
      ASSERT_EQ(after.size(), expected.size());
      for (size_t k = 0; k < after.size(); ++k) EXPECT_EQ(after[k], expected[k]) << "rate " << k;
    }
  }
}

// Non-finite and extreme values in the double arguments of the numerical
// routines, the orientation and state conversions, the point queries, the
// analysis drivers and the stabilisation constants. Routines that never
// report stay silent; routines with an outcome word never claim success on
// a non-number; afterwards the module answers as if it had seen none of it.
TEST_P(HostileState, NonFiniteDoubleArgumentsNeverPassForSuccessAndLeaveNoTrace) {
  Module reference(d.name), m(d.name);
  enter(reference, kAccelerations);
  const std::vector<double> expected = later_answer(reference, kAccelerations, false);
  enter(m, kAccelerations);
  ASSERT_TRUE(m.take_reports().empty());
  double s0, s1;
  m.mbgetstab(&s0, &s1);

  auto quiet = [&](const std::string& what, const std::function<void()>& fn) {
    fn();
    EXPECT_TRUE(m.take_reports().empty()) << what;
  };
  const double nan = std::nan("");
  const double bad_values[] = {nan, INFINITY, -INFINITY, 1e308, -4.9e-324};
  std::vector<double> out(2 * (nq + d.nu)), work(4 * (nq + d.nu));
  for (double bad : bad_values) {
    const std::string at = " with " + std::to_string(bad);
    const bool is_nan = std::isnan(bad);

    quiet("orientation conversions" + at, [&] {
      double dc[9], a[3], e[4];
      m.mbang2dc(bad, 0.2, bad, dc);
      m.mbdc2ang(dc, &a[0], &a[1], &a[2]);
      m.mbquat2dc(bad, 0.1, 0.2, bad, dc);
      m.mbdc2quat(dc, &e[0], &e[1], &e[2], &e[3]);
      for (double& x : dc) x = bad;
      m.mbdc2ang(dc, &a[0], &a[1], &a[2]);
      m.mbdc2quat(dc, &e[0], &e[1], &e[2], &e[3]);
    });
    quiet("state conversions" + at, [&] {
      std::vector<double> st = p2.q;
      st[4] = bad;
      st[d.nu] = bad;
      m.mbst2ang(st.data(), out.data());
      m.mbang2st(out.data(), out.data());
      m.mbnormst(st.data(), out.data());
      st[4] = p2.q[4];
      m.mbst2ang(st.data(), st.data());
      st[3] = bad;
      m.mbang2st(st.data(), out.data());
    });
    quiet("point queries" + at, [&] {
      const double pt[3] = {bad, 0.1, bad};
      m.mbpos(1, pt, out.data());
      m.mbvel(1, pt, out.data());
      m.mbacc(1, pt, out.data());
      m.mbtrans(1, pt, -1, out.data());
    });
    quiet("mblsslv" + at, [&] {
      const double A[4] = {2, bad, 1, 3}, b[2] = {bad, 5};
      const int map[2] = {0, 1};
      double dwork[32], rwork[16], x[2];
      int iwork[16];
      for (int ngoal = 0; ngoal <= 2; ++ngoal) {
        m.mblsslv(2, 2, 2, 2, ngoal, map, map, bad, dwork, rwork, iwork, A, b, x);
        m.mblsslv(2, 2, 2, 2, ngoal, map, map, 1e-13, dwork, rwork, iwork, A, b, x);
      }
    });
    quiet("mbroot" + at, [&] {
      // A non-number tolerance is never met, and its steps all count as
      // slow, so even an unlimited budget ends; a negative tolerance is
      // never met either, but only the budget ends that solve.
      const int budget = is_nan || bad == INFINITY ? INT_MAX : 100;
      for (int nk : {0, 2, -2}) {
        RootCall r;
        r.run(m, linear_residual, nk, bad, bad, budget);
        if (is_nan || bad < 0.0) EXPECT_NE(r.err, 0) << "nk " << nk << at;
        EXPECT_LT(r.n_evals, budget == INT_MAX ? 1000 : budget + 10) << "nk " << nk << at;
      }
      RootCall r;
      r.x[0] = bad;
      r.run(m, linear_residual, 0, 1e-10, 1e-10, 50);
      if (!std::isfinite(bad)) EXPECT_EQ(r.err, 2) << "start" << at;
    });
    quiet("mbroot budgets", [&] {
      for (int max_evals : {INT_MIN, -1, 0, 1}) {
        RootCall r;
        r.run(m, linear_residual, 0, 1e-10, 1e-10, max_evals);
        EXPECT_EQ(r.n_evals, 1) << max_evals;
        EXPECT_EQ(r.err, 2) << max_evals;
      }
      RootCall r;
      r.run(m, nan_residual, 0, 1e-10, 1e-10, INT_MAX);
      EXPECT_EQ(r.err, 2);
      EXPECT_LT(r.n_evals, 10000);
    });
    quiet("mbresid" + at, [&] {
      std::vector<double> qdot_in = p2.q, udot_in(d.nu, bad);
      qdot_in[0] = bad;
      m.mbresid(qdot_in.data(), udot_in.data(), nullptr, out.data());
      m.mbgetht(1, 0, out.data());
    });

    // The analysis drivers may pass on reports of the routines they run,
    // but a solve with a non-number in its tolerance or state never ends
    // as converged.
    auto with_bad = [&](int entry) {
      std::vector<double> sv = state_vector;
      if (entry >= 0) sv[entry] = bad;
      return sv;
    };
    for (int entry : {-1, 0, 4, d.nu, nq + 3}) {
      const std::string where = " state entry " + std::to_string(entry) + at;
      const bool garbage_in = is_nan && entry >= 0;
      int n_evals = -1, err = -1;
      std::vector<double> sv = with_bad(entry);
      m.mbstatic(0.25, sv.data(), nullptr, 1e-9, 1e-9, 3, &n_evals, &err);
      if (garbage_in) EXPECT_NE(err, 0) << "mbstatic" << where;
      sv = with_bad(entry);
      m.mbsteady(0.25, sv.data(), nullptr, 1e-9, 1e-9, 3, &n_evals, &err);
      if (garbage_in) EXPECT_NE(err, 0) << "mbsteady" << where;
      sv = with_bad(entry);
      m.mbassemble(bad, sv.data(), nullptr, bad, -1, &n_evals, &err);
      EXPECT_EQ(n_evals, 1) << "mbassemble" << where;
      sv = with_bad(entry);
      m.mbinitvel(bad, sv.data(), nullptr, bad, INT_MAX, &n_evals, &err);
      EXPECT_EQ(n_evals, 1) << "mbinitvel" << where;
      sv = with_bad(entry);
      double t = bad, err_est = 0.0;
      int flag = 1;
      m.mbmotion(&t, sv.data(), out.data(), bad, bad, bad, &flag, &err);
      EXPECT_EQ(flag, 0);
      flag = 1;
      m.mbfmotion(&t, sv.data(), out.data(), bad, bad, &flag, &err_est, &err);
      EXPECT_EQ(err, 0) << "mbfmotion" << where;
    }
    for (double tol : {bad, 1e-9})
      for (int max_evals : {INT_MIN, 2, INT_MAX}) {
        if (!is_nan && max_evals == INT_MAX) continue;  // only a non-number keeps the solve short
        const std::string what = " tol " + std::to_string(tol) + " max_evals " + std::to_string(max_evals);
        int n_evals = -1, err = -1;
        std::vector<double> sv = state_vector;
        m.mbstatic(0.25, sv.data(), nullptr, bad, tol, max_evals, &n_evals, &err);
        if (is_nan) EXPECT_NE(err, 0) << "mbstatic" << what;
        EXPECT_LT(n_evals, 10000) << "mbstatic" << what;
        sv = state_vector;
        m.mbsteady(0.25, sv.data(), nullptr, bad, tol, max_evals, &n_evals, &err);
        if (is_nan) EXPECT_NE(err, 0) << "mbsteady" << what;
        EXPECT_LT(n_evals, 10000) << "mbsteady" << what;
      }
    m.take_reports();

    quiet("mbstab" + at, [&] {
      m.mbstab(bad, -bad);
      m.mbstate(0.25, p2.q.data(), p2.u.data());
      m.mbderiv(out.data(), out.data() + nq);
    });
  }
  // Values other than 0 and 1 are reported, then the axis is found fixed.
  for (int value : {INT_MIN, -1, 2, INT_MAX}) {
    m.mbpres(1, 0, value);
    const std::vector<Report> want = {{QEL_R_MBPRES, QEL_E_BAD_PRESCRIBED_VALUE}, {QEL_R_MBPRES, QEL_E_ALL_FIXED}};
    EXPECT_EQ(m.take_reports(), want) << value;
  }

  m.mbstab(s0, s1);
  const std::vector<double> after = later_answer(m, kAccelerations, false);
  EXPECT_TRUE(m.take_reports().empty());
  for (size_t k = 0; k < after.size(); ++k) EXPECT_EQ(after[k], expected[k]) << "rate " << k;
}

INSTANTIATE_TEST_SUITE_P(Modules, HostileState, ::testing::ValuesIn(qeltest::kModels),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
