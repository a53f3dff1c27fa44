// korvex.sos: a special ordered set of a problem (linked), or one created on its own (unlinked)
// holding its variables, weights, type and name.
#include "model/problem.h"

namespace {

int refuseDeleted(const sos_s *s) {
  if (!kpy_isDeleted(s->owner)) return 0;
  PyErr_SetString(kpy_ModelError, "SOS has been deleted from the problem");
  return -1;
}

int refuseLinked(const sos_s *s, const char *what) {
  if (refuseDeleted(s) < 0) return -1;
  if (!s->owner) return 0;
  PyErr_Format(kpy_ModelError, "The %s of an SOS in a problem is read with the problem's methods", what);
  return -1;
}

PyObject *sos_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"indices", "weights", "type", "name", nullptr};
  PyObject *indices, *weights, *name = Py_None;
  int settype = 1;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|iO", (char **)kwlist, &indices, &weights, &settype, &name))
    return nullptr;
  if (settype != 1 && settype != 2) {
    PyErr_Format(kpy_InterfaceError, "Invalid SOS type %d: must be 1 or 2", settype);
    return nullptr;
  }
  if (name != Py_None) {
    PyObject *holder = nullptr;
    const char *s = PyUnicode_Check(name) ? pyStrToStr(name, nullptr, &holder) : nullptr;
    Py_XDECREF(holder);
    if (!s) {
      PyErr_Clear();
      PyErr_SetString(kpy_InterfaceError, "The name must be a string without NUL characters");
      return nullptr;
    }
  }
  PyObject *vars = PySequence_List(indices);
  if (!vars) {
    PyErr_Clear();
    PyErr_SetString(kpy_InterfaceError, "Argument 'indices' must be iterable");
    return nullptr;
  }
  PyObject *wlist = PySequence_List(weights);
  if (!wlist) {
    Py_DECREF(vars);
    PyErr_Clear();
    PyErr_SetString(kpy_InterfaceError, "Argument 'weights' must be iterable");
    return nullptr;
  }
  auto fail = [&](PyObject *r = nullptr) {
    Py_DECREF(vars);
    Py_DECREF(wlist);
    return r;
  };
  if (PyList_GET_SIZE(vars) != PyList_GET_SIZE(wlist)) {
    PyErr_SetString(kpy_InterfaceError, "Arguments 'indices' and 'weights' must have the same length");
    return fail();
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(vars); ++i) {
    PyObject *v = PyList_GET_ITEM(vars, i);
    if (!PyObject_TypeCheck(v, &kpy_varType)) {
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument 'indices': not a variable", (int)i);
      return fail();
    }
    if (kpy_isDeleted(((var_s *)v)->owner)) {
      PyErr_SetString(kpy_ModelError, "Variable has been deleted from the problem");
      return fail();
    }
    double w = PyFloat_AsDouble(PyList_GET_ITEM(wlist, i));
    if (w == -1.0 && PyErr_Occurred()) {
      std::string text = kpy_PyErr_ToString();
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument 'weights': %s", (int)i, text.c_str());
      return fail();
    }
    PyObject *f = PyFloat_FromDouble(w);
    if (!f) return fail();
    PyList_SetItem(wlist, i, f);
  }
  uint64_t serial = kpy_nextSerial(&kpy_env.sos_serial);
  if (!serial) return fail();
  sos_s *s = (sos_s *)type->tp_alloc(type, 0);
  if (!s) return fail();
  s->owner = nullptr;
  s->index = serial;
  s->name = name == Py_None ? nullptr : Py_NewRef(name);
  s->type = settype;
  s->indices = vars;
  s->weights = wlist;
  return (PyObject *)s;
}

void sos_dealloc(PyObject *self) {
  sos_s *s = (sos_s *)self;
  Py_CLEAR(s->name);
  Py_CLEAR(s->indices);
  Py_CLEAR(s->weights);
  Py_TYPE(self)->tp_free(self);
}

PyObject *sos_getName(PyObject *self, void *) {
  sos_s *s = (sos_s *)self;
  if (refuseDeleted(s) < 0) return nullptr;
  if (s->owner) return kpy_getSolverName(s->owner, 3, (int)s->index);
  if (s->name) return Py_NewRef(s->name);
  return PyUnicode_FromFormat("S%llu", (unsigned long long)s->index);
}

PyObject *sos_getIndex(PyObject *self, void *) {
  sos_s *s = (sos_s *)self;
  if (refuseDeleted(s) < 0) return nullptr;
  if (!s->owner) {
    PyErr_SetString(kpy_ModelError, "SOS does not belong to any problem");
    return nullptr;
  }
  return PyLong_FromUnsignedLongLong(s->index);
}

PyObject *sos_getType(PyObject *self, void *) {
  sos_s *s = (sos_s *)self;
  if (refuseLinked(s, "type") < 0) return nullptr;
  return PyLong_FromLong(s->type);
}

PyObject *sos_getIndices(PyObject *self, void *) {
  sos_s *s = (sos_s *)self;
  if (refuseLinked(s, "variables") < 0) return nullptr;
  return PyList_GetSlice(s->indices, 0, PY_SSIZE_T_MAX);
}

PyObject *sos_getWeights(PyObject *self, void *) {
  sos_s *s = (sos_s *)self;
  if (refuseLinked(s, "weights") < 0) return nullptr;
  return PyList_GetSlice(s->weights, 0, PY_SSIZE_T_MAX);
}

PyObject *sos_str(PyObject *self) {
  if (kpy_isDeleted(((sos_s *)self)->owner)) return PyUnicode_FromString("(deleted SOS)");
  return sos_getName(self, nullptr);
}

PyGetSetDef sos_getset[] = {
    {"name", sos_getName, nullptr, "The set's name.", nullptr},
    {"index", sos_getIndex, nullptr, "The set's index in its problem.", nullptr},
    {"type", sos_getType, nullptr, "The set type, 1 or 2.", nullptr},
    {"indices", sos_getIndices, nullptr, "The variables of the set.", nullptr},
    {"weights", sos_getWeights, nullptr, "The weights of the set's variables.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject kpy_sosType = [] {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = "korvex.sos";
  t.tp_basicsize = sizeof(sos_s);
  t.tp_dealloc = sos_dealloc;
  t.tp_repr = sos_str;
  t.tp_str = sos_str;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  t.tp_doc = "sos(indices, weights, type=1, name=None)\n\nA special ordered set of type 1 or 2 over variables.";
  t.tp_getset = sos_getset;
  t.tp_new = sos_new;
  return t;
}();

PyObject *sos_createLinked(problem_s *prob, Py_ssize_t index) {
  if (index < 0 || index > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "Invalid SOS index");
    return nullptr;
  }
  sos_s *s = PyObject_New(sos_s, &kpy_sosType);
  if (!s) return nullptr;
  s->owner = prob;
  s->index = (uint64_t)index;
  s->name = nullptr;
  s->type = 1;
  s->indices = nullptr;
  s->weights = nullptr;
  return (PyObject *)s;
}
