// LP-format files: read through a scratch HiGHS instance, written by our own writer in the form
// HiGHS reads back. HiGHS's Hessian is the lower triangle of Q for
// the objective c'x + 1/2 x'Qx, the same scale as the store's triangle.
#include "io/readprob.h"

#include "interfaces/highs_c_api.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace krvx {
namespace {

// A HiGHS instance that logs into a string instead of the console.
struct ScratchHighs {
  void *h = Highs_create();
  std::string log;
  ScratchHighs() {
    Highs_setBoolOptionValue(h, "output_flag", 1);
    Highs_setBoolOptionValue(h, "log_to_console", 0);
    Highs_setCallback(h, &ScratchHighs::onLog, this);
    Highs_startCallback(h, kHighsCallbackLogging);
  }
  ~ScratchHighs() { Highs_destroy(h); }
  ScratchHighs(const ScratchHighs &) = delete;
  ScratchHighs &operator=(const ScratchHighs &) = delete;
  static void onLog(int type, const char *msg, const HighsCallbackDataOut *, HighsCallbackDataIn *, void *data) {
    if (type == kHighsCallbackLogging && msg) static_cast<ScratchHighs *>(data)->log += msg;
  }
  // The ERROR (or WARNING) lines of the log, joined, without their tags.
  std::string lines(const char *tag, const std::string &skipPath) const {
    std::string out;
    size_t pos = 0, tl = std::strlen(tag);
    while (pos < log.size()) {
      size_t e = log.find('\n', pos);
      if (e == std::string::npos) e = log.size();
      std::string ln = log.substr(pos, e - pos);
      pos = e + 1;
      if (ln.compare(0, tl, tag) != 0) continue;
      ln.erase(0, tl);
      ln.erase(0, ln.find_first_not_of(' '));
      if (!skipPath.empty() && ln.find(skipPath) != std::string::npos) continue;
      out += (out.empty() ? "" : "; ") + ln;
    }
    return out;
  }
};

double fromHighs(double v) {
  if (v >= kInf) return kInf;
  if (v <= -kInf) return -kInf;
  return v;
}

void rowFromBounds(Row &r, double lo, double up) {
  lo = fromHighs(lo);
  up = fromHighs(up);
  if (lo <= -kInf && up >= kInf) r.type = 'N';
  else if (lo == up) r.type = 'E', r.rhs = up;
  else if (lo <= -kInf) r.type = 'L', r.rhs = up;
  else if (up >= kInf) r.type = 'G', r.rhs = lo;
  else r.type = 'R', r.rhs = up, r.range = up - lo;
}

void fillNames(NameSpace &ns, std::vector<std::string> names) {
  ns.names = std::move(names);
}

// Names the LP reader takes back unchanged: a letter or '_' first, then letters, digits and a few
// symbols; no keyword of the format.
bool lpName(const std::string &n) {
  static const char *const keywords[] = {"free", "inf", "infinity", "st", "s.t.", "subject", "to", "end", "bound",
                                         "bounds", "gen", "general", "generals", "bin", "binary", "binaries", "semi",
                                         "semis", "semi-continuous", "min", "max", "minimize", "maximize", "minimise",
                                         "maximise", "minimum", "maximum", "such", "that", "sos"};
  if (n.empty() || n.size() > 255) return false;
  unsigned char c0 = static_cast<unsigned char>(n[0]);
  if (!std::isalpha(c0) && c0 != '_') return false;
  for (unsigned char c : n)
    if (c == 0 || (!std::isalnum(c) && !std::strchr("_.#()'{}|!\"$%&;?@~", c))) return false;
  std::string low(n);
  for (char &c : low) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char *k : keywords)
    if (low == k) return false;
  return true;
}

}  // namespace

// HiGHS picks the format by the extension: a file read as LP under another name is reached through
// a temporary link named .lp.
struct LpPath {
  std::string path, dir;
  explicit LpPath(const std::string &file) : path(file) {
    if (path.size() >= 3 && (path.compare(path.size() - 3, 3, ".lp") == 0 ||
                             (path.size() >= 6 && path.compare(path.size() - 6, 6, ".lp.gz") == 0)))
      return;
    char tmpl[] = "/tmp/krvx_lp_XXXXXX";
    char *real = realpath(file.c_str(), nullptr);
    if (real && mkdtemp(tmpl)) {
      dir = tmpl;
      std::string link = dir + "/model.lp";
      if (symlink(real, link.c_str()) == 0) path = link;
    }
    std::free(real);
  }
  ~LpPath() {
    if (dir.empty()) return;
    if (path != dir) unlink(path.c_str());
    rmdir(dir.c_str());
  }
  LpPath(const LpPath &) = delete;
  LpPath &operator=(const LpPath &) = delete;
};

