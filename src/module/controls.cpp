// Controls and attributes by name: p.controls, p.attributes, korvex.controls, and the problem
// methods setControl, getControl and getAttrib.
#include "module/controls.h"
#include "module/library.h"
#include "module/services.h"

#include <vector>

namespace {

enum class Table { Control, Attrib };

PyObject *infoDict(Table t) { return t == Table::Control ? kpy_env.ctrl_info : kpy_env.attr_info; }
const char *tableWord(Table t) { return t == Table::Control ? "control" : "attribute"; }

// Looks up a parameter by name (case-insensitive): 1 found, 0 unknown, -1 error.
int lookup(Table t, PyObject *name, PyObject **key, int *id, int *type) {
  if (!PyUnicode_Check(name)) {
    PyErr_Format(PyExc_TypeError, "The name of a %s must be a string", tableWord(t));
    return -1;
  }
  if (kpy_ensureLibrary() < 0) return -1;
  PyObject *lower = PyObject_CallMethod(name, "lower", nullptr);
  if (!lower) return -1;
  PyObject *entry = nullptr;
  int found = PyDict_GetItemRef(infoDict(t), lower, &entry);
  if (found <= 0) {
    Py_DECREF(lower);
    return found;
  }
  *id = (int)PyLong_AsLong(PyTuple_GET_ITEM(entry, 0));
  *type = (int)PyLong_AsLong(PyTuple_GET_ITEM(entry, 1));
  Py_DECREF(entry);
  if (key)
    *key = lower;
  else
    Py_DECREF(lower);
  return 1;
}

void unknownName(Table t, PyObject *exc, PyObject *name) {
  PyErr_Format(exc, "Unknown %s name: %S", tableWord(t), name);
}

// Resolves a name or raises (exc for unknown names); 0 or -1.
int resolve(Table t, PyObject *exc, PyObject *name, PyObject **key, int *id, int *type) {
  int found = lookup(t, name, key, id, type);
  if (found == 0) unknownName(t, exc, name);
  return found == 1 ? 0 : -1;
}

// Runs a solver call, without the interpreter lock unless keepLock.
template <class F>
int solverCall(bool keepLock, F &&f) {
  if (keepLock) return f();
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = f();
  Py_END_ALLOW_THREADS
  return rc;
}

// Reads a string control or attribute with a growing buffer.
template <class F>
PyObject *readString(bool keepLock, F &&call) {
  std::vector<char> buf(256, '\0');
  int nbytes = 0;
  int rc = solverCall(keepLock, [&] { return call(buf.data(), (int)buf.size(), &nbytes); });
  if (rc == 0 && nbytes > (int)buf.size()) {
    buf.assign((size_t)nbytes + 1, '\0');
    rc = solverCall(keepLock, [&] { return call(buf.data(), (int)buf.size(), &nbytes); });
  }
  if (rc) return nullptr;
  buf.back() = '\0';
  return kpy_solverText(buf.data());
}

// The value of one parameter of a solver problem; null with an error set.
PyObject *readParam(Table t, PyObject *owner, ko_prob_struct *h, int id, int type, bool keepLock = false) {
  int rc = 1;
  PyObject *result = nullptr;
  if (type == KRVX_TYPE_INT || type == KRVX_TYPE_INT64) {
    int64_t v = 0;
    int v32 = 0;
    rc = solverCall(keepLock, [&] {
      if (t == Table::Attrib) return KRVXgetintattrib64(h, id, &v);
      return type == KRVX_TYPE_INT ? KRVXgetintcontrol(h, id, &v32) : KRVXgetintcontrol64(h, id, &v);
    });
    if (t == Table::Control && type == KRVX_TYPE_INT) v = v32;
    if (!rc) result = PyLong_FromLongLong(v);
  } else if (type == KRVX_TYPE_DOUBLE) {
    double v = 0;
    rc = solverCall(keepLock, [&] {
      return t == Table::Control ? KRVXgetdblcontrol(h, id, &v) : KRVXgetdblattrib(h, id, &v);
    });
    if (!rc) result = PyFloat_FromDouble(v);
  } else if (type == KRVX_TYPE_STRING) {
    result = readString(keepLock, [&](char *b, int n, int *nb) {
      return t == Table::Control ? KRVXgetstrcontrol(h, id, b, n, nb) : KRVXgetstrattrib(h, id, b, n, nb);
    });
    rc = result ? 0 : 1;
  } else {
    PyErr_Format(PyExc_RuntimeError, "The %s with id %d has an unknown type", tableWord(t), id);
    return nullptr;
  }
  if (rc) setKrvxErrIfNull(owner, nullptr);
  return result;
}

// Converts a Python value to an integer control value.
int toInteger(PyObject *value, int64_t *out) {
  if (PyFloat_Check(value)) {
    double d = PyFloat_AS_DOUBLE(value);
    if (d != (double)(int64_t)d) {
      PyErr_SetString(PyExc_TypeError, "This control needs an integer value");
      return -1;
    }
    *out = (int64_t)d;
    return 0;
  }
  if (!PyIndex_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "This control needs an integer value");
    return -1;
  }
  int overflow = 0;
  PyObject *idx = PyNumber_Index(value);
  if (!idx) return -1;
  long long v = PyLong_AsLongLongAndOverflow(idx, &overflow);
  Py_DECREF(idx);
  if (overflow) {
    PyErr_SetString(PyExc_OverflowError, "Control value out of range");
    return -1;
  }
  if (v == -1 && PyErr_Occurred()) return -1;
  *out = v;
  return 0;
}

