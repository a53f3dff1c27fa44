// Argument converters and result builders of the camelCase methods.
#pragma once
#include "api/frame.h"

#include <string>
#include <vector>

// ---- element converters: 0 with the value stored, or -1 with a Python error set ----
int kpy_ObjToString(problem_s *prob, PyObject *obj, std::string *out);
int kpy_ObjToInt(problem_s *prob, PyObject *obj, int *out);
int kpy_ObjToInt64(problem_s *prob, PyObject *obj, int64_t *out);
int kpy_ObjToChar(problem_s *prob, PyObject *obj, char *out);
int kpy_ObjToDouble(problem_s *prob, PyObject *obj, double *out);
int kpy_ObjToRowIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects);
int kpy_ObjToColIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects);
int kpy_ObjToSosIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects);
int kpy_ObjToRowColIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects);

// UTF-8 text of a str (or subclass); refuses embedded NULs. 0 or -1.
int kpy_utf8Text(PyObject *obj, std::string *out);

// True for a Python int (or subclass) or a NumPy int8/16/32/64 scalar.
bool kpy_isInteger(PyObject *obj);
// True for the integers above, a Python float (or subclass) or a NumPy float16/32/64 scalar.
bool kpy_isNumber(PyObject *obj);

// ---- element kinds of the iterable converters beyond plain C types ----
struct kpy_rowindex {};
struct kpy_colindex {};
struct kpy_sosindex {};
struct kpy_poolcut {};

template <typename K> struct kpy_elem { using type = K; };
template <> struct kpy_elem<kpy_rowindex> { using type = int; };
template <> struct kpy_elem<kpy_colindex> { using type = int; };
template <> struct kpy_elem<kpy_sosindex> { using type = int; };
template <> struct kpy_elem<kpy_poolcut> { using type = void *; };

// Converts any iterable into a vector, element by element (K: char, double, long, int,
// kpy_rowindex, kpy_colindex, kpy_sosindex, kpy_poolcut). 0, or -1 with an InterfaceError
// naming the argument; an error raised by the iterator itself is thrown.
template <typename K>
int kpy_Iterable_to_vector(problem_s *prob, const char *argname,
                           std::vector<typename kpy_elem<K>::type> *out, PyObject *obj,
                           bool noObjects = false);

// A one-dimensional NumPy array (not a subclass) whose buffer holds its values as T exactly
// (contiguous, aligned, native byte order) and whose every value the element rule of K
// takes, or an exact ASCII str for char: true with *data and *n describing the buffer, which
// stays the object's (its values may change once Python code runs again). False otherwise, the
// object then being left to kpy_Iterable_to_vector.
template <typename K>
bool kpy_borrowArray(PyObject *obj, const typename kpy_elem<K>::type **data, int64_t *n);

// A count that the solver takes as a 32-bit int; -1 with "Argument '%s' is too long".
int kpy_count32(const char *argname, size_t n, int *out);

// Wraps the pending error into "Error in argument '<name>': <text>" (InterfaceError); returns -1.
int kpy_argError(const char *argname);

// Scalar arguments: an absent (null) or None optional argument keeps *out as it is.
// Errors are wrapped in the argument's format. 0 or -1.
int kpy_argString(problem_s *prob, const char *argname, PyObject *obj, std::string *out,
                  bool required = false);
int kpy_argInt(problem_s *prob, const char *argname, PyObject *obj, int *out, bool required = false);

// Checks that the given arrays of one group have equal lengths; message names them.
// sizes[i] < 0 marks an absent array. The count is the first present length, else 0.
int kpy_groupCount(const char *message, const long long *sizes, int n, long long *count);

// ---- result builders ----
template <typename T> PyObject *kpy_vector_to_List(const std::vector<T> &v);
PyObject *kpy_vector_to_StringList(const std::vector<char> &buffer);
// Packs an iterable of str (name NUL name NUL ...); throws nb::python_error on failure.
void kpy_StringList_to_vector(std::vector<char> *buffer, PyObject *obj, int64_t *count);

// Scatters values k (k < n) to the positions indices[k] of a zero-filled dense vector of length
// denselen; indices is resized alongside. An index outside [0, denselen) is refused with the
// element format of argname. 0 or -1.
int kpy_expandSparseVector(std::vector<int> *indices, std::vector<double> *values, int64_t n,
                           int64_t denselen, const char *argname);
// Gathers the values at the first n indices of the dense vector to the front and cuts both
// vectors to n. 0, or -1 with RuntimeError when n or an index is out of range.
int kpy_compressSparseVector(std::vector<int> *indices, std::vector<double> *values, int64_t n);
