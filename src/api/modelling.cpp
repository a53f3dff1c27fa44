// The modelling methods of korvex.problem: variables, batched constraints and objectives built
// from expressions, and map mode for unlinked objects.
#include "api/modelling.h"
#include "arrays/numpy.h"
#include "expr/rows_and_tokens.h"
#include "model/pending_rows.h"
#include "model/problem.h"
#include "module/maps.h"
#include "sort/sort.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <optional>
#include <vector>

namespace {

constexpr int kObjRow = -1;   // the objective where the nonlinear layer asks for a row

PyObject *interfaceError(const char *msg) {
  PyErr_SetString(kpy_InterfaceError, msg);
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Columns

// Work buffers of the calling thread, reused by calls that do not nest (so that adding one object
// at a time allocates nothing); a nested call gets buffers of its own, and buffers grown large are
// given back afterwards.
template <class T>
struct Lease {
  static inline thread_local T shared;
  static inline thread_local bool busy = false;
  std::optional<T> own;   // made only for a nested call
  T *b;
  bool lease;
  Lease() : lease(!busy) {
    b = lease ? &shared : &own.emplace();
    if (lease) {
      busy = true;
      b->clear();
    }
  }
  ~Lease() {
    if (!lease) return;
    busy = false;
    if (b->large()) shared = T();
  }
  Lease(const Lease &) = delete;
  Lease &operator=(const Lease &) = delete;
};

struct ColumnBatch {
  // per column; a batch of alike columns leaves empty the arrays whose value is the solver's
  // default (lb 0, ub infinity, continuous)
  std::vector<double> lb, ub, threshold;
  std::vector<char> type;
  std::vector<std::string> names;   // empty until a column is named, then one per column ("" = unnamed)
  bool named = false;
  size_t count = 0;
  void add(double l, double u, double t, int vartype, std::string name) {
    lb.push_back(l);
    ub.push_back(u);
    threshold.push_back(t);
    type.push_back("CBISRP"[vartype]);
    ++count;
    if (!named && name.empty()) return;
    names.resize(count - 1);
    names.push_back(std::move(name));
    named = true;
  }
  // n more columns alike (the batch holds no others), named by names (empty: unnamed)
  void addAlike(size_t n, double l, double u, double t, int vartype, const std::vector<std::string> &given) {
    if (l != 0.0) lb.assign(n, l);
    if (u != KPY_INFINITY) ub.assign(n, u);
    if (vartype != KPY_CONTINUOUS) {
      threshold.assign(n, t);
      type.assign(n, "CBISRP"[vartype]);
    }
    count = n;
    names = given;
    named = !given.empty();
  }
  int size() const { return (int)count; }
  void clear() {
    lb.clear();
    ub.clear();
    threshold.clear();
    type.clear();
    names.clear();
    named = false;
    count = 0;
  }
  bool large() const {
    return std::max({lb.capacity(), ub.capacity(), threshold.capacity(), type.capacity(), names.capacity()}) > (1u << 16);
  }
};

// Packed names (name NUL name NUL ...)
std::string packNames(const std::vector<std::string> &names) {
  std::string buf;
  for (const std::string &s : names) {
    buf += s;
    buf.push_back('\0');
  }
  return buf;
}

int addNames(problem_s *p, int kind, int first, const std::vector<std::string> &names) {
  std::string buf = packNames(names);
  int last = first + (int)names.size() - 1;
  return kpy_modelCall(KRVXaddnames_witharraysizes, p, kind, buf.data(), (int64_t)buf.size(), (int64_t)names.size(),
                       first, last);
}

// Deletes the given rows or columns again after a later step failed; the pending error stays.
void dropIndices(problem_s *p, bool rows, const std::vector<int> &idx) {
  const int n = (int)idx.size();
  if (n <= 0) return;
  PyObject *pending = PyErr_GetRaisedException();
  ko_prob_struct *h = p->prob;
  Py_BEGIN_ALLOW_THREADS
  if (rows)
    KRVXdelrows_witharraysizes(h, n, idx.data(), n);
  else
    KRVXdelcols_witharraysizes(h, n, idx.data(), n);
  Py_END_ALLOW_THREADS
  PyErr_SetRaisedException(pending);
}

void dropRange(problem_s *p, bool rows, int first, int n) {
  std::vector<int> idx((size_t)std::max(n, 0));
  for (int k = 0; k < n; ++k) idx[(size_t)k] = first + k;
  dropIndices(p, rows, idx);
}

// Appends the columns first.. to the solver (one add, then types, limits and names); the index of
// the first, or -1 with an error set and the solver as before.
int addColumns(problem_s *p, const ColumnBatch &s, int first) {
  if (checkProblemIsInitialized(p) < 0) return -1;
  const int n = s.size();
  if (kpy_modelCall(KRVXaddcols64_witharraysizes, p, n, (int64_t)0, (const double *)nullptr, (int64_t)0,
                    (const int64_t *)nullptr, (int64_t)0, (const int *)nullptr, (int64_t)0, (const double *)nullptr,
                    (int64_t)0, s.lb.data(), (int64_t)s.lb.size(), s.ub.data(), (int64_t)s.ub.size()) < 0)
    return -1;
  std::vector<int> typed, limited;
  std::vector<char> types;
  std::vector<double> limits;
  for (int k = 0; k < n && !s.type.empty(); ++k) {
    char t = s.type[(size_t)k];
    if (t == 'C') continue;
    typed.push_back(first + k);
    types.push_back(t);
    if ((t == 'S' || t == 'R' || t == 'P') && s.threshold[(size_t)k] > -KPY_INFINITY) {
      limited.push_back(first + k);
      limits.push_back(s.threshold[(size_t)k]);
    }
  }
  bool ok = (typed.empty() || kpy_modelCall(KRVXchgcoltype_witharraysizes, p, (int)typed.size(), typed.data(),
                                            (int64_t)typed.size(), types.data(), (int64_t)types.size()) == 0) &&
            (limited.empty() || kpy_modelCall(KRVXchgglblimit_witharraysizes, p, (int)limited.size(), limited.data(),
                                              (int64_t)limited.size(), limits.data(), (int64_t)limits.size()) == 0) &&
            (!s.named || addNames(p, 2, first, s.names) == 0);
  if (!ok) {
    dropRange(p, false, first, n);
    return -1;
  }
  return first;
}

// Variable arguments: bounds, threshold, type and name (or name prefix).
struct VarArgs {
  double lb = 0.0, ub = KPY_INFINITY, threshold = -KPY_INFINITY;
  int vartype = KPY_CONTINUOUS;
  PyObject *name = Py_None;
  PyObject *kwargs = nullptr;   // as given, for unlinked variables of map mode

  int parse(PyObject *kw) {
    static const char *kwlist[] = {"lb", "ub", "threshold", "vartype", "name", nullptr};
    PyObject *empty = PyTuple_New(0);
    if (!empty) return -1;
    int ok = PyArg_ParseTupleAndKeywords(empty, kw, "|dddiO", (char **)kwlist, &lb, &ub, &threshold, &vartype, &name);
    Py_DECREF(empty);
    if (!ok) return -1;
    if (kpy_clampBound(lb, &lb) < 0 || kpy_clampBound(ub, &ub) < 0 || kpy_clampBound(threshold, &threshold) < 0)
      return -1;
    if (vartype < KPY_CONTINUOUS || vartype > KPY_PARTIALLYINTEGER) {
      PyErr_Format(kpy_InterfaceError, "Invalid variable type %d", vartype);
      return -1;
    }
    if (name != Py_None && !PyUnicode_Check(name)) {
      PyErr_SetString(kpy_InterfaceError, "The name must be a string");
      return -1;
    }
    kwargs = kw;
    return 0;
  }
};

// UTF-8 text of a str without NUL characters
int utf8(PyObject *s, std::string *out) {
  Py_ssize_t n;
  const char *t = PyUnicode_AsUTF8AndSize(s, &n);
  if (!t) return -1;
  if (std::memchr(t, '\0', (size_t)n)) {
    PyErr_SetString(kpy_InterfaceError, "Value contains a NUL character");
    return -1;
  }
  out->assign(t, (size_t)n);
  return 0;
}

// Adds unlinked variables (the problem enters map mode): columns with their values, the objects
// appended to the list and their serials mapped to the new columns.
int addUnlinkedVars(problem_s *p, const std::vector<PyObject *> &vars) {
  if (!p->varmap && PyList_GET_SIZE(p->vars) > 0) {
    PyErr_SetString(kpy_ModelError,
                    "Variables created with korvex.var() cannot be added to a problem that has variables of its own");
    return -1;
  }
  Lease<ColumnBatch> lease;
  ColumnBatch &s = *lease.b;
  std::unordered_set<uint64_t> seen;
  for (PyObject *o : vars) {
    var_s *v = (var_s *)o;
    uint64_t serial = kpy_serial(v->idx_high, v->idx_low);
    if (kpy_isDeleted(v->owner)) {
      PyErr_SetString(kpy_ModelError, "Variable has been deleted from the problem");
      return -1;
    }
    if (v->owner || (p->varmap && rowcolmap_has(p->varmap, serial)) || !seen.insert(serial).second) {
      PyErr_SetString(kpy_ModelError, "Variable has already been added to a problem");
      return -1;
    }
    double vals[3];
    const char *attrs[3] = {"lb", "ub", "threshold"};
    for (int k = 0; k < 3; ++k) {
      PyObject *a = PyObject_GetAttrString(o, attrs[k]);
      vals[k] = a ? PyFloat_AsDouble(a) : -1.0;
      Py_XDECREF(a);
      if (PyErr_Occurred()) return -1;
    }
    std::string name;
    if (v->flags & 8) {   // the variable has a name of its own
      PyObject *n = get_var_name(v);
      int rc = n ? utf8(n, &name) : -1;
      Py_XDECREF(n);
      if (rc < 0) return -1;
    }
    s.add(vals[0], vals[1], vals[2], v->vartype, std::move(name));
  }
  if (!p->varmap && !(p->varmap = new (std::nothrow) rowcolmap())) {
    PyErr_NoMemory();
    return -1;
  }
  const Py_ssize_t len = PyList_GET_SIZE(p->vars);
  bool ok = true;
  try {
    for (size_t k = 0; k < vars.size(); ++k) (*p->varmap)[kpy_serial(((var_s *)vars[k])->idx_high, ((var_s *)vars[k])->idx_low)] = len + (int64_t)k;
  } catch (...) {
    PyErr_NoMemory();
    ok = false;
  }
  for (size_t k = 0; ok && k < vars.size(); ++k) ok = PyList_Append(p->vars, vars[k]) == 0;
  if (ok && addColumns(p, s, (int)len) >= 0) return 0;
  for (PyObject *o : vars) p->varmap->erase(kpy_serial(((var_s *)o)->idx_high, ((var_s *)o)->idx_low));
  PyList_SetSlice(p->vars, len, PyList_GET_SIZE(p->vars), nullptr);
  return -1;
}

// n new variables with the same values and the given names (none: all unnamed): linked ones, or
// in map mode unlinked ones made by korvex.var. They are the last n of the problem's variable
// list; the position of the first, or -1 with an error set.
Py_ssize_t newVariables(problem_s *p, const VarArgs &a, size_t n, const std::vector<std::string> &names) {
  static const std::string unnamed;
  auto nameOf = [&](size_t k) -> const std::string & { return names.empty() ? unnamed : names[k]; };
  if (p->varmap) {
    std::vector<PyObject *> made;
    PyObject *list = PyList_New(0);
    bool ok = list != nullptr;
    for (size_t k = 0; ok && k < n; ++k) {
      PyObject *kw = a.kwargs ? PyDict_Copy(a.kwargs) : PyDict_New();
      PyObject *nm = nameOf(k).empty() ? Py_NewRef(Py_None) : PyUnicode_FromString(nameOf(k).c_str());
      PyObject *none = PyTuple_New(0);
      PyObject *v = none && kw && nm && PyDict_SetItemString(kw, "name", nm) == 0
                        ? PyObject_Call((PyObject *)&kpy_varType, none, kw)
                        : nullptr;
      Py_XDECREF(none);
      Py_XDECREF(kw);
      Py_XDECREF(nm);
      ok = v && PyList_Append(list, v) == 0;
      Py_XDECREF(v);
    }
    if (ok)
      for (Py_ssize_t k = 0; k < PyList_GET_SIZE(list); ++k) made.push_back(PyList_GET_ITEM(list, k));
    ok = ok && addUnlinkedVars(p, made) == 0;
    Py_XDECREF(list);
    return ok ? PyList_GET_SIZE(p->vars) - (Py_ssize_t)n : -1;
  }
  Lease<ColumnBatch> lease;
  ColumnBatch &s = *lease.b;
  s.addAlike(n, a.lb, a.ub, a.threshold, a.vartype, names);
  const Py_ssize_t first = PyList_GET_SIZE(p->vars);
  PyObject *done = kpy_methodEdge([&]() -> PyObject * {
    VarManager mgr(p, p->vars);
    mgr.addObjs((Py_ssize_t)n);
    if (addColumns(p, s, (int)first) < 0) return nullptr;
    mgr.commit();
    for (Py_ssize_t k = first; k < PyList_GET_SIZE(p->vars); ++k)
      ((var_s *)PyList_GET_ITEM(p->vars, k))->vartype = (uint8_t)a.vartype;
    Py_RETURN_NONE;
  });
  if (!done) return -1;
  Py_DECREF(done);
  return first;
}

// Flattens variable objects given positionally (lists and tuples are opened).
int gatherVars(PyObject *o, std::vector<PyObject *> *out) {
  if (PyObject_TypeCheck(o, &kpy_varType)) {
    out->push_back(o);
    return 0;
  }
  if (PyList_Check(o) || PyTuple_Check(o)) {
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(o); ++i)
      if (gatherVars(PySequence_Fast_GET_ITEM(o, i), out) < 0) return -1;
    return 0;
  }
  PyErr_Format(kpy_InterfaceError, "Cannot add an object of type %s as a variable", Py_TYPE(o)->tp_name);
  return -1;
}

PyObject *problem_addVariable(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *p = kpy_prob(self);
  if (checkProblemIsInitialized(p) < 0) return nullptr;
  if (PyTuple_GET_SIZE(args) > 0) {
    if (kwargs && PyDict_GET_SIZE(kwargs)) return interfaceError("Variables given to addVariable take no other arguments");
    std::vector<PyObject *> vars;
    if (gatherVars(args, &vars) < 0 || addUnlinkedVars(p, vars) < 0) return nullptr;
    Py_RETURN_NONE;
  }
  VarArgs a;
  if (a.parse(kwargs) < 0) return nullptr;
  std::vector<std::string> names(1);
  if (a.name != Py_None && utf8(a.name, &names[0]) < 0) return nullptr;
  const Py_ssize_t first = newVariables(p, a, 1, names);
  if (first < 0) return nullptr;
  return Py_NewRef(PyList_GET_ITEM(p->vars, first));
}

// The next index tuple of a product of index sets (the last set runs fastest).
void nextIndex(std::vector<size_t> *idx, const std::vector<PyObject *> &sets) {
  for (size_t d = sets.size(); d-- > 0;) {
    if (++(*idx)[d] < (size_t)PyList_GET_SIZE(sets[d])) return;
    (*idx)[d] = 0;
  }
}

// str() of a key part for names
int keyText(PyObject *k, std::string *out) {
  PyObject *s = PyObject_Str(k);
  int rc = s ? utf8(s, out) : -1;
  Py_XDECREF(s);
  return rc;
}

PyObject *problem_addVariables(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *p = kpy_prob(self);
  if (checkProblemIsInitialized(p) < 0) return nullptr;
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (nargs == 0) return interfaceError("addVariables needs at least one dimension or set of indices");
  VarArgs a;
  if (a.parse(kwargs) < 0) return nullptr;
  std::string prefix;
  if (a.name != Py_None && utf8(a.name, &prefix) < 0) return nullptr;
  bool shape = true;
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    PyObject *o = PyTuple_GET_ITEM(args, i);
    shape = shape && PyLong_Check(o) && !PyBool_Check(o);
  }
  // index sets (an int n stands for range(n))
  std::vector<PyObject *> sets;
  struct Release {
    std::vector<PyObject *> &v;
    ~Release() {
      for (PyObject *o : v) Py_DECREF(o);
    }
  } release{sets};
  size_t total = 1;
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    PyObject *o = PyTuple_GET_ITEM(args, i);
    PyObject *items;
    if (PyLong_Check(o) && !PyBool_Check(o)) {
      long n = PyLong_AsLong(o);
      if (n == -1 && PyErr_Occurred()) return nullptr;
      if (n < 0) return interfaceError("A dimension of addVariables must not be negative");
      PyObject *r = PyObject_CallFunction((PyObject *)&PyRange_Type, "l", n);
      items = r ? PySequence_List(r) : nullptr;
      Py_XDECREF(r);
    } else if (PyUnicode_Check(o) || PyBytes_Check(o)) {
      return interfaceError("addVariables takes dimensions (ints) or iterables of indices");
    } else {
      items = PySequence_List(o);
      if (!items) {
        PyErr_Clear();
        return interfaceError("addVariables takes dimensions (ints) or iterables of indices");
      }
    }
    if (!items) return nullptr;
    sets.push_back(items);
    total *= (size_t)PyList_GET_SIZE(items);
    if (total > (size_t)INT32_MAX) return interfaceError("Too many variables for one problem");
  }
  // names: prefix_i_j
  std::vector<std::string> names;
  if (!prefix.empty()) {
    names.resize(total);
    std::vector<std::vector<std::string>> parts(sets.size());
    for (size_t d = 0; d < sets.size(); ++d)
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sets[d]); ++i) {
        std::string t;
        if (keyText(PyList_GET_ITEM(sets[d], i), &t) < 0) return nullptr;
        parts[d].push_back(std::move(t));
      }
    std::vector<size_t> idx(sets.size(), 0);
    for (size_t k = 0; k < total; ++k) {
      std::string s = prefix;
      for (size_t d = 0; d < sets.size(); ++d) s += "_" + parts[d][idx[d]];
      names[k] = std::move(s);
      nextIndex(&idx, sets);
    }
  }
  // the container first, so that a failure (an unhashable or repeated index) adds nothing
  PyObject *result = nullptr, *keys = nullptr;
  if (shape) {
    if (kpy_numpy_ready() < 0) return nullptr;
    std::vector<npy_intp> dims;
    for (PyObject *set : sets) dims.push_back(PyList_GET_SIZE(set));
    PyObject *arr = PyArray_SimpleNew((int)dims.size(), dims.data(), NPY_OBJECT);
    result = arr ? kpy_as_kndarray(arr) : nullptr;
    Py_XDECREF(arr);
  } else {
    result = PyDict_New();
    keys = PyList_New((Py_ssize_t)total);
    std::vector<size_t> idx(sets.size(), 0);
    for (size_t k = 0; result && keys && k < total; ++k, nextIndex(&idx, sets)) {
      PyObject *key;
      if (sets.size() == 1) {
        key = Py_NewRef(PyList_GET_ITEM(sets[0], (Py_ssize_t)idx[0]));
      } else {
        key = PyTuple_New((Py_ssize_t)sets.size());
        for (size_t d = 0; key && d < sets.size(); ++d)
          PyTuple_SET_ITEM(key, (Py_ssize_t)d, Py_NewRef(PyList_GET_ITEM(sets[d], (Py_ssize_t)idx[d])));
      }
      if (!key || PyDict_SetItem(result, key, Py_None) < 0) Py_CLEAR(result);
      if (key) PyList_SET_ITEM(keys, (Py_ssize_t)k, key);
    }
    if (result && PyDict_GET_SIZE(result) != (Py_ssize_t)total) {
      Py_CLEAR(result);
      PyErr_SetString(kpy_InterfaceError, "The indices given to addVariables repeat");
    }
  }
  const Py_ssize_t first = result ? newVariables(p, a, total, names) : -1;
  if (first < 0) {
    Py_XDECREF(result);
    Py_XDECREF(keys);
    return nullptr;
  }
  if (shape) {   // the cells held None: no Python code runs while they are filled
    PyObject **cells = (PyObject **)PyArray_DATA((PyArrayObject *)result);
    for (size_t k = 0; k < total; ++k) Py_XSETREF(cells[k], Py_NewRef(PyList_GET_ITEM(p->vars, first + (Py_ssize_t)k)));
  } else {        // comparing keys may run Python code: the new variables are held by a list of their own
    PyObject *vars = PyList_GetSlice(p->vars, first, first + (Py_ssize_t)total);
    if (!vars) Py_CLEAR(result);
    for (size_t k = 0; result && k < total; ++k)   // existing keys: no new entry is made
      if (PyDict_SetItem(result, PyList_GET_ITEM(keys, (Py_ssize_t)k), PyList_GET_ITEM(vars, (Py_ssize_t)k)) < 0)
        Py_CLEAR(result);
    Py_XDECREF(vars);
  }
  Py_XDECREF(keys);
  return result;
}

