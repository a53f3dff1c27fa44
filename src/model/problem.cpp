// korvex.problem: life cycle, the object lists kept in step with the solver, the object
// managers, and the modelling getters getVariable, getConstraint and getSOS.
#include "model/problem.h"
#include "model/pending_rows.h"
#include "api/modelling.h"
#include "module/controls.h"
#include "module/library.h"
#include "module/maps.h"

#include <nanobind/nanobind.h>

#include <cstddef>
#include <vector>

// freed with the model data; defined by the expression layer (src/expr/userfunc.cpp)
void userfuncmap_free(userfuncmap **m);

namespace {

void linkProblem(problem_s *p) {
  p->prev = nullptr;
  p->next = kpy_env.problems;
  if (p->next) p->next->prev = p;
  kpy_env.problems = p;
}

void unlinkProblem(problem_s *p) {
  if (p->prev)
    p->prev->next = p->next;
  else if (kpy_env.problems == p)
    kpy_env.problems = p->next;
  if (p->next) p->next->prev = p->prev;
  p->prev = p->next = nullptr;
}

void markListDeleted(PyObject *list, bool problemGone) {
  if (!list) return;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) kpy_markDeleted(PyList_GET_ITEM(list, i), problemGone);
}

// A solver call without the interpreter lock, with a pending error parked around it.
template <class F>
int callSolver(problem_s *p, F &&f) {
  if (kpy_sendRowsFirst(p) < 0) return -1;
  PyObject *parked = PyErr_GetRaisedException();
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = f();
  Py_END_ALLOW_THREADS
  if (parked) PyErr_SetRaisedException(parked);
  handleCallbackException(p, rc);
  return rc;
}

int readIntAttrib(problem_s *p, int id, int64_t *value) {
  *value = 0;
  ko_prob_struct *h = p->prob;
  int rc = callSolver(p, [&] { return KRVXgetintattrib64(h, id, value); });
  if (rc || PyErr_Occurred()) {
    setKrvxErrIfNull((PyObject *)p, nullptr);
    return -1;
  }
  return 0;
}

// A list of n placeholders (None) for the objects at solver indices 0..n-1.
int placeholders(PyObject **list, int64_t n) {
  PyObject *fresh = PyList_New((Py_ssize_t)n);
  if (!fresh) return -1;
  for (Py_ssize_t i = 0; i < (Py_ssize_t)n; ++i) PyList_SET_ITEM(fresh, i, Py_None);   // immortal
  Py_SETREF(*list, fresh);
  return 0;
}

[[noreturn]] void throwPending(problem_s *p) {
  setKrvxErrIfNull((PyObject *)p, nullptr);
  throw nanobind::python_error();
}

// --- the type ---

PyObject *problem_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"name", nullptr};
  PyObject *name = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &name)) return nullptr;
  PyObject *nameHolder = nullptr;
  const char *probname = nullptr;
  if (name && name != Py_None) {
    probname = pyStrToStr(name, nullptr, &nameHolder);
    if (!probname) {
      std::string text = kpy_PyErr_ToString();
      PyErr_Format(kpy_InterfaceError, "Error in argument 'name': %s", text.c_str());
      return nullptr;
    }
  }
  if (kpy_ensureLibrary() < 0) {
    Py_XDECREF(nameHolder);
    return nullptr;
  }
  problem_s *p = (problem_s *)type->tp_alloc(type, 0);
  if (!p) {
    Py_XDECREF(nameHolder);
    return nullptr;
  }
  p->nl_obj_col = p->nl_obj_row = -1;
  p->output_enabled = 1;
  Py_INCREF(kpy_env.module);
  linkProblem(p);
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = KRVXcreateprob(&p->prob);
  Py_END_ALLOW_THREADS
  if (rc) {
    p->prob = nullptr;
    setKrvxErrIfNull(nullptr, nullptr);
  }
  bool ok = !rc && (p->vars = PyList_New(0)) && (p->cons = PyList_New(0)) && (p->sos = PyList_New(0)) &&
            kpy_applyGlobalControls(p) == 0;
  if (ok && probname) {
    ko_prob_struct *h = p->prob;
    Py_BEGIN_ALLOW_THREADS
    rc = KRVXsetprobname(h, probname);
    Py_END_ALLOW_THREADS
    if (rc) {
      setKrvxErrIfNull((PyObject *)p, nullptr);
      ok = false;
    }
  }
  Py_XDECREF(nameHolder);
  if (!ok) {
    Py_DECREF(p);
    return nullptr;
  }
  return (PyObject *)p;
}

