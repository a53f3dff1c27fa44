// Temporaries of the interpreter's evaluation stack. In `a*x + b*y + c*z` every partial sum
// is held only by the stack of the frame evaluating it and is dropped by the next operator, so
// that operator may grow it in place instead of copying it. A result counts as such a
// temporary only when all of this holds:
//  - it was returned by an operator of the algebra while the current frame executed a binary
//    operation at instruction p (it is the last result noted);
//  - the current instruction q of the same frame is a binary operation (or comparison), and
//    the instructions on a path from p to q only load values, subscript or combine values
//    pushed after p, or branch ahead within a conditional expression, so that p's result is
//    still in the same stack slot and q consumes it, as its left operand (two slots on the
//    stack) or its right one (one slot);
//  - both operands sit side by side in the frame's stack area;
//  - nothing else holds a reference to it.
// Objects borrowed from containers (NumPy's element loops, aggregates, C callers) fail these
// tests, so they are never changed. Any instruction this file does not know ends the search.
#include "expr/expr.h"
#include <cstdint>
#include <string_view>

#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
#define KPY_TEMPS 1
#endif

#ifdef KPY_TEMPS
namespace {

// the head of the interpreter's frame record of this CPython series
struct interp_frame {
  PyObject *f_executable;
  interp_frame *previous;
  PyObject *f_funcobj, *f_globals, *f_builtins, *f_locals;
  PyObject *frame_obj;
  const uint8_t *instr_ptr;   // code units: opcode byte, argument byte
  int stacktop;
  uint16_t return_offset;
  char owner;
  PyObject *localsplus[1];
};

enum op_kind : uint8_t {
  OK_UNKNOWN = 0,
  OK_PUSH1,      // loads
  OK_PUSH2,      // two loads in one instruction
  OK_GLOBAL,     // one value, and a null when the argument's low bit is set
  OK_BINARY,     // two in, one out: binary operations, subscripts
  OK_UNARY,      // one in, one out
  OK_COMPARE,    // two in, one out: comparisons
  OK_ATTR,       // one in, one out, and a second one when the argument's low bit is set
  OK_BRANCH,     // one in: falls through or jumps ahead by its argument
  OK_JUMP,       // jumps ahead by its argument
};

struct op_info {
  uint8_t kind = OK_UNKNOWN;
  uint8_t caches = 0;
  bool binop = false;   // the binary operation itself (the producing instruction)
  // the kind's effect between producer and consumer, read without a branch per kind: it may
  // stand there, needs `need` values from the result upwards, and adds delta values (and
  // oddDelta more when its argument's low bit is set)
  bool between = false;
  uint8_t need = 0;
  int8_t delta = 0;
  uint8_t oddDelta = 0;
};

// the effect of each kind standing between producer and consumer
op_info with_effect(op_info o) {
  switch (o.kind) {
    case OK_PUSH1: o.between = true, o.delta = 1; break;
    case OK_PUSH2: o.between = true, o.delta = 2; break;
    case OK_GLOBAL: o.between = true, o.delta = 1, o.oddDelta = 1; break;
    case OK_BINARY:
    case OK_COMPARE: o.between = true, o.need = 3, o.delta = -1; break;
    case OK_BRANCH: o.between = true, o.need = 2, o.delta = -1; break;
    case OK_JUMP: o.between = true; break;
    case OK_UNARY: o.between = true, o.need = 2; break;
    case OK_ATTR: o.between = true, o.need = 2, o.oddDelta = 1; break;
    default: break;
  }
  return o;
}

op_info table[256];
bool ready = false;

struct noted {
  PyObject *obj = nullptr;
  interp_frame *frame = nullptr;
  PyObject *code = nullptr;
  const uint8_t *instr = nullptr;
} last;

// the frame found by the last reusability test, for the note of the same operator's result
interp_frame *probed = nullptr;

interp_frame *current_frame() {
  auto *ts = PyThreadState_GetUnchecked();
  if (!ts) return nullptr;
  auto *f = (interp_frame *)ts->current_frame;
  if (!f || !f->f_executable || !PyCode_Check(f->f_executable) || !f->instr_ptr) return nullptr;
  return f;
}

// From at, with depth values from the producer's result upwards, along any path of forward
// jumps that reaches q (the branches of a conditional expression leave the values below them as
// they found them): q's side of the result as for slot_at; steps counts the instructions read.
int walk_to(const uint8_t *at, const uint8_t *q, int depth, int *steps) {
  while (at < q) {
    const op_info &o = table[at[0]];
    if (++*steps > 48 || !o.between || depth < o.need) return 0;
    depth += o.delta + (at[1] & 1) * o.oddDelta;
    const uint8_t *next = at + 2 * (1 + o.caches), *target = next + 2 * at[1];
    if (o.kind == OK_BRANCH && target <= q)
      if (int side = walk_to(target, q, depth, steps)) return side;
    at = o.kind == OK_JUMP ? target : next;
  }
  if (at != q) return 0;
  uint8_t k = table[q[0]].kind;
  if ((k != OK_BINARY && k != OK_COMPARE) || depth > 2) return 0;
  return depth;
}

// the value pushed at p is still in its slot at q and q consumes it: 2 when it is q's left
// operand, 1 when its right one, 0 otherwise
int slot_at(const uint8_t *p, const uint8_t *q) {
  const op_info &producer = table[p[0]];
  if (!producer.binop) return 0;
  int steps = 0;
  return walk_to(p + 2 * (1 + producer.caches), q, 1, &steps);
}

// Results of slot_at by producer and consumer, and where the consumer's operands sit in the
// stack area: both follow from the code alone. A code watcher drops the entries of code objects
// when they are destroyed (without the watcher nothing is remembered).
struct walk_memo {
  PyObject *code = nullptr;
  const uint8_t *p = nullptr, *q = nullptr;
  int side = 0;
  int slot = -1;   // stack index of the left operand, -1 until found
};
walk_memo memo[256];
bool memo_on = false;

int forget_code(PyCodeEvent event, PyCodeObject *code) {
  if (event == PY_CODE_EVENT_DESTROY)
    for (walk_memo &m : memo)
      if (m.code == (PyObject *)code) m = walk_memo{};
  return 0;
}

// a and b side by side in the frame's stack area (m: the remembered place, updated)
bool adjacent_on_stack(interp_frame *f, PyObject *a, PyObject *b, walk_memo *m) {
  auto *code = (PyCodeObject *)f->f_executable;
  PyObject **s = f->localsplus + code->co_nlocalsplus;
  if (m && m->slot >= 0 && m->slot + 1 < code->co_stacksize && s[m->slot] == a && s[m->slot + 1] == b)
    return true;
  for (int k = 0; k + 1 < code->co_stacksize; k++)
    if (s[k] == a && s[k + 1] == b) {
      if (m) m->slot = k;
      return true;
    }
  return false;
}

int op_number(PyObject *opmap, const char *name) {
  PyObject *v = PyDict_GetItemString(opmap, name);
  if (!v) return -1;
  long n = PyLong_AsLong(v);
  return (n >= 0 && n < 256) ? (int)n : -1;
}

}  // namespace

