"""Temra from Python: the study fit of dissolved atmospheric gases and the
air-equilibrium solubility model, the same computations as the Temra program
and ``temra-cli``.

- ``study(samples, ...)`` fits a table of samples and returns a DataFrame with
  the columns and numbers of ``temra-cli study``.
- ``equilibrium(gas, T, E, ...)`` gives equilibrium concentrations over numpy
  arrays.
- ``models()``, ``gases()``, ``flags()`` and ``solubility_sets()`` give Temra's
  tables with each meaning in words.

Every refusal raises ``temra.Error`` (a ``ValueError``), whose ``argument``
names the argument to change and, for a table, ``row`` and ``column`` the
cell. The notes a study's results need are issued as ``TemraWarning``.
"""

from __future__ import annotations

import math
import numbers
import os
import warnings

import numpy as np

from . import _temra

__version__ = _temra.__version__
__all__ = ["Error", "TemraWarning", "study", "equilibrium", "models", "gases",
           "flags", "solubility_sets"]


class Error(ValueError):
    """A refusal: the arguments, or the table, cannot be used as they are.

    Attributes:
        argument: the argument to change, as a call names it ("grid[\\"temp_max\\"]",
            "samples", "bounds[\\"pr_r_max\\"]").
        row: for the table, its row counted as in a CSV file (the header is row
            1, the first sample row 2); None otherwise.
        column: for the table, the column's name; None otherwise.
    """

    def __init__(self, message, argument=None, row=None, column=None):
        super().__init__(message)
        self.argument = argument
        self.row = row
        self.column = column


class TemraWarning(UserWarning):
    """A note on a study's results: a best at the grid's end, a fit without
    degrees of freedom, a sample refused, a column not read."""


_temra._set_error(Error)


def _pandas():
    import pandas  # pylint: disable=import-outside-toplevel
    return pandas


def _refuse(argument, what):
    raise Error(f"{argument}: {what}", argument=argument)


def _text(argument, value):
    if not isinstance(value, str):
        _refuse(argument, f"give a text, not {type(value).__name__}")
    return value


def _flag(argument, value):
    if not isinstance(value, (bool, np.bool_)):
        _refuse(argument, f"give True or False, not {value!r}")
    return bool(value)


def _real(argument, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        _refuse(argument, f"give a number, not {value!r}")
    if not math.isfinite(float(value)):
        _refuse(argument, f"give a finite number, not {value!r}")
    return float(value)


def _whole(argument, value, lowest, highest):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        _refuse(argument, f"give a whole number from {lowest} to {highest}, not {value!r}")
    if not lowest <= int(value) <= highest:
        _refuse(argument, f"give a whole number from {lowest} to {highest}, not {int(value)}")
    return int(value)


def _number_text(value):
    """A cell as the table's text: a float exactly (its shortest round-trip
    form), a missing value empty."""
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, (bool, np.bool_)):
        return str(bool(value))
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        f = float(value)
        return "" if math.isnan(f) else repr(f)
    try:
        if _pandas().isna(value):
            return ""
    except (TypeError, ValueError):
        pass
    return str(value)


def _columns_of(samples):
    """A dict of columns as (names, lists), refused when they differ in length."""
    names = [str(k) for k in samples]
    columns = []
    for key in samples:
        values = samples[key]
        if isinstance(values, (str, bytes)) or not hasattr(values, "__len__"):
            _refuse("samples", f"the column {str(key)!r} is not a sequence of values")
        columns.append(list(values))
    lengths = {len(c) for c in columns}
    if len(lengths) > 1:
        counts = ", ".join(f"{n!r}: {len(c)}" for n, c in zip(names, columns))
        _refuse("samples", f"the columns hold different numbers of values ({counts})")
    return names, columns


def _table_of(samples):
    """The table as (header, rows of texts) and a path: one of them None."""
    if isinstance(samples, (str, os.PathLike)):
        return None, os.fspath(samples)
    if isinstance(samples, dict):
        names, columns = _columns_of(samples)
        rows = [[_number_text(c[i]) for c in columns]
                for i in range(len(columns[0]) if columns else 0)]
        return (names, rows), None
    if type(samples).__name__ == "DataFrame" and hasattr(samples, "itertuples"):
        names = [str(c) for c in samples.columns]
        rows = [[_number_text(v) for v in row]
                for row in samples.itertuples(index=False, name=None)]
        return (names, rows), None
    _refuse("samples", "give a DataFrame, a dict of columns or the path of a CSV file or workbook, "
            f"not {type(samples).__name__}")
    return None, None


