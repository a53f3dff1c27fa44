"""The array type that results of array operations on model objects take."""
import numpy as np


class ndarray(np.ndarray):
    """A NumPy array of numbers, variables, expressions or constraints."""

    def __new__(cls, shape, dtype=object, buffer=None, offset=0, strides=None, order=None):
        return super().__new__(cls, shape, dtype, buffer, offset, strides, order)
