// Conversion of an operand of the algebra into the arrays of one row or objective: constant,
// linear part, quadratic part and formulas in postfix tokens.
#include "expr/rows_and_tokens.h"
#include "expr/userfunc.h"
#include "sort/sort.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kDepthBudget = 64;
const char *const kDepthMsg =
    "The expression tree depth reached the maximum limit, please reformulate or simplify the expression";

// Token type and value of each operation code
const int py_to_slp_op[NLOP_COUNT] = {31, 31, 31, 31, 31, 31, 12, 12, 12, 12, 12, 12, 12, 12, 12,
                                      12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 11, 11, 11};
const int py_to_slp_fun[NLOP_COUNT] = {5,  6,  1,  3,  4,  2,  16, 15, 14, 27, 28, 29, 30, 31, 32,
                                       34, 33, 17, 46, 49, 50, 18, 35, 36, 37, 33, 34, 0,  0,  0};

bool isFunctionCall(int op) { return op >= NLOP_EXP && op < NLOP_COUNT; }

int depthError() {
  PyErr_SetString(kpy_ModelError, kDepthMsg);
  return -1;
}

// Arguments of a node: items and count (a unary node holds its argument directly).
struct Args {
  PyObject *const *items;
  Py_ssize_t n;
  PyObject *single;
};

int nodeArgs(nonlin_s *node, Args *out) {
  out->single = nullptr;
  if (printToolArray[node->op].arity == 1) {
    out->single = node->args;
    out->items = &out->single;
    out->n = node->args ? 1 : 0;
    return 0;
  }
  if (!node->args || !(PyList_Check(node->args) || PyTuple_Check(node->args))) {
    PyErr_SetString(kpy_ModelError, printToolArray[node->op].arity == 2
                                        ? "Binary operator should have tuple for arguments"
                                        : "N-ary operator should have list or tuple of arguments");
    return -1;
  }
  if (printToolArray[node->op].arity == 2 && (!PyTuple_Check(node->args) || PyTuple_GET_SIZE(node->args) != 2)) {
    PyErr_SetString(kpy_ModelError, "Binary operator should have tuple for arguments");
    return -1;
  }
  out->items = PySequence_Fast_ITEMS(node->args);
  out->n = PySequence_Fast_GET_SIZE(node->args);
  return 0;
}

bool isNumberOrModel(PyObject *o) { return isNumericScalar(o) || kpy_isModelOperand(o); }

// Upper bound of the tokens a subtree emits.
int tokenCount(PyObject *o, int budget, size_t *n) {
  if (budget < 1) return depthError();
  if (isNumericScalar(o) || kpy_isVar(o)) {
    *n += 1;
  } else if (kpy_isLinterm(o)) {
    *n += 3;
  } else if (kpy_isQuadterm(o)) {
    *n += 5;
  } else if (kpy_isExpression(o)) {
    auto *e = (expression_s *)o;
    // an expression without operands still emits one constant
    *n += 2 + 4 * (e->linear ? linmap_size(e->linear) : 0) + 6 * (e->quad ? quadmap_size(e->quad) : 0);
  } else if (kpy_isNonlin(o)) {
    auto *node = (nonlin_s *)o;
    if (node->op < 0 || node->op >= NLOP_COUNT) {
      PyErr_SetString(kpy_ModelError, "Unrecognized member of a nonlinear expression");
      return -1;
    }
    Args a;
    if (nodeArgs(node, &a) < 0) return -1;
    for (Py_ssize_t i = 0; i < a.n; ++i)
      if (tokenCount(a.items[i], budget - 1, n) < 0) return -1;
    size_t k = (size_t)a.n;
    if (node->op == NLOP_SUM || node->op == NLOP_PROD) *n += k;
    else if (isFunctionCall(node->op)) *n += 2 * k + 2;   // arguments' slack, marker and function token
    else *n += 2;
  } else if (PyCallable_Check(o)) {
    *n += 1;
  } else {
    PyErr_SetString(kpy_ModelError, "Unrecognized member of a nonlinear expression");
    return -1;
  }
  return 0;
}

