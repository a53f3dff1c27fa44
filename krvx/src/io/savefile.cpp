// KRVXsaveas / KRVXrestore: the whole store, the controls set on the problem and the solution in
// an own binary file (".svf"). Numbers are written little-endian, doubles as their raw bits, so a
// restore gives back exactly what was saved.
//
// Layout: magic "KRVXSVF\n", u32 version, u64 payload length, payload, u64 FNV-1a hash of the payload.
#include "nl/nl.h"
#include "core/call_guard.h"
#include "core/controls.h"
#include "core/model.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace krvx {
namespace {

constexpr char kMagic[8] = {'K', 'R', 'V', 'X', 'S', 'V', 'F', '\n'};
constexpr uint32_t kVersion = 3;   // 2: nonlinear formulas; 3: branching directives
constexpr uint32_t kOldestVersion = 1;   // older versions read without the later fields

uint64_t fnv1a(const char *data, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t k = 0; k < n; ++k) h = (h ^ static_cast<unsigned char>(data[k])) * 1099511628211ull;
  return h;
}

// The two directions of the file: Writer appends a field, Reader fills it. One field list
// (serialize* below) drives both, so save and restore cannot drift apart.
class Writer {
 public:
  std::string out;
  void u64(uint64_t v) {
    char b[8];
    for (int k = 0; k < 8; ++k) b[k] = char(v >> (8 * k));
    out.append(b, 8);
  }
  void u32(uint32_t v) {
    char b[4];
    for (int k = 0; k < 4; ++k) b[k] = char(v >> (8 * k));
    out.append(b, 4);
  }
  void io(int &v) { u32(uint32_t(v)); }
  void io(int64_t &v) { u64(uint64_t(v)); }
  void io(double &v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    u64(bits);
  }
  void io(char &c) { out.push_back(c); }
  // entry i of a side vector (store.h: sideValue)
  void side(std::vector<double> &v, size_t i) {
    double x = sideValue(v, i);
    io(x);
  }
  void io(bool &b) { out.push_back(b ? 1 : 0); }
  void io(std::string &s) {
    u64(s.size());
    out += s;
  }
  template <class T, class F>
  void seq(std::vector<T> &v, size_t /*minBytes*/, F &&each) {
    u64(v.size());
    for (T &x : v) each(x);
  }
};

class Reader {
 public:
  Reader(const char *data, size_t size, const std::string &file) : d_(data), size_(size), file_(file) {}
  uint64_t u64() {
    need(8);
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= uint64_t(static_cast<unsigned char>(d_[pos_ + k])) << (8 * k);
    pos_ += 8;
    return v;
  }
  uint32_t u32() {
    need(4);
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t(static_cast<unsigned char>(d_[pos_ + k])) << (8 * k);
    pos_ += 4;
    return v;
  }
  void io(int &v) { v = int(u32()); }
  void io(int64_t &v) { v = int64_t(u64()); }
  void io(double &v) {
    uint64_t bits = u64();
    std::memcpy(&v, &bits, 8);
  }
  void io(char &c) {
    need(1);
    c = d_[pos_++];
  }
  void side(std::vector<double> &v, size_t i) {
    double x;
    io(x);
    setSideValue(v, i, x);
  }
  void io(bool &b) {
    char c;
    io(c);
    b = c != 0;
  }
  void io(std::string &s) {
    size_t n = count(1);
    s.assign(d_ + pos_, n);
    pos_ += n;
  }
  // Each element takes at least minBytes, so a count beyond the bytes left is refused before allocating.
  template <class T, class F>
  void seq(std::vector<T> &v, size_t minBytes, F &&each) {
    v.assign(count(minBytes), T());
    for (T &x : v) each(x);
  }
  void skip(size_t n) {
    need(n);
    pos_ += n;
  }
  bool atEnd() const { return pos_ == size_; }
  [[noreturn]] void truncated() { raise(kErrFile, "'%.300s' is truncated", file_.c_str()); }

 private:
  size_t count(size_t minBytes) {
    uint64_t n = u64();
    if (n > (size_ - pos_) / std::max<size_t>(minBytes, 1)) truncated();
    return size_t(n);
  }
  void need(size_t n) {
    if (size_ - pos_ < n) truncated();
  }
  const char *d_;
  size_t size_;
  const std::string &file_;
  size_t pos_ = 0;
};