def _grid_of(grid):
    if grid is None:
        return {}, {}
    if not isinstance(grid, dict):
        _refuse("grid", f"give a dict of the grid's boxes, not {type(grid).__name__}")
    texts, ticks = {}, {}
    for key, value in grid.items():
        if not isinstance(key, str):
            _refuse("grid", f"name a box by its key, a text, not {key!r}")
        if isinstance(value, (bool, np.bool_)):
            ticks[key] = bool(value)
        elif isinstance(value, str):
            texts[key] = value
        else:
            texts[key] = _number_text(_real(f'grid["{key}"]', value))
    return texts, ticks


def _prior_of(prior):
    """(on, offset, sd) of the lapse-rate prior."""
    if prior is None or prior is False:
        return False, 0.0, 1.0
    if prior is True:
        return True, 0.0, 1.0
    if not isinstance(prior, dict):
        _refuse("prior", "give True, or a dict with \"offset\" and \"sd\" (°C)")
    for key in prior:
        if key not in ("offset", "sd"):
            _refuse("prior", f"there is no key {key!r}; its keys are offset and sd")
    return (True, _real('prior["offset"]', prior.get("offset", 0.0)),
            _real('prior["sd"]', prior.get("sd", 1.0)))


def _list_of(argument, value):
    """A list of names given as a list or as one comma-separated text."""
    if isinstance(value, str):
        return [v.strip() for v in value.split(",")]
    if isinstance(value, (list, tuple)) and all(isinstance(v, str) for v in value):
        return [v.strip() for v in value]
    _refuse(argument, "give a list of names, or one text of names separated by commas")
    return []


def study(samples, model="ua", gases=None, grid=None, solubility=None, ensemble=None,
          mc=0, mc_seed=1, prior=None, per_gram=False, threads=0, *, rel_err=0.01,
          bounds=None, sheet=None, progress=None):
    """Fits every sample of a table over the grid of recharge elevations and
    temperatures, each misfit weighted by the measurement errors.

    Returns a pandas DataFrame with exactly the columns and numbers that
    ``temra-cli study`` prints (one row per sample; with ``model="all"`` or
    ``solubility="all"``, one per model or data set), text columns holding None
    where the CLI leaves a field empty. ``DataFrame.attrs["notes"]`` holds the
    notes the results need (each also issued as a ``TemraWarning``), and
    ``attrs["time"]`` what the study took ("fitted 5 samples in 0.25 s").

    Args:
        samples: the table: a DataFrame with the table's column names
            ("sample", "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N2", "O2",
            "<gas> err", "chloride", "density", "elevation", "group"; "Ne",
            "Ar", "Kr" and "He" are read as total gas), a dict of such columns,
            or the path of a CSV file or of a workbook (.xlsx; its first sheet,
            the one ``sheet`` names, or the samples of a "Study Results"
            workbook, with title rows above the header and a row of units
            below it skipped). Concentrations in cm³ STP per cm³ of
            water (per gram with ``per_gram=True``), chloride in mol/l,
            density in g/cm³, elevation in m. Rows are counted as in a CSV
            file: the header is row 1.
        model: the excess-air model's key ("ua", "ce", "pr", "pd", "od",
            "gr"; ``models()`` lists them), or "all" for one row per model.
        gases: the gases fitted, by name (["Ne-20", "Ar-40", "Kr-84", "Xe"],
            the default) or as one text "Ne-20,Ar-40".
        grid: the input page's boxes by key, with their defaults and checks:
            ``temp_max`` and ``temp_step`` (°C), ``elev_max`` and
            ``elev_step`` (m), ``maat`` (True: each elevation's temperatures
            from the MAAT line H = a T + b, ``maat_a`` in m/°C and ``maat_b``
            in m), ``density`` (g/cm³) and ``chloride`` (mol/l) for samples
            without those columns.
        solubility: the solubility data set ("builtin", "weiss",
            "jenkins2019"; ``solubility_sets()`` lists them), or "all" for one
            row per set with the shift of each against builtin. None: builtin.
        ensemble: the parameters the members of each group (the column
            "group") share, "T,E" or ["T", "E"]; None: each sample alone.
        mc: Monte Carlo draws of each sample's measurements from normal
            distributions with their errors (0: none).
        mc_seed: the seed of the draws (a whole number of 64 bits): the same
            seed gives the same numbers, whatever the threads.
        prior: the lapse-rate prior on the recharge temperature around the
            MAAT line (``grid["maat_a"]``, ``grid["maat_b"]``): True, or a dict
            ``{"offset": °C added to the line, "sd": its spread in °C}``.
        per_gram: True when the table's concentrations and errors are per gram
            of water.
        threads: the most threads the fit uses (0: one per core, at most 16);
            the numbers do not depend on it.
        rel_err: the relative 1σ error of a gas without a "<gas> err" column.
        bounds: the models' bounds and exponents by key (``"a_max"``,
            ``"pr_r_max"``, ``"pd_beta"``, ...; ``models()`` names each).
        sheet: the sheet of a workbook that holds the table; None: its first.
        progress: called about every tenth of a second as
            ``progress(stage, fraction)``, stage "reading", "fitting" or
            "drawing" and fraction from 0 to 1; an exception it raises cancels
            the study and is raised.

    Raises:
        Error: an argument or the table cannot be used; its ``argument`` (and
            for the table ``row`` and ``column``) names what to change.
        KeyboardInterrupt: Ctrl+C; the study is cancelled and nothing is kept.
    """
    table, path = _table_of(samples)
    if sheet is not None and path is None:
        _refuse("sheet", "a sheet is named only for a workbook given by its path")
    texts, ticks = _grid_of(grid)
    on, offset, sd = _prior_of(prior)
    if bounds is not None and not isinstance(bounds, dict):
        _refuse("bounds", f"give a dict of bounds by key, not {type(bounds).__name__}")
    if progress is not None and not callable(progress):
        _refuse("progress", "give a function of (stage, fraction), or None")
    options = {
        "model": _text("model", model),
        "gases": None if gases is None else _list_of("gases", gases),
        "grid": texts,
        "grid_ticks": ticks,
        "solubility": None if solubility is None else _text("solubility", solubility),
        "ensemble": None if ensemble is None else ",".join(_list_of("ensemble", ensemble)),
        "rel_err": _real("rel_err", rel_err),
        "mc": _whole("mc", mc, 0, 1_000_000_000),
        "mc_seed": _whole("mc_seed", mc_seed, 0, 2**64 - 1),
        "prior": on,
        "prior_offset": offset,
        "prior_sd": sd,
        "per_gram": _flag("per_gram", per_gram),
        "bounds": {str(k): _real(f'bounds["{k}"]', v) for k, v in (bounds or {}).items()},
        "threads": _whole("threads", threads, 0, 16),
        "sheet": None if sheet is None else _text("sheet", sheet),
    }
    result = _temra.study(table, path, options, progress)
    pandas = _pandas()
    frame = pandas.DataFrame(
        {name: _column(pandas, values) for name, values in zip(result["columns"], result["data"])},
        columns=result["columns"])
    frame.attrs["notes"] = list(result["notes"])
    frame.attrs["time"] = result["time"]
    for note in result["notes"]:
        warnings.warn(note, TemraWarning, stacklevel=2)
    return frame


