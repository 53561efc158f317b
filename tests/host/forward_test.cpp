// Forward dynamics as a host sees it, against physics: accelerations are
// rates of the velocities, a tree at rest falls freely, internal torques
// conserve momentum, an integrated motion conserves energy and momentum, and
// the joint reactions carry the hinge torques and hold up the subtrees.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "host/creature.hpp"
#include "host/module.hpp"

using qeltest::ModelDims;
using qeltest::Module;
using qeltest::Report;
using qeltest::V3;

namespace {

V3 cross(const V3& a, const V3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
V3 mul(const double (&R)[3][3], const V3& v) {
  V3 r{};
  for (int i = 0; i < 3; ++i) r[i] = R[i][0] * v[0] + R[i][1] * v[1] + R[i][2] * v[2];
  return r;
}
V3 tmul(const double (&R)[3][3], const V3& v) {
  V3 r{};
  for (int i = 0; i < 3; ++i) r[i] = R[0][i] * v[0] + R[1][i] * v[1] + R[2][i] * v[2];
  return r;
}
V3 sub(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double norm(const V3& v) { return std::sqrt(qeltest::dot(v, v)); }

class Forward : public ::testing::TestWithParam<ModelDims> {
 protected:
  Forward() : m(GetParam().name), nbody(GetParam().nbody), nu(GetParam().nu), nq(GetParam().nu + 1) {}

  // A creature under gravity g, at a random posture of the seed with its
  // speeds scaled by `speed`; the state is set.
  void setup(unsigned seed, V3 g, double speed = 1.0) {
    c = qeltest::make_creature(m, seed);
    c.gravity = g;
    qeltest::supply(m, c);
    m.mbstab(0.0, 0.0);
    p = qeltest::random_posture(m, c, seed + 100);
    for (double& u : p.u) u *= speed;
    joints.clear();
    for (int j = 0; j < nbody; ++j) joints.push_back(qeltest::joint_info(m, j));
    set(p.q, p.u);
  }
  void set(const std::vector<double>& q, const std::vector<double>& u) { m.mbstate(0.0, q.data(), u.data()); }

  // Random hinge loads on every axis (from first_axis on), a point force and
  // a body torque on every body; returns the hinge loads per axis.
  std::vector<double> add_loads(unsigned seed, int first_axis = 0, bool body_loads = true) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> in(-1.0, 1.0);
    std::vector<double> ht(nu, 0.0);
    for (int j = 0; j < nbody; ++j)
      for (int a = 0; a < joints[j].dof; ++a) {
        const int k = joints[j].first_axis + a;
        if (k < first_axis) continue;
        ht[k] = 2.0 * in(rng);
        m.mbhinget(j, a, ht[k]);
      }
    if (!body_loads) return ht;
    for (int b = 0; b < nbody; ++b) {
      const double pt[3] = {0.2 * in(rng), 0.2 * in(rng), 0.2 * in(rng)};
      const double f[3] = {5.0 * in(rng), 5.0 * in(rng), 5.0 * in(rng)};
      const double t[3] = {in(rng), in(rng), in(rng)};
      m.mbpointf(b, pt, f);
      m.mbbodyt(b, t);
    }
    return ht;
  }

  void deriv(std::vector<double>& qdot, std::vector<double>& udot) {
    qdot.assign(nq, 0.0);
    udot.assign(nu, 0.0);
    m.mbderiv(qdot.data(), udot.data());
  }

  V3 pos(int b, const V3& pt) {
    V3 r;
    m.mbpos(b, pt.data(), r.data());
    return r;
  }
  V3 joint_point(int j) { return pos(j, c.btj[j]); }

  // Axis k's direction in body j's frame: its pin carried out through the
  // rotations of the joint's later axes.
  V3 pin_in_body(int j, int k, const std::vector<double>& q) {
    const int f = joints[j].first_axis, l = f + joints[j].dof - 1;
    V3 n = c.pins[j][k - f];
    for (int i = k + 1; i <= l; ++i) n = qeltest::rotate(n, c.pins[j][i - f], -q[i]);
    return n;
  }

  bool in_subtree(int b, int j) const {
    for (; b >= 0; b = joints[b].inboard)
      if (b == j) return true;
    return false;
  }

  Module m;
  int nbody, nu, nq;
  qeltest::Creature c;
  qeltest::Posture p;
  std::vector<qeltest::JointInfo> joints;
};

const V3 kGravity{0.4, -0.7, -9.81};
const V3 kOrigin{0.0, 0.0, 0.0};

// Central differences along the motion, q +- h qdot and u +- h udot, of the
// velocities of two points of every body and of its angular velocity.
TEST_P(Forward, AccelerationsAreRatesOfVelocities) {
  for (unsigned seed : {1u, 2u, 3u}) {
    setup(seed, kGravity);
    add_loads(seed);
    std::vector<double> qdot, udot;
    deriv(qdot, udot);
    const V3 pts[2] = {kOrigin, {0.1, -0.2, 0.15}};
    std::vector<V3> acc, angacc;
    for (int b = 0; b < nbody; ++b) {
      for (const V3& pt : pts) {
        V3 a;
        m.mbacc(b, pt.data(), a.data());
        acc.push_back(a);
      }
      V3 w;
      m.mbangacc(b, w.data());
      angacc.push_back(w);
    }
    const double h = 1e-5;
    std::vector<V3> vel[2], angvel[2];
    for (int s = 0; s < 2; ++s) {
      const double sg = s == 0 ? 1.0 : -1.0;
      std::vector<double> q = p.q, u = p.u;
      for (int i = 0; i < nq; ++i) q[i] += sg * h * qdot[i];
      for (int k = 0; k < nu; ++k) u[k] += sg * h * udot[k];
      set(q, u);
      for (int b = 0; b < nbody; ++b) {
        for (const V3& pt : pts) {
          V3 v;
          m.mbvel(b, pt.data(), v.data());
          vel[s].push_back(v);
        }
        V3 w;
        m.mbangvel(b, w.data());
        angvel[s].push_back(w);
      }
    }
    for (size_t i = 0; i < acc.size(); ++i)
      for (int r = 0; r < 3; ++r)
        EXPECT_NEAR((vel[0][i][r] - vel[1][i][r]) / (2 * h), acc[i][r], 1e-6 * (1.0 + norm(acc[i])))
            << "seed " << seed << " body " << i / 2 << " point " << i % 2;
    for (int b = 0; b < nbody; ++b)
      for (int r = 0; r < 3; ++r)
        EXPECT_NEAR((angvel[0][b][r] - angvel[1][b][r]) / (2 * h), angacc[b][r], 1e-6 * (1.0 + norm(angacc[b])))
            << "seed " << seed << " body " << b;
  }
  EXPECT_TRUE(m.take_reports().empty());
}

// At rest with no loads the whole tree falls with gravity: the root point
// accelerates with g, nothing turns, every point falls with g and no joint
// carries a load.
TEST_P(Forward, FreeFallFromRest) {
  setup(4, kGravity, 0.0);
  std::vector<double> qdot, udot;
  deriv(qdot, udot);
  for (int k = 0; k < nu; ++k) EXPECT_NEAR(udot[k], k < 3 ? kGravity[k] : 0.0, 1e-12) << "axis " << k;
  std::vector<double> force(3 * nbody), torque(3 * nbody);
  m.mbreac(reinterpret_cast<double(*)[3]>(force.data()), reinterpret_cast<double(*)[3]>(torque.data()));
  for (int b = 0; b < nbody; ++b) {
    const double pt[3] = {0.3, -0.1, 0.2};
    V3 a, w;
    m.mbacc(b, pt, a.data());
    m.mbangacc(b, w.data());
    const double weight = c.mass[b] * norm(kGravity);
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(a[r], kGravity[r], 1e-12) << "body " << b;
      EXPECT_NEAR(w[r], 0.0, 1e-12) << "body " << b;
      EXPECT_NEAR(force[3 * b + r], 0.0, 1e-12 * weight) << "body " << b;
      EXPECT_NEAR(torque[3 * b + r], 0.0, 1e-12 * weight) << "body " << b;
    }
  }
  EXPECT_TRUE(m.take_reports().empty());
}

// Without gravity, torques between bodies alone neither move the mass centre
// nor change the angular momentum about it:
//   sum m a = 0,  sum R (I alpha + w x I w) + (r - c) x m a = 0.
TEST_P(Forward, InternalTorquesConserveMomentum) {
  for (unsigned seed : {5u, 6u}) {
    setup(seed, kOrigin);
    add_loads(seed, 6, false);
    std::vector<double> qdot, udot;
    deriv(qdot, udot);
    double msum, cm[3], inertia[3][3];
    m.mbsys(&msum, cm, inertia);
    V3 lrate{}, arate{};
    double scale = 0.0;
    for (int b = 0; b < nbody; ++b) {
      V3 a, w, alpha;
      double R[3][3];
      m.mbacc(b, kOrigin.data(), a.data());
      m.mbangvel(b, w.data());
      m.mbangacc(b, alpha.data());
      m.mborient(b, R);
      const auto& I = c.inertia[b];
      auto Imul = [&](const V3& v) {
        return V3{I[0] * v[0] + I[1] * v[1] + I[2] * v[2], I[3] * v[0] + I[4] * v[1] + I[5] * v[2],
                  I[6] * v[0] + I[7] * v[1] + I[8] * v[2]};
      };
      const V3 Ia = Imul(alpha), wIw = cross(w, Imul(w));
      const V3 spin = mul(R, {Ia[0] + wIw[0], Ia[1] + wIw[1], Ia[2] + wIw[2]});
      const V3 ma{c.mass[b] * a[0], c.mass[b] * a[1], c.mass[b] * a[2]};
      const V3 arm = sub(pos(b, kOrigin), {cm[0], cm[1], cm[2]});
      const V3 mom = cross(arm, ma);
      for (int r = 0; r < 3; ++r) {
        lrate[r] += ma[r];
        arate[r] += spin[r] + mom[r];
      }
      scale = std::fmax(scale, norm(ma) + norm(spin));
    }
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(lrate[r], 0.0, 1e-11 * scale) << "seed " << seed;
      EXPECT_NEAR(arate[r], 0.0, 1e-11 * scale) << "seed " << seed;
    }
  }
  EXPECT_TRUE(m.take_reports().empty());
}

