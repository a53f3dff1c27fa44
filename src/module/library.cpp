// Counted start and stop of the solver library, its message output, and the module functions
// that manage them.
#include "module/library.h"
#include "module/controls.h"
#include "module/services.h"

#include <cstring>
#include <string>

namespace {

// Prints one solver message to sys.stdout (looked up now, so that capturing works).
void printMessage(const char *msg, int len, int msgtype) {
  PyObject *out = PySys_GetObject("stdout");   // borrowed
  if (!out || out == Py_None) return;
  Py_INCREF(out);
  PyObject *r;
  if (msgtype < 0) {
    r = PyObject_CallMethod(out, "flush", nullptr);
  } else {
    if (!msg) len = 0;
    else if (len < 0) len = (int)std::strlen(msg);
    std::string line(msg ? msg : "", (size_t)len);
    line.push_back('\n');
    PyObject *full = kpy_solverText(line.data(), (Py_ssize_t)line.size());
    r = full ? PyObject_CallMethod(out, "write", "O", full) : nullptr;
    Py_XDECREF(full);
  }
  if (!r) PyErr_FormatUnraisable("Exception ignored while printing a solver message");
  Py_XDECREF(r);
  Py_DECREF(out);
}

// The library's global message handler; may run on any thread. A problem's outputlog control
// is honoured by the library itself, which then sends no messages of that problem.
void messageHandler(KRVXprob, void *, const char *msg, int len, int msgtype) {
  if (Py_IsFinalizing() || !Py_IsInitialized()) return;
  PyGILState_STATE g = PyGILState_Ensure();
  SolverCallbackScope scope;
  PyObject *pending = PyErr_GetRaisedException();
  if (kpy_env.output_enabled) printMessage(msg, len, msgtype);
  PyErr_SetRaisedException(pending);
  PyGILState_Release(g);
}

// Tells the library where the global engine's library is: pyscipopt.libs beside the pyscipopt
// package, found without importing it (nothing when it is not installed).
void passScipFolder() {
  PyObject *pending = PyErr_GetRaisedException();
  PyObject *util = PyImport_ImportModule("importlib.util");
  PyObject *spec = util ? PyObject_CallMethod(util, "find_spec", "s", "pyscipopt") : nullptr;
  PyObject *locations = spec && spec != Py_None ? PyObject_GetAttrString(spec, "submodule_search_locations") : nullptr;
  PyObject *first = locations && PySequence_Check(locations) && PySequence_Size(locations) > 0
                        ? PySequence_GetItem(locations, 0) : nullptr;
  const char *folder = first ? PyUnicode_AsUTF8(first) : nullptr;
  if (folder) KRVXsetscipfolder((std::string(folder) + ".libs").c_str());
  Py_XDECREF(first);
  Py_XDECREF(locations);
  Py_XDECREF(spec);
  Py_XDECREF(util);
  PyErr_Clear();
  PyErr_SetRaisedException(pending);
}

}  // namespace

int kpy_startLibrary() {
  if (kpy_env.lib_starts > 0) {
    ++kpy_env.lib_starts;
    return 0;
  }
  // start and stop keep the interpreter lock, so that two threads cannot race through them
  if (KRVXinit(nullptr) != 0) {
    setKrvxErrIfNull(nullptr, nullptr);
    return -1;
  }
  if (KRVXaddmessagehandler(nullptr, messageHandler, nullptr) != 0) {
    setKrvxErrIfNull(nullptr, nullptr);
    KRVXfree();
    return -1;
  }
  if (PyDict_GET_SIZE(kpy_env.ctrl_info) == 0 && kpy_readParamTables() < 0) {
    KRVXremovemessagehandler(nullptr, messageHandler, nullptr);
    KRVXfree();
    return -1;
  }
  passScipFolder();
  kpy_env.nonlin_available = 0;
  kpy_env.lib_starts = 1;
  return 0;
}

void kpy_stopLibrary() {
  if (kpy_env.lib_starts <= 0 || --kpy_env.lib_starts > 0) return;
  for (problem_s *p = kpy_env.problems; p; p = p->next) problem_releaseSolver(p);
  KRVXremovemessagehandler(nullptr, messageHandler, nullptr);
  KRVXfree();
}

int kpy_ensureLibrary() { return kpy_env.lib_starts > 0 ? 0 : kpy_startLibrary(); }

void kpy_stopLibraryAll() {
  while (kpy_env.lib_starts > 0) kpy_stopLibrary();
}

// ---------------------------------------------------------------- module functions

static PyObject *korvexmod_init(PyObject *, PyObject *) {
  if (kpy_startLibrary() < 0) return nullptr;
  Py_RETURN_NONE;
}

static PyObject *korvexmod_free(PyObject *, PyObject *) {
  kpy_stopLibrary();
  Py_RETURN_NONE;
}

static PyObject *korvexmod_setOutputEnabled(PyObject *, PyObject *arg) {
  int on = PyObject_IsTrue(arg);
  if (on < 0) return nullptr;
  kpy_env.output_enabled = (unsigned char)on;
  Py_RETURN_NONE;
}

static PyObject *korvexmod_setCheckedMode(PyObject *, PyObject *arg) {
  int on = PyObject_IsTrue(arg);
  if (on < 0) return nullptr;
  kpy_env.checked_mode = (unsigned char)on;
  Py_RETURN_NONE;
}

static PyObject *korvexmod_getCheckedMode(PyObject *, PyObject *) { return PyBool_FromLong(kpy_env.checked_mode); }

static PyObject *korvexmod_getVersion(PyObject *, PyObject *) {
  char buf[64] = {0};
  if (KRVXgetversion(buf) != 0) {
    setKrvxErrIfNull(nullptr, nullptr);
    return nullptr;
  }
  buf[sizeof buf - 1] = '\0';
  return kpy_solverText(buf);
}

PyMethodDef kpy_module_methods[] = {
    {"_init", korvexmod_init, METH_NOARGS, "Starts the solver library (counted; problem creation starts it too)."},
    {"free", korvexmod_free, METH_NOARGS,
     "Undoes one start of the solver library; the last one releases the solver data of every problem."},
    {"setOutputEnabled", korvexmod_setOutputEnabled, METH_O,
     "setOutputEnabled(on): switches the printing of solver messages on or off for every problem\n"
     "(p.controls.outputlog = 0 silences one problem). Messages are written to sys.stdout, looked up\n"
     "for each one: contextlib.redirect_stdout(f) sends them to a file, or to any object with write()\n"
     "and flush(), e.g. one that hands each line to logging.getLogger(...).info."},
    {"setCheckedMode", korvexmod_setCheckedMode, METH_O, "Switches checked mode on or off."},
    {"getCheckedMode", korvexmod_getCheckedMode, METH_NOARGS, "Whether checked mode is on."},
    {"getVersion", korvexmod_getVersion, METH_NOARGS, "The version of the solver library."},
    {nullptr, nullptr, 0, nullptr},
};
