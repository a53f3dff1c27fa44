// Printing of linear terms, quadratic terms, expressions and nonlinear trees, and the
// extractLinear()/extractQuadratic() methods that return their parts as lists.
#include "expr/aggregates.h"
#include "sort/sort.h"
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kDepth = 64;
const char *const kDepthMessage =
    "The expression tree depth reached the maximum limit, please reformulate or simplify the expression";

std::string fmtG(double v) {
  char buf[64];
  snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// Appends the text of a Python str; -1 with an error set
int appendStr(std::string &out, PyObject *s) {
  if (!s) return -1;
  Py_ssize_t n;
  const char *p = PyUnicode_AsUTF8AndSize(s, &n);
  if (p) out.append(p, (size_t)n);
  Py_DECREF(s);
  return p ? 0 : -1;
}

int appendVarName(std::string &out, var_s *v) { return appendStr(out, get_var_name(v)); }
int appendObjStr(std::string &out, PyObject *o) { return appendStr(out, PyObject_Str(o)); }

PyObject *toStr(const std::string &s) { return PyUnicode_FromStringAndSize(s.data(), (Py_ssize_t)s.size()); }

// coefficient part of a term: "-" for -1, nothing for 1, else "%g * "
std::string coefPrefix(double c) {
  if (c == -1.0) return "-";
  if (c == 1.0) return "";
  return fmtG(c) + " * ";
}

struct LinEntries {
  std::vector<var_s *> vars;
  std::vector<double> coefs;
  void sort() { kpy_Sort_Var_Dbl(vars.data(), coefs.data(), vars.size()); }
};
struct QuadEntries {
  std::vector<var_s *> vars1, vars2;
  std::vector<double> coefs;
  void sort() { kpy_LexSort_VarVar_Dbl(vars1.data(), vars2.data(), coefs.data(), coefs.size()); }
};

void gatherLinear(const linmap *m, LinEntries &out, bool skipZero) {
  if (!m) return;
  for (auto &kv : *m)
    if (!skipZero || kv.second != 0.0) out.vars.push_back(kv.first), out.coefs.push_back(kv.second);
  out.sort();
}

void gatherQuadratic(const quadmap *m, QuadEntries &out) {
  if (!m) return;
  for (auto &outer : *m)
    if (outer.second)
      for (auto &inner : *outer.second)
        out.vars1.push_back(outer.first), out.vars2.push_back(inner.first), out.coefs.push_back(inner.second);
  out.sort();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Terms and expressions

PyObject *linterm_str(PyObject *term) {
  linterm_s *t = (linterm_s *)term;
  return kpy_catchNoMemory(
      [&] { return PyUnicode_FromFormat("%s%S", coefPrefix(t->coef).c_str(), (PyObject *)t->var); });
}

PyObject *quadterm_str(PyObject *term) {
  quadterm_s *t = (quadterm_s *)term;
  return kpy_catchNoMemory([&] {
    std::string prefix = coefPrefix(t->coef);
    if (t->var1 == t->var2) return PyUnicode_FromFormat("%s%S ** 2", prefix.c_str(), (PyObject *)t->var1);
    return PyUnicode_FromFormat("%s%S * %S", prefix.c_str(), (PyObject *)t->var1, (PyObject *)t->var2);
  });
}

static int expressionText(expression_s *e, std::string &out) {
  LinEntries lin;
  QuadEntries quad;
  gatherLinear(e->linear, lin, true);
  gatherQuadratic(e->quad, quad);
  bool first = true;
  if (e->constant != 0.0 || std::isnan(e->constant) || (lin.vars.empty() && quad.coefs.empty())) {
    out += fmtG(e->constant);
    first = false;
  }
  // one term: its coefficient, then the body through the callback
  auto term = [&](double q, auto &&body) -> int {
    bool unit = std::fabs(q) == 1.0;
    if (first)
      out += unit ? (q < 0 ? "-" : "") : fmtG(q) + " * ";
    else
      out += std::string(" ") + (q >= 0 ? "+" : "-") + " " + (unit ? "" : fmtG(std::fabs(q)) + " * ");
    first = false;
    return body();
  };
  for (size_t i = 0; i < lin.vars.size(); ++i)
    if (term(lin.coefs[i], [&] { return appendVarName(out, lin.vars[i]); }) < 0) return -1;
  for (size_t i = 0; i < quad.coefs.size(); ++i)
    if (term(quad.coefs[i], [&] {
          if (appendVarName(out, quad.vars1[i]) < 0) return -1;
          if (quad.vars1[i] == quad.vars2[i]) {
            out += " ** 2";
            return 0;
          }
          out += " * ";
          return appendVarName(out, quad.vars2[i]);
        }) < 0)
      return -1;
  return 0;
}

PyObject *expression_str(PyObject *e) {
  return kpy_catchNoMemory([&]() -> PyObject * {
    std::string s;
    if (expressionText((expression_s *)e, s) < 0) return nullptr;
    return toStr(s);
  });
}

// ---------------------------------------------------------------------------------------
// Nonlinear trees

static int nonlin_precedence(PyObject *obj) {
  if (kpy_isLinterm(obj)) {
    double c = ((linterm_s *)obj)->coef;
    return (c == 1.0 || c == 0.0) ? -1 : 3;
  }
  if (kpy_isQuadterm(obj)) return ((quadterm_s *)obj)->coef == 0.0 ? -1 : 3;
  if (kpy_isExpression(obj)) {
    expression_s *e = (expression_s *)obj;
    size_t terms = e->linear ? e->linear->size() : 0;
    if (e->quad)
      for (auto &kv : *e->quad) terms += kv.second ? kv.second->size() : 0;
    size_t k = (e->constant != 0.0 ? 1 : 0) + terms;
    if (k == 0) return -1;
    if (k > 1) return 2;
    return terms ? 3 : -1;
  }
  if (kpy_isNonlin(obj)) {
    int op = ((nonlin_s *)obj)->op;
    return (op >= 0 && op < NLOP_COUNT) ? printToolArray[op].precedence : -1;
  }
  return -1;
}

static bool isNegativeConstant(PyObject *obj) {
  double v;
  return isObjectConst(obj, nullptr, &v) && v < 0;
}

static int nonlin_print(PyObject *obj, int depth, std::string &out);

static int printArg(PyObject *arg, int depth, bool paren, std::string &out) {
  if (paren) out += "(";
  if (nonlin_print(arg, depth, out) < 0) return -1;
  if (paren) out += ")";
  return 0;
}

static int nonlin_print(PyObject *obj, int depth, std::string &out) {
  if (isNumericScalar(obj)) return appendObjStr(out, obj);
  if (depth < 0) {
    out += "[MAX RECURS LEV]";
    return 0;
  }
  if (kpy_isVar(obj)) return appendStr(out, var_str(obj));
  if (kpy_isLinterm(obj)) return appendStr(out, linterm_str(obj));
  if (kpy_isQuadterm(obj)) return appendStr(out, quadterm_str(obj));
  if (kpy_isExpression(obj)) return expressionText((expression_s *)obj, out);
  if (PyCallable_Check(obj)) {
    out += "user";
    return 0;
  }
  nonlin_s *node = (nonlin_s *)obj;
  if (!kpy_isNonlin(obj) || node->op < 0 || node->op >= NLOP_COUNT) {
    PyErr_SetString(kpy_ModelError, "Unexpected object in nonlinear expression");
    return -1;
  }
  const printTool &pt = printToolArray[node->op];
  if (pt.arity == 1) {
    if (!node->args) {
      PyErr_SetString(kpy_ModelError, "Invalid unary nonlinear expression");
      return -1;
    }
    if (node->op == NLOP_UMINUS) {
      int p = nonlin_precedence(node->args);
      out += "-";
      return printArg(node->args, depth - 1, p >= 1 && p < 4, out);
    }
    out += pt.symbol;
    return printArg(node->args, depth - 1, true, out);
  }
  PyObject *args = node->args;
  if (!args || !(PyList_Check(args) || PyTuple_Check(args))) {
    PyErr_SetString(kpy_ModelError, "Unexpected object in nonlinear expression");
    return -1;
  }
  // the list may change while its items print (str of a variable runs Python code): hold it
  Py_INCREF(args);
  int rc = 0;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(args);
  if (n == 0) {
    out += pt.form == 0 ? "0" : std::string(pt.symbol) + "()";
  } else if (pt.form != 0) {
    out += pt.symbol;
    out += "(";
    for (Py_ssize_t i = 0; rc == 0 && i < PySequence_Fast_GET_SIZE(args); ++i) {
      if (i) out += ", ";
      PyObject *item = Py_NewRef(PySequence_Fast_GET_ITEM(args, i));
      rc = nonlin_print(item, depth - 1, out);
      Py_DECREF(item);
    }
    out += ")";
  } else {
    int prec = pt.precedence;
    for (Py_ssize_t i = 0; rc == 0 && i < PySequence_Fast_GET_SIZE(args); ++i) {
      PyObject *item = Py_NewRef(PySequence_Fast_GET_ITEM(args, i));
      int p = nonlin_precedence(item);
      bool paren = p > 0 && p < prec;
      if (i == 0) {
        // a power's base is bracketed when it is itself a power or a negative constant
        if (node->op == NLOP_POW) paren = paren || p == prec || isNegativeConstant(item);
      } else {
        out += std::string(" ") + pt.symbol + " ";
        paren = paren || (p == prec && (node->op == NLOP_MINUS || node->op == NLOP_DIV));
      }
      rc = printArg(item, depth - 1, paren, out);
      Py_DECREF(item);
    }
  }
  Py_DECREF(args);
  return rc;
}

PyObject *nonlin_str(PyObject *node) {
  try {
    std::string s;
    if (nonlin_print(node, kDepth, s) < 0) {
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "Unknown exception in Korvex module");
      return nullptr;
    }
    return toStr(s);
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "Unknown exception in Korvex module");
    return nullptr;
  }
}

