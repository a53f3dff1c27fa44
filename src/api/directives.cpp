// Branching directives: loading them as arrays, reading and writing directives files, and
// reading them back.
#include "api/methods.h"

namespace {

using LoadDirsFn = int (*)(KRVXprob, int, const int *, int64_t, const int *, int64_t, const char *, int64_t,
                           const double *, int64_t, const double *, int64_t);

// loadDirs and loadPresolveDirs: every array converted before the lengths are compared.
PyObject *loadDirectives(PyObject *self, PyObject *args, PyObject *kwargs, LoadDirsFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "priority", "dir", "uppseudo", "downpseudo", nullptr};
    PyObject *ocol = nullptr, *opri = nullptr, *odir = nullptr, *oup = nullptr, *odown = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO", (char **)kwlist, &ocol, &opri, &odir, &oup, &odown))
      return nullptr;
    std::vector<int> colind, priority;
    std::vector<char> dir;
    std::vector<double> up, down;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_optional<int>(prob, "priority", opri, &priority) < 0 || kpy_optional<char>(prob, "dir", odir, &dir) < 0 ||
        kpy_optional<double>(prob, "uppseudo", oup, &up) < 0 ||
        kpy_optional<double>(prob, "downpseudo", odown, &down) < 0)
      return nullptr;
    const long long sizes[] = {(long long)colind.size(), kpy_lenOf(opri, priority), kpy_lenOf(odir, dir),
                               kpy_lenOf(oup, up), kpy_lenOf(odown, down)};
    long long count;
    int n;
    if (kpy_groupCount("Arguments 'colind', 'priority', 'dir', 'uppseudo' and 'downpseudo' must have the same length",
                       sizes, 5, &count) < 0 ||
        kpy_count32("colind", colind.size(), &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(fn, prob, n, KPY_ARR(colind), KPY_ARR(priority), KPY_ARR(dir), KPY_ARR(up),
                                 KPY_ARR(down));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_loadDirs(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadDirectives(self, args, kwargs, KRVXloaddirs_witharraysizes);
}

PyObject *kpy_problem_loadPresolveDirs(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadDirectives(self, args, kwargs, KRVXloadpresolvedirs_witharraysizes);
}

PyObject *kpy_problem_loadBranchDirs(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "dir", nullptr};
    PyObject *ocol = nullptr, *odir = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O", (char **)kwlist, &ocol, &odir)) return nullptr;
    std::vector<int> colind, dir;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_optional<int>(prob, "dir", odir, &dir) < 0)
      return nullptr;
    const long long sizes[] = {(long long)colind.size(), kpy_lenOf(odir, dir)};
    long long count;
    int n;
    if (kpy_groupCount("Arguments 'colind' and 'dir' must have the same length", sizes, 2, &count) < 0 ||
        kpy_count32("colind", colind.size(), &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXloadbranchdirs_witharraysizes, prob, n, KPY_ARR(colind), KPY_ARR(dir));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_readDirs(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "filename", false, false, KRVXreaddirs);
}

PyObject *kpy_problem_writeDirs(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "filename", false, false, KRVXwritedirs);
}

PyObject *kpy_problem_getDirs(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int n = 0;
    int rc = kpy_callSolverNoGIL(KRVXgetdirs_witharraysizes, prob, &n, (int *)nullptr, (int64_t)0, (int *)nullptr,
                                 (int64_t)0, (char *)nullptr, (int64_t)0, (double *)nullptr, (int64_t)0,
                                 (double *)nullptr, (int64_t)0);
    if (kpy_failed(prob, rc)) return nullptr;
    const size_t size = (size_t)std::max(n, 0);
    std::vector<int> colind(size), priority(size);
    std::vector<char> dir(size);
    std::vector<double> up(size), down(size);
    rc = kpy_callSolverNoGIL(KRVXgetdirs_witharraysizes, prob, &n, KPY_ARR(colind), KPY_ARR(priority), KPY_ARR(dir),
                             KPY_ARR(up), KPY_ARR(down));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(colind), kpy_listOf(priority), kpy_listOf(dir), kpy_listOf(up), kpy_listOf(down)});
  });
}

// ---- help texts ----

