// Formula tokens back into expressions, and constraint.getBody: a row's linear, quadratic and
// formula parts read from the solver and rebuilt as one expression or nonlinear node.
#include "expr/rows_and_tokens.h"
#include "api/modelling.h"

#include <vector>

namespace {

// Operation built for an internal function code, or -1 when unsupported.
int functionOp(int code) {
  switch (code) {
    case 14: return NLOP_LOG10;
    case 15: return NLOP_LOG;
    case 16: return NLOP_EXP;
    case 17: return NLOP_ABS;
    case 18: return NLOP_SQRT;
    case 27: return NLOP_SIN;
    case 28: return NLOP_COS;
    case 29: return NLOP_TAN;
    case 30: return NLOP_ASIN;
    case 31: return NLOP_ACOS;
    case 32: return NLOP_ATAN;
    case 33: return NLOP_MIN;
    case 34: return NLOP_MAX;
    case 35: return NLOP_PWL;
    case 36: return NLOP_SUM;
    case 37: return NLOP_PROD;
    case 46: return NLOP_SIGN;
    case 49: return NLOP_ERF;
    case 50: return NLOP_ERFC;
    default: return -1;
  }
}

const int kOperatorOp[7] = {-1, NLOP_UMINUS, NLOP_POW, NLOP_PROD, NLOP_DIV, NLOP_SUM, NLOP_MINUS};

// The work stack; every object left on it is released with it.
struct Stack {
  std::vector<PyObject *> items;
  ~Stack() {
    for (PyObject *o : items) Py_XDECREF(o);
  }
  PyObject *pop() {
    PyObject *o = items.back();
    items.pop_back();
    return o;
  }
};

PyObject *invalid(const char *caller) {
  PyErr_Format(kpy_InterfaceError, "Invalid nonlinear formula in %s", caller);
  return nullptr;
}

}  // namespace

PyObject *nonlin_from_formula(problem_s *problem, const std::vector<int> &types, const std::vector<double> &values,
                              const char *caller) {
  if (types.empty() || values.size() != types.size()) return invalid(caller);
  Stack st;
  const Py_ssize_t nvars = PyList_GET_SIZE(problem->vars);
  for (size_t k = 0; k < types.size(); ++k) {
    const double value = values[k];
    PyObject *made = nullptr;
    switch (types[k]) {
      case TOK_EOF:
      case TOK_SKIP:
        continue;
      case TOK_CON:
        made = PyFloat_FromDouble(value);
        break;
      case TOK_COL: {
        long col = (long)value;
        if (col < 0 || col >= nvars) {
          PyErr_Format(kpy_InterfaceError,
                       "Nonlinear constraint contains a coefficient for column %d, but there are only %d variables in "
                       "the problem",
                       (int)col, (int)nvars);
          return nullptr;
        }
        made = Py_XNewRef(problem_objectAt(problem, problem->vars, col));
        if (!made) return nullptr;
        break;
      }
      case TOK_UFUN:
        PyErr_Format(kpy_InterfaceError, "User functions are not supported by %s", caller);
        return nullptr;
      case TOK_IFUN: {
        int code = (int)value;
        int op = functionOp(code);
        if (op < 0) {
          PyErr_Format(kpy_InterfaceError, "Unsupported nonlinear function in %s: %d", caller, code);
          return nullptr;
        }
        int arity = printToolArray[op].arity;
        if (arity == -1) {
          PyObject *list = PyList_New(0);
          if (!list) return nullptr;
          while (!st.items.empty() && st.items.back() != Py_None) {
            PyObject *o = st.pop();
            int rc = PyList_Append(list, o);
            Py_DECREF(o);
            if (rc < 0) {
              Py_DECREF(list);
              return nullptr;
            }
          }
          if (st.items.empty()) {
            Py_DECREF(list);
            return invalid(caller);
          }
          made = nonlin_instantiate_nary(op, list);
          Py_DECREF(list);
          if (!made) return nullptr;
          Py_DECREF(st.pop());   // the marker
        } else if (arity == 1) {
          if (st.items.size() < 2 || st.items.back() == Py_None || st.items[st.items.size() - 2] != Py_None)
            return invalid(caller);
          PyObject *arg = st.pop();
          made = nonlin_instantiate_unary(op, arg);
          Py_DECREF(arg);
          if (!made) return nullptr;
          Py_DECREF(st.pop());
        } else {
          PyErr_Format(kpy_InterfaceError, "Unexpected function arity in %s: %d", caller, arity);
          return nullptr;
        }
        break;
      }
      case TOK_RB:
        made = Py_NewRef(Py_None);
        break;
      case TOK_OP: {
        int code = (int)value;
        if (code < 1 || code > 6) {
          PyErr_Format(kpy_InterfaceError, "Unsupported operator in %s: %d", caller, code);
          return nullptr;
        }
        if (code == OP_UMINUS) {
          if (st.items.empty() || st.items.back() == Py_None) return invalid(caller);
          PyObject *arg = st.pop();
          made = nonlin_instantiate_unary(NLOP_UMINUS, arg);
          Py_DECREF(arg);
        } else {
          size_t n = st.items.size();
          if (n < 2 || st.items[n - 1] == Py_None || st.items[n - 2] == Py_None) return invalid(caller);
          PyObject *right = st.pop();
          PyObject *left = st.pop();
          made = nonlin_instantiate_binary(kOperatorOp[code], left, right);
          Py_DECREF(left);
          Py_DECREF(right);
        }
        if (!made) return nullptr;
        break;
      }
      default:
        PyErr_Format(kpy_InterfaceError, "Unexpected nonlinear token in %s: %d", caller, types[k]);
        return nullptr;
    }
    if (!made) return nullptr;
    try {
      st.items.push_back(made);
    } catch (...) {
      Py_DECREF(made);
      PyErr_NoMemory();
      return nullptr;
    }
  }
  if (st.items.size() != 1 || st.items.back() == Py_None) return invalid(caller);
  return st.pop();
}