// ---------------------------------------------------------------------------------------
// Constraints

uint32_t linkState(const constraint_s *c) { return c->state & KPY_CON_STATE_MASK; }

// Rows converted and sent to the solver together: bodies of a long iterator or list are converted
// a chunk at a time rather than all at once. A small chunk is converted while its bodies are still
// in the cache, and the records they free are reused by the next chunk's expressions.
constexpr size_t kChunkRows = 1000;

struct Collector {
  std::vector<constraint_s *> &cons;  // every constraint of the call, in order
  std::vector<char> &fromSink;        // per constraint not yet sent: held by a returned list
  size_t sent = 0;                    // cons[0, sent) have rows
  size_t listed = 0;                  // cons[0, listed) are in the problem's constraint list
  int (*onChunk)(void *) = nullptr;   // sends cons[sent, end) (called with chunkData); 0, or -1 with an error set
  void *chunkData = nullptr;

  int add(PyObject *o, PyObject *sink) {
    if (PyObject_TypeCheck(o, &kpy_constraintType)) {
      auto *c = (constraint_s *)o;
      if (kpy_isDeleted(c->owner)) {
        PyErr_SetString(kpy_ModelError, "Constraint has been deleted from the problem");
        return -1;
      }
      if (linkState(c) == KPY_CON_EMPTY) {
        PyErr_SetString(kpy_ModelError, "Constraint is not initialized");
        return -1;
      }
      if (c->owner || linkState(c) != KPY_CON_UNLINKED || (c->state & KPY_CON_GATHERED)) {
        PyErr_SetString(kpy_ModelError, "Constraint has already been added to a problem");
        return -1;
      }
      try {
        cons.push_back(c);
        fromSink.push_back(sink != nullptr);
      } catch (...) {
        PyErr_NoMemory();
        return -1;
      }
      c->state |= KPY_CON_GATHERED;
      if (sink && PyList_Append(sink, o) < 0) return -1;
      return cons.size() - sent >= kChunkRows ? onChunk(chunkData) : 0;
    }
    if (Py_EnterRecursiveCall(" while gathering constraints")) return -1;
    int rc = walk(o, sink);
    Py_LeaveRecursiveCall();
    return rc;
  }