int problem_traverse(PyObject *self, visitproc visit, void *arg) {
  problem_s *p = (problem_s *)self;
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(p->vars);
  Py_VISIT(p->cons);
  Py_VISIT(p->sos);
  Py_VISIT(p->callbacks);
  Py_VISIT(p->saved_exc);
  return 0;
}

int problem_clear(PyObject *self) {
  problem_s *p = (problem_s *)self;
  Py_CLEAR(p->callbacks);
  Py_CLEAR(p->saved_exc);
  return 0;
}

void destroyHandle(problem_s *p) {
  ko_prob_struct *h = p->prob;
  p->prob = nullptr;
  p->nlprob = nullptr;
  if (!h || p->orig) return;   // a callback's temporary problem does not own its handle
  Py_BEGIN_ALLOW_THREADS
  KRVXdestroyprob(h);
  Py_END_ALLOW_THREADS
}

void problem_dealloc(PyObject *self) {
  problem_s *p = (problem_s *)self;
  PyObject_GC_UnTrack(self);
  if (p->weakrefs) PyObject_ClearWeakRefs(self);
  bool linked = p->prev || kpy_env.problems == p;
  unlinkProblem(p);
  problem_clearmodeldata(p, true);
  destroyHandle(p);
  problem_clear(self);
  Py_TYPE(self)->tp_free(self);   // a subclass's type reference is dropped by its own dealloc
  if (linked) Py_DECREF(kpy_env.module);
}

// getVariable, getConstraint, getSOS: all (no argument), one by index, or a list for indices.
PyObject *getObjects(problem_s *p, PyObject *list, PyObject *arg, const char *what) {
  Py_ssize_t n = PyList_GET_SIZE(list);
  auto one = [&](PyObject *i) -> PyObject * {
    if (!PyIndex_Check(i) || PyBool_Check(i)) {
      PyErr_Format(kpy_InterfaceError, "The index of a %s must be an integer", what);
      return nullptr;
    }
    Py_ssize_t k = PyNumber_AsSsize_t(i, nullptr);
    if (k == -1 && PyErr_Occurred()) return nullptr;
    if (k < 0 || k >= n) {
      PyErr_Format(PyExc_IndexError, "The %s index %zd is out of range: the problem has %zd", what, k, n);
      return nullptr;
    }
    return Py_XNewRef(problem_objectAt(p, list, k));
  };
  if (!arg || arg == Py_None) {
    for (Py_ssize_t k = 0; k < n; ++k)
      if (!problem_objectAt(p, list, k)) return nullptr;
    return PyList_GetSlice(list, 0, n);
  }
  if (PyIndex_Check(arg)) return one(arg);
  PyObject *indices = PySequence_List(arg);
  if (!indices) {
    PyErr_Clear();
    PyErr_Format(kpy_InterfaceError, "The %s indices must be an integer or a sequence of integers", what);
    return nullptr;
  }
  PyObject *result = PyList_New(PyList_GET_SIZE(indices));
  for (Py_ssize_t i = 0; result && i < PyList_GET_SIZE(indices); ++i) {
    PyObject *o = one(PyList_GET_ITEM(indices, i));
    if (!o)
      Py_CLEAR(result);
    else
      PyList_SET_ITEM(result, i, o);
  }
  Py_DECREF(indices);
  return result;
}

template <PyObject *problem_s::*List>
PyObject *problem_getList(PyObject *self, PyObject *args, PyObject *kwargs, const char *kw, const char *what) {
  const char *kwlist[] = {kw, nullptr};
  PyObject *arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &arg)) return nullptr;
  problem_s *p = (problem_s *)self;
  return getObjects(p, p->*List, arg, what);
}

