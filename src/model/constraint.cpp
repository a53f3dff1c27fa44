// korvex.constraint: a row of a problem (linked), or a constraint holding its own body,
// bounds and name (unlinked: made by comparing expressions or by the constructor).
#include "model/problem.h"
#include "api/modelling.h"
#include "expr/expr.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

uint32_t linkState(const constraint_s *c) { return c->state & KPY_CON_STATE_MASK; }

uint64_t serialOf(const constraint_s *c) { return kpy_serial(c->idx_high, c->idx_low); }

int refuseDeleted(const constraint_s *c) {
  if (!kpy_isDeleted(c->owner)) return 0;
  PyErr_SetString(kpy_ModelError, "Constraint has been deleted from the problem");
  return -1;
}

// Only a constraint that holds its own values may change them here.
int refuseLinked(const constraint_s *c, const char *what) {
  if (refuseDeleted(c) < 0) return -1;
  if (linkState(c) != KPY_CON_LINKED) return 0;
  PyErr_Format(kpy_ModelError, "The %s of a constraint in a problem is changed with the problem's methods", what);
  return -1;
}

int checkName(PyObject *name) {
  if (!PyUnicode_Check(name)) {
    PyErr_SetString(kpy_InterfaceError, "The name must be a string");
    return -1;
  }
  PyObject *holder = nullptr;
  const char *s = pyStrToStr(name, nullptr, &holder);
  Py_XDECREF(holder);
  if (!s) {
    std::string text = kpy_PyErr_ToString();
    PyErr_SetString(kpy_InterfaceError, text.c_str());
    return -1;
  }
  return 0;
}

void constraint_dealloc(PyObject *self) {
  constraint_s *c = (constraint_s *)self;
  Py_CLEAR(c->body);
  Py_CLEAR(c->name);
  Py_TYPE(self)->tp_free(self);
}

int constraint_init(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"constraint", "body", "lb", "ub", "name", nullptr};
  PyObject *from = Py_None, *body = Py_None, *name = Py_None;
  double lb = -KPY_INFINITY, ub = KPY_INFINITY;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOddO", (char **)kwlist, &from, &body, &lb, &ub, &name))
    return -1;
  constraint_s *c = (constraint_s *)self;
  if (c->owner || linkState(c) == KPY_CON_LINKED || linkState(c) == KPY_CON_MAPPED) {
    PyErr_SetString(kpy_ModelError, "Constraint has already been added to a problem");
    return -1;
  }
  if (name != Py_None && checkName(name) < 0) return -1;
  if (from != Py_None) {
    if (!PyObject_TypeCheck(from, &kpy_constraintType) || linkState((constraint_s *)from) != KPY_CON_UNLINKED ||
        ((constraint_s *)from)->owner) {
      PyErr_SetString(kpy_InterfaceError, "Argument 'constraint' must be a constraint that belongs to no problem");
      return -1;
    }
    if (body != Py_None || PyTuple_GET_SIZE(args) > 2 ||
        (kwargs && (PyDict_GetItemString(kwargs, "lb") || PyDict_GetItemString(kwargs, "ub")))) {
      PyErr_SetString(kpy_InterfaceError, "Argument 'constraint' cannot be combined with 'body', 'lb' or 'ub'");
      return -1;
    }
    constraint_s *src = (constraint_s *)from;
    PyObject *n = name != Py_None ? name : src->name;
    return constraint_init_internal(c, src->lb, src->ub, src->body, n);
  }
  if (body == Py_None && name == Py_None && PyTuple_GET_SIZE(args) == 0 && (!kwargs || !PyDict_GET_SIZE(kwargs)))
    return 0;   // an empty constraint
  if (body != Py_None && !isNumericScalar(body) && !kpy_isModelOperand(body)) {
    PyErr_SetString(kpy_ModelError, "Invalid constraint body");
    return -1;
  }
  return constraint_init_internal(c, lb, ub, body == Py_None ? nullptr : body, name == Py_None ? nullptr : name);
}

PyObject *constraint_getName(PyObject *self, void *) {
  constraint_s *c = (constraint_s *)self;
  if (refuseDeleted(c) < 0) return nullptr;
  if (linkState(c) == KPY_CON_LINKED) return kpy_getSolverName(c->owner, 1, (int)c->idx_low);
  if (c->name) return Py_NewRef(c->name);
  return PyUnicode_FromFormat("R%llu", (unsigned long long)serialOf(c));
}

int constraint_setName(PyObject *self, PyObject *value, void *) {
  constraint_s *c = (constraint_s *)self;
  if (refuseLinked(c, "name") < 0) return -1;
  if (value && value != Py_None && checkName(value) < 0) return -1;
  Py_XSETREF(c->name, value && value != Py_None ? Py_NewRef(value) : nullptr);
  return 0;
}

PyObject *constraint_getIndex(PyObject *self, void *) {
  constraint_s *c = (constraint_s *)self;
  if (refuseDeleted(c) < 0) return nullptr;
  switch (linkState(c)) {
    case KPY_CON_LINKED: return PyLong_FromUnsignedLong(c->idx_low);
    case KPY_CON_EMPTY: PyErr_SetString(kpy_ModelError, "Constraint is not initialized"); return nullptr;
    default: PyErr_SetString(kpy_ModelError, "Constraint does not belong to any problem"); return nullptr;
  }
}