  // the marks of this call's constraints taken off again
  void unmark() const {
    for (constraint_s *c : cons) c->state &= ~KPY_CON_GATHERED;
  }

  int walk(PyObject *o, PyObject *sink) {
    if (PyList_Check(o) || PyTuple_Check(o)) {
      for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(o); ++i)
        if (add(PySequence_Fast_GET_ITEM(o, i), sink) < 0) return -1;
      return 0;
    }
    if (PyDict_Check(o)) {
      PyObject *key, *value;
      Py_ssize_t pos = 0;
      while (PyDict_Next(o, &pos, &key, &value))
        if (add(value, sink) < 0) return -1;
      return 0;
    }
    PyObject *it = nullptr;
    if (kpy_isNumpyArray(o)) {
      PyObject *flat = PyObject_GetAttrString(o, "flat");
      it = flat ? PyObject_GetIter(flat) : nullptr;
      Py_XDECREF(flat);
      if (!it) return -1;
    } else if (!PyUnicode_Check(o) && !PyBytes_Check(o) && !kpy_isModelOperand(o)) {
      it = PyObject_GetIter(o);
      if (!it) PyErr_Clear();
    }
    if (!it) {
      PyErr_Format(kpy_InterfaceError,
                   "addConstraint takes constraints, or lists, tuples, dicts, arrays or iterables of them; found %s",
                   Py_TYPE(o)->tp_name);
      return -1;
    }
    PyObject *item;
    while ((item = PyIter_Next(it))) {
      int rc = add(item, sink);
      Py_DECREF(item);
      if (rc < 0) {
        Py_DECREF(it);
        return -1;
      }
    }
    Py_DECREF(it);
    return PyErr_Occurred() ? -1 : 0;
  }
};

