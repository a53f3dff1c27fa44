// The part of SCIP's C API (version 10) that the global engine uses, declared as function-pointer
// types for a library loaded at run time (scip_load.cpp). Written from SCIP's documentation:
// every function returns SCIP_OKAY (1) on success unless noted; SCIP objects are opaque.
#pragma once

#include <cstdio>

namespace krvx {
namespace scip {

struct Scip;          // SCIP
struct Var;           // SCIP_VAR
struct Cons;          // SCIP_CONS
struct Expr;          // SCIP_EXPR
struct Sol;           // SCIP_SOL
struct MessageHdlr;   // SCIP_MESSAGEHDLR

using Bool = unsigned int;    // SCIP_Bool
using Longint = long long;    // SCIP_Longint

// SCIP_RETCODE
constexpr int kOkay = 1;
// SCIP_VARTYPE
constexpr int kVarBinary = 0, kVarInteger = 1, kVarContinuous = 3;
// SCIP_OBJSENSE
constexpr int kMaximize = -1, kMinimize = 1;
// SCIP_PARAMSETTING
constexpr int kParamOff = 3;
// SCIP_STATUS
constexpr int kStatusUnknown = 0, kStatusOptimal = 1, kStatusInfeasible = 2, kStatusUnbounded = 3,
              kStatusInfOrUnbd = 4, kStatusUserInterrupt = 10, kStatusTerminate = 11, kStatusNodeLimit = 20,
              kStatusTotalNodeLimit = 21, kStatusStallNodeLimit = 22, kStatusTimeLimit = 23,
              kStatusMemLimit = 24, kStatusGapLimit = 25, kStatusSolLimit = 28;

// message output: void f(SCIP_MESSAGEHDLR*, FILE*, const char*); errors: void f(void*, FILE*, const char*)
using MessageFn = void (*)(MessageHdlr *, std::FILE *, const char *);
using ErrorFn = void (*)(void *, std::FILE *, const char *);
// expressions take an owner-data constructor, always null here
using OwnerCreate = void *;

// X(name, return type, parameter list)
#define KRVX_SCIP_FUNCTIONS(X)                                                                                    \
  X(SCIPversion, double, ())                                                                                      \
  X(SCIPcreate, int, (Scip **))                                                                                   \
  X(SCIPfree, int, (Scip **))                                                                                     \
  X(SCIPincludeDefaultPlugins, int, (Scip *))                                                                     \
  X(SCIPcreateProbBasic, int, (Scip *, const char *))                                                             \
  X(SCIPsetObjsense, int, (Scip *, int))                                                                          \
  X(SCIPaddOrigObjoffset, int, (Scip *, double))                                                                  \
  X(SCIPcreateVarBasic, int, (Scip *, Var **, const char *, double, double, double, int))                         \
  X(SCIPaddVar, int, (Scip *, Var *))                                                                             \
  X(SCIPreleaseVar, int, (Scip *, Var **))                                                                        \
  X(SCIPcreateConsBasicLinear, int, (Scip *, Cons **, const char *, int, Var **, double *, double, double))       \
  X(SCIPcreateConsBasicQuadraticNonlinear, int,                                                                   \
    (Scip *, Cons **, const char *, int, Var **, double *, int, Var **, Var **, double *, double, double))         \
  X(SCIPcreateConsBasicNonlinear, int, (Scip *, Cons **, const char *, Expr *, double, double))                   \
  X(SCIPcreateConsBasicSOS1, int, (Scip *, Cons **, const char *, int, Var **, double *))                         \
  X(SCIPcreateConsBasicSOS2, int, (Scip *, Cons **, const char *, int, Var **, double *))                         \
  X(SCIPaddCons, int, (Scip *, Cons *))                                                                           \
  X(SCIPreleaseCons, int, (Scip *, Cons **))                                                                      \
  X(SCIPcreateExprVar, int, (Scip *, Expr **, Var *, OwnerCreate, void *))                                        \
  X(SCIPcreateExprValue, int, (Scip *, Expr **, double, OwnerCreate, void *))                                     \
  X(SCIPcreateExprSum, int, (Scip *, Expr **, int, Expr **, double *, double, OwnerCreate, void *))              \
  X(SCIPcreateExprProduct, int, (Scip *, Expr **, int, Expr **, double, OwnerCreate, void *))                    \
  X(SCIPcreateExprPow, int, (Scip *, Expr **, Expr *, double, OwnerCreate, void *))                               \
  X(SCIPcreateExprExp, int, (Scip *, Expr **, Expr *, OwnerCreate, void *))                                       \
  X(SCIPcreateExprLog, int, (Scip *, Expr **, Expr *, OwnerCreate, void *))                                       \
  X(SCIPcreateExprAbs, int, (Scip *, Expr **, Expr *, OwnerCreate, void *))                                       \
  X(SCIPcreateExprSin, int, (Scip *, Expr **, Expr *, OwnerCreate, void *))                                       \
  X(SCIPcreateExprCos, int, (Scip *, Expr **, Expr *, OwnerCreate, void *))                                       \
  X(SCIPreleaseExpr, int, (Scip *, Expr **))                                                                      \
  X(SCIPsetRealParam, int, (Scip *, const char *, double))                                                        \
  X(SCIPsetIntParam, int, (Scip *, const char *, int))                                                            \
  X(SCIPsetLongintParam, int, (Scip *, const char *, Longint))                                                    \
  X(SCIPsetBoolParam, int, (Scip *, const char *, Bool))                                                          \
  X(SCIPsetCharParam, int, (Scip *, const char *, char))                                                          \
  X(SCIPsetPresolving, int, (Scip *, int, Bool))                                                                  \
  X(SCIPmessagehdlrCreate, int,                                                                                   \
    (MessageHdlr **, Bool, const char *, Bool, MessageFn, MessageFn, MessageFn, void *, void *))                  \
  X(SCIPsetMessagehdlr, int, (Scip *, MessageHdlr *))                                                             \
  X(SCIPmessagehdlrRelease, int, (MessageHdlr **))                                                                \
  X(SCIPmessageSetErrorPrinting, void, (ErrorFn, void *))                                                         \
  X(SCIPsolve, int, (Scip *))                                                                                     \
  X(SCIPinterruptSolve, int, (Scip *))                                                                            \
  X(SCIPgetStatus, int, (Scip *))                                                                                 \
  X(SCIPgetBestSol, Sol *, (Scip *))                                                                              \
  X(SCIPgetSolVal, double, (Scip *, Sol *, Var *))                                                                \
  X(SCIPgetDualbound, double, (Scip *))                                                                           \
  X(SCIPgetNTotalNodes, Longint, (Scip *))                                                                        \
  X(SCIPgetNLPIterations, Longint, (Scip *))

// The loaded functions (pointers named as SCIP's functions).
struct Api {
#define KRVX_SCIP_POINTER(name, ret, args) ret(*name) args = nullptr;
  KRVX_SCIP_FUNCTIONS(KRVX_SCIP_POINTER)
#undef KRVX_SCIP_POINTER
};

}  // namespace scip
}  // namespace krvx
