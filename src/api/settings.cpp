// Settings, names and information methods; save and restore.
#include "api/methods.h"

#include <cstring>

namespace {

using InfoFn = int (*)(KRVXprob, const char *, int *, int *);

// getControlInfo and getAttribInfo: (id, ParameterType member) of a name.
PyObject *infoMethod(PyObject *self, PyObject *args, PyObject *kwargs, InfoFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"name", nullptr};
    PyObject *oname = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &oname)) return nullptr;
    std::string name;
    if (kpy_argString(prob, "name", oname, &name, true) < 0) return nullptr;
    int id = 0, type = 0;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, name.c_str(), &id, &type))) return nullptr;
    nb::object a = nb::steal(PyLong_FromLong(id));
    if (!a) return nullptr;
    nb::object b = nb::steal(kpy_getEnumValue("ParameterType", PyLong_FromLong(type)));
    if (!b) return nullptr;
    return PyTuple_Pack(2, a.ptr(), b.ptr());
  });
}

}  // namespace

PyObject *kpy_problem_setProbName(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "probname", true, false, KRVXsetprobname);
}

PyObject *kpy_problem_setLogFile(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "filename", true, false, KRVXsetlogfile);
}

PyObject *kpy_problem_saveAs(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "filename", false, false, KRVXsaveas);
}

PyObject *kpy_problem_setDefaults(PyObject *self, PyObject *) { return kpy_noArgMethod(self, KRVXsetdefaults); }

PyObject *kpy_problem_dumpControls(PyObject *self, PyObject *) { return kpy_noArgMethod(self, KRVXdumpcontrols); }

PyObject *kpy_problem_getControlInfo(PyObject *self, PyObject *args, PyObject *kwargs) {
  return infoMethod(self, args, kwargs, KRVXgetcontrolinfo);
}

PyObject *kpy_problem_getAttribInfo(PyObject *self, PyObject *args, PyObject *kwargs) {
  return infoMethod(self, args, kwargs, KRVXgetattribinfo);
}

PyObject *kpy_problem_setDefaultControl(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"control", nullptr};
    PyObject *ocontrol = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &ocontrol)) return nullptr;
    int id = 0;
    if (PyUnicode_Check(ocontrol)) {
      Py_ssize_t len;
      const char *s = PyUnicode_AsUTF8AndSize(ocontrol, &len);
      if (!s) return nullptr;
      if (std::memchr(s, 0, (size_t)len)) {
        PyErr_SetString(kpy_InterfaceError, "Error in argument 'control': Value contains a NUL character");
        return nullptr;
      }
      std::string name(s, (size_t)len);
      id = -1;
      int rc = kpy_callSolverNoGIL(KRVXgetcontrolinfo, prob, name.c_str(), &id, (int *)nullptr);
      if (kpy_failed(prob, rc)) return nullptr;
      if (id == -1) {
        PyErr_Format(kpy_InterfaceError, "Unknown control: %s", name.c_str());
        return nullptr;
      }
    } else if (kpy_argInt(prob, "control", ocontrol, &id, true) < 0) {
      return nullptr;
    }
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXsetdefaultcontrol, prob, id))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_setMessageStatus(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"msgcode", "status", nullptr};
    PyObject *ocode = nullptr, *ostatus = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &ocode, &ostatus)) return nullptr;
    int code = 0, status = 0;
    if (kpy_argInt(prob, "msgcode", ocode, &code, true) < 0 ||
        kpy_argInt(prob, "status", ostatus, &status, true) < 0)
      return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXsetmessagestatus, prob, code, status))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getMessageStatus(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"msgcode", nullptr};
    PyObject *ocode = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &ocode)) return nullptr;
    int code = 0, status = 0;
    if (kpy_argInt(prob, "msgcode", ocode, &code, true) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetmessagestatus, prob, code, &status))) return nullptr;
    return PyLong_FromLong(status);
  });
}

PyObject *kpy_problem_getProbName(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    char buf[1026] = {0};
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetprobname, prob, buf))) return nullptr;
    return kpy_solverText(buf, (Py_ssize_t)strnlen(buf, sizeof buf));
  });
}

