// Shared internals of the aggregates, the mathematical functions and the array products.
#pragma once
#include "expr/expr.h"
#include <new>

// The result of f(), or null with MemoryError when f runs out of memory inside C++ containers
template <class F>
PyObject *kpy_catchNoMemory(F &&f) {
  try {
    return f();
  } catch (std::bad_alloc &) {
    return PyErr_NoMemory();
  }
}

// Adds c * item into the expression *acc in place when item is a number, variable, linear or
// quadratic term or expression: 1 when added, 0 when item is of another kind (acc unchanged),
// -1 with an error set. *acc is an owned reference that the addition may replace.
int expr_accumulate(PyObject **acc, double c, PyObject *item);

// One sum grown in place, started on the first addition (an empty expression when nothing was
// added); nonlinear items turn it into whatever the in-place sum gives.
struct SumCell {
  PyObject *acc = nullptr;
  SumCell() = default;
  SumCell(const SumCell &) = delete;
  SumCell &operator=(const SumCell &) = delete;
  ~SumCell() { Py_XDECREF(acc); }
  int add(double c, PyObject *item);      // acc += c * item
  int addNumber(double v);                // acc += v
  int addProduct(PyObject *x, PyObject *y);  // acc += x * y
  int reserve(size_t n);                  // room for n linear entries before the first addition
  PyObject *take();                       // the sum (new reference); the cell is empty again
};

// Replaces the pending error by type(msg), keeping the original as its cause
void kpy_replaceError(PyObject *type, const char *msg);

// "miptol" of the module-wide controls, 5e-6 when unset
double kpy_miptol();

// Module functions of the aggregates (aggregates.cpp)
PyObject *korvexmod_Sum(PyObject *self, PyObject *args);
PyObject *korvexmod_Prod(PyObject *self, PyObject *args);
PyObject *korvexmod_And(PyObject *self, PyObject *args);
PyObject *korvexmod_Or(PyObject *self, PyObject *args);
PyObject *korvexmod_Dot(PyObject *self, PyObject *args, PyObject *kwargs);