// The bounds of a constraint: its own values, or those of its row in the solver.
int readBounds(constraint_s *c, double *lb, double *ub) {
  if (refuseDeleted(c) < 0) return -1;
  if (linkState(c) != KPY_CON_LINKED) {
    *lb = c->lb;
    *ub = c->ub;
    return 0;
  }
  char type = 'N';
  double rhs = 0, rng = 0;
  int row = (int)c->idx_low;
  if (kpy_readSolverItem(c->owner, KRVXgetrowtype, row, &type) < 0 ||
      kpy_readSolverItem(c->owner, KRVXgetrhs, row, &rhs) < 0 ||
      kpy_readSolverItem(c->owner, KRVXgetrhsrange, row, &rng) < 0)
    return -1;
  static const char letters[] = "LGERN";   // row types 1 to 5 of calc_constraint_bounds
  const char *at = type ? std::strchr(letters, type) : nullptr;
  if (!at || calc_constraint_bounds((int)(at - letters) + 1, rhs, rng, lb, ub) < 0) {
    PyErr_Format(kpy_SolverError, "Unknown row type '%c'", type);
    return -1;
  }
  return 0;
}

PyObject *constraint_getLb(PyObject *self, void *) {
  double lb, ub;
  if (readBounds((constraint_s *)self, &lb, &ub) < 0) return nullptr;
  return PyFloat_FromDouble(lb);
}

PyObject *constraint_getUb(PyObject *self, void *) {
  double lb, ub;
  if (readBounds((constraint_s *)self, &lb, &ub) < 0) return nullptr;
  return PyFloat_FromDouble(ub);
}

int setBound(constraint_s *c, PyObject *value, double *slot, const char *what) {
  if (refuseLinked(c, what) < 0) return -1;
  if (!value) {
    PyErr_Format(PyExc_AttributeError, "The %s of a constraint cannot be deleted", what);
    return -1;
  }
  double d = PyFloat_AsDouble(value);
  if (d == -1.0 && PyErr_Occurred()) return -1;
  if (kpy_clampBound(d, &d) < 0) return -1;
  *slot = d;
  return 0;
}

int constraint_setLb(PyObject *self, PyObject *v, void *) {
  return setBound((constraint_s *)self, v, &((constraint_s *)self)->lb, "lower bound");
}
int constraint_setUb(PyObject *self, PyObject *v, void *) {
  return setBound((constraint_s *)self, v, &((constraint_s *)self)->ub, "upper bound");
}

PyObject *constraint_getBodyAttr(PyObject *self, void *) {
  constraint_s *c = (constraint_s *)self;
  if (refuseDeleted(c) < 0) return nullptr;
  if (linkState(c) == KPY_CON_LINKED) {
    PyErr_SetString(kpy_ModelError, "The body of a constraint in a problem is read with its getBody() method");
    return nullptr;
  }
  if (!c->body) Py_RETURN_NONE;
  return Py_NewRef(c->body);
}

// A number as the expression printer writes it ("%g"); the infinite bounds as -inf and inf.
std::string boundText(double v) {
  if (v <= -KPY_INFINITY) return "-inf";
  if (v >= KPY_INFINITY) return "inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v == 0.0 ? 0.0 : v);   // -0 (a moved constant 0) prints as 0
  return buf;
}

// The body's text: its own printing, a number with "%g"; a row of a problem is read back.
PyObject *bodyText(constraint_s *c) {
  PyObject *body = linkState(c) == KPY_CON_LINKED ? PyObject_CallMethod((PyObject *)c, "getBody", nullptr)
                                                  : Py_XNewRef(c->body);
  if (!body && PyErr_Occurred()) return nullptr;
  PyObject *text = nullptr;
  if (!body) text = PyUnicode_FromString("0");
  else if (isNumericScalar(body)) {
    double v = kpy_numberValue(body);
    if (!(v == -1.0 && PyErr_Occurred())) text = PyUnicode_FromFormat("%s", boundText(v).c_str());
  } else text = PyObject_Str(body);
  Py_XDECREF(body);
  return text;
}

