// The error edge and the shared checks of the camelCase methods.
#include "api/frame.h"

#include <new>
#include <stdexcept>

void kpy_translateCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc &e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
  } catch (const std::domain_error &e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::invalid_argument &e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::length_error &e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::out_of_range &e) {
    PyErr_SetString(PyExc_IndexError, e.what());
  } catch (const std::range_error &e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::overflow_error &e) {
    PyErr_SetString(PyExc_OverflowError, e.what());
  } catch (const std::exception &e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "Unknown exception in Korvex module");
  }
}

bool kpy_isOriginalProb(problem_s *prob) {
  if (prob->orig) return false;
  int state = 0;
  (void)KRVXgetintattrib(prob->prob, KRVX_PRESOLVESTATE, &state);  // a failed read counts as original
  return (state & 6) == 0;
}

int kpy_getIntAttrib64(problem_s *prob, int id, int64_t *value) {
  if (kpy_sendRowsFirst(prob) < 0) return -1;
  if (KRVXgetintattrib64(prob->prob, id, value) != 0) {
    setKrvxErrIfNull((PyObject *)prob, nullptr);
    return -1;
  }
  return 0;
}