// Fixed-step RK4 over a thousand steps with no loads: kinetic plus potential
// energy is conserved, and without gravity both momenta are too.
TEST_P(Forward, IntegratedMotionConservesEnergyAndMomentum) {
  for (const V3& g : {kGravity, kOrigin}) {
    // A motion that keeps every three-rotation joint well away from gimbal
    // lock for the whole second, in all three modules.
    setup(11, g, 0.25);
    const int n = nq + nu;
    std::vector<double> y(n);
    for (int i = 0; i < nq; ++i) y[i] = p.q[i];
    for (int k = 0; k < nu; ++k) y[nq + k] = p.u[k];
    auto f = [&](const std::vector<double>& x) {
      std::vector<double> q(x.begin(), x.begin() + nq), u(x.begin() + nq, x.end()), qdot, udot;
      set(q, u);
      deriv(qdot, udot);
      std::vector<double> d(qdot);
      d.insert(d.end(), udot.begin(), udot.end());
      return d;
    };
    struct Invariants {
      double energy;
      V3 lmom, amom;
    };
    auto invariants = [&](const std::vector<double>& x) {
      set(std::vector<double>(x.begin(), x.begin() + nq), std::vector<double>(x.begin() + nq, x.end()));
      Invariants inv;
      double kinetic, msum, cm[3], inertia[3][3];
      m.mbmom(inv.lmom.data(), inv.amom.data(), &kinetic);
      m.mbsys(&msum, cm, inertia);
      inv.energy = kinetic - msum * (g[0] * cm[0] + g[1] * cm[1] + g[2] * cm[2]);
      return inv;
    };
    const Invariants start = invariants(y);
    double kinetic_scale;
    {
      double l[3], a[3];
      m.mbmom(l, a, &kinetic_scale);
    }
    const double h = 1e-3;
    for (int step = 0; step < 1000; ++step) {
      const std::vector<double> k1 = f(y);
      std::vector<double> t(n);
      for (int i = 0; i < n; ++i) t[i] = y[i] + 0.5 * h * k1[i];
      const std::vector<double> k2 = f(t);
      for (int i = 0; i < n; ++i) t[i] = y[i] + 0.5 * h * k2[i];
      const std::vector<double> k3 = f(t);
      for (int i = 0; i < n; ++i) t[i] = y[i] + h * k3[i];
      const std::vector<double> k4 = f(t);
      for (int i = 0; i < n; ++i) y[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
    }
    const Invariants end = invariants(y);
    EXPECT_NEAR(end.energy, start.energy, 1e-8 * kinetic_scale) << "gravity " << g[2];
    if (g[2] == 0.0) {
      const double lscale = norm(start.lmom) + 1.0, ascale = norm(start.amom) + 1.0;
      for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(end.lmom[r], start.lmom[r], 1e-10 * lscale);
        EXPECT_NEAR(end.amom[r], start.amom[r], 1e-8 * ascale);
      }
    }
    EXPECT_TRUE(m.take_reports().empty());
  }
}