// ---- field lists ----

template <class A>
void serializeValues(A &a, std::vector<double> &v) {
  a.seq(v, 8, [&](double &x) { a.io(x); });
}
template <class A>
void serializeValues(A &a, std::vector<int> &v) {
  a.seq(v, 4, [&](int &x) { a.io(x); });
}
template <class A>
void serializeValues(A &a, std::vector<char> &v) {
  a.seq(v, 1, [&](char &x) { a.io(x); });
}
template <class A>
void serializeEntries(A &a, std::vector<Entry> &v) {
  a.seq(v, 12, [&](Entry &e) {
    a.io(e.index);
    a.io(e.value);
  });
}
// Column j's entries: written from the matrix as it is, read back in column order.
void serializeColumn(Writer &a, ColMatrix &m, int j) {
  std::vector<Entry> v;
  for (const Entry e : m.col(j)) v.push_back(e);
  serializeEntries(a, v);
}
void serializeColumn(Reader &a, ColMatrix &m, int j) {
  if (j == 0) m = ColMatrix();
  std::vector<Entry> v;
  serializeEntries(a, v);
  m.appendColumn(v.data(), v.size());
}
template <class A>
void serializeTerms(A &a, std::vector<QTerm> &v) {
  a.seq(v, 16, [&](QTerm &t) {
    a.io(t.i);
    a.io(t.j);
    a.io(t.value);
  });
}

template <class A>
void serializeDirectives(A &a, ko_prob_struct &p) {
  a.seq(p.dirs, 25, [&](Directive &d) {
    a.io(d.index);
    a.io(d.priority);
    a.io(d.dir);
    a.io(d.up);
    a.io(d.down);
  });
  serializeValues(a, p.branchfixed);
}

// `version`: the file's (a writer always writes kVersion).
template <class A>
void serializeModel(A &a, ko_prob_struct &p, uint32_t version) {
  a.io(p.name);
  a.io(p.objsense);
  a.io(p.objconst);
  size_t i = 0;
  a.seq(p.rows, 17, [&](Row &r) {
    a.io(r.type);
    a.io(r.rhs);
    a.side(p.rowrange, i++);
  });
  int j = 0;
  a.seq(p.cols, 41, [&](Column &c) {
    a.io(c.cost);
    a.io(c.lb);
    a.io(c.ub);
    a.io(c.type);
    a.side(p.collimit, size_t(j));
    serializeColumn(a, p.matrix, j++);
  });
  serializeTerms(a, p.qobj);
  a.seq(p.qrows, 8, [&](std::vector<QTerm> &q) { serializeTerms(a, q); });
  a.seq(p.sets, 17, [&](Set &s) {
    a.io(s.type);
    serializeValues(a, s.cols);
    serializeValues(a, s.weights);
  });
  a.seq(p.objectives, 36, [&](Objective &o) {
    serializeEntries(a, o.coefs);
    a.io(o.priority);
    a.io(o.weight);
    a.io(o.abstol);
    a.io(o.reltol);
  });
  a.seq(p.indicators, 8, [&](Indicator &ind) {
    a.io(ind.col);
    a.io(ind.complement);
  });
  a.seq(p.pwls, 24, [&](PwlCons &c) {
    a.io(c.col);
    a.io(c.resultant);
    serializeValues(a, c.x);
    serializeValues(a, c.y);
  });
  a.seq(p.gencons, 24, [&](GenCons &g) {
    a.io(g.type);
    a.io(g.resultant);
    serializeValues(a, g.cols);
    serializeValues(a, g.vals);
  });
  serializeValues(a, p.modelcut);
  serializeValues(a, p.delayed);
  serializeValues(a, p.rowscale);
  serializeValues(a, p.colscale);
  for (int kind = 1; kind <= 6; ++kind) a.seq(p.names[kind].names, 8, [&](std::string &n) { a.io(n); });
  if (version >= 2) serializeNonlinear(a, p);
  if (version >= 3) serializeDirectives(a, p);
}

// Controls as (id, value) lists sorted by id, so that equal problems give equal files.
struct SavedControls {
  std::vector<std::pair<int, int64_t>> ints;
  std::vector<std::pair<int, double>> dbls;
  std::vector<std::pair<int, std::string>> strs;
  std::string tunermethod;
};

