// Registration of user functions (once per callable and argument count, names cut at a character
// boundary, records kept out of the map when registration fails) and the trampolines (values,
// derivatives, failures kept for the caller with no error left pending, calls from other threads).
#include "expr/userfunc.h"
#define CHECK_PRINTS_PYTHON_ERRORS
#include "check.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

PyObject *kpy_ModelError;
void setKrvxErrIfNull(PyObject *, const void *result) {
  if (!result && !PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "solver error");
}

// stand-in for the nonlinear layer's registry
struct Registered {
  std::string name;
  int functype, nargs;
  void *func, *data;
};
static std::vector<Registered> registry;
static int refuseNext = 0, functionErrors = 0;
extern "C" int KRVNadduserfunction(tagKRVNproblem *, const char *name, int functype, int nargs, int, int, void *func,
                                   void *data, int *number) {
  if (refuseNext) return refuseNext = 0, 1;
  registry.push_back({name, functype, nargs, func, data});
  *number = (int)registry.size() + 100;
  return 0;
}
extern "C" int KRVNsetfunctionerror(tagKRVNproblem *) { return ++functionErrors, 0; }

static PyObject *pyfunc(const char *src, const char *name) {
  PyObject *globals = PyDict_New();
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  PyObject *r = PyRun_String(src, Py_file_input, globals, globals);
  Py_XDECREF(r);
  PyObject *f = PyDict_GetItemString(globals, name);
  Py_XINCREF(f);
  Py_DECREF(globals);
  return f;
}

static PyObject *args(PyObject *f, int n) {
  PyObject *t = PyTuple_New(n + 1);
  PyTuple_SET_ITEM(t, 0, Py_NewRef(f));
  for (int i = 1; i <= n; ++i) PyTuple_SET_ITEM(t, i, PyFloat_FromDouble(i));
  return t;
}

static int takeSaved(problem_s &p, const char *text) {
  if (!p.saved_exc) return 0;
  PyObject *s = PyObject_Str(p.saved_exc);
  bool ok = s && std::strstr(PyUnicode_AsUTF8(s), text) != nullptr;
  Py_XDECREF(s);
  Py_CLEAR(p.saved_exc);
  return ok;
}

