// getSolution: values of the current solution by column index, name, variable, expression,
// and containers of them.
#include "api/methods.h"
#include "expr/evaluate.h"


namespace {

// The number of columns a solution has.
int solutionColumns(problem_s *prob, int64_t *ncols) {
  if ((prob->nl_row_adds || prob->obj_is_nonlin) && kpy_env.nonlin_available == 1 && prob->nlprob) {
    int n = 0;
    if (KRVNgetintattrib(prob->nlprob, KRVN_NLPCOLS, &n) != 0) {
      setKrvxErrIfNull((PyObject *)prob, nullptr);
      return -1;
    }
    *ncols = n;
    return 0;
  }
  return kpy_getIntAttrib64(prob, KRVX_ORIGINALCOLS, ncols);
}

}  // namespace

PyObject *kpy_problem_getSolution(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
      PyErr_SetString(PyExc_TypeError, "getSolution() takes no keyword arguments");
      return nullptr;
    }
    int64_t ncols = 0;
    if (solutionColumns(prob, &ncols) < 0) return nullptr;
    std::vector<double> x;
    if (kpy_readSolutionValues(prob, ncols, x) < 0) return nullptr;
    if (PyTuple_GET_SIZE(args) == 0) return kpy_vector_to_List(x);
    var_map map;
    map.problem = prob;
    map.values = x.data();
    map.length = (Py_ssize_t)x.size();
    return scan_args_expressions(args, &map, 1);
  });
}

const char kpy_doc_getSolution[] = KPY_DOC(
    "getSolution($self, /, *args)",
    "Returns values of the current solution of the problem.",
    "Solution",
    "x = problem.getSolution(*args)",
    "    args  Nothing, for the list of all column values; or column indices, column names,\n"
    "          variables, expressions, and lists, tuples, dictionaries or NumPy object arrays of them.",
    "One argument gives its value (a container gives a container of the same shape); several "
    "give a tuple. Raises korvex.ModelError \"Solution is not available\" when the problem has "
    "no solution.",
    "problem.optimize, problem.lpOptimize, problem.mipOptimize");