// A control value converted to the control's type: a new reference of int, float or str.
PyObject *normaliseControl(int type, PyObject *value) {
  if (type == KRVX_TYPE_INT || type == KRVX_TYPE_INT64) {
    int64_t v;
    if (toInteger(value, &v) < 0) return nullptr;
    if (type == KRVX_TYPE_INT && (v < INT32_MIN || v > INT32_MAX)) {
      PyErr_SetString(PyExc_OverflowError, "Control value out of range");
      return nullptr;
    }
    return PyLong_FromLongLong(v);
  }
  if (type == KRVX_TYPE_DOUBLE) {
    double d = PyFloat_AsDouble(value);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      PyErr_SetString(PyExc_TypeError, "This control needs a numeric value");
      return nullptr;
    }
    return PyFloat_FromDouble(d);
  }
  if (type == KRVX_TYPE_STRING) {
    PyObject *holder = nullptr;
    if (!pyStrToStr(value, nullptr, &holder)) return nullptr;
    if (PyBytes_Check(holder)) {
      PyObject *s = PyUnicode_FromEncodedObject(holder, "utf-8", "strict");
      Py_DECREF(holder);
      return s;
    }
    return holder;
  }
  PyErr_SetString(PyExc_RuntimeError, "Control of unknown type");
  return nullptr;
}

// Sets a normalised control value on a solver handle; the solver's return code.
int setOnHandle(ko_prob_struct *h, int id, int type, PyObject *v) {
  if (type == KRVX_TYPE_STRING) {
    const char *s = PyUnicode_AsUTF8(v);
    return s ? solverCall(false, [&] { return KRVXsetstrcontrol(h, id, s); }) : -1;
  }
  if (type == KRVX_TYPE_DOUBLE) {
    double d = PyFloat_AS_DOUBLE(v);
    return solverCall(false, [&] { return KRVXsetdblcontrol(h, id, d); });
  }
  long long n = PyLong_AsLongLong(v);
  return solverCall(false, [&] {
    return type == KRVX_TYPE_INT ? KRVXsetintcontrol(h, id, (int)n) : KRVXsetintcontrol64(h, id, n);
  });
}

// Sets one control of a problem: 0 or -1.
int writeControl(problem_s *p, PyObject *key, int id, int type, PyObject *value) {
  PyObject *v = normaliseControl(type, value);
  if (!v) return -1;
  int rc = setOnHandle(p->prob, id, type, v);
  if (!rc && PyUnicode_CompareWithASCIIString(key, "outputlog") == 0) p->output_enabled = PyObject_IsTrue(v);
  Py_DECREF(v);
  if (rc) {
    setKrvxErrIfNull((PyObject *)p, nullptr);
    return -1;
  }
  return 0;
}

problem_s *boundProblem(params_s *self) {
  if (checkProblemIsInitialized(self->prob) < 0) return nullptr;
  return self->prob;
}