int main() {
  Py_Initialize();
  kpy_ModelError = PyErr_NewException("korvex.ModelError", nullptr, nullptr);
  problem_s p;
  std::memset(&p, 0, sizeof p);
  p.nlprob = (tagKRVNproblem *)&p;

  PyObject *add = pyfunc("def add(a, b):\n    return a + b, 1.0, 2.0\n", "add");
  PyObject *lam = pyfunc("f = lambda a: a * 2\n", "f");
  PyObject *boom = pyfunc("def boom(a):\n    raise KeyError('boom')\n", "boom");
  PyObject *bare = pyfunc("def bare(a):\n    return 3.0\n", "bare");
  PyObject *empty = pyfunc("def empty(a):\n    return ()\n", "empty");
  PyObject *echo = pyfunc("def echo(a, da):\n    return a + da, None\n", "echo");
  PyObject *longname = pyfunc(("def " + std::string(60, 'a') + "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
                               "(a):\n    return a\n").c_str(),
                              (std::string(60, 'a') + "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9").c_str());
  CHECK(add && lam && boom && bare && empty && echo && longname);
  Py_ssize_t addRefs = Py_REFCNT(add);

  // registration: once per (callable, argument count)
  int num = 0, again = 0;
  PyObject *a2 = args(add, 2), *a1 = args(add, 1);
  CHECK(createUserFunction(&p, a2, &num, NLOP_USER_DERIV) == 0 && num == 101);
  CHECK(createUserFunction(&p, a2, &again, NLOP_USER_DERIV) == 0 && again == 101 && registry.size() == 1);
  CHECK(createUserFunction(&p, a1, &num, NLOP_USER_NODERIV) == 0 && num == 102 && registry.size() == 2);
  CHECK(registry[0].name == "add" && registry[0].functype == 5 && registry[0].nargs == 2);
  CHECK(registry[1].functype == 2 && registry[1].nargs == 1);
  CHECK(Py_REFCNT(add) == addRefs + 2 + 2);   // two records, two argument tuples
  PyObject *al = args(lam, 1);
  CHECK(createUserFunction(&p, al, &num, NLOP_USER_OPTDERIV) == 0 && registry.back().name == "<lambda>");
  PyObject *builtin = Py_NewRef(PyDict_GetItemString(PyEval_GetBuiltins(), "abs")), *ab = args(builtin, 1);
  CHECK(createUserFunction(&p, ab, &num, NLOP_USER_NODERIV) == 0 && registry.back().name.rfind("Func", 0) == 0);
  PyObject *ln = args(longname, 1);
  CHECK(createUserFunction(&p, ln, &num, NLOP_USER_NODERIV) == 0);
  const std::string &cut = registry.back().name;
  CHECK(cut.size() <= 63 && cut.size() >= 62 && PyUnicode_DecodeUTF8(cut.data(), cut.size(), "strict"));
  PyErr_Clear();

  // a refused registration leaves no record behind
  PyObject *b1 = args(bare, 1);
  refuseNext = 1;
  CHECK(createUserFunction(&p, b1, &num, NLOP_USER_NODERIV) == -1 && PyErr_Occurred());
  PyErr_Clear();
  CHECK(userfuncmap_get(p.ufmap, bare, 1) == nullptr);
  CHECK(createUserFunction(&p, b1, &num, NLOP_USER_NODERIV) == 0 && userfuncmap_get(p.ufmap, bare, 1));
  PyObject *notCallable = PyTuple_Pack(1, Py_None);
  CHECK(createUserFunction(&p, notCallable, &num, NLOP_USER_NODERIV) == -1 &&
        PyErr_ExceptionMatches(kpy_ModelError));
  PyErr_Clear();

  problem_s linear;   // a problem without a nonlinear layer
  std::memset(&linear, 0, sizeof linear);
  CHECK(createUserFunction(&linear, a2, &num, NLOP_USER_DERIV) == -1 && PyErr_ExceptionMatches(kpy_ModelError));
  PyErr_Clear();
  userfuncmap_free(&linear.ufmap);

  // trampolines: values and derivatives
  userfunc_s *radd = userfuncmap_get(p.ufmap, add, 2);
  double vals[2] = {1.5, 2.0}, deltas[2] = {1.0, 0.0}, result = 0, partials[2] = {-1, -1};
  CHECK(kpy_generic_user_function_with_derivative(vals, deltas, &result, partials, radd) == 0);
  CHECK(result == 3.5 && partials[0] == 1.0 && partials[1] == 2.0 && !PyErr_Occurred());
  CHECK(kpy_generic_user_function_no_derivative(vals, userfuncmap_get(p.ufmap, lam, 1)) == 3.0);

  // failures: kept for the caller, nothing pending, the solver told
  int e1 = 0, e2 = 0;
  PyObject *bo = args(boom, 1), *em = args(empty, 1), *ec = args(echo, 1);
  CHECK(createUserFunction(&p, bo, &e1, NLOP_USER_NODERIV) == 0 && createUserFunction(&p, em, &e2, NLOP_USER_NODERIV) == 0);
  CHECK(std::isnan(kpy_generic_user_function_no_derivative(vals, userfuncmap_get(p.ufmap, boom, 1))));
  CHECK(!PyErr_Occurred() && functionErrors == 1 && p.saved_exc && PyErr_GivenExceptionMatches(p.saved_exc, PyExc_KeyError));
  // a second failure while the first is kept is written as unraisable; the first stays
  CHECK(std::isnan(kpy_generic_user_function_no_derivative(vals, userfuncmap_get(p.ufmap, empty, 1))));
  CHECK(!PyErr_Occurred() && takeSaved(p, "boom"));
  CHECK(std::isnan(kpy_generic_user_function_no_derivative(vals, userfuncmap_get(p.ufmap, empty, 1))));
  CHECK(takeSaved(p, "User function returned an empty tuple"));
  userfunc_s *rbare = userfuncmap_get(p.ufmap, bare, 1);
  CHECK(kpy_generic_user_function_with_derivative(vals, deltas, &result, partials, rbare) == 1);
  CHECK(takeSaved(p, "User function must return a tuple containing result and all derivatives"));

  // optional derivatives reach Python only when the solver asks; a partial it did not ask for
  // may be left out
  CHECK(createUserFunction(&p, ec, &num, NLOP_USER_OPTDERIV) == 0);
  userfunc_s *recho = userfuncmap_get(p.ufmap, echo, 1);
  double zero[1] = {0.0};
  partials[0] = -7;
  CHECK(kpy_generic_user_function_with_optional_derivative(vals, zero, &result, partials, recho) == 0);
  CHECK(result == 1.5 && partials[0] == -7 && !p.saved_exc);
  CHECK(kpy_generic_user_function_with_optional_derivative(vals, nullptr, &result, nullptr, recho) == 1);
  CHECK(takeSaved(p, "missing 1 required positional argument"));

  // memory stays flat over many calls, failing ones included
  PyRun_SimpleString("import tracemalloc; tracemalloc.start()");
  auto traced = [] {
    PyObject *m = PyImport_ImportModule("tracemalloc");
    PyObject *r = m ? PyObject_CallMethod(m, "get_traced_memory", nullptr) : nullptr;
    long cur = r ? PyLong_AsLong(PyTuple_GET_ITEM(r, 0)) : -1;
    Py_XDECREF(r);
    Py_XDECREF(m);
    return cur;
  };
  userfunc_s *rboom = userfuncmap_get(p.ufmap, boom, 1);
  for (int round = 0; round < 2; ++round) {
    long before = traced();
    for (int i = 0; i < 50000; ++i) {
      kpy_generic_user_function_with_derivative(vals, deltas, &result, partials, radd);
      kpy_generic_user_function_no_derivative(vals, rboom);
      Py_CLEAR(p.saved_exc);
    }
    CHECK(round == 0 || traced() - before < 4096);
  }
  PyRun_SimpleString("tracemalloc.stop()");

  // calls from another thread while this one has released the interpreter
  PyThreadState *ts = PyEval_SaveThread();
  double threaded = 0;
  std::thread t([&] { threaded = kpy_generic_user_function_no_derivative(vals, userfuncmap_get(p.ufmap, lam, 1)); });
  t.join();
  PyEval_RestoreThread(ts);
  CHECK(threaded == 3.0);

  // the map releases every callable
  for (PyObject *o : {a2, a1, al, ab, ln, b1, notCallable, bo, em, ec}) Py_DECREF(o);
  userfuncmap_free(&p.ufmap);
  CHECK(!p.ufmap && Py_REFCNT(add) == addRefs);
  userfuncmap_free(&p.ufmap);   // a null map is left alone
  Py_DECREF(builtin);
  std::puts("expr_userfunc: ok");
  return 0;
}