// ---------------------------------------------------------------------------------------
// Extraction

static PyObject *linearLists(LinEntries &lin) {
  PyObject *vars = PyList_New((Py_ssize_t)lin.vars.size()), *coefs = PyList_New((Py_ssize_t)lin.vars.size());
  if (!vars || !coefs) goto fail;
  for (size_t i = 0; i < lin.vars.size(); ++i) {
    PyObject *c = PyFloat_FromDouble(lin.coefs[i]);
    if (!c) goto fail;
    PyList_SET_ITEM(vars, i, Py_NewRef((PyObject *)lin.vars[i]));
    PyList_SET_ITEM(coefs, i, c);
  }
  return Py_BuildValue("(NN)", vars, coefs);
fail:
  Py_XDECREF(vars);
  Py_XDECREF(coefs);
  return nullptr;
}

static PyObject *quadraticLists(QuadEntries &quad) {
  Py_ssize_t n = (Py_ssize_t)quad.coefs.size();
  PyObject *v1 = PyList_New(n), *v2 = PyList_New(n), *coefs = PyList_New(n);
  if (!v1 || !v2 || !coefs) goto fail;
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject *c = PyFloat_FromDouble(quad.coefs[i]);
    if (!c) goto fail;
    PyList_SET_ITEM(v1, i, Py_NewRef((PyObject *)quad.vars1[i]));
    PyList_SET_ITEM(v2, i, Py_NewRef((PyObject *)quad.vars2[i]));
    PyList_SET_ITEM(coefs, i, c);
  }
  return Py_BuildValue("(NNN)", v1, v2, coefs);