// Under any motion and loads each joint's reaction torque, projected on the
// pins of its axes, is the hinge torque of that axis, and the root's row is
// its hinge loads.
TEST_P(Forward, ReactionsCarryTheHingeTorques) {
  for (unsigned seed : {8u, 9u}) {
    setup(seed, kGravity);
    const std::vector<double> ht = add_loads(seed);
    std::vector<double> qdot, udot;
    deriv(qdot, udot);
    std::vector<V3> force(nbody), torque(nbody);
    m.mbreac(reinterpret_cast<double(*)[3]>(force.data()), reinterpret_cast<double(*)[3]>(torque.data()));
    double R0[3][3];
    m.mborient(0, R0);
    const V3 f0 = tmul(R0, {ht[0], ht[1], ht[2]});
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(force[0][r], f0[r], 1e-11 * (1.0 + norm(f0)));
      EXPECT_NEAR(torque[0][r], ht[3 + r], 1e-11);
    }
    for (int j = 1; j < nbody; ++j) {
      const int f = joints[j].first_axis;
      const double scale = 1.0 + norm(torque[j]);
      for (int k = f; k < f + joints[j].dof; ++k)
        EXPECT_NEAR(qeltest::dot(pin_in_body(j, k, p.q), torque[j]), ht[k], 1e-11 * scale)
            << "seed " << seed << " joint " << j << " axis " << k;
    }
  }
  EXPECT_TRUE(m.take_reports().empty());
}