bool readLpFile(const std::string &file, const std::string &shown, ko_prob_struct &out, ReadLog &log) {
  ScratchHighs s;
  LpPath lp(file);
  const std::string &path = lp.path;
  HighsInt st = Highs_readModel(s.h, path.c_str());
  if (st == kHighsStatusError) {
    std::string why = s.lines("ERROR:", path);
    log.error = shown + ": " + (why.empty() ? std::string("not a readable LP file") : why);
    return false;
  }
  if (st == kHighsStatusWarning) {
    std::string why = s.lines("WARNING:", "");
    if (!why.empty()) log.warnings.push_back(shown + ": " + why);
  }
  HighsInt nc = Highs_getNumCol(s.h), nr = Highs_getNumRow(s.h), nz = Highs_getNumNz(s.h);
  HighsInt qn = Highs_getHessianNumNz(s.h);
  const size_t snc = size_t(nc), snr = size_t(nr), snz = size_t(nz), sqn = size_t(qn);
  std::vector<double> cost(snc), cl(snc), cu(snc), rl(snr), ru(snr), av(snz), qv(sqn);
  std::vector<HighsInt> as(snc + 1), ai(snz), qs(snc + 1), qi(sqn), integ(snc);
  HighsInt ncol, nrow, nnz, qnz, sense;
  double offset = 0.0;
  if (Highs_getModel(s.h, kHighsMatrixFormatColwise, kHighsHessianFormatTriangular, &ncol, &nrow, &nnz, &qnz, &sense,
                     &offset, cost.data(), cl.data(), cu.data(), rl.data(), ru.data(), as.data(), ai.data(), av.data(),
                     qs.data(), qi.data(), qv.data(), integ.data()) == kHighsStatusError) {
    log.error = shown + ": the model read from the LP file cannot be taken over";
    return false;
  }
  as[size_t(nc)] = nz;
  qs[size_t(nc)] = qn;
  out.objsense = sense == kHighsObjSenseMaximize ? -1 : 1;
  out.objconst = offset;
  out.rows.assign(size_t(nr), Row{});
  for (HighsInt i = 0; i < nr; ++i) rowFromBounds(out.rows[size_t(i)], rl[size_t(i)], ru[size_t(i)]);
  out.cols.assign(size_t(nc), Column{});
  for (HighsInt j = 0; j < nc; ++j) {
    Column &c = out.cols[size_t(j)];
    c.cost = cost[size_t(j)];
    c.lb = fromHighs(cl[size_t(j)]);
    c.ub = fromHighs(cu[size_t(j)]);
    switch (integ[size_t(j)]) {
      case kHighsVarTypeInteger:
      case kHighsVarTypeImplicitInteger: c.type = (c.lb == 0.0 && c.ub == 1.0) ? 'B' : 'I'; break;
      case kHighsVarTypeSemiContinuous: c.type = 'S', c.limit = c.lb; break;
      case kHighsVarTypeSemiInteger: c.type = 'R', c.limit = c.lb; break;
      default: break;
    }
    for (HighsInt k = as[size_t(j)]; k < as[size_t(j) + 1]; ++k)
      if (av[size_t(k)] != 0.0) c.coefs.push_back(Entry{int(ai[size_t(k)]), av[size_t(k)]});
    std::sort(c.coefs.begin(), c.coefs.end(), [](const Entry &x, const Entry &y) { return x.index < y.index; });
    for (HighsInt k = qs[size_t(j)]; k < qs[size_t(j) + 1]; ++k)
      if (qv[size_t(k)] != 0.0) out.qobj.push_back(QTerm{int(j), int(qi[size_t(k)]), qv[size_t(k)]});
  }
  // HiGHS names unnamed rows HiGHS_R<i>: those stay unnamed here.
  std::vector<std::string> rn(snr), cn(snc);
  std::vector<char> buf(size_t(kHighsMaximumStringLength) + 1);
  for (HighsInt i = 0; i < nr; ++i) {
    if (Highs_getRowName(s.h, i, buf.data()) != kHighsStatusOk) continue;
    std::string n(buf.data());
    if (n != "HiGHS_R" + std::to_string(i)) rn[size_t(i)] = std::move(n);
  }
  for (HighsInt j = 0; j < nc; ++j)
    if (Highs_getColName(s.h, j, buf.data()) == kHighsStatusOk) cn[size_t(j)] = buf.data();
  fillNames(out.names[1], std::move(rn));
  fillNames(out.names[2], std::move(cn));
  return true;
}

