"""The temra Python module against temra-cli: the same tables give the same
numbers, every refusal names its argument, an interrupted fit leaves nothing.

Run by CTest with PYTHONPATH at the built module, TEMRA_CLI the built temra-cli
and TEMRA_SOURCE the top of the tree."""
import csv
import io
import math
import os
import signal
import subprocess
import threading
import time
import warnings

import numpy as np
import pandas as pd
import pytest

import temra

SOURCE = os.environ["TEMRA_SOURCE"]
CLI = os.environ["TEMRA_CLI"]
SPRINGS = os.path.join(SOURCE, "examples", "springs.csv")


def springs(groups=False):
    table = pd.read_csv(SPRINGS, float_precision="round_trip")
    if groups:
        table["group"] = ["north", "north", "south", "south", "south"]
    return table


def cli_rows(path, args):
    done = subprocess.run([CLI, *args, "study", path], capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    return list(csv.reader(io.StringIO(done.stdout)))


def assert_as_cli(frame, rows):
    """Each cell of the frame is the CLI's: the same text, or the number its
    text reads as, bit for bit; empty where the CLI's field is empty."""
    assert list(frame.columns) == rows[0]
    assert len(frame) == len(rows) - 1
    for i, row in enumerate(rows[1:]):
        for name, text in zip(rows[0], row):
            value = frame.at[i, name]
            where = f"row {i}, {name}: CLI {text!r}, module {value!r}"
            if text == "":
                assert value in (None, "") or (isinstance(value, float) and math.isnan(value)), where
            elif isinstance(value, float):
                assert value == float(text), where
            else:
                assert value == text, where


# Each way the study can be run, as module arguments and as temra-cli options.
CASES = {
    "every model": ({"model": "all", "grid": {"temp_max": 20}},
                    ["--temp-max", "20", "study", "--model", "all"]),
    "CE with the prior": ({"model": "ce", "grid": {"temp_max": 20}, "prior": {"sd": 1.5}},
                          ["--temp-max", "20", "study", "--model", "ce", "--prior-maat",
                           "--prior-sd", "1.5"]),
    "Monte Carlo with a seed": ({"model": "pr", "mc": 40, "mc_seed": 7,
                                 "bounds": {"pr_r_max": 5}},
                                ["study", "--model", "pr", "--mc", "40", "--mc-seed", "7",
                                 "--pr-r-max", "5"]),
    "every data set": ({"solubility": "all", "gases": "Ne-20,Ar-40,Kr-84,Xe,N2"},
                       ["--gases", "Ne-20,Ar-40,Kr-84,Xe,N2", "study", "--solubility", "all"]),
}


@pytest.mark.parametrize("case", CASES)
def test_a_table_gives_the_numbers_of_temra_cli(case, tmp_path):
    kwargs, args = CASES[case]
    # The table given as a DataFrame, its numbers as floats.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", temra.TemraWarning)
        frame = temra.study(springs(), **kwargs)
    options = args[: args.index("study")]
    study_options = args[args.index("study") + 1:]
    done = subprocess.run([CLI, *options, "study", SPRINGS, *study_options],
                          capture_output=True, text=True, check=True)
    assert_as_cli(frame, list(csv.reader(io.StringIO(done.stdout))))
    assert frame.attrs["time"].startswith("fitted 5 samples")
    assert not list(tmp_path.iterdir())


def test_the_ensemble_and_a_dict_of_columns_give_the_numbers_of_temra_cli(tmp_path):
    table = springs(groups=True)
    path = tmp_path / "grouped.csv"
    table.to_csv(path, index=False)
    columns = {name: list(table[name]) for name in table.columns}
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        frame = temra.study(columns, ensemble=["T", "E"], grid={"temp_max": 20})
    done = subprocess.run([CLI, "--temp-max", "20", "study", str(path), "--ensemble", "T,E"],
                          capture_output=True, text=True, check=True)
    assert_as_cli(frame, list(csv.reader(io.StringIO(done.stdout))))
    notes = [str(w.message) for w in said if w.category is temra.TemraWarning]
    assert notes == frame.attrs["notes"]


def test_notes_name_the_modules_arguments_and_a_refused_sample_is_a_row():
    table = springs()
    table.loc[2, "Ne-20"] = "abc"
    with pytest.warns(temra.TemraWarning) as said:
        frame = temra.study(table)
    notes = [str(w.message) for w in said]
    assert any(n.startswith("error: ") and "row 4" in n and "abc" in n for n in notes), notes
    assert any('grid["temp_max"]' in n for n in notes), notes
    assert not any("--" in n for n in notes), notes
    assert frame.at[2, "flags"].startswith("error: ")


def refused(call):
    with pytest.raises(temra.Error) as raised:
        call()
    return raised.value


# Each refusal with the argument it must name.
REFUSALS = [
    (lambda: temra.study(SPRINGS, grid={"temp_max": "warm"}), 'grid["temp_max"]'),
    (lambda: temra.study(SPRINGS, grid={"temp_step": 0}), 'grid["temp_step"]'),
    (lambda: temra.study(SPRINGS, grid={"hottest": 20}), "grid"),
    (lambda: temra.study(SPRINGS, grid={"maat": 3}), 'grid["maat"]'),
    (lambda: temra.study(SPRINGS, model="xx"), "model"),
    (lambda: temra.study(SPRINGS, gases=["Ne-20", "Rn"]), "gases"),
    (lambda: temra.study(SPRINGS, solubility="nist"), "solubility"),
    (lambda: temra.study(SPRINGS, model="pr", bounds={"pr_r_max": -1}), 'bounds["pr_r_max"]'),
    (lambda: temra.study(SPRINGS, bounds={"r_max": 1}), "bounds"),
    (lambda: temra.study(SPRINGS, mc=-1), "mc"),
    (lambda: temra.study(SPRINGS, mc=2.5), "mc"),
    (lambda: temra.study(SPRINGS, threads=17), "threads"),
    (lambda: temra.study(SPRINGS, rel_err=-0.1), "rel_err"),
    (lambda: temra.study(SPRINGS, prior={"sd": -1}), 'prior["sd"]'),
    (lambda: temra.study(SPRINGS, ensemble="T,Q"), "ensemble"),
    (lambda: temra.study(SPRINGS, per_gram="yes"), "per_gram"),
    (lambda: temra.study(42), "samples"),
    (lambda: temra.study({"sample": ["a", "b"], "Ne-20": [1e-7]}), "samples"),
    (lambda: temra.study({"sample": ["a"], "Ar-40": [3e-4]}), "samples"),
    (lambda: temra.study("/nonexistent/samples.csv"), "samples"),
    (lambda: temra.equilibrium("Rn", 10, 0), "gas"),
    (lambda: temra.equilibrium("Ne-20", [10, math.nan], 0), "T"),
    (lambda: temra.equilibrium("Ne-20", 10, [0, 1e9]), "E"),
    (lambda: temra.equilibrium("Ne-20", [1, 2], [1, 2, 3]), "E"),
]


@pytest.mark.parametrize("call,argument", REFUSALS)
def test_each_refusal_names_its_argument(call, argument):
    error = refused(call)
    assert isinstance(error, ValueError)
    assert error.argument == argument, str(error)
    assert str(error).startswith(argument + ": "), str(error)
    assert "--" not in str(error), str(error)


def test_a_table_that_is_not_one_names_its_row_and_column(tmp_path):
    path = tmp_path / "broken.csv"
    path.write_text('sample,Ne-20,Ar-40,Kr-84,Xe\nA,"2e-7,3e-4,5e-8,1e-8\n', encoding="utf-8")
    error = refused(lambda: temra.study(path))
    assert (error.argument, error.row, error.column) == ("samples", 2, "Ne-20"), str(error)


def long_study(progress=None):
    return temra.study(SPRINGS, model="ce", mc=5000,
                       grid={"temp_max": 20, "temp_step": 0.1, "elev_step": 10},
                       progress=progress)


def test_ctrl_c_and_a_failing_callback_cancel_the_fit_and_leave_nothing(tmp_path):
    os.chdir(tmp_path)
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        long_study()
    assert time.monotonic() - start < 30

    class Stop(Exception):
        pass

    seen = []

    def progress(stage, fraction):
        seen.append((stage, fraction))
        if stage == "drawing":
            raise Stop

    with pytest.raises(Stop):
        long_study(progress)
    assert seen and all(0 <= f <= 1 for _, f in seen)
    assert not list(tmp_path.iterdir())
    # The module works on as before, its threads as they were.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", temra.TemraWarning)
        assert_as_cli(temra.study(SPRINGS), cli_rows(SPRINGS, []))


def test_equilibrium_is_the_grid_runs_and_broadcasts():
    rows = list(csv.reader(io.StringIO(subprocess.run(
        [CLI, "--elev-max", "1500", "--elev-step", "500", "--temp-max", "20", "--temp-step", "5",
         "--chloride", "0.01", "--density", "1.002", "grid"],
        capture_output=True, text=True, check=True).stdout)))
    header = rows[0]
    T = np.array([float(r[header.index("temperature_C")]) for r in rows[1:]])
    E = np.array([float(r[header.index("elevation_m")]) for r in rows[1:]])
    for gas in ("He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N2", "O2"):
        got = temra.equilibrium(gas, T, E, chloride=0.01, density=1.002)
        want = np.array([float(r[header.index(gas)]) for r in rows[1:]])
        assert np.array_equal(got, want), gas
    grid = temra.equilibrium("xe", np.array([[0.0], [10.0]]), np.array([0.0, 1000.0, 2000.0]))
    assert grid.shape == (2, 3)
    assert isinstance(temra.equilibrium("Ne-20", 10, 0), float)
    # Colder water and lower elevations hold more gas.
    assert np.all(np.diff(grid, axis=0) < 0) and np.all(np.diff(grid, axis=1) < 0)
    weiss = temra.equilibrium("Ar-40", 10.0, 0.0, solubility="weiss")
    assert abs(weiss / temra.equilibrium("Ar-40", 10.0, 0.0) - 1) < 0.02


def test_the_tables_and_the_help_say_every_argument_and_meaning():
    import inspect  # pylint: disable=import-outside-toplevel
    doc = temra.study.__doc__
    for name in inspect.signature(temra.study).parameters:
        assert f"    {name}: " in doc, name
    models = temra.models()
    assert list(models["key"]) == ["ua", "ce", "pr", "pd", "od", "gr"]
    assert models["bounds"].str.contains('bounds["a_max"]', regex=False).all()
    gases = temra.gases()
    assert gases.set_index("gas").at["Ne-20", "atmospheric_share"] == 0.9048
    flags = temra.flags()
    assert flags["meaning"].str.len().min() > 10 and not flags["meaning"].str.contains("--").any()
    assert "weiss" in list(temra.solubility_sets()["key"])