PyObject *problem_getVariable(PyObject *self, PyObject *args, PyObject *kwargs) {
  return problem_getList<&problem_s::vars>(self, args, kwargs, "i", "variable");
}
PyObject *problem_getConstraint(PyObject *self, PyObject *args, PyObject *kwargs) {
  return problem_getList<&problem_s::cons>(self, args, kwargs, "i", "constraint");
}
PyObject *problem_getSOS(PyObject *self, PyObject *args, PyObject *kwargs) {
  return problem_getList<&problem_s::sos>(self, args, kwargs, "i", "SOS");
}

// p.controls, p.attributes, p.objattribs: one object per problem while anyone holds it; it keeps
// the problem alive, so p.controls works on a problem that nothing else refers to.
template <PyObject *problem_s::*Slot>
PyObject *problem_getParams(PyObject *self, void *type) {
  PyObject *&slot = ((problem_s *)self)->*Slot;
  if (!slot) slot = params_create((PyTypeObject *)type, (problem_s *)self);
  else Py_INCREF(slot);
  return slot;
}

PyGetSetDef problem_getset[] = {
    {"controls", problem_getParams<&problem_s::controls>, nullptr, "The problem's controls by name.",
     &kpy_controlsType},
    {"attributes", problem_getParams<&problem_s::attributes>, nullptr, "The problem's attributes by name.",
     &kpy_attributesType},
    {"objattribs", problem_getParams<&problem_s::objattribs>, nullptr, "Attributes of the objectives.",
     &kpy_objattribsType},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

std::vector<PyMethodDef> problemMethods;

}  // namespace