// Row type, rhs and range for lb <= body <= ub with the body's constant moved over.
void rowBounds(double lb, double ub, double constant, char *type, double *rhs, double *rng) {
  bool hasLb = lb > -KPY_INFINITY, hasUb = ub < KPY_INFINITY;
  if (hasLb) lb -= constant;
  if (hasUb) ub -= constant;
  *rng = 0.0;
  if (!hasLb && !hasUb) {
    *type = 'N';
    *rhs = 0.0;
  } else if (!hasLb) {
    *type = 'L';
    *rhs = ub;
  } else if (!hasUb) {
    *type = 'G';
    *rhs = lb;
  } else if (lb == ub) {
    *type = 'E';
    *rhs = ub;
  } else {
    *type = 'R';
    *rhs = ub;
    *rng = ub - lb;
  }
}

// The whole batch in the solver's arrays.
struct RowBatch {
  std::vector<constraint_s *> cons;   // the Collector's lists, kept for the next call
  std::vector<char> fromSink;
  std::vector<char> rowtype;
  std::vector<double> rhs, rng, coef, qcoef, ffactor, tokvalue;
  std::vector<int64_t> start;
  std::vector<int> colind, q1, q2, fcol, frow, fstart, toktype;
  std::vector<size_t> qstart;   // per row, into q1/q2/qcoef (one more entry)
  std::vector<std::string> names;
  std::vector<size_t> nl, nq, nf, nt;   // counts per row from the count pass
  bool named = false;
  void clear() {                            // every other array is sized afresh by each conversion
    named = false;
    cons.clear();
    fromSink.clear();
  }
  // room for n rows of tl entries in all
  void sizeRows(size_t n, size_t tl) {
    rowtype.resize(n);
    rhs.resize(n);
    rng.resize(n);
    start.resize(n + 1);
    colind.resize(tl);
    coef.resize(tl);
  }
  bool large() const {
    return coef.capacity() > (1u << 16) || rowtype.capacity() > (1u << 14) || cons.capacity() > (1u << 14);
  }
};


// The row type, rhs and range of c with the body's constant moved over; -1 with ModelError when
// its bounds cross.
int rowOf(const constraint_s *c, double constant, char *type, double *rhs, double *rng) {
  if (c->lb > c->ub) {   // no row type holds it: a range row would widen it instead
    char msg[160];
    snprintf(msg, sizeof msg, "Constraint has a lower bound (%g) greater than its upper bound (%g)", c->lb, c->ub);
    PyErr_SetString(kpy_ModelError, msg);
    return -1;
  }
  rowBounds(c->lb, c->ub, constant, type, rhs, rng);
  return 0;
}

// Row k's type, rhs and range from c's bounds and the body's constant, and its name.
int finishRow(constraint_s *c, size_t k, size_t n, double constant, RowBatch *b) {
  if (rowOf(c, constant, &b->rowtype[k], &b->rhs[k], &b->rng[k]) < 0) return -1;
  if (c->name) {
    if (!b->named) b->names.assign(n, std::string());   // made for the first named row
    if (utf8(c->name, &b->names[k]) < 0) return -1;
    b->named = true;
  }
  return 0;
}