#define DIRS_RELATED "problem.loadDirs, problem.loadPresolveDirs, problem.loadBranchDirs, problem.readDirs, " \
  "problem.writeDirs, problem.getDirs"

#define DIRS_ARGUMENTS                                                                                      \
  "    colind      Entities the directives are for: variables, their names or column indices; -1 is\n"     \
  "                the first set.\n"                                                                         \
  "    priority    Branching priority of each entity, 0 to 1000; smaller values are branched on first\n"   \
  "                (default 500).\n"                                                                         \
  "    dir         Branch to take first: 'U' up, 'D' down, 'N' the solver's choice (default).\n"           \
  "    uppseudo    Up pseudo cost of each entity (default 0: the solver's own estimate).\n"                \
  "    downpseudo  Down pseudo cost of each entity (default 0: the solver's own estimate)."

const char kpy_doc_loadDirs[] = KPY_DOC(
    "loadDirs($self, /, colind, priority=None, dir=None, uppseudo=None, downpseudo=None)",
    "Loads branching directives for the problem's MIP entities, replacing the ones loaded before.",
    "Branching directives",
    "problem.loadDirs(colind, priority=None, dir=None, uppseudo=None, downpseudo=None)",
    DIRS_ARGUMENTS,
    "Every given array must have the length of colind; an absent one gives every entity its default. "
    "Directives address discrete columns and sets; they are kept with the problem, saved with it, and "
    "follow deletions of columns and sets.",
    DIRS_RELATED);

const char kpy_doc_loadPresolveDirs[] = KPY_DOC(
    "loadPresolveDirs($self, /, colind, priority=None, dir=None, uppseudo=None, downpseudo=None)",
    "Loads branching directives for the MIP entities of the presolved problem.",
    "Branching directives",
    "problem.loadPresolveDirs(colind, priority=None, dir=None, uppseudo=None, downpseudo=None)",
    DIRS_ARGUMENTS,
    "On a presolved problem colind holds column indices only. A problem that is not presolved is its "
    "own presolved form, and the call then acts as problem.loadDirs.",
    DIRS_RELATED);

const char kpy_doc_loadBranchDirs[] = KPY_DOC(
    "loadBranchDirs($self, /, colind, dir=None)",
    "Marks MIP entities to be branched on until fixed before an integer solution is accepted.",
    "Branching directives",
    "problem.loadBranchDirs(colind, dir=None)",
    "    colind  Entities to mark: variables, their names or column indices; -1 is the first set.\n"
    "    dir     1 marks the entity, 0 removes its mark; absent marks every listed entity.",
    "Marks of entities that are not listed stay as they are.",
    DIRS_RELATED);

const char kpy_doc_readDirs[] = KPY_DOC(
    "readDirs($self, /, filename=None)",
    "Reads branching directives from a directives file, replacing the loaded ones.",
    "Branching directives",
    "problem.readDirs(filename=None)",
    "    filename  The file; absent or None reads the problem's name with the extension .dir.",
    "The file holds one directive a line: 'DIR C|S <name or #index> [priority [U|D|N [uppseudo "
    "[downpseudo]]]]', and 'BRANCH C|S <name or #index>' for a branch-until-fixed mark; lines "
    "starting with '*' are comments. A file with an error changes nothing.",
    DIRS_RELATED);

const char kpy_doc_writeDirs[] = KPY_DOC(
    "writeDirs($self, /, filename=None)",
    "Writes the loaded branching directives to a directives file.",
    "Branching directives",
    "problem.writeDirs(filename=None)",
    "    filename  The file; absent or None writes the problem's name with the extension .dir.",
    "The file is in the format problem.readDirs reads and gives back exactly the same directives.",
    DIRS_RELATED);

const char kpy_doc_getDirs[] = KPY_DOC(
    "getDirs($self, /)",
    "Returns the loaded branching directives.",
    "Branching directives",
    "indices, prios, branchdirs, uppseudo, downpseudo = problem.getDirs()",
    "    none",
    "Five lists in load order: column indices (negative numbers for sets, -1 the first), priorities, "
    "directions ('U', 'D' or 'N'), up and down pseudo costs.",
    DIRS_RELATED);
