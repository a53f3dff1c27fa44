// Object records of the model: problem, variable, constraint, SOS, cut-pool entry.
#pragma once
#include "module/env.h"
#include "krvx.h"

struct rowcolmap;
struct userfuncmap;

struct var_s {
  PyObject_HEAD
  problem_s *owner;        // null: unlinked; KPY_DELETED, KPY_PROBLEM_GONE: deleted; else the linked problem
  uint32_t idx_low;        // column index (linked) or low 32 bits of the serial (unlinked)
  uint16_t idx_high;       // high 16 bits of the serial (0 when linked)
  uint8_t flags;           // bound and name flags of an unlinked variable
  uint8_t vartype;         // kpy_vartype
};

// Link states of a constraint (two low bits of constraint_s::state)
enum : uint32_t {
  KPY_CON_EMPTY = 0,       // never added, holds no values
  KPY_CON_UNLINKED = 1,    // holds its own body, bounds and name
  KPY_CON_LINKED = 2,      // linked with an index
  KPY_CON_MAPPED = 3,      // added to a problem in map mode (looked up by serial)
  KPY_CON_STATE_MASK = 3u,
  KPY_CON_GATHERED = 4u,   // bit 2: gathered by a running addConstraint (a repeat is refused)
};

struct constraint_s {
  PyObject_HEAD
  problem_s *owner;        // as for var_s
  uint32_t idx_low;
  uint16_t idx_high;
  uint16_t state;          // link state in bits 0-1, the gathering mark in bit 2
  // values held by an unlinked constraint
  PyObject *body;          // expression or null
  double lb, ub;
  PyObject *name;          // str or null
};
static_assert(sizeof(constraint_s) == 64, "constraints are the bulk of large models: one allocator size class");

struct sos_s {
  PyObject_HEAD
  problem_s *owner;
  uint64_t index;          // set index (linked) or serial (unlinked)
  PyObject *name;          // unlinked values
  int type;                // 1 or 2
  PyObject *indices, *weights;
};

struct poolcut_s {
  PyObject_HEAD
  void *cut;               // solver cut handle
};

struct PendingRows;
struct problem_s {
  PyObject_HEAD
  ko_prob_struct *prob;            // solver handle; null until initialised
  tagKRVNproblem *nlprob;          // nonlinear solver handle
  problem_s *orig;                 // non-null only on a callback's temporary problem
  PyObject *saved_exc;             // first exception raised in a callback during a solver call
  PyObject *vars, *cons, *sos;     // lists; position = solver index
  PyObject *controls, *attributes, *objattribs;  // borrowed: each holds the problem, made on first use
  rowcolmap *varmap, *conmap, *sosmap;  // serial -> index maps of map mode (null unless in map mode)
  PyObject *callbacks;             // callback registry (dict) or null
  int nl_row_adds;                 // count of nonlinear row additions
  int obj_is_nonlin;               // a nonlinear objective is installed through a transfer row/column
  int nl_obj_col, nl_obj_row;      // transfer column and row, -1 when none
  userfuncmap *ufmap;              // null until the first user function is registered
  int output_enabled;
  PyObject *weakrefs;
  problem_s *prev, *next;          // live-problem list
  PyMutex change_lock;             // serialises the methods of the problem (ProblemLock)
  unsigned long change_owner;      // thread that holds it, 0 none
  int change_depth;
  int change_solving;              // the holder is a solve
  PendingRows *pending_rows;       // rows added one per call, not yet in the solver (null: none)
};

// Sends a problem's waiting rows to the solver (set by the model layer); 0, or -1 with an error set.
extern int (*kpy_pendingRowsSender)(problem_s *);
// What reads the problem in the solver first sends the rows that wait in it.
inline int kpy_sendRowsFirst(problem_s *p) { return p->pending_rows ? kpy_pendingRowsSender(p) : 0; }

extern PyTypeObject kpy_problemType, kpy_varType, kpy_constraintType, kpy_sosType, kpy_poolcutType;

inline bool kpy_isDeleted(const void *owner) {
  return owner == (const void *)KPY_DELETED || owner == (const void *)KPY_PROBLEM_GONE;
}

// Variable order: high word first, then low word, both unsigned.
inline int kpy_varCompare(const var_s *a, const var_s *b) {
  if (a->idx_high != b->idx_high) return a->idx_high < b->idx_high ? -1 : 1;
  if (a->idx_low != b->idx_low) return a->idx_low < b->idx_low ? -1 : 1;
  return 0;
}

// A zeroed static type object with its object head set (fill in the slots after).
inline PyTypeObject kpy_typeTemplate() {
  PyTypeObject t{};
  PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
  t.ob_base = head;
  return t;
}