// Grows a heap array (ko allocator) to hold at least need elements.
template <class T>
int growArray(T **arr, size_t *cap, size_t need) {
  if (need <= *cap) return 0;
  size_t c = *cap ? *cap : 4;
  while (c < need) c *= 2;
  if (ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, arr, c * sizeof(T)) < 0) return -1;
  *cap = c;
  return 0;
}

struct Converter {
  problem_s *prob;
  int objective_form, grow;
  double *constant;
  size_t *nlin, *nquad, *nformulas, *ntokens;
  int **cols, **qcol1, **qcol2, **fcols, **fstarts, **toktypes;
  double **coefs, **qcoef, **ffactors, **tokvalues;
  size_t linCap = 0, quadCap = 0;
  int base = 0;
  std::vector<int> ttypes;
  std::vector<double> tvals;

  // ---- count pass ----
  int countItem(PyObject *o) {
    if (isNumericScalar(o)) return 0;
    if (kpy_isVar(o) || kpy_isLinterm(o)) {
      *nlin += 1;
    } else if (kpy_isQuadterm(o)) {
      *nquad += 1;
    } else if (kpy_isExpression(o)) {
      auto *e = (expression_s *)o;
      *nlin += e->linear ? linmap_size(e->linear) : 0;
      *nquad += e->quad ? quadmap_size(e->quad) : 0;
    } else if (kpy_isNonlin(o)) {
      size_t n = 0;
      if (tokenCount(o, kDepthBudget, &n) < 0) return -1;
      *nformulas += 1;
      *ntokens += n + 1;
    } else {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    return 0;
  }

  int countTop(PyObject *o) {
    if (!isNumberOrModel(o)) {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    if (!kpy_isNonlin(o)) return countItem(o);
    auto *node = (nonlin_s *)o;
    if (node->op == NLOP_MINUS) {
      if (!PyTuple_Check(node->args) || PyTuple_GET_SIZE(node->args) != 2) {
        PyErr_SetString(kpy_ModelError, "Erroneous type for argument of difference expression");
        return -1;
      }
      return countItem(PyTuple_GET_ITEM(node->args, 0)) < 0 ? -1 : countItem(PyTuple_GET_ITEM(node->args, 1));
    }
    if (node->op == NLOP_SUM) {
      if (!PyList_Check(node->args)) {
        PyErr_SetString(kpy_ModelError, "Erroneous type for argument of sum");
        return -1;
      }
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(node->args); ++i)
        if (countItem(PyList_GET_ITEM(node->args, i)) < 0) return -1;
      return 0;
    }
    return countItem(o);
  }

  // ---- linear and quadratic parts ----
  int termColumns(quadterm_s *q, int *i, int *j, const char *where) {
    return varToColIndex(prob, (PyObject *)q->var1, i, where) < 0 ? -1
                                                                  : varToColIndex(prob, (PyObject *)q->var2, j, where);
  }
  int needLinear(size_t extra) {
    if (!cols || !coefs) {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    if (!grow) return 0;
    size_t c1 = linCap, c2 = linCap;
    if (growArray(cols, &c1, *nlin + extra) < 0 || growArray(coefs, &c2, *nlin + extra) < 0) return -1;
    linCap = c1 < c2 ? c1 : c2;
    return 0;
  }
  int needQuad(size_t extra) {
    if (!qcol1 || !qcol2 || !qcoef) {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    if (!grow) return 0;
    size_t c1 = quadCap, c2 = quadCap, c3 = quadCap;
    if (growArray(qcol1, &c1, *nquad + extra) < 0 || growArray(qcol2, &c2, *nquad + extra) < 0 ||
        growArray(qcoef, &c3, *nquad + extra) < 0)
      return -1;
    quadCap = c1;
    return 0;
  }
  void pushLinear(int col, double v) {
    (*cols)[*nlin] = col;
    (*coefs)[*nlin] = v;
    ++*nlin;
  }
  void pushQuad(int i, int j, double v) {
    (*qcol1)[*nquad] = i;
    (*qcol2)[*nquad] = j;
    (*qcoef)[*nquad] = v;
    ++*nquad;
  }
  // The stored value of c·u·v in a row (off-diagonal halved) or objective (doubled).
  double quadValue(double c, int i, int j) const {
    double v = i == j ? c : c / 2;
    return objective_form ? 2 * v : v;
  }

  int linQuad(PyObject *o, double f) {
    if (f == 0.0) return 0;
    if (isNumericScalar(o)) {
      double v = kpy_numberValue(o);
      if (v == -1.0 && PyErr_Occurred()) return -1;
      *constant += v * f;
      return 0;
    }
    if (kpy_isVar(o) || kpy_isLinterm(o)) {
      PyObject *var = kpy_isVar(o) ? o : (PyObject *)((linterm_s *)o)->var;
      double c = kpy_isVar(o) ? 1.0 : ((linterm_s *)o)->coef;
      int col;
      if (varToColIndex(prob, var, &col, "linear term defining constraint") < 0) return -1;
      if (c == 0.0) return 0;
      if (needLinear(1) < 0) return -1;
      pushLinear(col, c * f);
      return 0;
    }
    if (kpy_isQuadterm(o)) {
      auto *q = (quadterm_s *)o;
      int i, j;
      if (termColumns(q, &i, &j, "quadratic term defining constraint") < 0) return -1;
      double v = quadValue(q->coef, i, j);
      if (v == 0.0) return 0;
      if (needQuad(1) < 0) return -1;
      pushQuad(i, j, v * f);
      return 0;
    }
    if (kpy_isExpression(o)) return expressionParts((expression_s *)o, f);
    PyErr_SetString(kpy_ModelError, "Invalid expression");
    return -1;
  }

  int expressionParts(expression_s *e, double f) {
    *constant += e->constant * f;
    if (e->linear && e->linear->size()) {
      if (needLinear(e->linear->size()) < 0) return -1;
      size_t added;
      if (kpy_linearEntries(prob, e->linear, f, *cols + *nlin, *coefs + *nlin, &added) < 0) return -1;
      *nlin += added;
      kpy_Sort_Int_Dbl(*cols, *coefs, *nlin);
    }
    if (e->quad && quadmap_size(e->quad)) {
      if (e->quadVars)
        for (uint64_t id : *e->quadVars)
          if (!rowcolmap_has(prob->varmap, id)) {
            PyErr_SetString(kpy_ModelError, "quadratic part of constraint");
            return -1;
          }
      if (needQuad(quadmap_size(e->quad)) < 0) return -1;
      for (auto &outer : *e->quad) {
        int i;
        if (varToColIndex(prob, (PyObject *)outer.first, &i, "quadratic part of constraint") < 0) return -1;
        for (auto &inner : *outer.second) {
          if (inner.second == 0.0) continue;
          int j;
          if (varToColIndex(prob, (PyObject *)inner.first, &j, "quadratic part of constraint") < 0) return -1;
          pushQuad(i, j, quadValue(inner.second, i, j) * f);
        }
      }
      kpy_LexSort_IntInt_Dbl(*qcol1, *qcol2, *qcoef, *nquad);
    }
    return 0;
  }

  // ---- tokens ----
  void push(int type, double value) {
    ttypes.push_back(type);
    tvals.push_back(value);
  }

  // After the operand at position p of n: the operators the balanced rule places there.
  void balanced(Py_ssize_t p, Py_ssize_t n, int opcode, Py_ssize_t *pushed) {
    if (p + 1 >= n) {
      while (*pushed < n - 1) {
        push(TOK_OP, opcode);
        ++*pushed;
      }
      return;
    }
    if (!(p & 1)) return;
    for (Py_ssize_t q = p + 1; !(q & 1); q >>= 1) {
      push(TOK_OP, opcode);
      ++*pushed;
    }
  }

  // a·x (or a·x·y): coefficient first unless it is 1 or -1
  void emitTerm(double a, int c1, int c2) {
    bool plain = a == 1.0 || a == -1.0;
    if (!plain) push(TOK_CON, a);
    push(TOK_COL, c1);
    if (c2 >= 0) {
      push(TOK_COL, c2);
      push(TOK_OP, OP_MULTIPLY);
    }
    if (a == -1.0) push(TOK_OP, OP_UMINUS);
    else if (!plain) push(TOK_OP, OP_MULTIPLY);
  }

  int emitExpression(expression_s *e) {
    std::vector<int> lc, q1, q2;
    std::vector<double> lv, qv;
    if (e->linear)
      for (auto &kv : *e->linear) {
        int col;
        if (varToColIndex(prob, (PyObject *)kv.first, &col, "nonlinear expression") < 0) return -1;
        lc.push_back(col);
        lv.push_back(kv.second);
      }
    if (e->quad)
      for (auto &outer : *e->quad) {
        int i;
        if (varToColIndex(prob, (PyObject *)outer.first, &i, "nonlinear expression") < 0) return -1;
        for (auto &inner : *outer.second) {
          int j;
          if (varToColIndex(prob, (PyObject *)inner.first, &j, "nonlinear expression") < 0) return -1;
          q1.push_back(i);
          q2.push_back(j);
          qv.push_back(inner.second);
        }
      }
    kpy_Sort_Int_Dbl(lc.data(), lv.data(), lc.size());
    kpy_LexSort_IntInt_Dbl(q1.data(), q2.data(), qv.data(), q1.size());
    bool hasConst = e->constant != 0.0 || std::isnan(e->constant);
    Py_ssize_t n = (hasConst ? 1 : 0) + (Py_ssize_t)lc.size() + (Py_ssize_t)q1.size();
    if (n == 0) {
      push(TOK_CON, 0.0);
      return 0;
    }
    Py_ssize_t p = 0, pushed = 0;
    if (hasConst) {
      push(TOK_CON, e->constant);
      balanced(p++, n, OP_PLUS, &pushed);
    }
    for (size_t k = 0; k < lc.size(); ++k) {
      emitTerm(lv[k], lc[k], -1);
      balanced(p++, n, OP_PLUS, &pushed);
    }
    for (size_t k = 0; k < q1.size(); ++k) {
      emitTerm(qv[k], q1[k], q2[k]);
      balanced(p++, n, OP_PLUS, &pushed);
    }
    return 0;
  }

  // One subtree; col and factor are given at a formula's top only.
  int tree(PyObject *o, int budget, int *col, double *factor) {
    if (budget < 1) return depthError();
    if (isNumericScalar(o)) {
      double v = kpy_numberValue(o);
      if (v == -1.0 && PyErr_Occurred()) return -1;
      push(TOK_CON, v);
      return 0;
    }
    if (kpy_isVar(o)) {
      int c;
      if (varToColIndex(prob, o, &c, "nonlinear part of constraint") < 0) return -1;
      push(TOK_COL, c);
      return 0;
    }
    if (kpy_isLinterm(o)) {
      int c;
      if (varToColIndex(prob, (PyObject *)((linterm_s *)o)->var, &c, "nonlinear expression") < 0) return -1;
      emitTerm(((linterm_s *)o)->coef, c, -1);
      return 0;
    }
    if (kpy_isQuadterm(o)) {
      auto *q = (quadterm_s *)o;
      int i, j;
      if (termColumns(q, &i, &j, "nonlinear expression") < 0) return -1;
      emitTerm(q->coef, i, j);
      return 0;
    }
    if (kpy_isExpression(o)) return emitExpression((expression_s *)o);
    if (!kpy_isNonlin(o) || ((nonlin_s *)o)->op < 0 || ((nonlin_s *)o)->op >= NLOP_COUNT) {
      PyErr_SetString(kpy_ModelError, "Incorrect argument of nonlinear function");
      return -1;
    }
    auto *node = (nonlin_s *)o;
    const int op = node->op;
    Args a;
    if (nodeArgs(node, &a) < 0) return -1;

    // operands to emit, in emission order
    std::vector<PyObject *> operands;
    operands.reserve((size_t)a.n);
    if (op == NLOP_PROD && col) {
      Py_ssize_t colArg = -1;
      for (Py_ssize_t i = 0; i < a.n && colArg < 0; ++i)
        if (kpy_isVar(a.items[i])) colArg = i;
      if (colArg >= 0 && varToColIndex(prob, a.items[colArg], col, "nonlinear term") < 0) return -1;
      bool moveNumbers = colArg >= 0;
      for (Py_ssize_t i = 0; i < a.n; ++i) {
        if (i == colArg) continue;
        if (moveNumbers && isNumericScalar(a.items[i])) {
          double v = kpy_numberValue(a.items[i]);
          if (v == -1.0 && PyErr_Occurred()) return -1;
          *factor *= v;
          continue;
        }
        operands.push_back(a.items[i]);
      }
    } else if (nlop_is_user(op)) {
      if (a.n < 1 || !PyCallable_Check(a.items[0])) {
        PyErr_SetString(kpy_ModelError, "First argument of a user() operator must be the function itself");
        return -1;
      }
      for (Py_ssize_t i = a.n - 1; i >= 1; --i) operands.push_back(a.items[i]);
    } else if (op == NLOP_PWL) {
      for (Py_ssize_t i = a.n - 1; i >= 0; --i) operands.push_back(a.items[i]);
    } else {
      operands.assign(a.items, a.items + a.n);
    }

    int number = 0;
    if (nlop_is_user(op)) {
      PyObject *args = PyList_Check(node->args) ? PyList_AsTuple(node->args) : Py_NewRef(node->args);
      if (!args) return -1;
      int rc = createUserFunction(prob, args, &number, op);
      Py_DECREF(args);
      if (rc < 0) return -1;
    }
    if (isFunctionCall(op)) push(TOK_RB, 0.0);
    const Py_ssize_t n = (Py_ssize_t)operands.size();
    const bool assoc = op == NLOP_SUM || op == NLOP_PROD;
    if (assoc && n == 0) push(TOK_CON, op == NLOP_PROD ? 1.0 : 0.0);
    Py_ssize_t pushed = 0;
    for (Py_ssize_t p = 0; p < n; ++p) {
      if (tree(operands[(size_t)p], budget - 1, nullptr, nullptr) < 0) return -1;
      if (assoc) balanced(p, n, py_to_slp_fun[op], &pushed);
    }
    if (!assoc) push(py_to_slp_op[op], nlop_is_user(op) ? number : py_to_slp_fun[op]);
    return 0;
  }

  // One formula from a nonlinear node; its factor is multiplied by sign.
  int formula(PyObject *node, double sign) {
    if (!fcols || !ffactors || !fstarts || !toktypes || !tokvalues) {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    int col = -1;
    double factor = 1.0;
    int found = -1;
    if (tree(node, kDepthBudget, &found, &factor) < 0) return -1;
    col = found >= 0 ? found : KPY_NOCOL;
    push(TOK_EOF, 0.0);
    (*fcols)[*nformulas] = col;
    (*ffactors)[*nformulas] = factor * sign;
    ++*nformulas;
    (*fstarts)[*nformulas] = base + (int)ttypes.size();
    return 0;
  }

  int allocFormulas(size_t n) {
    if (!grow) return 0;
    if (!fcols || !ffactors || !fstarts) {
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    if (ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, fcols, (n ? n : 1) * sizeof(int)) < 0 ||
        ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, ffactors, (n ? n : 1) * sizeof(double)) < 0 ||
        ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, fstarts, (n + 1) * sizeof(int)) < 0)
      return -1;
    (*fstarts)[0] = 0;
    return 0;
  }

  int fillTop(PyObject *o) {
    if (!isNumberOrModel(o)) {
      if (getExprType(o) < 0) return -1;   // the classification's own message
      PyErr_SetString(kpy_ModelError, "Invalid expression");
      return -1;
    }
    if (!kpy_isNonlin(o)) return linQuad(o, 1.0);
    auto *node = (nonlin_s *)o;
    ttypes.reserve(256);
    tvals.reserve(256);
    base = grow || !fstarts || !*fstarts ? 0 : (*fstarts)[0];
    if (node->op == NLOP_MINUS) {
      if (!PyTuple_Check(node->args) || PyTuple_GET_SIZE(node->args) != 2) {
        PyErr_SetString(kpy_ModelError, "Erroneous type for argument of difference expression");
        return -1;
      }
      if (allocFormulas(2) < 0) return -1;
      PyObject *u = PyTuple_GET_ITEM(node->args, 0), *v = PyTuple_GET_ITEM(node->args, 1);
      if (!isNumberOrModel(u) || !isNumberOrModel(v)) {
        PyErr_SetString(kpy_ModelError, "Invalid expression");
        return -1;
      }
      if ((kpy_isNonlin(u) ? formula(u, 1.0) : linQuad(u, 1.0)) < 0) return -1;
      if ((kpy_isNonlin(v) ? formula(v, -1.0) : linQuad(v, -1.0)) < 0) return -1;
    } else if (node->op == NLOP_SUM) {
      if (!PyList_Check(node->args)) {
        PyErr_SetString(kpy_ModelError, "Erroneous type for argument of sum");
        return -1;
      }
      Py_ssize_t n = PyList_GET_SIZE(node->args);
      if (allocFormulas((size_t)n) < 0) return -1;
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *item = PyList_GET_ITEM(node->args, i);
        if (!isNumberOrModel(item)) {
          PyErr_SetString(kpy_ModelError, "Invalid expression in nonlinear sum");
          return -1;
        }
        if ((kpy_isNonlin(item) ? formula(item, 1.0) : linQuad(item, 1.0)) < 0) return -1;
      }
    } else {
      if (allocFormulas(1) < 0 || formula(o, 1.0) < 0) return -1;
    }
    size_t nt = ttypes.size();
    if (nt) {
      if (grow || !*toktypes) {
        if (ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, toktypes, nt * sizeof(int)) < 0 ||
            ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_DefaultHeap, tokvalues, nt * sizeof(double)) < 0)
          return -1;
      }
      std::memcpy(*toktypes, ttypes.data(), nt * sizeof(int));
      std::memcpy(*tokvalues, tvals.data(), nt * sizeof(double));
    }
    *ntokens = nt;
    return 0;
  }
};

}  // namespace

