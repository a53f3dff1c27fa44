"""The array type that results of array operations on model objects take."""
import numpy as np

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