// ---------------------------------------------------------------------------------------
// constraint.getBody

namespace {

PyObject *varAt(problem_s *p, int col) {
  if (col < 0 || col >= PyList_GET_SIZE(p->vars)) {
    PyErr_Format(kpy_InterfaceError, "Column %d of the solver has no variable in the problem", col);
    return nullptr;
  }
  return problem_objectAt(p, p->vars, col);
}

// The linear and quadratic part of a row as an expression.
PyObject *rowPolynomial(problem_s *p, int row) {
  int64_t nlin = 0, nq = 0;
  if (kpy_modelCall(KRVXgetrowcoefs, p, row, &nlin, (int *)nullptr, (double *)nullptr, (int64_t)0) < 0 ||
      kpy_modelCall(KRVXgetqrowcoefs, p, row, &nq, (int *)nullptr, (int *)nullptr, (double *)nullptr, (int64_t)0) < 0)
    return nullptr;
  std::vector<int> lc((size_t)nlin), q1((size_t)nq), q2((size_t)nq);
  std::vector<double> lv((size_t)nlin), qv((size_t)nq);
  if ((nlin && kpy_modelCall(KRVXgetrowcoefs, p, row, &nlin, lc.data(), lv.data(), nlin) < 0) ||
      (nq && kpy_modelCall(KRVXgetqrowcoefs, p, row, &nq, q1.data(), q2.data(), qv.data(), nq) < 0))
    return nullptr;
  PyObject *e = expression_base();
  if (!e) return nullptr;
  auto *ex = (expression_s *)e;
  for (size_t k = 0; k < lc.size(); ++k) {
    PyObject *v = varAt(p, lc[k]);
    if (!v || expression_addToLinTerm(ex, (var_s *)v, lv[k]) < 0) {
      Py_DECREF(e);
      return nullptr;
    }
  }
  for (size_t k = 0; k < q1.size(); ++k) {
    PyObject *u = varAt(p, q1[k]), *v = u ? varAt(p, q2[k]) : nullptr;
    double c = q1[k] == q2[k] ? qv[k] : 2 * qv[k];   // an off-diagonal entry stands for both places
    if (!v || expression_addToQuadTerm(ex, (var_s *)u, (var_s *)v, c) < 0) {
      Py_DECREF(e);
      return nullptr;
    }
  }
  return e;
}

// body + factor · x[col] · g  (col < 0: no column; body null: the term alone)
PyObject *addFormulaTerm(problem_s *p, PyObject *body, PyObject *g, int col, double factor) {
  PyObject *term = Py_NewRef(g);
  if (col >= 0) {
    PyObject *v = varAt(p, col);
    PyObject *t = v ? general_mul(v, term) : nullptr;
    Py_DECREF(term);
    if (!t) return nullptr;
    term = t;
  }
  if (factor != 1.0) {
    PyObject *f = PyFloat_FromDouble(factor);
    PyObject *t = f ? general_mul(f, term) : nullptr;
    Py_XDECREF(f);
    Py_DECREF(term);
    if (!t) return nullptr;
    term = t;
  }
  if (!body) return term;   // the first part of a body without a polynomial
  PyObject *sum = general_add(body, term);
  Py_DECREF(term);
  return sum;
}

}  // namespace