bool writeLpFile(const ko_prob_struct &p, const std::string &path, std::string &error) {
  auto refuse = [&](const char *what) {
    error = std::string("the LP format cannot hold ") + what + "; write MPS instead";
    return false;
  };
  if (!p.sets.empty()) return refuse("special ordered sets");
  for (const Indicator &d : p.indicators)
    if (d.complement) return refuse("indicator constraints");
  for (const auto &q : p.qrows)
    if (!q.empty()) return refuse("quadratic constraints");
  if (!p.objectives.empty()) return refuse("several objectives");
  if (!p.pwls.empty() || !p.gencons.empty()) return refuse("piecewise-linear or general constraints");
  for (const Row &r : p.rows) {
    if (r.type == 'R') return refuse("ranged rows (they would come back as two rows)");
    if (r.type == 'N') return refuse("free rows");
  }
  for (const Column &c : p.cols) {
    if (c.type == 'R') return refuse("semi-integer columns");
    if (c.type == 'P') return refuse("partial integer columns");
  }
  size_t nc = p.cols.size(), nr = p.rows.size();
  if (nc == 0 && nr > 0) return refuse("rows without columns");
  std::vector<std::string> rn = fileNames(p, 1, nr), cn = fileNames(p, 2, nc);
  for (const auto *names : {&rn, &cn})
    for (const std::string &n : *names)
      if (!lpName(n)) {
        error = "name '" + n.substr(0, 64) + "' cannot be written in LP format; write MPS instead";
        return false;
      }
  std::string out;
  char nb[32];
  auto num = [&](double v) -> std::string_view {
    if (v >= kInf) v = 1e30;
    if (v <= -kInf) v = -1e30;
    auto r = std::to_chars(nb, nb + sizeof nb, v);
    return {nb, size_t(r.ptr - nb)};
  };
  size_t terms = 0;
  auto term = [&](double v, const std::string &a, const std::string *b = nullptr, bool square = false) {
    if (++terms % 8 == 0) out += "\n ";
    out += std::signbit(v) ? " - " : " + ";
    out += num(std::fabs(v));
    out += ' ';
    out += a;
    if (square) out += " ^ 2";
    if (b) out += " * " + *b;
  };
  out += "\\ written by libkrvx\n";
  out += p.objsense < 0 ? "Maximize\n " : "Minimize\n ";
  out += objectiveName(rn, "obj") + ":";
  // every column appears in the objective, so the reader keeps their order
  for (size_t j = 0; j < nc; ++j) term(p.cols[j].cost, cn[j]);
  std::vector<QTerm> q(p.qobj);
  for (QTerm &t : q)
    if (t.i > t.j) std::swap(t.i, t.j);
  std::sort(q.begin(), q.end(), [](const QTerm &x, const QTerm &y) { return x.i != y.i ? x.i < y.i : x.j < y.j; });
  bool open = false;
  for (size_t k = 0; k < q.size();) {
    double v = 0.0;
    size_t e = k;
    for (; e < q.size() && q[e].i == q[k].i && q[e].j == q[k].j; ++e) v += q[e].value;
    if (v != 0.0) {
      if (!open) out += " + [";
      open = true;
      const std::string &a = cn[size_t(q[k].i)], &b = cn[size_t(q[k].j)];
      if (q[k].i == q[k].j) term(v, a, nullptr, true);
      else term(2 * v, a, &b);
    }
    k = e;
  }
  if (open) out += " ] / 2";
  if (p.objconst != 0.0) {
    out += std::signbit(p.objconst) ? " - " : " + ";
    out += num(std::fabs(p.objconst));
  }
  out += "\nSubject To\n";
  // rows from the columns
  std::vector<size_t> start(nr + 1, 0);
  for (const Column &c : p.cols)
    for (const Entry &e : c.coefs) ++start[size_t(e.index) + 1];
  for (size_t i = 0; i < nr; ++i) start[i + 1] += start[i];
  std::vector<std::pair<size_t, double>> byRow(start[nr]);
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t j = 0; j < nc; ++j)
    for (const Entry &e : p.cols[j].coefs) byRow[fill[size_t(e.index)]++] = {j, e.value};
  for (size_t i = 0; i < nr; ++i) {
    out += ' ';
    out += rn[i];
    out += ':';
    terms = 0;
    if (start[i] == start[i + 1]) term(0.0, cn[0]);
    for (size_t k = start[i]; k < start[i + 1]; ++k) term(byRow[k].second, cn[byRow[k].first]);
    const Row &r = p.rows[i];
    out += r.type == 'L' ? " <= " : r.type == 'G' ? " >= " : " = ";
    out += num(r.rhs);
    out += '\n';
  }
  out += "Bounds\n";
  std::string gen, bin, semi;
  for (size_t j = 0; j < nc; ++j) {
    const Column &c = p.cols[j];
    const std::string &n = cn[j];
    double lb = c.lb, ub = c.ub;
    if (c.type == 'S' && c.limit != 0.0) lb = c.limit;
    if (c.type == 'B' && lb == 0.0 && ub == 1.0) {
      bin += " " + n + "\n";
      continue;
    }
    if (c.type == 'B' || c.type == 'I') gen += " " + n + "\n";
    if (c.type == 'S') semi += " " + n + "\n";
    if (lb <= -kInf && ub >= kInf) out += " " + n + " free\n";
    else if (lb == ub) out += " " + n + " = " + std::string(num(lb)) + "\n";
    else if (lb == 0.0 && ub >= kInf) continue;
    else if (ub >= kInf) out += " " + n + " >= " + std::string(num(lb)) + "\n";
    else out += " " + std::string(lb <= -kInf ? "-inf" : num(lb)) + " <= " + n + " <= " + std::string(num(ub)) + "\n";
  }
  if (!gen.empty()) out += "General\n" + gen;
  if (!bin.empty()) out += "Binary\n" + bin;
  if (!semi.empty()) out += "Semi-Continuous\n" + semi;
  out += "End\n";
  FILE *f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(out.data(), 1, out.size(), f) == out.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) error = "cannot write '" + path + "': " + std::strerror(errno ? errno : EIO);
  return ok;
}

}  // namespace krvx
