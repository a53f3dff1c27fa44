// Controls, attributes and objective-attributes objects, and the parameter tables.
#pragma once
#include "module/objects.h"

// p.controls, p.attributes, p.objattribs and the module-wide korvex.controls.
// prob is a strong reference (the problem keeps a borrowed pointer to the object and makes
// it on first use); null for korvex.controls.
struct params_s {
  PyObject_HEAD
  problem_s *prob;
  PyObject *defaults;   // korvex.controls only: dict lower-case name -> default value
};

extern PyTypeObject kpy_controlsType, kpy_attributesType, kpy_objattribsType;
// Their help texts: every control and attribute with its meaning (param_help.cpp).
const char *kpy_controlsDoc();
const char *kpy_attributesDoc();

// A new object bound to prob (a new reference to prob is kept), recorded in the problem's
// slot for the type.
PyObject *params_create(PyTypeObject *type, problem_s *prob);
// The module-wide controls object (korvex.controls), with "miptol" in its defaults.
PyObject *params_createGlobal();

// Reads the control and attribute tables of the library into kpy_env.ctrl_info and
// kpy_env.attr_info and the library's control defaults into korvex.controls; 0 or -1.
int kpy_readParamTables();
// Applies every user-set global control value to a new problem; 0 or -1.
int kpy_applyGlobalControls(problem_s *prob);

// Problem methods setControl, getControl, getAttrib.
PyObject *problem_setControl(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *problem_getControl(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *problem_getAttrib(PyObject *self, PyObject *args, PyObject *kwargs);
