// The camelCase methods of korvex.problem that src/api provides, and their help texts.
#pragma once
#include "api/convert.h"

// Help text in the fixed layout; sig is the text signature ("name($self, /, arg=default)").
#define KPY_DOC(sig, purpose, topics, synopsis, arguments, further, related)                 \
  sig "\n--\n\nPurpose:\n    " purpose "\n\nTopic areas:\n    " topics "\n\nSynopsis:\n    " \
      synopsis "\n\nArguments:\n" arguments "\n\nFurther information:\n    " further           \
      "\n\nRelated topics:\n    " related "\n"

#define KPY_DECLARE_METHOD(name)                                                     \
  PyObject *kpy_problem_##name(PyObject *self, PyObject *args, PyObject *kwargs); \
  extern const char kpy_doc_##name[];
#define KPY_DECLARE_METHOD_NOARGS(name)                           \
  PyObject *kpy_problem_##name(PyObject *self, PyObject *unused); \
  extern const char kpy_doc_##name[];

// solving and tuning
KPY_DECLARE_METHOD(lpOptimize)
KPY_DECLARE_METHOD(mipOptimize)
KPY_DECLARE_METHOD(optimize)
KPY_DECLARE_METHOD_NOARGS(crossoverLpSol)
KPY_DECLARE_METHOD(tune)
KPY_DECLARE_METHOD(tuneProbSetFile)
KPY_DECLARE_METHOD(tunerWriteMethod)
KPY_DECLARE_METHOD(tunerReadMethod)
KPY_DECLARE_METHOD(interrupt)
// settings, names and information
KPY_DECLARE_METHOD(setProbName)
KPY_DECLARE_METHOD(setLogFile)
KPY_DECLARE_METHOD(setDefaultControl)
KPY_DECLARE_METHOD_NOARGS(setDefaults)
KPY_DECLARE_METHOD_NOARGS(dumpControls)
KPY_DECLARE_METHOD(setMessageStatus)
KPY_DECLARE_METHOD(getMessageStatus)
KPY_DECLARE_METHOD_NOARGS(getProbName)
KPY_DECLARE_METHOD(getControlInfo)
KPY_DECLARE_METHOD(getAttribInfo)
KPY_DECLARE_METHOD(getIndex)
KPY_DECLARE_METHOD(addNames)
KPY_DECLARE_METHOD(saveAs)
KPY_DECLARE_METHOD(restore)
// loading and reading
KPY_DECLARE_METHOD(loadLP)
KPY_DECLARE_METHOD(loadQP)
KPY_DECLARE_METHOD(loadMIQP)
KPY_DECLARE_METHOD(loadMIP)
KPY_DECLARE_METHOD(loadQCQP)
KPY_DECLARE_METHOD(loadMIQCQP)
KPY_DECLARE_METHOD(readProb)
// solution
KPY_DECLARE_METHOD(getSolution)

extern const char kpy_doc_solve[];
extern const char kpy_doc_save[];
