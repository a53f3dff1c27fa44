"""korvex: build, solve and analyse optimisation problems.

The native core lives in the extension module ``korvex._korvex``; everything it
exports is available from this package.
"""
import ctypes as _ctypes
import os as _os

# libkrvx finds HiGHS's library beside korvex in site-packages; loading it from wherever highsbox
# is installed serves every other layout
try:
    import highsbox as _highsbox
    _ctypes.CDLL(_os.path.join(_highsbox.highs_dist_dir(), "lib", "libhighs.so"))
except (ImportError, OSError):
    pass

from . import enums
from .ndarray import ndarray
from ._korvex import *  # noqa: F401,F403
from ._korvex import __all__ as _native_all  # noqa: F401
from .ndarray import _route_sparse_products

_route_sparse_products()

from .enums import (  # noqa: F401
    SolveStatus, SolStatus, ParameterType, StopType, Namespaces, GenConsType,
    BasisStatus, LPStatus, MIPStatus,
)

# the public names (help(korvex) lists the module functions through it)
__all__ = sorted(n for n in _native_all if not n.startswith("_")) + [
    "enums", "ndarray", "SolveStatus", "SolStatus", "ParameterType", "StopType", "Namespaces",
    "GenConsType", "BasisStatus", "LPStatus", "MIPStatus",
]