// "name: body <= ub", ">= lb", "== rhs" or "lb <= body <= ub", the name where the constraint has
// one. A row whose body or bounds cannot be read prints its name alone: printing never raises.
PyObject *constraint_str(PyObject *self) {
  constraint_s *c = (constraint_s *)self;
  if (kpy_isDeleted(c->owner)) return PyUnicode_FromString("(deleted constraint)");
  if (linkState(c) == KPY_CON_EMPTY) return PyUnicode_FromString("(empty constraint)");
  PyObject *name = linkState(c) == KPY_CON_LINKED || c->name ? constraint_getName(self, nullptr) : nullptr;
  if (!name && PyErr_Occurred()) PyErr_Clear();
  double lb = -KPY_INFINITY, ub = KPY_INFINITY;
  PyObject *body = readBounds(c, &lb, &ub) < 0 ? nullptr : bodyText(c);
  if (!body) {
    PyErr_Clear();
    return name ? name : PyUnicode_FromString("(constraint)");
  }
  PyObject *text;
  if (lb == ub) text = PyUnicode_FromFormat("%U == %s", body, boundText(ub).c_str());
  else if (lb <= -KPY_INFINITY && ub < KPY_INFINITY) text = PyUnicode_FromFormat("%U <= %s", body, boundText(ub).c_str());
  else if (ub >= KPY_INFINITY && lb > -KPY_INFINITY) text = PyUnicode_FromFormat("%U >= %s", body, boundText(lb).c_str());
  else text = PyUnicode_FromFormat("%s <= %U <= %s", boundText(lb).c_str(), body, boundText(ub).c_str());
  Py_DECREF(body);
  if (text && name) Py_SETREF(text, PyUnicode_FromFormat("%U: %U", name, text));
  Py_XDECREF(name);
  return text;
}

// Comparisons build constraints, so a constraint standing in for a truth value is a mistake.
int constraint_bool(PyObject *) {
  PyErr_SetString(PyExc_TypeError,
                  "A constraint has no truth value: compare model objects only to build constraints");
  return -1;
}

PyNumberMethods constraint_as_number = [] {
  PyNumberMethods n{};
  n.nb_bool = constraint_bool;
  return n;
}();

PyGetSetDef constraint_getset[] = {
    {"name", constraint_getName, constraint_setName, "The constraint's name.", nullptr},
    {"index", constraint_getIndex, nullptr, "The constraint's row index in its problem.", nullptr},
    {"lb", constraint_getLb, constraint_setLb, "The lower bound.", nullptr},
    {"ub", constraint_getUb, constraint_setUb, "The upper bound.", nullptr},
    {"body", constraint_getBodyAttr, nullptr, "The constraint's body (an expression).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject kpy_constraintType = [] {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = "korvex.constraint";
  t.tp_basicsize = sizeof(constraint_s);
  t.tp_dealloc = constraint_dealloc;
  t.tp_repr = constraint_str;
  t.tp_str = constraint_str;
  t.tp_as_number = &constraint_as_number;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  t.tp_doc =
      "constraint(constraint=None, body=None, lb=-korvex.infinity, ub=korvex.infinity, name=None)\n\n"
      "A constraint lb <= body <= ub. Comparing expressions (2*x + y <= 4) makes one; so does this\n"
      "constructor, from such a comparison (to give it a name) or from a body and bounds.";
  t.tp_getset = constraint_getset;
  t.tp_methods = kpy_constraint_methods;
  t.tp_init = constraint_init;
  t.tp_new = constraint_new;
  return t;
}();

PyObject *constraint_new(PyTypeObject *type, PyObject *, PyObject *) {
  constraint_s *c = (constraint_s *)type->tp_alloc(type, 0);
  if (!c) return nullptr;
  c->owner = nullptr;
  c->idx_low = 0;
  c->idx_high = 0;
  c->state = KPY_CON_EMPTY;
  c->body = nullptr;
  c->lb = -KPY_INFINITY;
  c->ub = KPY_INFINITY;
  c->name = nullptr;
  return (PyObject *)c;
}

int constraint_init_internal(constraint_s *con, double lb, double ub, PyObject *body, PyObject *name) {
  if (kpy_clampBound(lb, &lb) < 0 || kpy_clampBound(ub, &ub) < 0) return -1;
  if (linkState(con) == KPY_CON_EMPTY && serialOf(con) == 0) {
    uint64_t serial = kpy_nextSerial(&kpy_env.con_serial);
    if (!serial) return -1;
    con->idx_low = (uint32_t)serial;
    con->idx_high = (uint16_t)(serial >> 32);
  }
  con->lb = lb;
  con->ub = ub;
  Py_XINCREF(body);
  Py_XSETREF(con->body, body);
  Py_XINCREF(name);
  Py_XSETREF(con->name, name);
  con->state = (con->state & ~KPY_CON_STATE_MASK) | KPY_CON_UNLINKED;
  return 0;
}

int calc_constraint_bounds(int rowtype, double rhs, double range, double *lb, double *ub) {
  switch (rowtype) {
    case 1: *lb = -KPY_INFINITY; *ub = rhs; return 0;
    case 2: *lb = rhs; *ub = KPY_INFINITY; return 0;
    case 3: *lb = rhs; *ub = rhs; return 0;
    case 4: *lb = rhs - (range < 0 ? -range : range); *ub = rhs; return 0;
    case 5: *lb = -KPY_INFINITY; *ub = KPY_INFINITY; return 0;
    default: return -1;
  }
}

PyObject *constraint_createLinked(problem_s *prob, Py_ssize_t index) {
  if (index < 0 || index > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "Invalid variable or constraint index");
    return nullptr;
  }
  constraint_s *c = (constraint_s *)constraint_new(&kpy_constraintType, nullptr, nullptr);
  if (!c) return nullptr;
  c->owner = prob;
  c->idx_low = (uint32_t)index;
  c->state = KPY_CON_LINKED;
  return (PyObject *)c;
}