// A batch whose bodies are all linear expressions (or none): the entries of each map, sorted by
// column, with no quadratic parts or formulas.
int convertLinearBatch(problem_s *p, constraint_s *const *cons, size_t n, RowBatch *b) {
  size_t tl = 0;
  for (size_t k = 0; k < n; ++k)
    if (cons[k]->body) tl += linmap_size(((expression_s *)cons[k]->body)->linear);
  if (tl > (size_t)INT64_MAX / 2) {
    PyErr_SetString(kpy_ModelError, "Too many coefficients in one call");
    return -1;
  }
  b->named = false;
  b->sizeRows(n, tl);
  for (auto *v : {&b->q1, &b->q2, &b->fcol, &b->frow, &b->fstart, &b->toktype}) v->clear();
  for (auto *v : {&b->qcoef, &b->ffactor, &b->tokvalue}) v->clear();
  b->qstart.clear();
  size_t pl = 0;
  for (size_t k = 0; k < n; ++k) {
    constraint_s *c = cons[k];
    double constant = 0.0;
    size_t l = 0;
    b->start[k] = (int64_t)pl;
    if (c->body) {
      auto *e = (expression_s *)c->body;
      constant += e->constant;
      // at most the map's size: the sizes were counted above and no Python code ran since
      if (e->linear && kpy_linearEntries(p, e->linear, 1.0, b->colind.data() + pl, b->coef.data() + pl, &l) < 0)
        return -1;
      kpy_Sort_Int_Dbl(b->colind.data() + pl, b->coef.data() + pl, l);
    }
    pl += l;
    if (finishRow(c, k, n, constant, b) < 0) return -1;
  }
  b->start[n] = (int64_t)pl;
  b->colind.resize(pl);
  b->coef.resize(pl);
  return 0;
}

int convertBatch(problem_s *p, constraint_s *const *cons, size_t n, int firstRow, RowBatch *b) {
  bool linear = true;
  for (size_t k = 0; k < n; ++k) {
    PyObject *body = cons[k]->body;
    if (!body || kpy_isLinearExpression(body)) continue;
    linear = false;
    if (kpy_isNonlin(body) && kpy_ensureNonlinear(p) < 0) return -1;
  }
  if (linear) return convertLinearBatch(p, cons, n, b);
  // count pass
  std::vector<size_t> &nl = b->nl, &nq = b->nq, &nf = b->nf, &nt = b->nt;
  nl.assign(n, 0);
  nq.assign(n, 0);
  nf.assign(n, 0);
  nt.assign(n, 0);
  b->named = false;
  size_t tl = 0, tq = 0, tf = 0, tt = 0;
  for (size_t k = 0; k < n; ++k) {
    double constant;
    PyObject *body = cons[k]->body;
    if (!body) continue;
    if (convertExpr(p, body, &constant, &nl[k], nullptr, nullptr, &nq[k], nullptr, nullptr, nullptr, &nf[k], &nt[k],
                    nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0) < 0)
      return -1;
    tl += nl[k];
    tq += nq[k];
    tf += nf[k];
    tt += nt[k];
  }
  if (tt > (size_t)INT32_MAX || tl > (size_t)INT64_MAX / 2) {
    PyErr_SetString(kpy_ModelError, "Too many coefficients in one call");
    return -1;
  }
  b->sizeRows(n, tl);
  b->q1.resize(tq);
  b->q2.resize(tq);
  b->qcoef.resize(tq);
  b->qstart.resize(n + 1);
  b->fcol.resize(tf);
  b->frow.resize(tf);
  b->ffactor.resize(tf);
  b->fstart.resize(tf + 1);
  b->toktype.resize(tt);
  b->tokvalue.resize(tt);
  // fill pass
  size_t pl = 0, pq = 0, pf = 0, pt = 0;
  b->fstart[0] = 0;
  for (size_t k = 0; k < n; ++k) {
    constraint_s *c = cons[k];
    double constant = 0.0;
    size_t l = 0, q = 0, f = 0, t = 0;
    b->start[k] = (int64_t)pl;
    b->qstart[k] = pq;
    if (c->body) {
      int *cp = b->colind.data() + pl, *q1 = b->q1.data() + pq, *q2 = b->q2.data() + pq, *fc = b->fcol.data() + pf,
          *fs = b->fstart.data() + pf, *tk = b->toktype.data() + pt;
      double *vp = b->coef.data() + pl, *qv = b->qcoef.data() + pq, *ff = b->ffactor.data() + pf,
             *tv = b->tokvalue.data() + pt;
      fs[0] = (int)pt;
      if (convertExpr(p, c->body, &constant, &l, &cp, &vp, &q, &q1, &q2, &qv, &f, &t, &fc, &ff, &fs, &tk, &tv, 0, 0) <
          0)
        return -1;
      if (l > nl[k] || q > nq[k] || f > nf[k] || t > nt[k]) {   // the body changed between the passes
        PyErr_SetString(kpy_ModelError, "Cannot convert expression");
        return -1;
      }
    }
    for (size_t j = 0; j < f; ++j) b->frow[pf + j] = firstRow + (int)k;
    pl += l;
    pq += q;
    pf += f;
    pt += t;
    if (finishRow(c, k, n, constant, b) < 0) return -1;
  }
  b->start[n] = (int64_t)pl;
  b->qstart[n] = pq;
  b->colind.resize(pl);
  b->coef.resize(pl);
  b->fcol.resize(pf);
  b->frow.resize(pf);
  b->ffactor.resize(pf);
  b->fstart.resize(pf + 1);
  b->toktype.resize(pt);
  b->tokvalue.resize(pt);
  return 0;
}

// Sends the batch: rows in one add, then names, quadratic parts and formulas; on failure the
// rows are deleted again.
int flushBatch(problem_s *p, RowBatch &b, int first) {
  const int n = (int)b.rowtype.size();
  const bool release = kpy_handsOverLock(p, b.colind.size() + b.rowtype.size());
  if (kpy_failed(p, kpy_callSolverLocked(release, KRVXaddrows64_witharraysizes, p, n, (int64_t)b.colind.size(),
                                        b.rowtype.data(), (int64_t)n, b.rhs.data(), (int64_t)n, b.rng.data(),
                                        (int64_t)n, b.start.data(), (int64_t)n + 1, b.colind.data(),
                                        (int64_t)b.colind.size(), b.coef.data(), (int64_t)b.coef.size())))
    return -1;
  bool ok = !b.named || addNames(p, 1, first, b.names) == 0;
  for (int k = 0; ok && !b.q1.empty() && k < n; ++k) {
    size_t from = b.qstart[(size_t)k], cnt = b.qstart[(size_t)k + 1] - from;
    if (!cnt) continue;
    ok = kpy_modelCall(KRVXaddqmatrix64_witharraysizes, p, first + k, (int64_t)cnt, b.q1.data() + from, (int64_t)cnt,
                       b.q2.data() + from, (int64_t)cnt, b.qcoef.data() + from, (int64_t)cnt) == 0;
  }
  if (ok && !b.fcol.empty()) {
    if (!p->nlprob) {
      PyErr_SetString(kpy_SolverError, "Nonlinear formulas need the solver library's nonlinear layer, which is not available");
      ok = false;
    } else {
      tagKRVNproblem *nl = p->nlprob;
      ok = kpy_modelCall([&](ko_prob_struct *) {
             return KRVNaddcoefs(nl, (int)b.fcol.size(), b.frow.data(), b.fcol.data(), b.ffactor.data(),
                                 b.fstart.data(), (int64_t)b.toktype.size(), b.toktype.data(), b.tokvalue.data());
           }, p) == 0;
      if (ok) ++p->nl_row_adds;
    }
  }
  if (!ok) dropRange(p, true, first, n);
  return ok ? 0 : -1;
}