PyObject *kpy_problem_getIndex(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"type", "name", nullptr};
    PyObject *otype = nullptr, *oname = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O", (char **)kwlist, &otype, &oname)) return nullptr;
    if (Py_IS_TYPE(otype, &kpy_varType) || Py_IS_TYPE(otype, &kpy_constraintType) ||
        Py_IS_TYPE(otype, &kpy_sosType)) {
      if (oname) {
        PyErr_Format(kpy_InterfaceError, "Unexpected argument: %S", oname);
        return nullptr;
      }
      return problem_getIndex(prob, otype);
    }
    if (!oname || oname == Py_None) {
      PyErr_SetString(kpy_InterfaceError, "Missing argument 'name'");
      return nullptr;
    }
    int type = 0;
    std::string name;
    if (kpy_argInt(prob, "type", otype, &type, true) < 0 || kpy_argString(prob, "name", oname, &name, true) < 0)
      return nullptr;
    int index = -1;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetindex, prob, type, name.c_str(), &index))) return nullptr;
    return PyLong_FromLong(index);
  });
}

PyObject *kpy_problem_addNames(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"type", "names", "first", "last", nullptr};
    PyObject *otype, *onames, *ofirst, *olast;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO", (char **)kwlist, &otype, &onames, &ofirst, &olast))
      return nullptr;
    int type = 0, first = 0, last = 0;
    if (kpy_argInt(prob, "type", otype, &type, true) < 0) return nullptr;
    std::vector<char> names;
    int64_t count = 0;
    try {
      kpy_StringList_to_vector(&names, onames, &count);
    } catch (nb::python_error &e) {
      e.restore();
      kpy_argError("names");
      return nullptr;
    }
    if (count >= 2147483648LL) {
      PyErr_SetString(kpy_InterfaceError, "Error in argument 'names': Too many strings provided");
      return nullptr;
    }
    if (kpy_argInt(prob, "first", ofirst, &first, true) < 0 || kpy_argInt(prob, "last", olast, &last, true) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXaddnames_witharraysizes, prob, type, names.empty() ? nullptr : names.data(),
                                 (int64_t)names.size(), count, first, last);
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_restore(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"probname", "flags", nullptr};
    PyObject *oname = nullptr, *oflags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO", (char **)kwlist, &oname, &oflags)) return nullptr;
    std::string name, flags;
    if (kpy_argString(prob, "probname", oname, &name) < 0 || kpy_argString(prob, "flags", oflags, &flags) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXrestore, prob, name.c_str(), flags.c_str());
    if (kpy_failedWithFollowUp(prob, rc, [&] { problem_afterRestore(prob); })) return nullptr;
    Py_RETURN_NONE;
  });
}

// ---- help texts ----

const char kpy_doc_setProbName[] = KPY_DOC(
    "setProbName($self, /, probname)",
    "Sets the name of the problem.",
    "Problem names",
    "problem.setProbName(probname)",
    "    probname  The new name (a str of at most 1024 bytes in UTF-8).",
    "The name is used as the default file name by saveAs and restore.",
    "problem.getProbName");

const char kpy_doc_setLogFile[] = KPY_DOC(
    "setLogFile($self, /, filename)",
    "Writes the solver's messages for this problem also to a log file.",
    "Output",
    "problem.setLogFile(filename)",
    "    filename  Name of the log file.",
    "Messages still go to the standard output as well.",
    "problem.setMessageStatus");

const char kpy_doc_setDefaultControl[] = KPY_DOC(
    "setDefaultControl($self, /, control)",
    "Sets one control of the problem back to its default value.",
    "Controls",
    "problem.setDefaultControl(control)",
    "    control  The control's id (an int) or its name (a str).",
    "The module-wide control values set with korvex.setControl are not changed.",
    "problem.setDefaults, problem.getControlInfo, problem.dumpControls");

const char kpy_doc_setDefaults[] = KPY_DOC(
    "setDefaults($self, /)",
    "Sets every control of the problem back to its default value.",
    "Controls",
    "problem.setDefaults()",
    "    none",
    "The module-wide control values are not changed.",
    "problem.setDefaultControl, problem.dumpControls");

const char kpy_doc_dumpControls[] = KPY_DOC(
    "dumpControls($self, /)",
    "Prints the controls of the problem that differ from their defaults.",
    "Controls",
    "problem.dumpControls()",
    "    none",
    "The text goes through the solver's message output.",
    "problem.setDefaults, problem.getControlInfo");

