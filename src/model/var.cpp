// korvex.var: a column of a problem (linked), or a variable created on its own (unlinked)
// whose bounds, threshold and name live in the module's maps under its serial.
#include "model/problem.h"
#include "module/maps.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

enum : uint8_t { kHasLb = 1, kHasUb = 2, kHasThreshold = 4, kHasName = 8 };

uint64_t serialOf(const var_s *v) { return kpy_serial(v->idx_high, v->idx_low); }

// Unlinked values: a map entry when its flag is set, else the default.
double unlinkedValue(const var_s *v, uint8_t flag, boundmap *map, double dflt) {
  if (!(v->flags & flag)) return dflt;
  auto it = map->find(serialOf(v));
  return it == map->end() ? dflt : it->second;
}

int setUnlinkedValue(var_s *v, uint8_t flag, boundmap *map, double value) {
  try {
    (*map)[serialOf(v)] = value;
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
  v->flags |= flag;
  return 0;
}

int setUnlinkedName(var_s *v, PyObject *name) {
  uint64_t s = serialOf(v);
  auto it = kpy_env.var_names->find(s);
  PyObject *old = nullptr;
  if (it != kpy_env.var_names->end()) {
    old = it->second;
    kpy_env.var_names->erase(it);
  }
  v->flags &= (uint8_t)~kHasName;
  if (name) {
    try {
      kpy_env.var_names->emplace(s, name);
    } catch (...) {
      Py_XDECREF(old);
      PyErr_NoMemory();
      return -1;
    }
    Py_INCREF(name);
    v->flags |= kHasName;
  }
  Py_XDECREF(old);
  return 0;
}

// A name for a model object: None (no name) or a str without NUL characters.
int checkName(PyObject *name) {
  if (name == Py_None) return 0;
  if (!PyUnicode_Check(name)) {
    PyErr_SetString(kpy_InterfaceError, "The name must be a string");
    return -1;
  }
  Py_ssize_t n;
  const char *s = PyUnicode_AsUTF8AndSize(name, &n);
  if (!s) return -1;
  if (std::memchr(s, '\0', (size_t)n)) {
    PyErr_SetString(kpy_InterfaceError, "Value contains a NUL character");
    return -1;
  }
  return 0;
}

int checkVartype(int t) {
  if (t < KPY_CONTINUOUS || t > KPY_PARTIALLYINTEGER) {
    PyErr_Format(kpy_InterfaceError, "Invalid variable type %d", t);
    return -1;
  }
  return 0;
}

int refuseDeleted(const var_s *v) {
  if (!kpy_isDeleted(v->owner)) return 0;
  PyErr_SetString(kpy_ModelError, "Variable has been deleted from the problem");
  return -1;
}

PyObject *linkedUnavailable(const char *what) {
  PyErr_Format(kpy_ModelError, "The %s of a variable in a problem is read with the problem's methods", what);
  return nullptr;
}

// --- type slots ---

PyObject *var_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"lb", "ub", "threshold", "name", "vartype", nullptr};
  double lb = 0.0, ub = KPY_INFINITY, threshold = -KPY_INFINITY;
  PyObject *name = Py_None;
  int vartype = KPY_CONTINUOUS;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|dddOi", (char **)kwlist, &lb, &ub, &threshold, &name,
                                   &vartype))
    return nullptr;
  if (kpy_clampBound(lb, &lb) < 0 || kpy_clampBound(ub, &ub) < 0 || kpy_clampBound(threshold, &threshold) < 0 ||
      checkName(name) < 0 || checkVartype(vartype) < 0)
    return nullptr;
  uint64_t serial = kpy_nextSerial(&kpy_env.var_serial);
  if (!serial) return nullptr;
  var_s *v = (var_s *)type->tp_alloc(type, 0);
  if (!v) return nullptr;
  v->owner = nullptr;
  v->idx_low = (uint32_t)serial;
  v->idx_high = (uint16_t)(serial >> 32);
  v->flags = 0;
  v->vartype = (uint8_t)vartype;
  if ((lb != 0.0 && setUnlinkedValue(v, kHasLb, kpy_env.var_lb, lb) < 0) ||
      (ub != KPY_INFINITY && setUnlinkedValue(v, kHasUb, kpy_env.var_ub, ub) < 0) ||
      (threshold != -KPY_INFINITY && setUnlinkedValue(v, kHasThreshold, kpy_env.var_threshold, threshold) < 0) ||
      (name != Py_None && setUnlinkedName(v, name) < 0)) {
    Py_DECREF(v);
    return nullptr;
  }
  return (PyObject *)v;
}

