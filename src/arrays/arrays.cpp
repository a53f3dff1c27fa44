// NumPy support of the module: start-up of the array types, half-precision conversion, and the
// dot-product engine behind korvex.Dot for dense arrays and SciPy sparse matrices.
#include "arrays/numpy.h"
#include "expr/aggregates.h"
#include <cmath>
#include <string>
#include <vector>

int kpy_numpy_ready() {
  if (PyArray_API) return 0;
  PyErr_SetString(PyExc_RuntimeError, "NumPy is not available to the Korvex module");
  return -1;
}

float krvx_half_to_float(uint16_t h) {
  int exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
  float v;
  if (exponent == 0)
    v = std::ldexp((float)mantissa, -24);
  else if (exponent == 31)
    v = mantissa ? NAN : INFINITY;
  else
    v = std::ldexp((float)(mantissa | 0x400), exponent - 25);
  return (h & 0x8000) ? -v : v;
}

static PyObject *kndarray_type() {
  if (!kpy_env.ndarray_type) {
    PyObject *mod = PyImport_ImportModule("korvex.ndarray");
    if (!mod) return nullptr;
    kpy_env.ndarray_type = PyObject_GetAttrString(mod, "ndarray");
    Py_DECREF(mod);
  }
  return kpy_env.ndarray_type;
}

PyObject *kpy_as_kndarray(PyObject *arr) {
  PyObject *type = kndarray_type();
  if (!type) return nullptr;
  if (Py_TYPE(arr) == (PyTypeObject *)type) return Py_NewRef(arr);
  return PyArray_View((PyArrayObject *)arr, nullptr, (PyTypeObject *)type);
}

PyObject *kpy_array_richcompare(PyObject *arr, PyObject *other, int op) {
  if (kpy_numpy_ready() < 0) return nullptr;
  PyObject *view = kpy_as_kndarray(arr);
  if (!view) return nullptr;
  PyObject *r = PyObject_RichCompare(view, other, op);
  Py_DECREF(view);
  return r;
}

bool kpy_isSparse(PyObject *obj) {
  // a SciPy sparse object can only exist once scipy.sparse has been imported
  static PyObject *name = PyUnicode_InternFromString("scipy.sparse");
  PyObject *mod = name ? PyImport_GetModule(name) : nullptr;
  if (!mod) {
    PyErr_Clear();
    return false;
  }
  PyObject *res = PyObject_CallMethod(mod, "issparse", "O", obj);
  Py_DECREF(mod);
  bool sparse = res && PyObject_IsTrue(res) == 1;
  Py_XDECREF(res);
  PyErr_Clear();
  return sparse;
}

// ---------------------------------------------------------------------------------------
// Operand arrays: numeric ones as float64, everything else as objects, both C-contiguous.

struct OperandArray {
  PyArrayObject *arr = nullptr;
  bool numeric = false;
  ~OperandArray() { Py_XDECREF(arr); }
  int load(PyObject *obj) {
    PyArrayObject *a = (PyArrayObject *)PyArray_FROM_O(obj);
    if (!a) return -1;
    int t = PyArray_TYPE(a);
    numeric = PyTypeNum_ISBOOL(t) || PyTypeNum_ISINTEGER(t) || PyTypeNum_ISFLOAT(t);
    arr = (PyArrayObject *)PyArray_FROM_OTF((PyObject *)a, numeric ? NPY_DOUBLE : NPY_OBJECT,
                                            NPY_ARRAY_CARRAY_RO | NPY_ARRAY_FORCECAST);
    Py_DECREF(a);
    return arr ? 0 : -1;
  }
  int ndim() const { return PyArray_NDIM(arr); }
  npy_intp dim(int i) const { return PyArray_DIM(arr, i); }
  double number(npy_intp i) const { return ((const double *)PyArray_DATA(arr))[i]; }
  PyObject *object(npy_intp i) const { return ((PyObject *const *)PyArray_DATA(arr))[i]; }
};

// cell += a[i] * b[j] for elements of two operand arrays
static int addElementProduct(SumCell &cell, const OperandArray &a, npy_intp i,
                             const OperandArray &b, npy_intp j) {
  if (a.numeric && b.numeric) return cell.addNumber(a.number(i) * b.number(j));
  if (a.numeric) return cell.add(a.number(i), b.object(j));
  if (b.numeric) return cell.add(b.number(j), a.object(i));
  return cell.addProduct(a.object(i), b.object(j));
}