// Sends cons[sent, end) of col as rows first + sent.. (conversion, one row add, then names,
// quadratic parts and formulas) and puts them in the problem's constraint list; the bodies and
// names that only a returned list still holds are dropped then, as linking would. -1 with an
// error set when the chunk failed (its own rows are gone again).
int sendChunk(problem_s *p, Collector &col, int first, RowBatch &b) {
  const size_t from = col.sent, n = col.cons.size() - from;
  if (!n) return 0;
  constraint_s *const *cons = col.cons.data() + from;
  const int row = first + (int)from;
  if (PyList_GET_SIZE(p->cons) != (Py_ssize_t)row) {   // rows were added or deleted by the iterator
    PyErr_SetString(kpy_ModelError, "The problem was changed while constraints were being added to it");
    return -1;
  }
  if (convertBatch(p, cons, n, row, &b) < 0) return -1;
  const bool mapped = p->varmap != nullptr;
  if (mapped && !p->conmap && !(p->conmap = new (std::nothrow) rowcolmap())) {
    PyErr_NoMemory();
    return -1;
  }
  try {
    for (size_t k = 0; mapped && k < n; ++k)
      (*p->conmap)[kpy_serial(cons[k]->idx_high, cons[k]->idx_low)] = row + (int64_t)k;
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
  for (size_t k = 0; k < n; ++k, ++col.listed)
    if (PyList_Append(p->cons, (PyObject *)cons[k]) < 0) return -1;
  if (flushBatch(p, b, row) < 0) return -1;
  col.sent += n;
  for (size_t k = 0; !mapped && k < n; ++k) {
    constraint_s *c = cons[k];
    if (col.fromSink[k] && Py_REFCNT(c) == 2) {   // the returned list and the problem's list only
      Py_CLEAR(c->body);
      Py_CLEAR(c->name);
    }
  }
  col.fromSink.clear();
  return 0;
}

// Takes every row and list entry of a failed call out again (the pending error stays). The entries
// are found by identity, so rows that an iterator added or deleted meanwhile keep their objects,
// renumbered.
void undoAdd(problem_s *p, const Collector &col) {
  if (p->varmap && p->conmap)
    for (constraint_s *c : col.cons) p->conmap->erase(kpy_serial(c->idx_high, c->idx_low));
  if (!col.listed) return;
  PyObject *pending = PyErr_GetRaisedException();
  std::unordered_map<PyObject *, bool> ours;   // entry -> has a row
  for (size_t k = 0; k < col.listed; ++k) ours[(PyObject *)col.cons[k]] = k < col.sent;
  PyObject *old = p->cons;
  const Py_ssize_t n = PyList_GET_SIZE(old);
  std::vector<int> rows;
  Py_ssize_t found = 0, from = n;
  for (Py_ssize_t i = 0; i < n; ++i) {
    auto it = ours.find(PyList_GET_ITEM(old, i));
    if (it == ours.end()) continue;
    from = std::min(from, i);
    ++found;
    if (it->second) rows.push_back((int)i);
  }
  PyObject *kept = found ? PyList_New(n - found) : nullptr;
  if (kept) {
    dropIndices(p, true, rows);
    for (Py_ssize_t i = 0, pos = 0; i < n; ++i) {
      PyObject *o = PyList_GET_ITEM(old, i);
      if (ours.count(o)) continue;
      PyList_SET_ITEM(kept, pos, Py_NewRef(o));
      auto *c = (constraint_s *)o;   // later rows move up (None: not made yet)
      if (o == Py_None) {
      } else if (pos >= from && linkState(c) == KPY_CON_LINKED && c->owner == p) {
        c->idx_low = (uint32_t)pos;
        c->idx_high = 0;
      } else if (pos >= from && linkState(c) == KPY_CON_MAPPED && p->conmap) {
        (*p->conmap)[kpy_serial(c->idx_high, c->idx_low)] = pos;
      }
      ++pos;
    }
    p->cons = kept;
    Py_DECREF(old);
  }
  PyErr_SetRaisedException(pending);
}

// c becomes the problem's row `row`: it keeps only its index.
void linkRow(problem_s *p, constraint_s *c, int row) {
  c->owner = p;
  c->idx_low = (uint32_t)row;
  c->idx_high = 0;
  c->state = (c->state & ~(KPY_CON_STATE_MASK | KPY_CON_GATHERED)) | KPY_CON_LINKED;
  Py_CLEAR(c->body);
  Py_CLEAR(c->name);
}

// One unnamed constraint with a short linear body given alone (a row added per call): converted
// on the stack; it waits in the problem with the rows added before it where it may
// (model/pending_rows.h), else goes to the library at once, without the batch buffers. 1 when
// added, 0 when a is no such constraint (nothing changed), -1 with an error set.
int addOneLinear(problem_s *p, PyObject *a) {
  constexpr size_t kMaxEntries = 64;
  if (Py_TYPE(a) != &kpy_constraintType || p->varmap) return 0;
  auto *c = (constraint_s *)a;
  if (c->owner || c->state != KPY_CON_UNLINKED || c->name || (c->body && !kpy_isLinearExpression(c->body))) return 0;
  auto *e = (expression_s *)c->body;
  const linmap *m = e ? e->linear : nullptr;
  if (linmap_size(m) > kMaxEntries) return 0;
  int cols[kMaxEntries];
  double vals[kMaxEntries];
  size_t n = 0;
  if (m && kpy_linearEntries(p, m, 1.0, cols, vals, &n) < 0) return -1;
  kpy_Sort_Int_Dbl(cols, vals, n);
  char type;
  double rhs, rng;
  if (rowOf(c, e ? e->constant : 0.0, &type, &rhs, &rng) < 0) return -1;
  const int row = (int)PyList_GET_SIZE(p->cons);
  if (kpy_rowMayWait(p, type, rhs, vals, n)) {
    if (PyList_Append(p->cons, a) < 0) return -1;
    if (kpy_keepRow(p, type, rhs, rng, cols, vals, n) < 0) {
      PyList_SetSlice(p->cons, row, row + 1, nullptr);
      return -1;
    }
    linkRow(p, c, row);
    return kpy_pendingRowsFull(p) && kpy_sendPendingRows(p) < 0 ? -1 : 1;
  }
  if (kpy_sendPendingRows(p) < 0) return -1;
  const int64_t start[2] = {0, (int64_t)n};
  const int rc = kpy_callSolverLocked(kpy_handsOverLock(p, n + 1), KRVXaddrows64_witharraysizes, p, 1, (int64_t)n,
                                      &type, (int64_t)1, &rhs, (int64_t)1, &rng, (int64_t)1, start, (int64_t)2,
                                      cols, (int64_t)n, vals, (int64_t)n);
  if (rc == rcPythonError) dropRange(p, true, row, 1);   // added, but a handler failed meanwhile
  if (kpy_failed(p, rc)) return -1;
  if (PyList_Append(p->cons, a) < 0) {
    dropRange(p, true, row, 1);
    return -1;
  }
  linkRow(p, c, row);
  return 1;
}

// Vectorcall form: a call makes no argument tuple (adding one row per call stays cheap).
PyObject *problem_addConstraint(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  problem_s *p = kpy_prob(self);
  if (checkProblemIsInitialized(p) < 0) return nullptr;
  if (nargs == 1)
    if (int done = addOneLinear(p, args[0])) return done > 0 ? Py_NewRef(args[0]) : nullptr;
  if (kpy_sendPendingRows(p) < 0) return nullptr;
  const int first = (int)PyList_GET_SIZE(p->cons);
  const bool mapped = p->varmap != nullptr;
  Lease<RowBatch> lease;
  Collector col{lease.b->cons, lease.b->fromSink};
  struct Chunks {
    problem_s *p;
    Collector *col;
    int first;
    RowBatch *b;
  } chunks{p, &col, first, lease.b};
  col.onChunk = [](void *d) {
    auto *c = static_cast<Chunks *>(d);
    return sendChunk(c->p, *c->col, c->first, *c->b);
  };
  col.chunkData = &chunks;
  // what the call returns: its one argument (an iterator as a list), or a tuple of them
  PyObject *only = nullptr, *results = nargs == 1 ? nullptr : PyTuple_New(nargs);
  bool ok = nargs == 1 || results != nullptr;
  for (Py_ssize_t i = 0; ok && i < nargs; ++i) {
    PyObject *a = args[i];
    bool keep = PyObject_TypeCheck(a, &kpy_constraintType) || PyList_Check(a) || PyTuple_Check(a) ||
                PyDict_Check(a) || kpy_isNumpyArray(a);
    PyObject *r = keep ? Py_NewRef(a) : PyList_New(0);   // iterators are returned as lists
    ok = r != nullptr;
    if (ok) {
      if (results) PyTuple_SET_ITEM(results, i, r);
      else only = r;
      ok = col.add(a, keep ? nullptr : r) == 0;
    }
  }
  ok = ok && sendChunk(p, col, first, *lease.b) == 0;
  if (!ok) {
    col.unmark();
    undoAdd(p, col);
    Py_XDECREF(results);
    Py_XDECREF(only);
    return nullptr;
  }
  for (size_t k = 0; k < col.cons.size(); ++k) {
    constraint_s *c = col.cons[k];
    if (mapped) {
      c->state = (c->state & ~(KPY_CON_STATE_MASK | KPY_CON_GATHERED)) | KPY_CON_MAPPED;
      continue;
    }
    linkRow(p, c, first + (int)k);
  }
  return nargs == 1 ? only : results;
}

// ---------------------------------------------------------------------------------------
// Objectives

// Converts an objective (fill pass with growing arrays); the nonlinear layer is made ready first
// when the objective holds formulas.
int convertObjective(problem_s *p, PyObject *expr, kpy_converted *out) {
  if (checkProblemIsInitialized(p) < 0) return -1;
  if (kpy_isNonlin(expr) && kpy_ensureNonlinear(p) < 0) return -1;
  return out->convert(p, expr, 1);
}

PyObject *problem_setObjective(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"objective", "sense", nullptr};
  PyObject *expr;
  int sense = 1;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|i", (char **)kwlist, &expr, &sense)) return nullptr;
  if (sense != 1 && sense != -1) return interfaceError("The sense must be korvex.minimize or korvex.maximize");
  problem_s *p = kpy_prob(self);
  kpy_converted c;
  if (convertObjective(p, expr, &c) < 0) return nullptr;
  if (c.nformulas && !p->nlprob) {
    PyErr_SetString(kpy_SolverError, "Nonlinear formulas need the solver library's nonlinear layer, which is not available");
    return nullptr;
  }
  // every column's coefficient (those not in the objective become 0), then the constant
  const int ncols = (int)PyList_GET_SIZE(p->vars);
  std::vector<int> idx((size_t)ncols + 1);
  std::vector<double> val((size_t)ncols + 1, 0.0);
  for (int k = 0; k < ncols; ++k) idx[(size_t)k] = k;
  for (size_t k = 0; k < c.nlin; ++k) {
    if (c.cols[k] < 0 || c.cols[k] >= ncols) {
      PyErr_SetString(kpy_ModelError, "Variable does not belong to this problem");
      return nullptr;
    }
    val[(size_t)c.cols[k]] += c.coefs[k];
  }
  idx[(size_t)ncols] = -1;
  val[(size_t)ncols] = c.constant;
  if (problem_del_nonlin_obj(p) != 0) return nullptr;
  if (kpy_modelCall(KRVXchgobj, p, ncols + 1, idx.data(), val.data()) < 0 ||
      kpy_modelCall(KRVXdelqmatrix, p, kObjRow) < 0 ||
      (c.nquad && kpy_modelCall(KRVXaddqmatrix64_witharraysizes, p, kObjRow, (int64_t)c.nquad, c.qcol1,
                                (int64_t)c.nquad, c.qcol2, (int64_t)c.nquad, c.qcoef, (int64_t)c.nquad) < 0) ||
      kpy_modelCall(KRVXchgobjsense, p, sense) < 0)
    return nullptr;
  if (c.nformulas) {
    std::vector<int> rows(c.nformulas, kObjRow);
    tagKRVNproblem *nl = p->nlprob;
    if (kpy_modelCall([&](ko_prob_struct *) {
          return KRVNaddcoefs(nl, (int)c.nformulas, rows.data(), c.fcols, c.ffactors, c.fstarts, (int64_t)c.ntokens,
                              c.toktypes, c.tokvalues);
        }, p) < 0)
      return nullptr;
    p->obj_is_nonlin = 1;
  }
  Py_RETURN_NONE;
}