int kpy_temps_init() {
  PyObject *mod = PyImport_ImportModule("opcode");
  PyObject *opmap = mod ? PyObject_GetAttrString(mod, "opmap") : nullptr;
  PyObject *special = mod ? PyObject_GetAttrString(mod, "_specializations") : nullptr;
  PyObject *caches = mod ? PyObject_GetAttrString(mod, "_inline_cache_entries") : nullptr;
  bool ok = opmap && special && caches && PyDict_Check(opmap) && PyDict_Check(special) &&
            PyDict_Check(caches);
  static const struct {
    const char *name;
    op_kind kind;
  } known[] = {{"LOAD_FAST", OK_PUSH1},        {"LOAD_FAST_CHECK", OK_PUSH1},
               {"LOAD_CONST", OK_PUSH1},       {"LOAD_DEREF", OK_PUSH1},
               {"LOAD_NAME", OK_PUSH1},        {"LOAD_FAST_LOAD_FAST", OK_PUSH2},
               {"LOAD_GLOBAL", OK_GLOBAL},     {"BINARY_OP", OK_BINARY},
               {"BINARY_SUBSCR", OK_BINARY},   {"UNARY_NEGATIVE", OK_UNARY},
               {"LOAD_ATTR", OK_ATTR},         {"COMPARE_OP", OK_COMPARE},
               {"TO_BOOL", OK_UNARY},          {"POP_JUMP_IF_FALSE", OK_BRANCH},
               {"POP_JUMP_IF_TRUE", OK_BRANCH},  {"POP_JUMP_IF_NONE", OK_BRANCH},
               {"POP_JUMP_IF_NOT_NONE", OK_BRANCH}, {"JUMP_FORWARD", OK_JUMP}};
  for (auto &k : known) {
    if (!ok) break;
    int n = op_number(opmap, k.name);
    if (n < 0) continue;
    int ncache = 0;
    if (PyObject *c = PyDict_GetItemString(caches, k.name)) ncache = (int)PyLong_AsLong(c);
    if (ncache < 0 || ncache > 16) continue;
    bool binop = std::string_view(k.name) == "BINARY_OP";
    table[n] = with_effect({(uint8_t)k.kind, (uint8_t)ncache, binop});
    // specialised forms share the base's shape; the in-place string form stores a local
    PyObject *forms = PyDict_GetItemString(special, k.name);
    if (forms && PyList_Check(forms))
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(forms); i++) {
        const char *s = PyUnicode_AsUTF8(PyList_GET_ITEM(forms, i));
        if (!s) break;
        if (std::string_view(s) == "BINARY_OP_INPLACE_ADD_UNICODE") continue;
        PyObject *variant_ops = mod ? PyObject_GetAttrString(mod, "_specialized_opmap") : nullptr;
        int m = variant_ops && PyDict_Check(variant_ops) ? op_number(variant_ops, s) : -1;
        Py_XDECREF(variant_ops);
        if (m >= 0) table[m] = with_effect({(uint8_t)k.kind, (uint8_t)ncache, binop});
      }
  }
  Py_XDECREF(caches);
  Py_XDECREF(special);
  Py_XDECREF(opmap);
  Py_XDECREF(mod);
  // without the tables nothing is ever taken for a temporary
  PyErr_Clear();
  ready = ok;
  memo_on = ok && PyCode_AddWatcher(forget_code) >= 0;
  PyErr_Clear();
  return 0;
}