template <class A>
void serializeControls(A &a, SavedControls &c) {
  a.seq(c.ints, 12, [&](std::pair<int, int64_t> &kv) {
    a.io(kv.first);
    a.io(kv.second);
  });
  a.seq(c.dbls, 12, [&](std::pair<int, double> &kv) {
    a.io(kv.first);
    a.io(kv.second);
  });
  a.seq(c.strs, 12, [&](std::pair<int, std::string> &kv) {
    a.io(kv.first);
    a.io(kv.second);
  });
  a.io(c.tunermethod);
}

template <class A>
void serializeSolution(A &a, Solution &s) {
  for (int *v : {&s.solvestatus, &s.solstatus, &s.lpstatus, &s.mipstatus, &s.stopstatus}) a.io(*v);
  a.io(s.objval);
  a.io(s.bestbound);
  a.io(s.simplexiter);
  a.io(s.bariter);
  a.io(s.nodes);
  a.io(s.time);
  a.io(s.has_x);
  a.io(s.has_duals);
  for (auto *v : {&s.x, &s.slack, &s.duals, &s.djs}) serializeValues(a, *v);
  serializeValues(a, s.colstat);
  serializeValues(a, s.rowstat);
}

template <class M, class T>
std::vector<std::pair<int, T>> sortedPairs(const M &map) {
  std::vector<std::pair<int, T>> v(map.begin(), map.end());
  std::sort(v.begin(), v.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
  return v;
}

SavedControls savedControls(const ko_prob_struct &p) {
  return {sortedPairs<decltype(p.controls.ints), int64_t>(p.controls.ints),
          sortedPairs<decltype(p.controls.dbls), double>(p.controls.dbls),
          sortedPairs<decltype(p.controls.strs), std::string>(p.controls.strs), p.tunermethod};
}

// A saved control must be one this library knows, of the same type and inside its range.
void checkSavedControl(int id, bool intType, int type, double value, const std::string &file) {
  const ControlInfo *c = findControl(id);
  bool sameKind = c && (intType ? (c->type == KRVX_TYPE_INT || c->type == KRVX_TYPE_INT64) : c->type == type);
  if (!sameKind)
    raise(kErrFile, "'%.300s' holds a value for control %d, which is not a control of that type", file.c_str(), id);
  if (type != KRVX_TYPE_STRING && !(value >= c->min && value <= c->max))
    raise(kErrFile, "'%.300s' holds the value %g for control '%s', outside its range", file.c_str(), value, c->name);
}

ControlValues restoredControls(const SavedControls &c, const std::string &file) {
  ControlValues cv;
  for (const auto &kv : c.ints) {
    checkSavedControl(kv.first, true, KRVX_TYPE_INT, double(kv.second), file);
    cv.ints[kv.first] = kv.second;
  }
  for (const auto &kv : c.dbls) {
    checkSavedControl(kv.first, false, KRVX_TYPE_DOUBLE, kv.second, file);
    cv.dbls[kv.first] = kv.second;
  }
  for (const auto &kv : c.strs) {
    checkSavedControl(kv.first, false, KRVX_TYPE_STRING, 0, file);
    cv.strs[kv.first] = kv.second;
  }
  return cv;
}

void checkSolutionSizes(const Solution &s, size_t nrows, size_t ncols, const std::string &file) {
  auto sized = [&](size_t n, size_t want) { return n == 0 || n == want; };
  if (!sized(s.x.size(), ncols) || !sized(s.djs.size(), ncols) || !sized(s.colstat.size(), ncols) ||
      !sized(s.slack.size(), nrows) || !sized(s.duals.size(), nrows) || !sized(s.rowstat.size(), nrows))
    raise(kErrFile, "'%.300s' holds a solution whose size does not match the problem", file.c_str());
  if (s.has_x && (s.x.size() != ncols || s.slack.size() != nrows))
    raise(kErrFile, "'%.300s' holds an incomplete solution", file.c_str());
}

// "" (or NULL) names the problem; ".svf" is added unless verbatim.
std::string fileName(const ko_prob_struct *p, const char *given, bool verbatim) {
  std::string name = checkedString(given, 4096, "filename");
  if (name.empty()) name = p->name;
  if (name.empty()) raise(kErrInvalid, "no file name given and the problem has no name");
  return verbatim ? name : name + ".svf";
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXsaveas(KRVXprob prob, const char *filename) {
  return guard(prob, "KRVXsaveas", [&] {
    std::string file = fileName(prob, filename, false);
    nlCheckSavable(*prob);
    Writer body;
    size_t nelems = 0;
    nelems = size_t(prob->matrix.nnz());
    body.out.reserve(1024 + 17 * prob->rows.size() + 41 * prob->cols.size() + 12 * nelems);
    serializeModel(body, *prob, kVersion);   // the writer only reads the fields
    SavedControls controls = savedControls(*prob);
    serializeControls(body, controls);
    serializeSolution(body, prob->sol);
    Writer head;
    head.out.assign(kMagic, sizeof kMagic);
    head.u32(kVersion);
    head.u64(body.out.size());
    Writer tail;
    tail.u64(fnv1a(body.out.data(), body.out.size()));
    // written beside the target, then renamed over it: a failed save leaves an older file intact
    std::string tmp = file + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) raise(kErrFile, "cannot write '%.300s': %s", file.c_str(), std::strerror(errno));
    bool ok = true;
    for (const std::string *part : {&head.out, &body.out, &tail.out})
      ok = ok && std::fwrite(part->data(), 1, part->size(), f) == part->size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), file.c_str()) != 0) {
      int err = errno;
      std::remove(tmp.c_str());
      raise(kErrFile, "cannot write '%.300s': %s", file.c_str(), std::strerror(err));
    }
  });
}