// --- korvex.controls (module-wide) ---

PyObject *globalGet(params_s *self, PyObject *key) {
  PyObject *v = nullptr;
  if (PyDict_GetItemRef(kpy_env.ctrl_values, key, &v) != 0) return v;
  if (PyDict_GetItemRef(self->defaults, key, &v) != 0) return v;
  Py_RETURN_NONE;
}

// A module-wide value is first tried on a scratch problem, so that a value the library
// refuses fails here rather than in every later problem creation.
int globalSet(PyObject *key, int id, int type, PyObject *value) {
  if (!value) {   // del korvex.controls.name: back to the default
    PyObject *old = nullptr;
    return PyDict_Pop(kpy_env.ctrl_values, key, &old) < 0 ? -1 : (Py_XDECREF(old), 0);
  }
  PyObject *v = normaliseControl(type, value);
  if (!v) return -1;
  ko_prob_struct *scratch = nullptr;
  int rc = KRVXcreateprob(&scratch) != 0 ? -1 : 0;
  if (rc == 0 && setOnHandle(scratch, id, type, v) != 0) {
    char buf[KRVX_MAXERRLEN + 1] = {0};
    KRVXgetlasterror(scratch, buf);
    buf[KRVX_MAXERRLEN] = '\0';
    kpy_setSolverError(kpy_SolverError, buf[0] ? buf : "Unidentified error associated with optimization problem");
    rc = -1;
  } else if (rc < 0) {
    setKrvxErrIfNull(nullptr, nullptr);
  }
  if (scratch) KRVXdestroyprob(scratch);
  if (rc == 0) rc = PyDict_SetItem(kpy_env.ctrl_values, key, v);
  Py_DECREF(v);
  return rc;
}

// --- type slots ---

Table tableOf(PyObject *self) {
  return Py_TYPE(self) == &kpy_attributesType ? Table::Attrib : Table::Control;
}

bool isGlobal(PyObject *self) { return ((params_s *)self)->defaults != nullptr; }

PyObject *params_getattro(PyObject *self, PyObject *name) {
  if (PyUnicode_Check(name) && PyUnicode_GET_LENGTH(name) > 1 && PyUnicode_READ_CHAR(name, 0) == '_')
    return PyObject_GenericGetAttr(self, name);
  Table t = tableOf(self);
  PyObject *key = nullptr;
  int id, type;
  if (resolve(t, PyExc_AttributeError, name, &key, &id, &type) < 0) return nullptr;
  PyObject *result;
  if (isGlobal(self)) {
    result = globalGet((params_s *)self, key);
  } else {
    problem_s *p = boundProblem((params_s *)self);
    result = p && kpy_sendRowsFirst(p) == 0 ? readParam(t, (PyObject *)p, p->prob, id, type) : nullptr;
  }
  Py_DECREF(key);
  return result;
}

int params_setattro(PyObject *self, PyObject *name, PyObject *value) {
  Table t = tableOf(self);
  if (t == Table::Attrib) {
    PyErr_Format(PyExc_AttributeError, "Attributes are read-only: %S", name);
    return -1;
  }
  PyObject *key = nullptr;
  int id, type;
  if (resolve(t, PyExc_AttributeError, name, &key, &id, &type) < 0) return -1;
  int rc;
  if (isGlobal(self)) {
    rc = globalSet(key, id, type, value);
  } else if (!value) {
    PyErr_SetString(PyExc_AttributeError, "Controls cannot be deleted");
    rc = -1;
  } else {
    problem_s *p = boundProblem((params_s *)self);
    rc = p ? writeControl(p, key, id, type, value) : -1;
  }
  Py_DECREF(key);
  return rc;
}

PyObject *params_dir(PyObject *self, PyObject *) {
  if (Py_TYPE(self) == &kpy_objattribsType) return PyList_New(0);
  if (kpy_ensureLibrary() < 0) return nullptr;
  PyObject *names = PyDict_Keys(infoDict(tableOf(self)));
  if (names && PyList_Sort(names) < 0) Py_CLEAR(names);
  return names;
}

