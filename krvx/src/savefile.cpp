// KRVXsaveas / KRVXrestore: the whole store, the controls set on the problem and the solution in
// an own binary file (".svf"). Numbers are written little-endian, doubles as their raw bits, so a
// restore gives back exactly what was saved.
//
// Layout: magic "KRVXSVF\n", u32 version, u64 payload length, payload, u64 FNV-1a hash of the payload.
#include "api.h"
#include "controls.h"
#include "model.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

namespace krvx {
namespace {

constexpr char kMagic[8] = {'K', 'R', 'V', 'X', 'S', 'V', 'F', '\n'};
constexpr uint32_t kVersion = 1;

uint64_t fnv1a(const std::string &data) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
  return h;
}

class Writer {
 public:
  std::string out;
  void u64(uint64_t v) {
    for (int k = 0; k < 8; ++k) out.push_back(char(v >> (8 * k)));
  }
  void u32(uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(char(v >> (8 * k)));
  }
  void i32(int v) { u32(uint32_t(v)); }
  void i64(int64_t v) { u64(uint64_t(v)); }
  void f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    u64(bits);
  }
  void ch(char c) { out.push_back(c); }
  void str(const std::string &s) {
    u64(s.size());
    out += s;
  }
  void count(size_t n) { u64(n); }
  template <class T, class F>
  void vec(const std::vector<T> &v, F &&each) {
    count(v.size());
    for (const T &x : v) each(x);
  }
  void dbls(const std::vector<double> &v) { vec(v, [&](double x) { f64(x); }); }
  void ints(const std::vector<int> &v) { vec(v, [&](int x) { i32(x); }); }
  void chars(const std::vector<char> &v) { vec(v, [&](char x) { ch(x); }); }
  void entries(const std::vector<Entry> &v) {
    vec(v, [&](const Entry &e) {
      i32(e.index);
      f64(e.value);
    });
  }
  void terms(const std::vector<QTerm> &v) {
    vec(v, [&](const QTerm &t) {
      i32(t.i);
      i32(t.j);
      f64(t.value);
    });
  }
};