PyObject *constraint_getBody(PyObject *self, PyObject *) {
  auto *c = (constraint_s *)self;
  uint32_t state = c->state & KPY_CON_STATE_MASK;
  if (kpy_isDeleted(c->owner)) {
    PyErr_SetString(kpy_ModelError, "Constraint has been deleted from the problem");
    return nullptr;
  }
  if (state == KPY_CON_UNLINKED) return c->body ? Py_NewRef(c->body) : PyFloat_FromDouble(0.0);
  if (state == KPY_CON_EMPTY) {
    PyErr_SetString(kpy_ModelError, "Constraint is not initialized");
    return nullptr;
  }
  problem_s *p = kpy_constraintProblem(c);
  if (!p) return nullptr;
  int row;
  if (checkProblemIsInitialized(p) < 0 || conToRowIndex(p, self, &row) < 0) return nullptr;
  PyObject *body = rowPolynomial(p, row);
  if (!body || !p->nlprob) return body;
  tagKRVNproblem *nl = p->nlprob;
  int nf = 0;
  int64_t nt = 0;
  if (kpy_modelCall([&](ko_prob_struct *) {
        return KRVNgetcoefs(nl, row, &nf, &nt, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0);
      }, p) < 0) {
    Py_DECREF(body);
    return nullptr;
  }
  if (nf == 0) return body;
  auto *poly = (expression_s *)body;
  if ((!poly->linear || poly->linear->empty()) && (!poly->quad || poly->quad->empty())) Py_CLEAR(body);
  std::vector<int> rows((size_t)nf), fcols((size_t)nf), starts((size_t)nf + 1), types((size_t)nt);
  std::vector<double> factors((size_t)nf), values((size_t)nt);
  if (kpy_modelCall([&](ko_prob_struct *) {
        return KRVNgetcoefs(nl, row, &nf, &nt, rows.data(), fcols.data(), factors.data(), starts.data(), (int)rows.size(),
                            types.data(), values.data(), (int64_t)types.size());
      }, p) < 0) {
    Py_DECREF(body);
    return nullptr;
  }
  for (size_t k = 0; k < rows.size(); ++k) {
    size_t from = (size_t)starts[k], to = (size_t)starts[k + 1];
    if (from > to || to > types.size()) {
      Py_XDECREF(body);
      return invalid("constraint.getBody");
    }
    std::vector<int> t(types.begin() + (long)from, types.begin() + (long)to);
    std::vector<double> v(values.begin() + (long)from, values.begin() + (long)to);
    PyObject *g = nonlin_from_formula(p, t, v, "constraint.getBody");
    PyObject *sum = g ? addFormulaTerm(p, body, g, fcols[k] >= 0 ? fcols[k] : -1, factors[k]) : nullptr;
    Py_XDECREF(g);
    Py_XDECREF(body);
    if (!sum) return nullptr;
    body = sum;
  }
  return body;
}