const char kpy_doc_setMessageStatus[] = KPY_DOC(
    "setMessageStatus($self, /, msgcode, status)",
    "Shows or suppresses one solver message.",
    "Output",
    "problem.setMessageStatus(msgcode, status)",
    "    msgcode  The number of the message.\n"
    "    status   Non-zero shows the message, 0 suppresses it.",
    "Applies to this problem only.",
    "problem.getMessageStatus");

const char kpy_doc_getMessageStatus[] = KPY_DOC(
    "getMessageStatus($self, /, msgcode)",
    "Tells whether a solver message is shown or suppressed.",
    "Output",
    "status = problem.getMessageStatus(msgcode)",
    "    msgcode  The number of the message.",
    "Returns a non-zero int when the message is shown, 0 when it is suppressed.",
    "problem.setMessageStatus");

const char kpy_doc_getProbName[] = KPY_DOC(
    "getProbName($self, /)",
    "Returns the name of the problem.",
    "Problem names",
    "name = problem.getProbName()",
    "    none",
    "The name is a str.",
    "problem.setProbName");

const char kpy_doc_getControlInfo[] = KPY_DOC(
    "getControlInfo($self, /, name)",
    "Returns the id and the type of a control given by name.",
    "Controls",
    "id, type = problem.getControlInfo(name)",
    "    name  The control's name (case-insensitive).",
    "The type is a member of korvex.ParameterType; a name that the solver does not know gives "
    "the id -1 and the type NOTDEFINED.",
    "problem.getAttribInfo, problem.setDefaultControl");

const char kpy_doc_getAttribInfo[] = KPY_DOC(
    "getAttribInfo($self, /, name)",
    "Returns the id and the type of an attribute given by name.",
    "Attributes",
    "id, type = problem.getAttribInfo(name)",
    "    name  The attribute's name (case-insensitive).",
    "The type is a member of korvex.ParameterType; a name that the solver does not know gives "
    "the id -1 and the type NOTDEFINED.",
    "problem.getControlInfo");

const char kpy_doc_getIndex[] = KPY_DOC(
    "getIndex($self, /, type, name=None)",
    "Returns the index of a named object of the problem.",
    "Problem names",
    "index = problem.getIndex(type, name)",
    "    type  A member of korvex.Namespaces: 1 rows, 2 columns, 3 sets, 4 piecewise-linear "
    "constraints, 5 general constraints, 6 objectives, 7 user functions, 8 internal functions.\n"
    "    name  The name looked up.",
    "Returns -1 when no object has that name. Given a variable, constraint or SOS object alone, "
    "returns its index (deprecated: use its index attribute instead).",
    "problem.addNames");

const char kpy_doc_addNames[] = KPY_DOC(
    "addNames($self, /, type, names, first, last)",
    "Names a range of objects of the problem.",
    "Problem names",
    "problem.addNames(type, names, first, last)",
    "    type   A member of korvex.Namespaces: 1 rows, 2 columns, 3 sets, 4 piecewise-linear "
    "constraints, 5 general constraints, 6 objectives.\n"
    "    names  An iterable of str, one per object.\n"
    "    first  Index of the first object named.\n"
    "    last   Index of the last object named (inclusive).",
    "The number of names must equal last - first + 1.",
    "problem.getIndex");

#define SAVEAS_DOC(name)                                                                        \
  KPY_DOC(name "($self, /, filename=\"\")",                                                    \
          "Saves the whole state of the problem (model, controls, solution) to a file.",         \
          "Save and restore",                                                                   \
          "problem." name "(filename=\"\")",                                                    \
          "    filename  File name without extension (the solver adds \".svf\"); empty for the " \
          "problem's name.",                                                                    \
          "The file is read back with restore.",                                                \
          "problem.restore")

const char kpy_doc_saveAs[] = SAVEAS_DOC("saveAs");
const char kpy_doc_save[] = SAVEAS_DOC("save");

const char kpy_doc_restore[] = KPY_DOC(
    "restore($self, /, probname=\"\", flags=\"\")",
    "Restores the state of a problem saved with saveAs.",
    "Save and restore",
    "problem.restore(probname=\"\", flags=\"\")",
    "    probname  File name without extension; empty for the problem's name.\n"
    "    flags     h do not restore hardware information, v use the name verbatim (no \".svf\" "
    "added).",
    "The problem's variable, constraint and SOS objects are rebuilt from the restored problem; "
    "objects taken from the problem before are deleted.",
    "problem.saveAs");