class Reader {
 public:
  Reader(const std::string &data, const std::string &file) : d_(data), file_(file) {}
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
  int i32() { return int(u32()); }
  int64_t i64() { return int64_t(u64()); }
  double f64() {
    uint64_t bits = u64();
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
  }
  char ch() {
    need(1);
    return d_[pos_++];
  }
  std::string str() {
    size_t n = count(1);
    std::string s = d_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  // An element count, checked against the bytes left (each element takes at least minBytes).
  size_t count(size_t minBytes) {
    uint64_t n = u64();
    if (n > (d_.size() - pos_) / std::max<size_t>(minBytes, 1)) truncated();
    return size_t(n);
  }
  template <class T, class F>
  void vec(std::vector<T> &v, size_t minBytes, F &&each) {
    size_t n = count(minBytes);
    v.clear();
    v.reserve(n);
    for (size_t k = 0; k < n; ++k) v.push_back(each());
  }
  void dbls(std::vector<double> &v) { vec(v, 8, [&] { return f64(); }); }
  void ints(std::vector<int> &v) { vec(v, 4, [&] { return i32(); }); }
  void chars(std::vector<char> &v) { vec(v, 1, [&] { return ch(); }); }
  void entries(std::vector<Entry> &v) {
    vec(v, 12, [&] {
      Entry e;
      e.index = i32();
      e.value = f64();
      return e;
    });
  }
  void terms(std::vector<QTerm> &v) {
    vec(v, 16, [&] {
      QTerm t;
      t.i = i32();
      t.j = i32();
      t.value = f64();
      return t;
    });
  }
  bool atEnd() const { return pos_ == d_.size(); }
  [[noreturn]] void truncated() { raise(kErrFile, "'%.300s' is truncated", file_.c_str()); }

 private:
  void need(size_t n) {
    if (d_.size() - pos_ < n) truncated();
  }
  const std::string &d_;
  const std::string &file_;
  size_t pos_ = 0;
};

// ---- the store, field by field (save and restore keep the same order) ----

void writeModel(Writer &w, const ko_prob_struct &p) {
  w.str(p.name);
  w.i32(p.objsense);
  w.f64(p.objconst);
  w.vec(p.rows, [&](const Row &r) {
    w.ch(r.type);
    w.f64(r.rhs);
    w.f64(r.range);
  });
  w.vec(p.cols, [&](const Column &c) {
    w.f64(c.cost);
    w.f64(c.lb);
    w.f64(c.ub);
    w.ch(c.type);
    w.f64(c.limit);
    w.entries(c.coefs);
  });
  w.terms(p.qobj);
  w.vec(p.qrows, [&](const std::vector<QTerm> &q) { w.terms(q); });
  w.vec(p.sets, [&](const Set &s) {
    w.ch(s.type);
    w.ints(s.cols);
    w.dbls(s.weights);
  });
  w.vec(p.objectives, [&](const Objective &o) {
    w.entries(o.coefs);
    w.i32(o.priority);
    w.f64(o.weight);
    w.f64(o.abstol);
    w.f64(o.reltol);
  });
  w.vec(p.indicators, [&](const Indicator &ind) {
    w.i32(ind.col);
    w.i32(ind.complement);
  });
  w.vec(p.pwls, [&](const PwlCons &c) {
    w.i32(c.col);
    w.i32(c.resultant);
    w.dbls(c.x);
    w.dbls(c.y);
  });
  w.vec(p.gencons, [&](const GenCons &g) {
    w.i32(g.type);
    w.i32(g.resultant);
    w.ints(g.cols);
    w.dbls(g.vals);
  });
  w.chars(p.modelcut);
  w.chars(p.delayed);
  w.ints(p.rowscale);
  w.ints(p.colscale);
  for (int kind = 1; kind <= 6; ++kind) w.vec(p.names[kind].names, [&](const std::string &n) { w.str(n); });
}

void readModel(Reader &r, ko_prob_struct &p) {
  p.name = r.str();
  p.objsense = r.i32();
  p.objconst = r.f64();
  r.vec(p.rows, 17, [&] {
    Row row;
    row.type = r.ch();
    row.rhs = r.f64();
    row.range = r.f64();
    return row;
  });
  r.vec(p.cols, 41, [&] {
    Column c;
    c.cost = r.f64();
    c.lb = r.f64();
    c.ub = r.f64();
    c.type = r.ch();
    c.limit = r.f64();
    r.entries(c.coefs);
    return c;
  });
  r.terms(p.qobj);
  r.vec(p.qrows, 8, [&] {
    std::vector<QTerm> q;
    r.terms(q);
    return q;
  });
  r.vec(p.sets, 17, [&] {
    Set s;
    s.type = r.ch();
    r.ints(s.cols);
    r.dbls(s.weights);
    return s;
  });
  r.vec(p.objectives, 36, [&] {
    Objective o;
    r.entries(o.coefs);
    o.priority = r.i32();
    o.weight = r.f64();
    o.abstol = r.f64();
    o.reltol = r.f64();
    return o;
  });
  r.vec(p.indicators, 8, [&] {
    Indicator ind;
    ind.col = r.i32();
    ind.complement = r.i32();
    return ind;
  });
  r.vec(p.pwls, 24, [&] {
    PwlCons c;
    c.col = r.i32();
    c.resultant = r.i32();
    r.dbls(c.x);
    r.dbls(c.y);
    return c;
  });
  r.vec(p.gencons, 24, [&] {
    GenCons g;
    g.type = r.i32();
    g.resultant = r.i32();
    r.ints(g.cols);
    r.dbls(g.vals);
    return g;
  });
  r.chars(p.modelcut);
  r.chars(p.delayed);
  r.ints(p.rowscale);
  r.ints(p.colscale);
  for (int kind = 1; kind <= 6; ++kind) r.vec(p.names[kind].names, 8, [&] { return r.str(); });
}

void writeControls(Writer &w, const ko_prob_struct &p) {
  // sorted by id so that equal problems give equal files
  std::map<int, int64_t> ints(p.controls.ints.begin(), p.controls.ints.end());
  std::map<int, double> dbls(p.controls.dbls.begin(), p.controls.dbls.end());
  std::map<int, std::string> strs(p.controls.strs.begin(), p.controls.strs.end());
  w.count(ints.size());
  for (auto &kv : ints) {
    w.i32(kv.first);
    w.i64(kv.second);
  }
  w.count(dbls.size());
  for (auto &kv : dbls) {
    w.i32(kv.first);
    w.f64(kv.second);
  }
  w.count(strs.size());
  for (auto &kv : strs) {
    w.i32(kv.first);
    w.str(kv.second);
  }
  w.str(p.tunermethod);
}

// A saved control must be one this library knows, of the same type and inside its range.
void checkSavedControl(int id, int type, double value, const std::string &file) {
  const ControlInfo *c = findControl(id);
  bool intType = type == KRVX_TYPE_INT || type == KRVX_TYPE_INT64;
  bool sameKind = c && (intType ? (c->type == KRVX_TYPE_INT || c->type == KRVX_TYPE_INT64) : c->type == type);
  if (!sameKind) raise(kErrFile, "'%.300s' holds a value for control %d, which is not a control of that type", file.c_str(), id);
  if (type != KRVX_TYPE_STRING && !(value >= c->min && value <= c->max))
    raise(kErrFile, "'%.300s' holds the value %g for control '%s', outside its range", file.c_str(), value, c->name);
}

void readControls(Reader &r, ControlValues &cv, std::string &tunermethod, const std::string &file) {
  for (size_t n = r.count(12); n > 0; --n) {
    int id = r.i32();
    int64_t v = r.i64();
    checkSavedControl(id, KRVX_TYPE_INT, double(v), file);
    cv.ints[id] = v;
  }
  for (size_t n = r.count(12); n > 0; --n) {
    int id = r.i32();
    double v = r.f64();
    checkSavedControl(id, KRVX_TYPE_DOUBLE, v, file);
    cv.dbls[id] = v;
  }
  for (size_t n = r.count(12); n > 0; --n) {
    int id = r.i32();
    std::string v = r.str();
    checkSavedControl(id, KRVX_TYPE_STRING, 0, file);
    cv.strs[id] = v;
  }
  tunermethod = r.str();
}

void writeSolution(Writer &w, const Solution &s) {
  for (int v : {s.solvestatus, s.solstatus, s.lpstatus, s.mipstatus, s.stopstatus}) w.i32(v);
  w.f64(s.objval);
  w.f64(s.bestbound);
  w.i64(s.simplexiter);
  w.i64(s.bariter);
  w.i64(s.nodes);
  w.f64(s.time);
  w.ch(s.has_x);
  w.ch(s.has_duals);
  for (const auto *v : {&s.x, &s.slack, &s.duals, &s.djs}) w.dbls(*v);
  w.ints(s.colstat);
  w.ints(s.rowstat);
}

void readSolution(Reader &r, Solution &s, size_t nrows, size_t ncols, const std::string &file) {
  for (int *v : {&s.solvestatus, &s.solstatus, &s.lpstatus, &s.mipstatus, &s.stopstatus}) *v = r.i32();
  s.objval = r.f64();
  s.bestbound = r.f64();
  s.simplexiter = r.i64();
  s.bariter = r.i64();
  s.nodes = r.i64();
  s.time = r.f64();
  s.has_x = r.ch() != 0;
  s.has_duals = r.ch() != 0;
  for (auto *v : {&s.x, &s.slack, &s.duals, &s.djs}) r.dbls(*v);
  r.ints(s.colstat);
  r.ints(s.rowstat);
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
    Writer body;
    writeModel(body, *prob);
    writeControls(body, *prob);
    writeSolution(body, prob->sol);
    Writer w;
    w.out.append(kMagic, sizeof kMagic);
    w.u32(kVersion);
    w.u64(body.out.size());
    w.out += body.out;
    w.u64(fnv1a(body.out));
    // written beside the target, then renamed over it: a failed save leaves an older file intact
    std::string tmp = file + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) raise(kErrFile, "cannot write '%.300s': %s", file.c_str(), std::strerror(errno));
    bool ok = std::fwrite(w.out.data(), 1, w.out.size(), f) == w.out.size();
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
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) raise(kErrFile, "cannot read '%.300s'", file.c_str());

    Reader head(data, file);
    if (data.size() < sizeof kMagic || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0)
      raise(kErrFile, "'%.300s' is not a saved problem (bad header)", file.c_str());
    for (size_t k = 0; k < sizeof kMagic; ++k) head.ch();
    uint32_t version = head.u32();
    if (version != kVersion)
      raise(kErrFile, "'%.300s' has format version %u, this library reads %u", file.c_str(), version, kVersion);
    uint64_t length = head.u64();
    const size_t headerSize = sizeof kMagic + 12;
    if (length > data.size() - headerSize || data.size() - headerSize - length < 8) head.truncated();
    if (data.size() - headerSize - length > 8)
      raise(kErrFile, "'%.300s' has unexpected data after its end", file.c_str());
    std::string body = data.substr(headerSize, size_t(length));
    std::string trailer = data.substr(headerSize + size_t(length));
    Reader tail(trailer, file);
    if (tail.u64() != fnv1a(body)) raise(kErrFile, "'%.300s' is damaged (checksum mismatch)", file.c_str());

    Reader r(body, file);
    ko_prob_struct fresh;
    ControlValues controls;
    std::string tunermethod;
    Solution sol;
    readModel(r, fresh);
    readControls(r, controls, tunermethod, file);
    readSolution(r, sol, fresh.rows.size(), fresh.cols.size(), file);
    if (!r.atEnd()) raise(kErrFile, "'%.300s' has unexpected data after its end", file.c_str());
    try {
      loadStore(prob, std::move(fresh));   // validates before anything changes
    } catch (const Error &e) {
      raise(kErrFile, "'%.300s' holds an invalid problem: %s", file.c_str(), e.text.c_str());
    }
    prob->controls = std::move(controls);
    prob->outputlog.store(int(ctlInt(prob, KRVX_OUTPUTLOG)));
    prob->tunermethod = std::move(tunermethod);
    prob->sol = std::move(sol);
  });
}