void kpy_temp_note(PyObject *res) {
  interp_frame *f = probed;
  probed = nullptr;
  if (!ready || !res || !kpy_isExpression(res)) return;
  if (!f && !(f = current_frame())) return;
  last.obj = res;
  last.frame = f;
  last.code = f->f_executable;
  last.instr = f->instr_ptr;
}

bool kpy_temp_reusable(PyObject *o, PyObject *a, PyObject *b) {
  if (!ready || o != last.obj || Py_REFCNT(o) != 1 || !kpy_isExpression(o)) return false;
  interp_frame *f = probed = current_frame();
  if (!f || f != last.frame || f->f_executable != last.code || f->instr_ptr <= last.instr)
    return false;
  const uint8_t *p = last.instr, *q = f->instr_ptr;
  walk_memo *m = memo_on ? &memo[((uintptr_t)q >> 1) & 255] : nullptr;
  int side;
  if (m && m->q == q && m->p == p && m->code == f->f_executable) {
    side = m->side;
  } else {
    side = slot_at(p, q);
    if (m) *m = walk_memo{f->f_executable, p, q, side, -1};
  }
  if (side == 0 || (side == 2) != (o == a) || !adjacent_on_stack(f, a, b, m)) return false;
  last.obj = nullptr;
  return true;
}

void kpy_temp_forget() {
  last.obj = nullptr;
  probed = nullptr;
}

#else
int kpy_temps_init() { return 0; }
void kpy_temp_forget() {}
void kpy_temp_note(PyObject *) {}
bool kpy_temp_reusable(PyObject *, PyObject *, PyObject *) { return false; }
#endif