extern "C" KRVX_API int KRVXrestore(KRVXprob prob, const char *probname, const char *flags) {
  return guard(prob, "KRVXrestore", [&] {
    requireIdle(prob);
    bool verbatim = false;
    for (const char *f = flags ? flags : ""; *f; ++f) {
      if (*f == 'v') verbatim = true;
      else if (*f != 'h') raise(kErrInvalid, "unknown flag '%c' (expected h or v)", *f);
    }
    std::string file = fileName(prob, probname, verbatim);
    FILE *f = std::fopen(file.c_str(), "rb");
    if (!f) raise(kErrFile, "cannot open '%.300s': %s", file.c_str(), std::strerror(errno));
    std::string data;
    if (std::fseek(f, 0, SEEK_END) == 0) {
      long size = std::ftell(f);
      if (size > 0) data.reserve(size_t(size));
      std::rewind(f);
    }
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) raise(kErrFile, "cannot read '%.300s'", file.c_str());

    Reader head(data.data(), data.size(), file);
    if (data.size() < sizeof kMagic || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
      raise(kErrFile, "'%.300s' is not a saved problem (bad header)", file.c_str());
    head.skip(sizeof kMagic);
    uint32_t version = head.u32();
    if (version < kOldestVersion || version > kVersion)
      raise(kErrFile, "'%.300s' has format version %u, this library reads %u to %u", file.c_str(), version,
            kOldestVersion, kVersion);
    uint64_t length = head.u64();
    const size_t headerSize = sizeof kMagic + 12;
    if (length > data.size() - headerSize || data.size() - headerSize - length < 8) head.truncated();
    if (data.size() - headerSize - length > 8)
      raise(kErrFile, "'%.300s' has unexpected data after its end", file.c_str());
    const char *body = data.data() + headerSize;
    if (Reader(body + length, 8, file).u64() != fnv1a(body, size_t(length)))
      raise(kErrFile, "'%.300s' is damaged (checksum mismatch)", file.c_str());

    Reader r(body, size_t(length), file);
    ko_prob_struct fresh;
    SavedControls saved;
    Solution sol;
    serializeModel(r, fresh, version);
    serializeControls(r, saved);
    serializeSolution(r, sol);
    if (!r.atEnd()) raise(kErrFile, "'%.300s' has unexpected data after its end", file.c_str());
    ControlValues controls = restoredControls(saved, file);
    checkSolutionSizes(sol, fresh.rows.size(), fresh.cols.size(), file);
    try {
      loadStore(prob, std::move(fresh));   // validates before anything changes
    } catch (const Error &e) {
      raise(kErrFile, "'%.300s' holds an invalid problem: %s", file.c_str(), e.text.c_str());
    }
    prob->controls = std::move(controls);
    prob->outputlog.store(int(ctlInt(prob, KRVX_OUTPUTLOG)));
    prob->tunermethod = std::move(saved.tunermethod);
    prob->sol = std::move(sol);
  });
}