// The problem's pointer to this object.
PyObject **problemSlot(params_s *o) {
  problem_s *p = o->prob;
  if (!p) return nullptr;
  if (Py_IS_TYPE(o, &kpy_controlsType)) return &p->controls;
  if (Py_IS_TYPE(o, &kpy_attributesType)) return &p->attributes;
  return &p->objattribs;
}

int params_traverse(PyObject *self, visitproc visit, void *arg) {
  Py_VISIT(((params_s *)self)->prob);
  Py_VISIT(((params_s *)self)->defaults);
  return 0;
}

int params_clear(PyObject *self) {
  params_s *o = (params_s *)self;
  PyObject **slot = problemSlot(o);
  if (slot && *slot == self) *slot = nullptr;
  Py_CLEAR(o->prob);
  Py_CLEAR(o->defaults);
  return 0;
}

void params_dealloc(PyObject *self) {
  PyObject_GC_UnTrack(self);
  params_clear(self);
  Py_TYPE(self)->tp_free(self);
}

PyMethodDef params_methods[] = {
    {"__dir__", params_dir, METH_NOARGS, "The names of the parameters."},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject makeType(const char *name, const char *doc, bool named) {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = name;
  t.tp_basicsize = sizeof(params_s);
  t.tp_dealloc = params_dealloc;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_HAVE_GC;
  t.tp_doc = doc;
  t.tp_traverse = params_traverse;
  t.tp_clear = params_clear;
  t.tp_methods = params_methods;
  if (named) {
    t.tp_getattro = params_getattro;
    t.tp_setattro = params_setattro;
  }
  return t;
}

// --- the problem methods' argument forms ---

// Reads the parameters of a problem named by arg: None all, a str one, a sequence a dict.
PyObject *readNamed(Table t, problem_s *p, PyObject *arg) {
  if (kpy_ensureLibrary() < 0 || checkProblemIsInitialized(p) < 0 || kpy_sendRowsFirst(p) < 0) return nullptr;
  auto readOne = [&](PyObject *name) -> PyObject * {
    int id, type;
    if (resolve(t, kpy_InterfaceError, name, nullptr, &id, &type) < 0) return nullptr;
    return readParam(t, (PyObject *)p, p->prob, id, type);
  };
  if (arg && arg != Py_None && PyUnicode_Check(arg)) return readOne(arg);
  PyObject *names = (!arg || arg == Py_None) ? PyDict_Keys(infoDict(t)) : PySequence_List(arg);
  if (!names) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(kpy_InterfaceError, "The %s names must be a string or a sequence of strings", tableWord(t));
    }
    return nullptr;
  }
  PyObject *result = PyDict_New();
  for (Py_ssize_t i = 0; result && i < PyList_GET_SIZE(names); ++i) {
    PyObject *name = PyList_GET_ITEM(names, i);
    PyObject *v = readOne(name);
    if (!v || PyDict_SetItem(result, name, v) < 0) Py_CLEAR(result);
    Py_XDECREF(v);
  }
  Py_DECREF(names);
  return result;
}

}  // namespace

PyTypeObject kpy_controlsType = makeType("korvex.controls", kpy_controlsDoc(), true);
PyTypeObject kpy_attributesType = makeType("korvex.attributes", kpy_attributesDoc(), true);
PyTypeObject kpy_objattribsType = makeType("korvex.objattribs", "Attributes of the problem's objectives.", false);

PyObject *params_create(PyTypeObject *type, problem_s *prob) {
  params_s *o = PyObject_GC_New(params_s, type);
  if (!o) return nullptr;
  o->prob = (problem_s *)Py_XNewRef((PyObject *)prob);
  o->defaults = nullptr;
  if (PyObject **slot = problemSlot(o)) *slot = (PyObject *)o;
  PyObject_GC_Track(o);
  return (PyObject *)o;
}

PyObject *params_createGlobal() {
  params_s *o = (params_s *)params_create(&kpy_controlsType, nullptr);
  if (!o) return nullptr;
  o->defaults = PyDict_New();
  PyObject *miptol = PyFloat_FromDouble(5e-6);
  if (!o->defaults || !miptol || PyDict_SetItemString(o->defaults, "miptol", miptol) < 0) {
    Py_XDECREF(miptol);
    Py_DECREF(o);
    return nullptr;
  }
  Py_DECREF(miptol);
  return (PyObject *)o;
}

