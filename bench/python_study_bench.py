#!/usr/bin/python3
"""temra.study from a DataFrame against temra-cli study of the same table: the
time of each, end to end, and their ratio.

The table: 1,000 samples made from known recharge parameters (T 2 to 14 °C on a grid to 20 °C,
elevation 0 to 2500 m, unfractionated excess air A 0 to 0.005 cm³ STP/g) with
1 % errors, as temra.equilibrium gives their concentrations. The CLI reads the
table from a CSV file and prints its results; the module is given the table as
a DataFrame and returns one. Each is run five times; the least time counts.

    PYTHONPATH=build/release/python bench/python_study_bench.py build/release/cli/temra-cli
"""
import os
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np
import pandas as pd

import temra

RUNS = 5
GASES = ["Ne-20", "Ar-40", "Kr-84", "Xe"]


def samples(count, known_elevation):
    rng = np.random.default_rng(1)
    T = rng.uniform(2, 14, count)
    E = rng.uniform(0, 2500, count)
    A = rng.uniform(0, 0.005, count)
    air = temra.gases().set_index("gas")["air_fraction"]
    table = {"sample": [f"W{i + 1}" for i in range(count)]}
    for gas in GASES:
        truth = temra.equilibrium(gas, T, E) + A * air[gas]
        table[gas] = truth * (1 + 0.01 * rng.standard_normal(count))
        table[gas + " err"] = 0.01 * truth
    if known_elevation:
        table["elevation"] = np.round(E, -1)
    return pd.DataFrame(table)


def least(run):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def main(cli):
    for known in (True, False):
        # Known elevations on the finest temperature step, free ones on a coarser.
        step = "0.01" if known else "0.1"
        frame = samples(1000, known)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "samples.csv")
            frame.to_csv(path, index=False, float_format="%.17g")
            cli_time = least(lambda: subprocess.run(
                [cli, "--temp-max", "20", "--elev-step", "10", "--temp-step", step, "study", path],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", temra.TemraWarning)
            module_time = least(lambda: temra.study(
                frame, grid={"temp_max": 20, "elev_step": 10, "temp_step": step}))
        what = "known elevation" if known else "free elevation"
        print(f"1000 samples, UA, {what}, 10 m x {step} °C, 0-20 °C: temra-cli {cli_time:.3f} s, "
              f"temra.study {module_time:.3f} s, ratio {module_time / cli_time:.2f}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