fail:
  Py_XDECREF(v1);
  Py_XDECREF(v2);
  Py_XDECREF(coefs);
  return nullptr;
}

// The lists that f builds; a failure without a Python error becomes the solver library's error
template <class F>
static PyObject *reported(F &&f) {
  PyObject *res = kpy_catchNoMemory(f);
  if (!res && !PyErr_Occurred()) setKrvxErrIfNull(nullptr, res);
  return res;
}

PyObject *linterm_extractLinear(PyObject *self, PyObject *) {
  return reported([&] {
    LinEntries lin;
    lin.vars.push_back(((linterm_s *)self)->var);
    lin.coefs.push_back(((linterm_s *)self)->coef);
    return linearLists(lin);
  });
}

PyObject *linterm_extractQuadratic(PyObject *, PyObject *) {
  return reported([] {
    QuadEntries none;
    return quadraticLists(none);
  });
}

PyObject *quadterm_extractLinear(PyObject *, PyObject *) {
  return reported([] {
    LinEntries none;
    return linearLists(none);
  });
}

PyObject *quadterm_extractQuadratic(PyObject *self, PyObject *) {
  return reported([&] {
    quadterm_s *t = (quadterm_s *)self;
    QuadEntries q;
    q.vars1.push_back(t->var1), q.vars2.push_back(t->var2), q.coefs.push_back(t->coef);
    return quadraticLists(q);
  });
}

PyObject *expression_extractLinear(PyObject *self, PyObject *) {
  return reported([&] {
    LinEntries lin;
    gatherLinear(((expression_s *)self)->linear, lin, false);
    return linearLists(lin);
  });
}

PyObject *expression_extractQuadratic(PyObject *self, PyObject *) {
  return reported([&] {
    QuadEntries quad;
    gatherQuadratic(((expression_s *)self)->quad, quad);
    return quadraticLists(quad);
  });
}

namespace {
struct PairHash {
  size_t operator()(const std::pair<var_s *, var_s *> &p) const noexcept {
    return kpy_PtrHash()(p.first) * 31 + kpy_PtrHash()(p.second);
  }
};

// The obviously linear or quadratic part of a tree; entries whose sum is exactly 0 disappear.
struct Collector {
  bool quadratic;
  tsl::robin_map<var_s *, double, kpy_PtrHash> lin;
  tsl::robin_map<std::pair<var_s *, var_s *>, double, PairHash> quad;

