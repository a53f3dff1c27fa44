"""The array type that results of array operations on model objects take."""
import numpy as np
from numpy.lib.array_utils import normalize_axis_tuple

_COMPARISONS = frozenset((np.less, np.less_equal, np.equal, np.not_equal, np.greater, np.greater_equal))


def _holds_objects(x):
    """True for an object array, or for an operand that NumPy would hold as an object."""
    if isinstance(x, np.ndarray):
        return x.dtype == object
    if isinstance(x, (list, tuple)):
        return np.asarray(x).dtype == object
    return not isinstance(x, (int, float, complex, bool, np.generic, str, bytes))


def _is_sparse(x):
    return type(x).__module__.startswith("scipy.sparse")


_model_types = None


def _holds_model_objects(a):
    global _model_types
    if _model_types is None:
        from . import _korvex as k
        _model_types = (k.var, k.linterm, k.quadterm, k.expression, k.nonlin)
    return a.dtype == object and any(isinstance(v, _model_types) for v in a.flat)


def _sum_reduce(a, axis=0, keepdims=False):
    """numpy.add.reduce of model objects as korvex.Sum over each lane (one growing sum per lane,
    where NumPy's own reduction copies the partial sum at every step)."""
    from ._korvex import Sum
    axes = tuple(range(a.ndim)) if axis is None else normalize_axis_tuple(axis, a.ndim)
    moved = np.moveaxis(a, axes, tuple(range(a.ndim - len(axes), a.ndim)))
    lead = moved.shape[:a.ndim - len(axes)]
    lanes = moved.reshape(lead + (-1,))
    res = np.empty(lead, dtype=object)
    for idx in np.ndindex(lead):
        res[idx] = Sum(lanes[idx])
    if keepdims:
        res = np.expand_dims(res, axes)
    return res.view(ndarray) if res.ndim else res[()]


def _plain(x):
    return x.view(np.ndarray) if isinstance(x, ndarray) else x


def _wrap(x):
    return x.view(ndarray) if type(x) is np.ndarray else x


class ndarray(np.ndarray):
    """A NumPy array of numbers, variables, expressions or constraints.

    Arithmetic works element by element; comparisons of arrays that hold model objects give
    arrays of constraints; ``@`` and ``numpy.dot`` with arrays of model objects or SciPy sparse
    matrices build expressions through :func:`korvex.Dot`.
    """

    def __new__(cls, shape, dtype=object, buffer=None, offset=0, strides=None, order=None):
        return super().__new__(cls, shape, dtype, buffer, offset, strides, order)

    def __array_ufunc__(self, ufunc, method, *inputs, **kwargs):
        args = [_plain(x) for x in inputs]
        out = kwargs.get("out")
        if out is not None:
            kwargs["out"] = tuple(_plain(o) for o in out)
        if (ufunc is np.add and method == "reduce" and len(args) == 1 and isinstance(args[0], np.ndarray)
                and set(kwargs) <= {"axis", "dtype", "keepdims", "where"} and kwargs.get("where", True) is True
                and kwargs.get("dtype") in (None, object) and args[0].size and _holds_model_objects(args[0])):
            kwargs.pop("where", None)
            kwargs.pop("dtype", None)
            return _sum_reduce(args[0], **kwargs)
        if method == "__call__":
            if ufunc in _COMPARISONS and "dtype" not in kwargs and any(_holds_objects(x) for x in args):
                # element-wise comparison of model objects builds constraints, not truth values
                kwargs["dtype"] = object
            elif (ufunc is np.matmul and not kwargs and any(_holds_objects(x) for x in args)
                  and all(getattr(x, "ndim", 0) in (1, 2) for x in args)):
                from ._korvex import Dot
                return Dot(*args)
        result = getattr(ufunc, method)(*args, **kwargs)
        if out is not None:
            return out[0] if len(out) == 1 else out
        if isinstance(result, tuple):
            return tuple(_wrap(r) for r in result)
        return _wrap(result)

    def __array_function__(self, func, types, args, kwargs):
        if func is np.dot and set(kwargs) <= {"out"} and any(_holds_objects(_plain(x)) for x in args):
            from ._korvex import Dot
            out = kwargs.get("out")
            return Dot(*args, out=_plain(out)) if out is not None else Dot(*args)
        return super().__array_function__(func, types, args, kwargs)

    def __matmul__(self, other):
        if _is_sparse(other):
            from ._korvex import Dot
            return Dot(self, other)
        return super().__matmul__(other)

    def __rmatmul__(self, other):
        if _is_sparse(other):
            from ._korvex import Dot
            return Dot(other, self)
        return super().__rmatmul__(other)


def _route_sparse_products():
    """Products of SciPy sparse matrices with arrays of model objects (``A @ x``, ``A.dot(x)``,
    ``x @ A``, and ``A * x`` for the matrix classes) go through korvex.Dot; SciPy's own product
    cannot hold model objects and would fail. Other operands keep SciPy's behaviour."""
    import sys
    sparse = sys.modules.get("scipy.sparse")
    base = getattr(getattr(sparse, "_base", None), "_spbase", None)
    if base is None or getattr(base, "_korvex_routed", False):
        return
    matmul, rmatmul = base._matmul_dispatch, base._rmatmul_dispatch

    def model_array(other):
        return isinstance(other, np.ndarray) and other.ndim in (1, 2) and _holds_model_objects(other)

    def _matmul_dispatch(self, other):
        if model_array(other):
            from ._korvex import Dot
            return Dot(self, other)
        return matmul(self, other)

    def _rmatmul_dispatch(self, other):
        if model_array(other):
            from ._korvex import Dot
            return Dot(other, self)
        return rmatmul(self, other)

    base._matmul_dispatch, base._rmatmul_dispatch = _matmul_dispatch, _rmatmul_dispatch
    base._korvex_routed = True