// A new object array of the given shape whose cells take the sums; korvex.ndarray, or the one
// cell itself for a shape of no dimensions.
static PyObject *cellsToArray(std::vector<SumCell> &cells, const std::vector<npy_intp> &shape) {
  if (shape.empty()) return cells[0].take();
  PyArrayObject *res =
      (PyArrayObject *)PyArray_SimpleNew((int)shape.size(), (npy_intp *)shape.data(), NPY_OBJECT);
  if (!res) return nullptr;
  PyObject **out = (PyObject **)PyArray_DATA(res);
  for (size_t i = 0; i < cells.size(); ++i) {
    PyObject *v = cells[i].take();
    if (!v) {
      Py_DECREF(res);
      return nullptr;
    }
    PyObject *old = out[i];   // null or None in a new object array
    out[i] = v;
    Py_XDECREF(old);
  }
  PyObject *k = kpy_as_kndarray((PyObject *)res);
  Py_DECREF(res);
  return k;
}

static std::string shapeText(const OperandArray &a) {
  std::string s = "(";
  for (int i = 0; i < a.ndim(); ++i) s += std::to_string(a.dim(i)) + (a.ndim() == 1 || i + 1 < a.ndim() ? "," : "");
  return s + ")";
}

// Dense product with the rules of numpy.dot, for operands of which at least one holds objects.
static PyObject *denseDot(PyObject *a, PyObject *b) {
  OperandArray A, B;
  if (A.load(a) < 0 || B.load(b) < 0) return nullptr;
  if (A.numeric && B.numeric) return PyArray_MatrixProduct2((PyObject *)A.arr, (PyObject *)B.arr, nullptr);
  int na = A.ndim(), nb = B.ndim();
  if (na == 0 || nb == 0) return general_mul(a, b);
  npy_intp K = A.dim(na - 1), kb = B.dim(nb == 1 ? 0 : nb - 2);
  if (K != kb) {
    PyErr_Format(PyExc_ValueError, "shapes %s and %s not aligned: %zd (dim %d) != %zd (dim %d)",
                 shapeText(A).c_str(), shapeText(B).c_str(), (Py_ssize_t)K, na - 1, (Py_ssize_t)kb,
                 nb == 1 ? 0 : nb - 2);
    return nullptr;
  }
  std::vector<npy_intp> shape;
  npy_intp M = 1, N = 1;
  for (int i = 0; i < na - 1; ++i) shape.push_back(A.dim(i)), M *= A.dim(i);
  // B's contracted axis first, then its other axes in order: element (k, n) at k * N + n
  std::vector<npy_intp> bstride;   // element strides of B's non-contracted axes
  std::vector<npy_intp> bdims;
  npy_intp kstride = 1;
  {
    npy_intp s = 1;
    std::vector<npy_intp> strides(nb);
    for (int i = nb - 1; i >= 0; --i) strides[i] = s, s *= B.dim(i);
    int kaxis = nb == 1 ? 0 : nb - 2;
    kstride = strides[kaxis];
    for (int i = 0; i < nb; ++i)
      if (i != kaxis) {
        shape.push_back(B.dim(i));
        bdims.push_back(B.dim(i));
        bstride.push_back(strides[i]);
        N *= B.dim(i);
      }
  }
  std::vector<npy_intp> boffset(N, 0);   // offset in B of the column n
  for (npy_intp n = 0; n < N; ++n) {
    npy_intp rem = n, off = 0;
    for (int d = (int)bdims.size() - 1; d >= 0; --d) off += (rem % bdims[d]) * bstride[d], rem /= bdims[d];
    boffset[n] = off;
  }
  std::vector<SumCell> cells(M * N);
  for (npy_intp m = 0; m < M; ++m)
    for (npy_intp n = 0; n < N; ++n) {
      SumCell &cell = cells[m * N + n];
      for (npy_intp k = 0; k < K; ++k)
        if (addElementProduct(cell, A, m * K + k, B, boffset[n] + k * kstride) < 0) return nullptr;
    }
  return cellsToArray(cells, shape);
}

// ---------------------------------------------------------------------------------------
// SciPy sparse matrices (CSR and CSC directly; other formats through tocsr())