PyObject *problem_addObjective(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"objective", "priority", "weight", nullptr};
  PyObject *expr;
  int priority = 0;
  double weight = 1.0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|id", (char **)kwlist, &expr, &priority, &weight)) return nullptr;
  problem_s *p = kpy_prob(self);
  kpy_converted c;
  if (convertObjective(p, expr, &c) < 0) return nullptr;
  if (c.nquad || c.nformulas) {
    PyErr_SetString(kpy_ModelError, "Only linear objectives can be added with addObjective");
    return nullptr;
  }
  if (c.constant != 0.0) {
    PyErr_SetString(kpy_ModelError, "An objective added with addObjective cannot have a constant term");
    return nullptr;
  }
  if (kpy_modelCall(KRVXaddobj_witharraysizes, p, (int)c.nlin, c.cols, (int64_t)c.nlin, c.coefs, (int64_t)c.nlin,
                    priority, weight) < 0)
    return nullptr;
  Py_RETURN_NONE;
}

// _convertExpr(expr, objective=False): the conversion's arrays, for tests.
PyObject *problem_convertExpr(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"expr", "objective", nullptr};
  PyObject *expr;
  int objective = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|p", (char **)kwlist, &expr, &objective)) return nullptr;
  problem_s *p = kpy_prob(self);
  double constant = 0.0;
  size_t nl = 0, nq = 0, nf = 0, nt = 0;
  std::vector<int> cols, q1, q2, fcols, fstarts, types;
  std::vector<double> coefs, qv, ffac, values;
  if (objective) {
    kpy_converted c;
    if (convertObjective(p, expr, &c) < 0) return nullptr;
    constant = c.constant;
    nl = c.nlin, nq = c.nquad, nf = c.nformulas, nt = c.ntokens;
    cols.assign(c.cols, c.cols + nl);
    coefs.assign(c.coefs, c.coefs + nl);
    q1.assign(c.qcol1, c.qcol1 + nq);
    q2.assign(c.qcol2, c.qcol2 + nq);
    qv.assign(c.qcoef, c.qcoef + nq);
    fcols.assign(c.fcols, c.fcols + nf);
    ffac.assign(c.ffactors, c.ffactors + nf);
    if (nf) fstarts.assign(c.fstarts, c.fstarts + nf + 1);
    types.assign(c.toktypes, c.toktypes + nt);
    values.assign(c.tokvalues, c.tokvalues + nt);
  } else {
    constraint_s *holder = (constraint_s *)constraint_new(&kpy_constraintType, nullptr, nullptr);
    if (!holder) return nullptr;
    holder->body = Py_NewRef(expr);
    holder->state = KPY_CON_UNLINKED;
    holder->ub = 0.0;   // body <= 0: the row's rhs is minus the body's constant
    Lease<RowBatch> lease;
    RowBatch &b = *lease.b;
    int rc = convertBatch(p, &holder, 1, 0, &b);
    Py_DECREF(holder);
    if (rc < 0) return nullptr;
    constant = b.rhs[0] == 0.0 ? 0.0 : -b.rhs[0];
    cols = b.colind, coefs = b.coef, q1 = b.q1, q2 = b.q2, qv = b.qcoef, fcols = b.fcol, ffac = b.ffactor;
    fstarts = b.fstart, types = b.toktype, values = b.tokvalue;
    nl = cols.size(), nq = q1.size(), nf = fcols.size(), nt = types.size();
  }
  PyObject *lin = PyList_New(0), *quad = PyList_New(0), *forms = PyList_New(0);
  bool ok = lin && quad && forms;
  for (size_t k = 0; ok && k < nl; ++k) {
    PyObject *t = Py_BuildValue("(id)", cols[k], coefs[k]);
    ok = t && PyList_Append(lin, t) == 0;
    Py_XDECREF(t);
  }
  for (size_t k = 0; ok && k < nq; ++k) {
    PyObject *t = Py_BuildValue("(iid)", q1[k], q2[k], qv[k]);
    ok = t && PyList_Append(quad, t) == 0;
    Py_XDECREF(t);
  }
  for (size_t k = 0; ok && k < nf; ++k) {
    PyObject *toks = PyList_New(0);
    ok = toks != nullptr;
    for (int j = fstarts[k]; ok && j < fstarts[k + 1]; ++j) {
      PyObject *t = Py_BuildValue("(id)", types[(size_t)j], values[(size_t)j]);
      ok = t && PyList_Append(toks, t) == 0;
      Py_XDECREF(t);
    }
    PyObject *t = ok ? Py_BuildValue("(idO)", fcols[k], ffac[k], toks) : nullptr;
    ok = t && PyList_Append(forms, t) == 0;
    Py_XDECREF(t);
    Py_XDECREF(toks);
  }
  PyObject *r = ok ? Py_BuildValue("(dOOO)", constant, lin, quad, forms) : nullptr;
  Py_XDECREF(lin);
  Py_XDECREF(quad);
  Py_XDECREF(forms);
  return r;
}

