// Rows added one per call, waiting in their problem until they go to the solver together.
#include "model/pending_rows.h"
#include "model/problem.h"

#include <cmath>
#include <new>

namespace {

constexpr size_t kBatchRows = 1000, kBatchEntries = 65536;

bool sizeable(double v) { return std::fabs(v) < 1e20; }   // false for NaN and infinities

}  // namespace

int (*kpy_pendingRowsSender)(problem_s *) = kpy_sendPendingRows;

bool kpy_rowMayWait(const problem_s *p, char type, double rhs, const double *vals, size_t n) {
#ifdef Py_GIL_DISABLED
  return false;   // the interpreter lock is what keeps other threads off the waiting rows
#endif
  if (p->orig || p->varmap || p->change_solving || p->change_depth != 1 ||
      p->change_owner != PyThread_get_thread_ident())
    return false;
  if (type != 'L' && type != 'G' && type != 'E' && type != 'N') return false;
  if (!sizeable(rhs)) return false;
  for (size_t k = 0; k < n; ++k)
    if (!sizeable(vals[k])) return false;
  // far from the solver's limit of rows and columns together
  return PyList_GET_SIZE(p->cons) + PyList_GET_SIZE(p->vars) < (Py_ssize_t)(INT32_MAX / 2);
}

int kpy_keepRow(problem_s *p, char type, double rhs, double rng, const int *cols, const double *vals, size_t n) {
  PendingRows *b = p->pending_rows;
  const size_t rows0 = b ? b->rows() : 0, entries0 = b ? b->cols.size() : 0;
  try {
    if (!b) b = p->pending_rows = new PendingRows();
    b->type.push_back(type);
    b->rhs.push_back(rhs);
    b->rng.push_back(rng);
    b->cols.insert(b->cols.end(), cols, cols + n);
    b->vals.insert(b->vals.end(), vals, vals + n);
    b->start.push_back((int64_t)b->cols.size());
  } catch (const std::bad_alloc &) {
    if (b) {
      b->type.resize(rows0);
      b->rhs.resize(rows0);
      b->rng.resize(rows0);
      b->start.resize(rows0 + 1);
      b->cols.resize(entries0);
      b->vals.resize(entries0);
    }
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

bool kpy_pendingRowsFull(const problem_s *p) {
  const PendingRows *b = p->pending_rows;
  return b && (b->rows() >= kBatchRows || b->cols.size() >= kBatchEntries);
}

int kpy_sendPendingRows(problem_s *p) {
  if (!p->pending_rows || !p->pending_rows->rows()) return 0;
  ProblemLock lock(p);   // a method of another thread ends first: the rows are the problem's last
  PendingRows *b = p->pending_rows;
  const size_t n = b ? b->rows() : 0;
  if (!n) return 0;
  // sent with the interpreter lock held: no other thread adds or reads rows meanwhile
  const int64_t nnz = (int64_t)b->cols.size();
  const int rc = p->prob ? KRVXaddrows64_witharraysizes(p->prob, (int)n, nnz, b->type.data(), (int64_t)n,
                                                        b->rhs.data(), (int64_t)n, b->rng.data(), (int64_t)n,
                                                        b->start.data(), (int64_t)n + 1, b->cols.data(), nnz,
                                                        b->vals.data(), nnz)
                         : -1;
  b->type.clear();
  b->rhs.clear();
  b->rng.clear();
  b->start.resize(1);
  b->cols.clear();
  b->vals.clear();
  if (rc == 0) return 0;
  setKrvxErrIfNull((PyObject *)p, nullptr);
  PyObject *pending = PyErr_GetRaisedException();
  const Py_ssize_t end = p->cons ? PyList_GET_SIZE(p->cons) : 0, first = end - (Py_ssize_t)n;
  if (first >= 0) {
    for (Py_ssize_t i = first; i < end; ++i) kpy_markDeleted(PyList_GET_ITEM(p->cons, i));
    if (PyList_SetSlice(p->cons, first, end, nullptr) < 0) PyErr_Clear();
  }
  PyErr_SetRaisedException(pending);
  return -1;
}

void kpy_dropPendingRows(problem_s *p) {
  delete p->pending_rows;
  p->pending_rows = nullptr;
}