struct SparseMatrix {
  PyObject *obj = nullptr;
  PyArrayObject *data = nullptr, *indices = nullptr, *indptr = nullptr;
  npy_intp rows = 0, cols = 0;
  bool csr = true;
  ~SparseMatrix() {
    Py_XDECREF(obj);
    Py_XDECREF(data);
    Py_XDECREF(indices);
    Py_XDECREF(indptr);
  }
  PyArrayObject *member(const char *name, int type) {
    PyObject *m = PyObject_GetAttrString(obj, name);
    if (!m) return nullptr;
    PyArrayObject *arr = (PyArrayObject *)PyArray_FROM_OTF(m, type, NPY_ARRAY_CARRAY_RO);
    Py_DECREF(m);
    return arr;
  }
  int load(PyObject *sp) {
    PyObject *shape = PyObject_GetAttrString(sp, "shape");
    if (!shape) return -1;
    if (!PyTuple_Check(shape) || PyTuple_GET_SIZE(shape) != 2) {
      Py_DECREF(shape);
      PyErr_SetString(kpy_ModelError, "Only two-dimensional sparse matrices can be multiplied");
      return -1;
    }
    rows = PyLong_AsSsize_t(PyTuple_GET_ITEM(shape, 0));
    cols = PyLong_AsSsize_t(PyTuple_GET_ITEM(shape, 1));
    Py_DECREF(shape);
    if (PyErr_Occurred()) return -1;
    PyObject *fmt = PyObject_GetAttrString(sp, "format");
    if (!fmt) return -1;
    bool isCsr = PyUnicode_Check(fmt) && PyUnicode_CompareWithASCIIString(fmt, "csr") == 0;
    bool isCsc = PyUnicode_Check(fmt) && PyUnicode_CompareWithASCIIString(fmt, "csc") == 0;
    Py_DECREF(fmt);
    obj = (isCsr || isCsc) ? Py_NewRef(sp) : PyObject_CallMethod(sp, "tocsr", nullptr);
    if (!obj) return -1;
    csr = !isCsc;
    data = member("data", NPY_DOUBLE);
    if (data) indices = member("indices", NPY_INTP);
    if (indices) indptr = member("indptr", NPY_INTP);
    return indptr ? 0 : -1;
  }
};

// S @ x (sparseLeft) or x @ S, x an array of objects with one or two dimensions
static PyObject *sparseDot(PyObject *s, PyObject *x, bool sparseLeft) {
  SparseMatrix S;
  OperandArray X;
  if (S.load(s) < 0 || X.load(x) < 0) return nullptr;
  if (X.numeric)   // numbers only: SciPy's own product
    return sparseLeft ? PyNumber_MatrixMultiply(s, x) : PyNumber_MatrixMultiply(x, s);
  int nd = X.ndim();
  if (nd < 1 || nd > 2) {
    PyErr_SetString(kpy_ModelError, "A sparse matrix can only be multiplied by an array of one or two dimensions");
    return nullptr;
  }
  // S @ x: x is (n) or (n, k); x @ S: x is (n) or (k, n)
  npy_intp n = sparseLeft ? X.dim(0) : X.dim(nd - 1);
  npy_intp k = nd == 1 ? 1 : (sparseLeft ? X.dim(1) : X.dim(0));
  npy_intp want = sparseLeft ? S.cols : S.rows, outlen = sparseLeft ? S.rows : S.cols;
  if (n != want) {
    PyErr_Format(PyExc_ValueError, "dimension mismatch in sparse product: %zd != %zd", (Py_ssize_t)n,
                 (Py_ssize_t)want);
    return nullptr;
  }
  std::vector<SumCell> cells(outlen * k);
  const double *val = (const double *)PyArray_DATA(S.data);
  const npy_intp *idx = (const npy_intp *)PyArray_DATA(S.indices);
  const npy_intp *ptr = (const npy_intp *)PyArray_DATA(S.indptr);
  npy_intp major = S.csr ? S.rows : S.cols;
  npy_intp nnz = PyArray_SIZE(S.indices);
  if (PyArray_SIZE(S.indptr) < major + 1 || PyArray_SIZE(S.data) < nnz) {
    PyErr_SetString(PyExc_ValueError, "Invalid sparse matrix: index pointers out of range");
    return nullptr;
  }
  for (npy_intp p = 0; p < major; ++p) {
    npy_intp lo = ptr[p], hi = ptr[p + 1];
    if (lo < 0 || hi > nnz || lo > hi) {
      PyErr_SetString(PyExc_ValueError, "Invalid sparse matrix: index pointers out of range");
      return nullptr;
    }
    // one row of the product gathers this run of entries: size its sums once
    if ((sparseLeft == S.csr) && hi > lo)
      for (npy_intp q = 0; q < k; ++q)
        if ((sparseLeft ? cells[p * k + q] : cells[q * outlen + p]).reserve((size_t)(hi - lo)) < 0) return nullptr;
    for (npy_intp z = lo; z < hi; ++z) {
      npy_intp r = S.csr ? p : idx[z], c = S.csr ? idx[z] : p;
      if (r < 0 || r >= S.rows || c < 0 || c >= S.cols) {
        PyErr_SetString(PyExc_ValueError, "Invalid sparse matrix: index out of range");
        return nullptr;
      }
      npy_intp target = sparseLeft ? r : c, src = sparseLeft ? c : r;
      for (npy_intp q = 0; q < k; ++q) {
        SumCell &cell = sparseLeft ? cells[target * k + q] : cells[q * outlen + target];
        PyObject *item = sparseLeft ? X.object(src * k + q) : X.object(q * n + src);
        if (cell.add(val[z], item) < 0) return nullptr;
      }
    }
  }
  std::vector<npy_intp> shape;
  if (nd == 1) shape = {outlen};
  else if (sparseLeft) shape = {outlen, k};
  else shape = {k, outlen};
  return cellsToArray(cells, shape);
}