// A posture held at rest against gravity by hinge torques found from the
// geometry alone: nothing accelerates, and every joint carries the weight of
// its subtree.
TEST_P(Forward, HeldPostureCarriesTheWeightOfEverySubtree) {
  setup(10, kGravity, 0.0);
  std::vector<V3> r(nbody);
  for (int b = 0; b < nbody; ++b) r[b] = pos(b, kOrigin);
  // Moment of the weights of joint j's subtree about its joint point.
  auto weight_moment = [&](int j) {
    const V3 pj = joint_point(j);
    V3 sum{};
    for (int b = 0; b < nbody; ++b) {
      if (!in_subtree(b, j)) continue;
      const V3 w{c.mass[b] * kGravity[0], c.mass[b] * kGravity[1], c.mass[b] * kGravity[2]};
      const V3 t = cross(sub(r[b], pj), w);
      for (int i = 0; i < 3; ++i) sum[i] += t[i];
    }
    return sum;
  };
  double msum = 0.0;
  for (double mass : c.mass) msum += mass;
  double R0[3][3];
  m.mborient(0, R0);
  const V3 root_moment = tmul(R0, weight_moment(0));
  for (int a = 0; a < 3; ++a) m.mbhinget(0, a, -msum * kGravity[a]);
  for (int a = 0; a < 3; ++a) m.mbhinget(0, 3 + a, -root_moment[a]);
  for (int j = 1; j < nbody; ++j) {
    double R[3][3];
    m.mborient(j, R);
    const V3 moment = tmul(R, weight_moment(j));
    for (int a = 0; a < joints[j].dof; ++a)
      m.mbhinget(j, a, -qeltest::dot(pin_in_body(j, joints[j].first_axis + a, p.q), moment));
  }
  std::vector<double> qdot, udot;
  deriv(qdot, udot);
  for (int k = 0; k < nu; ++k) EXPECT_NEAR(udot[k], 0.0, 1e-10) << "axis " << k;
  std::vector<V3> force(nbody), torque(nbody);
  m.mbreac(reinterpret_cast<double(*)[3]>(force.data()), reinterpret_cast<double(*)[3]>(torque.data()));
  for (int j = 0; j < nbody; ++j) {
    double R[3][3];
    m.mborient(j, R);
    const V3 fg = mul(R, force[j]);
    double sub_mass = 0.0;
    for (int b = 0; b < nbody; ++b)
      if (in_subtree(b, j)) sub_mass += c.mass[b];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(fg[i], -sub_mass * kGravity[i], 1e-10 * msum) << "joint " << j;
  }
  EXPECT_TRUE(m.take_reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, Forward, ::testing::ValuesIn(qeltest::kModels),
                         [](const ::testing::TestParamInfo<ModelDims>& i) { return std::string(i.param.name); });

}  // namespace