def _column(pandas, values):
    """A result column: numbers as float64 (NaN where empty), texts as objects
    (None where empty)."""
    if all(v is None or isinstance(v, float) for v in values):
        return pandas.Series([math.nan if v is None else v for v in values], dtype="float64")
    return pandas.Series(values, dtype="object")


def equilibrium(gas, T, E, chloride=0.0, density=1.0, solubility=None):
    """The air-equilibrium concentration of a gas, in cm³ STP per cm³ of water.

    Vectorised: ``T`` (°C), ``E`` (the recharge elevation, m), ``chloride``
    (mol/l) and ``density`` (g/cm³) are broadcast together as numpy arrays; the
    result has their shape (a float for scalars). The same model, constants and
    order of operations as the grid run's.

    Args:
        gas: "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe", "N2" or "O2" (any case).
        solubility: the data set's key (``solubility_sets()``); None: builtin.

    Raises:
        Error: naming the argument (and the element) that cannot be used.
    """
    arrays = []
    for name, value in (("T", T), ("E", E), ("chloride", chloride), ("density", density)):
        try:
            arrays.append(np.asarray(value, dtype=np.float64))
        except (TypeError, ValueError):
            _refuse(name, "give numbers (a number or an array of them)")
    try:
        broadcast = np.broadcast_arrays(*arrays)
    except ValueError:
        shapes = ", ".join(str(a.shape) for a in arrays)
        _refuse("E", f"T, E, chloride and density cannot be broadcast together: shapes {shapes}")
    shape = broadcast[0].shape
    flat = [np.ascontiguousarray(a).ravel() for a in broadcast]
    out = _temra.equilibrium(_text("gas", gas), *flat,
                             "" if solubility is None else _text("solubility", solubility))
    return float(out[0]) if shape == () else out.reshape(shape)


def _table(rows):
    pandas = _pandas()
    frame = pandas.DataFrame(rows["rows"], columns=rows["columns"])
    for name in rows["numbers"]:
        frame[name] = frame[name].astype("float64")
    return frame


def models():
    """The excess-air models: key, name, what each is, its parameters, their
    units, the bounds (with their keys for ``study(bounds=...)``) and the
    model in words."""
    return _table(_temra.models())


def gases():
    """The gases: the name a table heads its column with, the element (its
    total's column, read as the isotope), the isotope's share of the
    atmosphere's element and the gas's volume fraction in dry air."""
    return _table(_temra.gases())


def flags():
    """The flags a result may carry, each with its meaning and what sets it."""
    return _table(_temra.flags())


def solubility_sets():
    """The solubility data sets: key, name and sources."""
    return _table(_temra.solubility_sets())