int kpy_readParamTables() {
  struct ParamTable {
    PyObject *dict;
    int (*get)(int, char *, int *, int *);
  } tables[] = {{kpy_env.ctrl_info, KRVXgetcontrolbyindex}, {kpy_env.attr_info, KRVXgetattribbyindex}};
  for (auto &table : tables) {
    PyDict_Clear(table.dict);
    for (int i = 0;; ++i) {
      char name[256] = {0};
      int id = 0, type = 0;
      if (table.get(i, name, &id, &type) != 0) break;
      name[sizeof name - 1] = '\0';
      PyObject *key = PyUnicode_FromString(name);
      PyObject *lower = key ? PyObject_CallMethod(key, "lower", nullptr) : nullptr;
      PyObject *entry = Py_BuildValue("(ii)", id, type);
      int rc = (lower && entry) ? PyDict_SetItem(table.dict, lower, entry) : -1;
      Py_XDECREF(key);
      Py_XDECREF(lower);
      Py_XDECREF(entry);
      if (rc < 0) return -1;
    }
  }
  // the library's defaults, read from a scratch problem
  ko_prob_struct *scratch = nullptr;
  if (KRVXcreateprob(&scratch) != 0) {
    setKrvxErrIfNull(nullptr, nullptr);
    return -1;
  }
  PyObject *defaults = ((params_s *)kpy_env.controls)->defaults;
  PyObject *key, *entry;
  Py_ssize_t pos = 0;
  int rc = 0;
  while (rc == 0 && PyDict_Next(kpy_env.ctrl_info, &pos, &key, &entry)) {
    int id = (int)PyLong_AsLong(PyTuple_GET_ITEM(entry, 0));
    int type = (int)PyLong_AsLong(PyTuple_GET_ITEM(entry, 1));
    PyObject *v = readParam(Table::Control, nullptr, scratch, id, type, true);
    if (!v || PyDict_SetItem(defaults, key, v) < 0) rc = -1;
    Py_XDECREF(v);
  }
  KRVXdestroyprob(scratch);
  return rc;
}

int kpy_applyGlobalControls(problem_s *prob) {
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(kpy_env.ctrl_values, &pos, &key, &value)) {
    int id, type;
    if (resolve(Table::Control, kpy_InterfaceError, key, nullptr, &id, &type) < 0) return -1;
    if (writeControl(prob, key, id, type, value) < 0) return -1;
  }
  return 0;
}

PyObject *problem_setControl(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"control", "value", nullptr};
  PyObject *control = nullptr, *value = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O", (char **)kwlist, &control, &value)) return nullptr;
  problem_s *p = (problem_s *)self;
  if (kpy_ensureLibrary() < 0 || checkProblemIsInitialized(p) < 0) return nullptr;
  auto setOne = [&](PyObject *name, PyObject *v) {
    PyObject *key = nullptr;
    int id, type;
    if (resolve(Table::Control, kpy_InterfaceError, name, &key, &id, &type) < 0) return -1;
    int rc = writeControl(p, key, id, type, v);
    Py_DECREF(key);
    return rc;
  };
  if (PyDict_Check(control)) {
    if (value) {
      PyErr_SetString(kpy_InterfaceError, "A dictionary of controls takes no separate value");
      return nullptr;
    }
    PyObject *name, *v;
    Py_ssize_t pos = 0;
    while (PyDict_Next(control, &pos, &name, &v))
      if (setOne(name, v) < 0) return nullptr;
    Py_RETURN_NONE;
  }
  if (!value) {
    PyErr_SetString(kpy_InterfaceError, "Must provide argument 'value'");
    return nullptr;
  }
  if (setOne(control, value) < 0) return nullptr;
  Py_RETURN_NONE;
}

PyObject *problem_getControl(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"control", nullptr};
  PyObject *names = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &names)) return nullptr;
  return readNamed(Table::Control, (problem_s *)self, names);
}

PyObject *problem_getAttrib(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"attrib", nullptr};
  PyObject *names = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &names)) return nullptr;
  return readNamed(Table::Attrib, (problem_s *)self, names);
}