  // the add rule of the maps: adding 0 is ignored, an entry whose sum is exactly 0 disappears
  template <class Map, class Key>
  static void addEntry(Map &m, const Key &key, double c) {
    if (c == 0.0) return;
    auto it = m.find(key);
    if (it == m.end())
      m.emplace(key, c);
    else if (it.value() + c == 0.0)
      m.erase(it);
    else
      it.value() += c;
  }
  void addLin(var_s *v, double c) { addEntry(lin, v, c); }
  void addQuad(var_s *u, var_s *v, double c) {
    if (kpy_varCompare(u, v) > 0) std::swap(u, v);
    addEntry(quad, std::make_pair(u, v), c);
  }

  int collect(PyObject *obj, int depth, double factor) {
    if (isNumericScalar(obj) || !kpy_isModelOperand(obj)) return 0;
    if (depth <= 0) {
      PyErr_SetString(kpy_ModelError, kDepthMessage);
      return -1;
    }
    if (kpy_isVar(obj)) {
      if (!quadratic) addLin((var_s *)obj, factor);
    } else if (kpy_isLinterm(obj)) {
      if (!quadratic) addLin(((linterm_s *)obj)->var, factor * ((linterm_s *)obj)->coef);
    } else if (kpy_isQuadterm(obj)) {
      quadterm_s *q = (quadterm_s *)obj;
      if (quadratic) addQuad(q->var1, q->var2, factor * q->coef);
    } else if (kpy_isExpression(obj)) {
      expression_s *e = (expression_s *)obj;
      if (!quadratic && e->linear)
        for (auto &kv : *e->linear) addLin(kv.first, factor * kv.second);
      if (quadratic && e->quad)
        for (auto &outer : *e->quad)
          if (outer.second)
            for (auto &inner : *outer.second) addQuad(outer.first, inner.first, factor * inner.second);
    } else {
      return collectNode((nonlin_s *)obj, depth, factor);
    }
    return 0;
  }

  int collectNode(nonlin_s *node, int depth, double factor) {
    PyObject *args = node->args;
    bool seq = args && (PyList_Check(args) || PyTuple_Check(args));
    Py_ssize_t n = seq ? PySequence_Fast_GET_SIZE(args) : 0;
    auto arg = [&](Py_ssize_t i) { return PySequence_Fast_GET_ITEM(args, i); };
    switch (node->op) {
      case NLOP_SUM:
        for (Py_ssize_t i = 0; i < n; ++i)
          if (collect(arg(i), depth - 1, factor) < 0) return -1;
        return 0;
      case NLOP_MINUS:
        if (n != 2) return 0;
        return (collect(arg(0), depth - 1, factor) < 0 || collect(arg(1), depth - 1, -factor) < 0) ? -1 : 0;
      case NLOP_UMINUS:
        return args ? collect(args, depth - 1, -factor) : 0;
      case NLOP_PROD: {
        PyObject *other = nullptr;
        double k = factor;
        for (Py_ssize_t i = 0; i < n; ++i) {
          PyObject *a = arg(i);
          if (isNumericScalar(a)) {
            double v = kpy_numberValue(a);
            if (v == -1.0 && PyErr_Occurred()) return -1;
            k *= v;
          } else if (other) {
            return 0;   // two factors that are not numbers: not linear or quadratic
          } else {
            other = a;
          }
        }
        return other ? collect(other, depth - 1, k) : 0;
      }
      case NLOP_DIV: {
        if (n != 2 || !isNumericScalar(arg(1))) return 0;
        double d = kpy_numberValue(arg(1));
        if (d == -1.0 && PyErr_Occurred()) return -1;
        return d != 0.0 ? collect(arg(0), depth - 1, factor / d) : 0;
      }
      case NLOP_POW: {
        if (n != 2 || !isNumericScalar(arg(1))) return 0;
        double e = kpy_numberValue(arg(1));
        if (e == -1.0 && PyErr_Occurred()) return -1;
        return e == 1.0 ? collect(arg(0), depth - 1, factor) : 0;
      }
      default:
        return 0;
    }
  }
};
}  // namespace

static PyObject *extractTree(PyObject *self, bool quadratic) {
  return reported([&]() -> PyObject * {
    Collector c{quadratic, {}, {}};
    if (c.collect(self, kDepth, 1.0) < 0) return nullptr;
    if (!quadratic) {
      LinEntries lin;
      for (auto &kv : c.lin) lin.vars.push_back(kv.first), lin.coefs.push_back(kv.second);
      lin.sort();
      return linearLists(lin);
    }
    QuadEntries quad;
    for (auto &kv : c.quad)
      quad.vars1.push_back(kv.first.first), quad.vars2.push_back(kv.first.second), quad.coefs.push_back(kv.second);
    quad.sort();
    return quadraticLists(quad);
  });
}

PyObject *nonlin_extractLinear(PyObject *self, PyObject *) { return extractTree(self, false); }
PyObject *nonlin_extractQuadratic(PyObject *self, PyObject *) { return extractTree(self, true); }
