#!/usr/bin/env python3
"""Writes the hand-made seed inputs under corpus/<model>/: byte sequences in
interface_fuzz.cpp's encoding that supply a creature, set a state and go deep
(an evaluation, its results, loads, the analysis drivers, the numerics), so the
fuzzer starts from inputs that already reach every stage."""
import os
import sys

MODELS = {"velmor": 35, "drakkun": 33, "pestrel": 32}  # name: nu

# Step numbers of interface_fuzz.cpp's step().
CREATURE, INIT, SETTER, GETTER, STATE, PSSTATE, CONVERT = 0, 2, 3, 4, 5, 7, 8
KINEMATICS, LOAD, STUBS, DYNAMICS, INTERNAL, DRIVER, REGISTER, ROOT, NUMERIC = 9, 11, 12, 13, 15, 16, 17, 18, 19


def real(x):
    """A plausible real: scale * s16 / 8192 with scale 1 (callers' scale applies)."""
    s = max(-32768, min(32767, int(round(x * 8192)))) & 0xFFFF
    return [0, s >> 8, s & 0xFF]


def reals(xs):
    return [b for x in xs for b in real(x)]


def creature(seed):
    return [CREATURE, seed, 1, 1]  # no spoilt parameter, then mbinit


def posture(seed, t_change=False):
    return [STATE, 0, seed, 0 if t_change else 1, 0]


def same_state_with(k, value):
    return [STATE, 2, 1, 1, k, *real(value)]


def seeds(nu):
    nq = nu + 1
    deriv = [DYNAMICS, 0]
    results = [DYNAMICS, 4, DYNAMICS, 5, DYNAMICS, 6, DYNAMICS, 3]
    kin = []
    for sub in range(8):
        kin += [KINEMATICS, 3, *reals([0.1, -0.05, 0.02]), sub] + ([4] if sub == 5 else [])  # body 2
    loads = [LOAD, 0, 5, 0, *real(0.5), LOAD, 1, 4, *reals([0.1, 0, 0]), *reals([1, 2, 3]),
             LOAD, 2, 1, *reals([0.3, -0.2, 0.1])]
    getht = [LOAD, 3, 5, 0]
    out = {}
    out["evaluate"] = [0, *creature(1), *posture(3), *deriv, *results, *kin, *getht]
    out["loads"] = [0, *creature(2), *posture(5), *loads, *deriv, *getht, *results,
                    *same_state_with(nq + 7, 0.7), *loads, *deriv]
    internal = []
    for sub in range(12):
        internal += [INTERNAL, *reals([0.1 * ((i % 5) - 2) for i in range(nu)]), sub]
        if sub == 6:
            internal += [7, 4, *reals([0.1, 0.1, 0.1])]  # axis 7, body 3, point
        if sub == 8:
            internal += [1]
    out["internal"] = [0, *creature(3), *posture(7), *internal, *deriv, *internal]
    static = [DRIVER, 0, *real(0), 2, 0, *([1] * nu), 1, *real(1e-3), *real(1e-3), 6]
    steady = [DRIVER, 0, *real(0), 2, 1, *([1] * (2 * nu)), 1, *real(1e-3), *real(1e-3), 5]
    motion = [DRIVER, 0, *real(0), 4, 1, *real(0.01), *real(1e-3), *real(1e-3),
              DRIVER, 0, *real(0), 5, 1, *real(0.01), *real(1e-3)]
    assemble = [DRIVER, 0, *real(0), 0, *real(1e-3), 3, DRIVER, 0, *real(0), 1, *real(1e-3), 3]
    out["drivers"] = [0, *creature(4), *posture(9), *static, *steady, *motion, *assemble]
    conv = []
    for sub in range(5):
        conv += [CONVERT, 1, sub] + (reals([0.1] * nu) if sub == 2 else []) + ([0] if sub == 4 else [])
    out["conversions"] = [0, *creature(5), *posture(11), *conv, PSSTATE, STUBS, *deriv]
    # Two quadratic residuals in two unknowns, both required.
    root = [ROOT, 1, 1, *real(-1), *real(1), 0, *real(0.5), 1, *real(0.2), *real(-2), *real(0.3), 0, *real(1), 0,
            2, *reals([0.5, 0.5]), 1, 1, *real(1e-3), *real(1e-3), 6]
    # Two exact equations in three unknowns.
    lsq = [NUMERIC, 0, 1, 2, 0, 0, 0, 0, 1, 0, 1, 2, *reals([1, 2, 0, 3, 1, 4]), *reals([1, 2]), 1]
    orient = [NUMERIC, 1, 0, *reals([0.3, -0.2, 1.1]), NUMERIC, 1, 3, 0, *reals([0.1, 0.2, 0.3, 0.9]),
              NUMERIC, 2, *reals([1, 0, 0]), *reals([0, 0, 1]), *real(0.5), 1]
    out["numerics"] = [0, *root, *lsq, *orient]
    params = [SETTER, 1, 3, *real(1.5), GETTER, 1, 3, GETTER, 5, 2, 0, GETTER, 9, 2, GETTER, 8,
              INIT, *posture(2), *deriv, REGISTER, 17, *posture(4), *deriv, REGISTER, 3]
    out["params"] = [0, *creature(6), *params]
    return out


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for model, nu in MODELS.items():
        d = os.path.join(root, model)
        os.makedirs(d, exist_ok=True)
        for name, data in seeds(nu).items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(bytes(b & 0xFF for b in data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