// ---------------------------------------------------------------------------------------

static int writeOut(PyObject *res, PyObject *out) {
  if (!PyArray_Check(out)) {
    PyErr_SetString(kpy_ModelError, "Argument out of korvex.Dot must be a NumPy array");
    return -1;
  }
  if (PyArray_Check(res)) {
    PyArrayObject *r = (PyArrayObject *)res, *o = (PyArrayObject *)out;
    if (PyArray_NDIM(r) != PyArray_NDIM(o) ||
        !PyArray_CompareLists(PyArray_DIMS(r), PyArray_DIMS(o), PyArray_NDIM(r))) {
      PyErr_SetString(kpy_ModelError, "Argument out of korvex.Dot does not have the shape of the result");
      return -1;
    }
  }
  return PyArray_CopyObject((PyArrayObject *)out, res);
}

static bool isTensor(PyObject *o) { return PyArray_Check(o) || PyList_Check(o) || PyTuple_Check(o); }

static PyObject *tensorMult(PyObject *a, PyObject *b, PyObject *out) {
  if (kpy_numpy_ready() < 0) return nullptr;
  PyObject *res;
  if (!a || a == Py_None) {
    res = Py_NewRef(b);
  } else {
    bool sa = kpy_isSparse(a), sb = kpy_isSparse(b);
    if (sa && sb)
      res = PyNumber_MatrixMultiply(a, b);
    else if (sa && isTensor(b))
      res = sparseDot(a, b, true);
    else if (sb && isTensor(a))
      res = sparseDot(b, a, false);
    else if (isTensor(a) && isTensor(b))
      res = denseDot(a, b);
    else
      res = general_mul(a, b);
  }
  if (!res || !out || out == Py_None) return res;
  if (writeOut(res, out) < 0) {
    Py_DECREF(res);
    return nullptr;
  }
  Py_DECREF(res);
  return Py_NewRef(out);
}

PyObject *tensor_mult(PyObject *a, PyObject *b, PyObject *out) {
  return kpy_catchNoMemory([&] { return tensorMult(a, b, out); });
}

// ---------------------------------------------------------------------------------------

int kpy_arrays_module_init(PyObject *module) {
  if (kpy_numpy_ready() < 0) return -1;
  kpy_env.npvar_type = kpy_env.npexpr_type = kpy_env.npconstraint_type = NPY_OBJECT;
  // arrays of variables, expressions and constraints hold Python objects
  for (const char *name : {"_npvar", "_npexpr", "_npconstraint"})
    if (PyModule_Add(module, name, (PyObject *)PyArray_DescrFromType(NPY_OBJECT)) < 0) return -1;
  if (!kpy_env.scipy_sparse) {
    kpy_env.scipy_sparse = PyImport_ImportModule("scipy.sparse");
    if (!kpy_env.scipy_sparse) PyErr_Clear();
  }
  return 0;
}
