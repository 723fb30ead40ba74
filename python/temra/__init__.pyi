# Type stubs of the temra module (python/temra/__init__.py).
from os import PathLike
from typing import Any, Callable, Mapping, Sequence

import numpy as np
import numpy.typing as npt
import pandas as pd

__version__: str

class Error(ValueError):
    argument: str | None
    row: int | None
    column: str | None
    def __init__(self, message: str, argument: str | None = ..., row: int | None = ...,
                 column: str | None = ...) -> None: ...

class TemraWarning(UserWarning): ...

def study(
    samples: pd.DataFrame | Mapping[str, Sequence[Any]] | str | PathLike[str],
    model: str = ...,
    gases: Sequence[str] | str | None = ...,
    grid: Mapping[str, float | int | str | bool] | None = ...,
    solubility: str | None = ...,
    ensemble: Sequence[str] | str | None = ...,
    mc: int = ...,
    mc_seed: int = ...,
    prior: bool | Mapping[str, float] | None = ...,
    per_gram: bool = ...,
    threads: int = ...,
    *,
    rel_err: float = ...,
    bounds: Mapping[str, float] | None = ...,
    sheet: str | None = ...,
    progress: Callable[[str, float], object] | None = ...,
) -> pd.DataFrame: ...

def equilibrium(
    gas: str,
    T: npt.ArrayLike,
    E: npt.ArrayLike,
    chloride: npt.ArrayLike = ...,
    density: npt.ArrayLike = ...,
    solubility: str | None = ...,
) -> float | npt.NDArray[np.float64]: ...

def models() -> pd.DataFrame: ...
def gases() -> pd.DataFrame: ...
def flags() -> pd.DataFrame: ...
def solubility_sets() -> pd.DataFrame: ...