// _tokensToExpr(tokens): the expression a formula's (type, value) tokens stand for, for tests.
PyObject *problem_tokensToExpr(PyObject *self, PyObject *tokens) {
  PyObject *seq = PySequence_Fast(tokens, "_tokensToExpr takes a sequence of (type, value) pairs");
  if (!seq) return nullptr;
  std::vector<int> types;
  std::vector<double> values;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
    int t;
    double v;
    if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(seq, i), "id", &t, &v)) {
      Py_DECREF(seq);
      return nullptr;
    }
    types.push_back(t);
    values.push_back(v);
  }
  Py_DECREF(seq);
  return nonlin_from_formula(kpy_prob(self), types, values, "constraint.getBody");
}

}  // namespace

// ---------------------------------------------------------------------------------------

problem_s *kpy_constraintProblem(constraint_s *c) {
  uint32_t state = c->state & KPY_CON_STATE_MASK;
  if (state == KPY_CON_LINKED && c->owner && !kpy_isDeleted(c->owner)) return c->owner;
  if (state == KPY_CON_MAPPED) {
    uint64_t serial = kpy_serial(c->idx_high, c->idx_low);
    for (problem_s *p = kpy_env.problems; p; p = p->next)
      if (rowcolmap_has(p->conmap, serial)) return p;
  }
  PyErr_SetString(kpy_ModelError, "Constraint does not belong to any problem");
  return nullptr;
}

int problem_del_nonlin_obj(problem_s *p) {
  if (!p->obj_is_nonlin) return 0;
  if (!p->nlprob) {
    PyErr_SetString(kpy_SolverError, "Removing a nonlinear objective needs the nonlinear solver, which is not available");
    return -1;
  }
  tagKRVNproblem *nl = p->nlprob;
  if (kpy_modelCall([&](ko_prob_struct *) { return KRVNdelrowcoefs(nl, kObjRow); }, p) < 0) return -1;
  p->obj_is_nonlin = 0;
  return 0;
}

PyMethodDef kpy_problem_modelling_methods[] = {
    {"addVariable", (PyCFunction)(void (*)(void))kpy_serialised<problem_addVariable>, METH_VARARGS | METH_KEYWORDS,
     "addVariable(lb=0, ub=korvex.infinity, threshold=-korvex.infinity, vartype=korvex.continuous, name=None):\n"
     "a new variable (a column of the problem). addVariable(v, ...) adds variables made by korvex.var()."},
    {"addVariables", (PyCFunction)(void (*)(void))kpy_serialised<problem_addVariables>, METH_VARARGS | METH_KEYWORDS,
     "addVariables(*dims_or_indices, lb=0, ub=korvex.infinity, threshold=-korvex.infinity,\n"
     "vartype=korvex.continuous, name=None): integer dimensions give a korvex.ndarray of new variables,\n"
     "iterables of indices a dict keyed by the indices (tuples for several); names are name_i_j."},
    {"addConstraint", (PyCFunction)(void (*)(void))kpy_serialisedRowAdder<problem_addConstraint>, METH_FASTCALL,
     "addConstraint(*constraints): adds constraints given alone or in lists, tuples, dicts, arrays or\n"
     "iterables, all rows in one solver call; returns them in the shape given, linked to their rows."},
    {"setObjective", (PyCFunction)(void (*)(void))kpy_serialised<problem_setObjective>, METH_VARARGS | METH_KEYWORDS,
     "setObjective(objective, sense=korvex.minimize): replaces the objective by an expression."},
    {"addObjective", (PyCFunction)(void (*)(void))kpy_serialised<problem_addObjective>, METH_VARARGS | METH_KEYWORDS,
     "addObjective(objective, priority=0, weight=1.0): adds a further linear objective."},
    {"_convertExpr", (PyCFunction)(void (*)(void))kpy_serialised<problem_convertExpr>, METH_VARARGS | METH_KEYWORDS,
     "_convertExpr(expr, objective=False): (constant, linear, quadratic, formulas) as the solver gets them."},
    {"_tokensToExpr", (PyCFunction)kpy_serialised1<problem_tokensToExpr>, METH_O,
     "_tokensToExpr(tokens): the expression that formula tokens (type, value) stand for."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef kpy_constraint_methods[] = {
    {"getBody", (PyCFunction)constraint_getBody, METH_NOARGS,
     "getBody(): the constraint's body; for a row of a problem, read back from the solver."},
    {nullptr, nullptr, 0, nullptr},
};