void var_dealloc(PyObject *self) {
  var_s *v = (var_s *)self;
  if (!v->owner && v->flags) {
    uint64_t s = serialOf(v);
    if (v->flags & kHasLb) kpy_env.var_lb->erase(s);
    if (v->flags & kHasUb) kpy_env.var_ub->erase(s);
    if (v->flags & kHasThreshold) kpy_env.var_threshold->erase(s);
    if (v->flags & kHasName) setUnlinkedName(v, nullptr);
  }
  Py_TYPE(self)->tp_free(self);
}

Py_hash_t var_hash(PyObject *self) { return Py_HashPointer(self); }

PyObject *identity_cmp(PyObject *a, PyObject *b, int op) { Py_RETURN_RICHCOMPARE((void *)a, (void *)b, op); }

PyObject *var_getName(PyObject *self, void *) { return get_var_name((var_s *)self); }

int var_setName(PyObject *self, PyObject *value, void *) {
  var_s *v = (var_s *)self;
  if (refuseDeleted(v) < 0) return -1;
  if (v->owner) {
    PyErr_SetString(kpy_ModelError, "The name of a variable in a problem is changed with the problem's methods");
    return -1;
  }
  if (!value) value = Py_None;
  if (checkName(value) < 0) return -1;
  return setUnlinkedName(v, value == Py_None ? nullptr : value);
}

PyObject *var_getIndex(PyObject *self, void *) {
  var_s *v = (var_s *)self;
  if (refuseDeleted(v) < 0) return nullptr;
  if (!v->owner) {
    PyErr_SetString(kpy_ModelError, "Variable does not belong to any problem");
    return nullptr;
  }
  return PyLong_FromUnsignedLong(v->idx_low);
}

// getter: the solver's getter for a linked variable, or null when the solver has none
PyObject *boundGetter(var_s *v, uint8_t flag, boundmap *map, double dflt, const char *what,
                      int (*getter)(KRVXprob, double *, int, int)) {
  if (refuseDeleted(v) < 0) return nullptr;
  if (!v->owner) return PyFloat_FromDouble(unlinkedValue(v, flag, map, dflt));
  if (!getter) return linkedUnavailable(what);
  double d = 0;
  if (kpy_readSolverItem(v->owner, getter, (int)v->idx_low, &d) < 0) return nullptr;
  return PyFloat_FromDouble(d);
}

int boundSetter(var_s *v, PyObject *value, uint8_t flag, boundmap *map, const char *what) {
  if (refuseDeleted(v) < 0) return -1;
  if (v->owner) {
    PyErr_Format(kpy_ModelError, "The %s of a variable in a problem is changed with the problem's methods", what);
    return -1;
  }
  if (!value) {
    PyErr_Format(PyExc_AttributeError, "The %s of a variable cannot be deleted", what);
    return -1;
  }
  double d = PyFloat_AsDouble(value);
  if (d == -1.0 && PyErr_Occurred()) return -1;
  if (kpy_clampBound(d, &d) < 0) return -1;
  return setUnlinkedValue(v, flag, map, d);
}

PyObject *var_getLb(PyObject *s, void *) {
  return boundGetter((var_s *)s, kHasLb, kpy_env.var_lb, 0.0, "lower bound", KRVXgetlb);
}
PyObject *var_getUb(PyObject *s, void *) {
  return boundGetter((var_s *)s, kHasUb, kpy_env.var_ub, KPY_INFINITY, "upper bound", KRVXgetub);
}
PyObject *var_getThreshold(PyObject *s, void *) {
  return boundGetter((var_s *)s, kHasThreshold, kpy_env.var_threshold, -KPY_INFINITY, "threshold", nullptr);
}
int var_setLb(PyObject *s, PyObject *v, void *) { return boundSetter((var_s *)s, v, kHasLb, kpy_env.var_lb, "lower bound"); }
int var_setUb(PyObject *s, PyObject *v, void *) { return boundSetter((var_s *)s, v, kHasUb, kpy_env.var_ub, "upper bound"); }
int var_setThreshold(PyObject *s, PyObject *v, void *) {
  return boundSetter((var_s *)s, v, kHasThreshold, kpy_env.var_threshold, "threshold");
}

PyObject *var_getVartype(PyObject *self, void *) {
  var_s *v = (var_s *)self;
  if (refuseDeleted(v) < 0) return nullptr;
  if (!v->owner) return PyLong_FromLong(v->vartype);
  char t = 'C';
  if (kpy_readSolverItem(v->owner, KRVXgetcoltype, (int)v->idx_low, &t) < 0) return nullptr;
  static const char letters[] = "CBISRP";   // in the order of kpy_vartype
  const char *at = std::strchr(letters, t);
  if (!at || !t) {
    PyErr_Format(kpy_SolverError, "Unknown column type '%c'", t);
    return nullptr;
  }
  return PyLong_FromLong((long)(at - letters));
}