PyMethodDef kpy_problem_own_methods[] = {
    {"getVariable", (PyCFunction)(void (*)(void))kpy_serialised<problem_getVariable>, METH_VARARGS | METH_KEYWORDS,
     "getVariable(i=None): all variables as a list, the one at an index, or a list for a list of indices."},
    {"getConstraint", (PyCFunction)(void (*)(void))kpy_serialised<problem_getConstraint>, METH_VARARGS | METH_KEYWORDS,
     "getConstraint(i=None): all constraints as a list, the one at an index, or a list for a list of indices."},
    {"getSOS", (PyCFunction)(void (*)(void))kpy_serialised<problem_getSOS>, METH_VARARGS | METH_KEYWORDS,
     "getSOS(i=None): all SOS as a list, the one at an index, or a list for a list of indices."},
    {"setControl", (PyCFunction)(void (*)(void))problem_setControl, METH_VARARGS | METH_KEYWORDS,
     "setControl(control, value) or setControl({control: value, ...}): sets controls by name."},
    {"getControl", (PyCFunction)(void (*)(void))problem_getControl, METH_VARARGS | METH_KEYWORDS,
     "getControl(control=None): one control's value, a dict for a list of names, or a dict of all."},
    {"getAttrib", (PyCFunction)(void (*)(void))problem_getAttrib, METH_VARARGS | METH_KEYWORDS,
     "getAttrib(attrib=None): one attribute's value, a dict for a list of names, or a dict of all."},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject kpy_problemType = [] {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = "korvex.problem";
  t.tp_basicsize = sizeof(problem_s);
  t.tp_dealloc = problem_dealloc;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
  t.tp_doc = "problem(name=None)\n\nAn optimisation problem held by the solver library.";
  t.tp_traverse = problem_traverse;
  t.tp_clear = problem_clear;
  t.tp_weaklistoffset = offsetof(problem_s, weakrefs);
  t.tp_getset = problem_getset;
  t.tp_new = problem_new;
  return t;
}();

int kpy_model_types_ready() {
  try {
    for (PyMethodDef *m = kpy_problem_own_methods; m->ml_name; ++m) problemMethods.push_back(*m);
    for (PyMethodDef *m = kpy_problem_modelling_methods; m->ml_name; ++m) problemMethods.push_back(*m);
    for (PyMethodDef *m = kpy_problem_api_methods; m->ml_name; ++m) problemMethods.push_back(*m);
    problemMethods.push_back({nullptr, nullptr, 0, nullptr});
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
  kpy_problemType.tp_methods = problemMethods.data();
  for (PyTypeObject *t : {&kpy_varType, &kpy_sosType, &kpy_constraintType, &kpy_controlsType, &kpy_attributesType,
                          &kpy_objattribsType, &kpy_problemType, &kpy_poolcutType})
    if (PyType_Ready(t) < 0) return -1;
  return 0;
}

void kpy_markDeleted(PyObject *obj, bool problemGone) {
  problem_s *marker = problemGone ? KPY_PROBLEM_GONE : KPY_DELETED;
  if (PyObject_TypeCheck(obj, &kpy_varType)) {
    var_s *v = (var_s *)obj;
    if (!v->owner) return;   // unlinked objects of map mode stay usable
    v->owner = marker;
    v->idx_low = 0;
    v->idx_high = 0;
  } else if (PyObject_TypeCheck(obj, &kpy_constraintType)) {
    constraint_s *c = (constraint_s *)obj;
    if (!c->owner) return;
    c->owner = marker;
    c->idx_low = 0;
    c->idx_high = 0;
    c->state = (c->state & ~KPY_CON_STATE_MASK) | KPY_CON_LINKED;
  } else if (PyObject_TypeCheck(obj, &kpy_sosType)) {
    sos_s *s = (sos_s *)obj;
    if (!s->owner) return;
    s->owner = marker;
    s->index = 0;
  }
}

int problem_clearmodeldata(problem_s *p, bool final) {
  bool owner = !p->orig;   // a callback's temporary problem only borrows the model data
  kpy_dropPendingRows(p);
  // final: the problem is being freed
  if (owner && !p->varmap) markListDeleted(p->vars, final);
  if (owner && !p->conmap) markListDeleted(p->cons, final);
  if (owner && !p->sosmap) markListDeleted(p->sos, final);
  Py_CLEAR(p->vars);
  Py_CLEAR(p->cons);
  Py_CLEAR(p->sos);
  if (owner) {
    delete p->varmap;
    delete p->conmap;
    delete p->sosmap;
    if (p->ufmap) userfuncmap_free(&p->ufmap);
  }
  p->varmap = p->conmap = p->sosmap = nullptr;
  p->ufmap = nullptr;
  p->nl_obj_col = p->nl_obj_row = -1;
  p->nl_row_adds = 0;
  p->obj_is_nonlin = 0;
  if (final) return 0;
  p->vars = PyList_New(0);
  p->cons = PyList_New(0);
  p->sos = PyList_New(0);
  return p->vars && p->cons && p->sos ? 0 : -1;
}

void problem_releaseSolver(problem_s *p) {
  PyObject *pending = PyErr_GetRaisedException();
  if (problem_clearmodeldata(p, false) < 0) PyErr_Clear();
  destroyHandle(p);
  PyErr_SetRaisedException(pending);
}

void problem_afterReload(problem_s *p) {
  if (problem_clearmodeldata(p, false) < 0) throw nanobind::python_error();
  if (checkProblemIsInitialized(p) < 0) throw nanobind::python_error();
  int64_t ncols, nrows, nsets, namelen;
  if (readIntAttrib(p, KRVX_ORIGINALCOLS, &ncols) < 0 || readIntAttrib(p, KRVX_ORIGINALROWS, &nrows) < 0 ||
      readIntAttrib(p, KRVX_ORIGINALSETS, &nsets) < 0 || readIntAttrib(p, KRVX_NAMELENGTH, &namelen) < 0)
    throwPending(p);
  if (placeholders(&p->vars, ncols) < 0 || placeholders(&p->cons, nrows) < 0 || placeholders(&p->sos, nsets) < 0)
    throwPending(p);
}

PyObject *problem_objectAt(problem_s *p, PyObject *list, Py_ssize_t i) {
  PyObject *o = PyList_GET_ITEM(list, i);
  if (o != Py_None) return o;
  o = list == p->vars ? var_createLinked(p, i) : list == p->cons ? constraint_createLinked(p, i)
                                                                  : sos_createLinked(p, i);
  if (!o) return nullptr;
  PyList_SET_ITEM(list, i, o);   // the list takes the reference; None is immortal
  return o;
}

void problem_afterRestore(problem_s *p) {
  if (!p->varmap && !p->conmap && !p->sosmap) {
    problem_afterReload(p);
    return;
  }
  if (checkProblemIsInitialized(p) < 0) throw nanobind::python_error();
  int64_t ncols, nrows, nsets;
  if (readIntAttrib(p, KRVX_ORIGINALCOLS, &ncols) < 0 || readIntAttrib(p, KRVX_ORIGINALROWS, &nrows) < 0 ||
      readIntAttrib(p, KRVX_ORIGINALSETS, &nsets) < 0)
    throwPending(p);
  if (ncols != PyList_GET_SIZE(p->vars) || nrows != PyList_GET_SIZE(p->cons) || nsets != PyList_GET_SIZE(p->sos)) {
    if (PyErr_WarnEx(kpy_ModelWarning,
                     "Dimensions do not match after restoring problem. Call problem.reset() before calling "
                     "problem.restore().",
                     1) < 0)
      throw nanobind::python_error();
  }
}

// ---------------------------------------------------------------- object managers

ProblemLock::ProblemLock(problem_s *prob, bool solve) : prob_(prob) {
  const unsigned long me = PyThread_get_thread_ident();
  if (prob->change_owner != me) {
    if (prob->change_solving && kpy_inSolverCallback()) {
      prob_ = nullptr;   // run by the solve that holds it
      return;
    }
    PyMutex_Lock(&prob->change_lock);   // detaches from the interpreter while it waits
    prob->change_owner = me;
    prob->change_solving = solve;
  }
  ++prob->change_depth;
}

ProblemLock::~ProblemLock() {
  if (!prob_ || --prob_->change_depth > 0) return;
  prob_->change_owner = 0;
  prob_->change_solving = 0;
  PyMutex_Unlock(&prob_->change_lock);
}

ModelObjManager::ModelObjManager(problem_s *prob, PyObject *list)
    : prob_(prob), list_(Py_NewRef(list)), len_(PyList_GET_SIZE(list)) {}

ModelObjManager::~ModelObjManager() {
  Py_ssize_t n = PyList_GET_SIZE(list_);
  if (n > len_) {
    PyObject *pending = PyErr_GetRaisedException();
    for (Py_ssize_t i = len_; i < n; ++i) kpy_markDeleted(PyList_GET_ITEM(list_, i));
    if (PyList_SetSlice(list_, len_, n, nullptr) < 0) {
      PyErr_Clear();
      if (PyErr_WarnEx(PyExc_RuntimeWarning, "Failed to revert new model objects", 1) < 0)
        PyErr_WriteUnraisable(list_);
    }
    PyErr_SetRaisedException(pending);
  }
  Py_DECREF(list_);
}

void ModelObjManager::addObjs(Py_ssize_t n) {
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject *o = createObj(prob_, PyList_GET_SIZE(list_));
    int rc = PyList_Append(list_, o);
    Py_DECREF(o);
    if (rc < 0) throw nanobind::python_error();
  }
}

void ModelObjManager::commit() { len_ = PyList_GET_SIZE(list_); }

static PyObject *orThrow(PyObject *o) {
  if (!o) throw nanobind::python_error();
  return o;
}

PyObject *VarManager::createObj(problem_s *prob, Py_ssize_t index) { return orThrow(var_createLinked(prob, index)); }
PyObject *ConstraintManager::createObj(problem_s *prob, Py_ssize_t index) {
  return orThrow(constraint_createLinked(prob, index));
}
PyObject *SOSManager::createObj(problem_s *prob, Py_ssize_t index) { return orThrow(sos_createLinked(prob, index)); }