int kpy_linearEntries(problem_s *prob, const linmap *m, double f, int *cols, double *coefs, size_t *n) {
  size_t k = 0;
  for (auto &kv : *m) {
    int col;
    if (varToColIndex(prob, (PyObject *)kv.first, &col, "linear part of constraint") < 0) return -1;
    if (kv.second == 0.0) continue;
    cols[k] = col;
    coefs[k] = kv.second * f;
    ++k;
  }
  *n = k;
  return 0;
}

int convertExpr(problem_s *problem, PyObject *expr, double *constant, size_t *nlin, int **cols, double **coefs,
                size_t *nquad, int **qcol1, int **qcol2, double **qcoef, size_t *nformulas, size_t *ntokens,
                int **fcols, double **ffactors, int **fstarts, int **toktypes, double **tokvalues, int objective_form,
                int grow) {
  if (!expr) {
    PyErr_SetString(kpy_ModelError, "Cannot convert expression");
    return -1;
  }
  *constant = 0.0;
  *nlin = *nquad = *nformulas = *ntokens = 0;
  Converter c{problem, objective_form, grow, constant, nlin, nquad, nformulas, ntokens, cols, qcol1, qcol2,
              fcols, fstarts, toktypes, coefs, qcoef, ffactors, tokvalues, 0, 0, 0, {}, {}};
  bool count = !cols && !coefs && !qcol1 && !qcol2 && !qcoef && !fcols && !ffactors && !fstarts && !toktypes &&
               !tokvalues;
  if (count) return c.countTop(expr);
  if (grow) {
    c.linCap = 0;
    c.quadCap = 0;
  }
  return c.fillTop(expr);
}

// ---------------------------------------------------------------------------------------

kpy_converted::~kpy_converted() {
  for (void *p : {(void *)cols, (void *)qcol1, (void *)qcol2, (void *)fcols, (void *)fstarts, (void *)toktypes,
                  (void *)coefs, (void *)qcoef, (void *)ffactors, (void *)tokvalues})
    ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_DefaultHeap, &p);
}

int kpy_converted::convert(problem_s *problem, PyObject *expr, int objective_form) {
  return convertExpr(problem, expr, &constant, &nlin, &cols, &coefs, &nquad, &qcol1, &qcol2, &qcoef, &nformulas,
                     &ntokens, &fcols, &ffactors, &fstarts, &toktypes, &tokvalues, objective_form, 1);
}

int kpy_ensureNonlinear(problem_s *p) {
  if (p->nlprob) return 0;
  tagKRVNproblem *nl = nullptr;
  ko_prob_struct *h = p->prob;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = KRVXnlpcreateprob(h, &nl);
  Py_END_ALLOW_THREADS
  if (rc || !nl) {
    setKrvxErrIfNull((PyObject *)p, nullptr);
    return -1;
  }
  p->nlprob = nl;
  return 0;
}