int var_setVartype(PyObject *self, PyObject *value, void *) {
  var_s *v = (var_s *)self;
  if (refuseDeleted(v) < 0) return -1;
  if (v->owner) {
    PyErr_SetString(kpy_ModelError, "The type of a variable in a problem is changed with the problem's methods");
    return -1;
  }
  if (!value) {
    PyErr_SetString(PyExc_AttributeError, "The type of a variable cannot be deleted");
    return -1;
  }
  long t = PyLong_AsLong(value);
  if (t == -1 && PyErr_Occurred()) return -1;
  if (checkVartype((int)t) < 0) return -1;
  v->vartype = (uint8_t)t;
  return 0;
}

PyGetSetDef var_getset[] = {
    {"name", var_getName, var_setName, "The variable's name.", nullptr},
    {"index", var_getIndex, nullptr, "The variable's column index in its problem.", nullptr},
    {"lb", var_getLb, var_setLb, "The lower bound.", nullptr},
    {"ub", var_getUb, var_setUb, "The upper bound.", nullptr},
    {"threshold", var_getThreshold, var_setThreshold, "The threshold of a semi-continuous or semi-integer variable.",
     nullptr},
    {"vartype", var_getVartype, var_setVartype, "The variable type (korvex.continuous, korvex.binary, ...).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject kpy_varType = [] {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = "korvex.var";
  t.tp_basicsize = sizeof(var_s);
  t.tp_dealloc = var_dealloc;
  t.tp_repr = var_str;
  t.tp_str = var_str;
  t.tp_hash = var_hash;
  t.tp_richcompare = identity_cmp;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  t.tp_doc =
      "var(lb=0, ub=korvex.infinity, threshold=-korvex.infinity, name=None, vartype=korvex.continuous)\n\n"
      "A decision variable. Created on its own it belongs to no problem until it is added to one.";
  t.tp_getset = var_getset;
  t.tp_new = var_new;
  return t;
}();

PyObject *var_createLinked(problem_s *prob, Py_ssize_t index) {
  if (index < 0 || index > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "Invalid variable or constraint index");
    return nullptr;
  }
  var_s *v = PyObject_New(var_s, &kpy_varType);
  if (!v) return nullptr;
  v->owner = prob;
  v->idx_low = (uint32_t)index;
  v->idx_high = 0;
  v->flags = 0;
  v->vartype = KPY_CONTINUOUS;
  return (PyObject *)v;
}

PyObject *get_var_name(var_s *var) {
  if (kpy_isDeleted(var->owner)) return PyUnicode_FromString("(deleted variable)");
  if (var->owner) return kpy_getSolverName(var->owner, 2, (int)var->idx_low);
  if (var->flags & kHasName) {
    auto it = kpy_env.var_names->find(serialOf(var));
    if (it != kpy_env.var_names->end()) return Py_NewRef(it->second);
  }
  return PyUnicode_FromFormat("C%llu", (unsigned long long)serialOf(var));
}

PyObject *var_str(PyObject *var) { return get_var_name((var_s *)var); }

uint64_t kpy_nextSerial(uint64_t *counter) {
  if (*counter >= (1ULL << 48)) {
    PyErr_SetString(PyExc_OverflowError, "Too many model objects created");
    return 0;
  }
  return (*counter)++;
}

int kpy_clampBound(double v, double *out) {
  if (std::isnan(v)) {
    PyErr_SetString(kpy_InterfaceError, "A bound cannot be NaN");
    return -1;
  }
  *out = v < -KPY_INFINITY ? -KPY_INFINITY : v > KPY_INFINITY ? KPY_INFINITY : v;
  return 0;
}

PyObject *kpy_getSolverName(problem_s *prob, int kind, int index) {
  if (checkProblemIsInitialized(prob) < 0 || kpy_sendRowsFirst(prob) < 0) return nullptr;
  ko_prob_struct *h = prob->prob;
  int64_t nbytes = 0;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = KRVXgetnames(h, kind, nullptr, 0, &nbytes, index, index);
  Py_END_ALLOW_THREADS
  if (rc || nbytes <= 0) {
    setKrvxErrIfNull((PyObject *)prob, nullptr);
    return nullptr;
  }
  std::vector<char> buf((size_t)nbytes + 1, '\0');
  Py_BEGIN_ALLOW_THREADS
  rc = KRVXgetnames(h, kind, buf.data(), nbytes, &nbytes, index, index);
  Py_END_ALLOW_THREADS
  if (rc) {
    setKrvxErrIfNull((PyObject *)prob, nullptr);
    return nullptr;
  }
  return kpy_solverText(buf.data(), (Py_ssize_t)strnlen(buf.data(), buf.size()));
}
