// Reports of the IIS search: KRVXiisstatus, KRVXgetiisdata, KRVXiisprint, KRVXiiswrite,
// KRVXiisisolations.
#include "analysis/iis.h"
#include "core/model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace krvx {
namespace {

// One reported member: a row-side member (rowind numbering) or a bound.
struct ReportedMember {
  bool rowside;
  int index;
  char letter;
  double mult;
  signed char isolation;
  int member;   // position in IisState::members
};

std::vector<ReportedMember> entriesOf(const IisState &st, const IisRecord &rec) {
  std::vector<ReportedMember> out;
  for (size_t k = 0; k < rec.members.size(); ++k) {
    const Member &m = st.members[size_t(rec.members[k])];
    char letter = m.letter;
    if (letter == 'R') letter = rec.mult[k] < 0 ? 'G' : 'L';
    out.push_back({m.rowside, m.report, letter, rec.mult[k], rec.isolation[k], rec.members[k]});
  }
  std::stable_sort(out.begin(), out.end(), [](const ReportedMember &a, const ReportedMember &b) {
    if (a.rowside != b.rowside) return a.rowside;
    return a.index < b.index;
  });
  // a repair's relaxation may report two of its members as one of the problem's
  out.erase(std::unique(out.begin(), out.end(),
                        [](const ReportedMember &a, const ReportedMember &b) {
                          return a.rowside == b.rowside && a.index == b.index && a.letter == b.letter;
                        }),
            out.end());
  return out;
}

size_t countRowSide(const std::vector<ReportedMember> &e) {
  return size_t(std::count_if(e.begin(), e.end(), [](const ReportedMember &x) { return x.rowside; }));
}

// Name, kind word and value of an entry in the problem's terms.
struct Described {
  std::string name, kind;
  double value = 0.0;
  bool hasValue = false;
};

Described describe(const ko_prob_struct &p, const ReportedMember &e) {
  Described d;
  const int64_t nrows = int64_t(p.rows.size()), nsets = int64_t(p.sets.size()), npwl = int64_t(p.pwls.size());
  if (e.rowside) {
    int64_t i = e.index;
    if (i < nrows) {
      const Row &r = p.rows[size_t(i)];
      d.name = objectName(p, 1, i);
      d.kind = "row";
      d.value = r.type == 'R' && e.letter == 'G' ? rowBottom(p, size_t(i)) : r.rhs;
      d.hasValue = true;
    } else if ((i -= nrows) < nsets) {
      d.name = objectName(p, 3, i);
      d.kind = "set";
    } else if ((i -= nsets) < npwl) {
      d.name = objectName(p, 4, i);
      d.kind = "pwl";
    } else {
      d.name = objectName(p, 5, i - npwl);
      d.kind = "gencons";
    }
    return d;
  }
  const Column &c = p.cols[size_t(e.index)];
  const double limit = colLimit(p, size_t(e.index));
  d.name = objectName(p, 2, e.index);
  d.kind = "bound";
  switch (e.letter) {
    case 'L': case 'F': d.value = c.lb; d.hasValue = true; break;
    case 'U': d.value = c.ub; d.hasValue = true; break;
    case 'S': case 'R': case 'P': d.value = limit; d.hasValue = limit != 0.0; break;
    default: break;
  }
  return d;
}

std::string csvField(const std::string &s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// The IIS as a problem: its members holding, free rows and columns it does not use removed.
void writeProblem(ko_prob_struct *p, const IisState &st, const IisRecord &rec, const std::string &path,
                  const std::string &flags) {
  std::string wflags;
  for (char f : flags) {
    if (f == 'l' || f == 'f') wflags += f;
    else if (f != 'p') raise(kErrInvalid, "unknown flag '%c' (known flags: l, f, p)", f >= 32 && f < 127 ? f : '?');
  }
  std::vector<char> keep(st.members.size(), 0);
  for (int m : rec.members) keep[size_t(m)] = 1;
  auto sub = restrictStore(*st.base, st.members, keep);
  std::vector<char> used(sub->cols.size(), 0);
  std::vector<int> freeRows;
  for (size_t i = 0; i < sub->rows.size(); ++i)
    if (sub->rows[i].type == 'N') freeRows.push_back(int(i));
  std::vector<char> freeRow(sub->rows.size(), 0);
  for (int i : freeRows) freeRow[size_t(i)] = 1;
  for (size_t j = 0; j < sub->cols.size(); ++j)
    for (const Entry e : sub->matrix.col(int(j)))
      if (!freeRow[size_t(e.index)]) used[j] = 1;
  for (size_t k = 0; k < st.members.size(); ++k)
    if (keep[k] && !st.members[k].rowside) used[size_t(st.members[k].index)] = 1;
  for (const Set &s : sub->sets)
    for (int j : s.cols) used[size_t(j)] = 1;
  for (const PwlCons &c : sub->pwls) used[size_t(c.col)] = used[size_t(c.resultant)] = 1;
  for (const GenCons &g : sub->gencons) {
    used[size_t(g.resultant)] = 1;
    for (int j : g.cols) used[size_t(j)] = 1;
  }
  for (size_t i = 0; i < sub->indicators.size(); ++i)
    if (sub->indicators[i].complement != 0 && sub->indicators[i].col >= 0) used[size_t(sub->indicators[i].col)] = 1;
  std::vector<int> unused;
  for (size_t j = 0; j < used.size(); ++j)
    if (!used[j]) unused.push_back(int(j));
  // the library's own deletions and writer, on a scratch problem
  KRVXprob scratch = nullptr;
  if (KRVXcreateprob(&scratch) != 0) raise(kErrMemory, "a scratch problem could not be created");
  std::unique_ptr<ko_prob_struct, int (*)(KRVXprob)> hold(scratch, KRVXdestroyprob);
  copyStore(*scratch, *sub);
  scratch->name = p->name;
  auto check = [&](int rc) {
    if (rc) raise(rc, "%s", scratch->lasterror.c_str());
  };
  check(KRVXdelrows_witharraysizes(scratch, int(freeRows.size()), freeRows.data(), int64_t(freeRows.size())));
  check(KRVXdelcols_witharraysizes(scratch, int(unused.size()), unused.data(), int64_t(unused.size())));
  check(KRVXwriteprob(scratch, path.c_str(), wflags.c_str()));
}

void writeCsv(const ko_prob_struct *p, const std::vector<ReportedMember> &entries, const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "w");
  if (!f) raise(kErrFile, "cannot write '%s': %s", path.c_str(), std::strerror(errno));
  std::fputs("name,kind,type,value,multiplier,isolation\n", f);
  for (const ReportedMember &e : entries) {
    const Described d = describe(*p, e);
    std::fprintf(f, "%s,%s,%c,%s,%s,%d\n", csvField(d.name).c_str(), d.kind.c_str(), e.letter,
                 d.hasValue ? number(d.value).c_str() : "", number(e.mult).c_str(), int(e.isolation));
  }
  const bool bad = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || bad) raise(kErrFile, "cannot write '%s'", path.c_str());
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXiisstatus_witharraysizes(KRVXprob prob, int *niis, int *rowsizes, int64_t rowsizes_n,
                                                      int *colsizes, int64_t colsizes_n, double *suminfeas,
                                                      int64_t suminfeas_n, int *numinfeas, int64_t numinfeas_n) {
  return guard(prob, "KRVXiisstatus", [&] {
    if (!niis) raise(kErrInvalid, "argument 'niis' is NULL");
    if (prob->solving.load()) raise(kErrBusy, "the problem is being solved or analysed");
    const IisState *st = prob->iis.get();
    const int64_t count = st ? int64_t(st->found.size()) : -1;
    const int64_t n = count + 1;
    checkOptional(rowsizes, rowsizes_n, n, "rowsizes");
    checkOptional(colsizes, colsizes_n, n, "colsizes");
    checkOptional(suminfeas, suminfeas_n, n, "suminfeas");
    checkOptional(numinfeas, numinfeas_n, n, "numinfeas");
    *niis = int(count);
    for (int64_t k = 0; k < n; ++k) {
      size_t rows = 0, bounds = 0;
      double sum = 0.0;
      int num = 0;
      if (k > 0 || st->hasInitial) {
        const IisRecord &rec = k == 0 ? st->initial : st->found[size_t(k - 1)];
        const std::vector<ReportedMember> e = entriesOf(*st, rec);
        rows = countRowSide(e);
        bounds = e.size() - rows;
        sum = rec.suminf;
        num = rec.numinf;
      }
      if (rowsizes_n) rowsizes[k] = int(rows);
      if (colsizes_n) colsizes[k] = int(bounds);
      if (suminfeas_n) suminfeas[k] = sum;
      if (numinfeas_n) numinfeas[k] = num;
    }
  });
}

extern "C" KRVX_API int KRVXgetiisdata_witharraysizes(KRVXprob prob, int num, int *nrows, int *ncols, int *rowind,
    int64_t rowind_n, int *colind, int64_t colind_n, char *contype, int64_t contype_n, char *bndtype,
    int64_t bndtype_n, double *duals, int64_t duals_n, double *djs, int64_t djs_n, signed char *isolationrows,
    int64_t isolationrows_n, signed char *isolationcols, int64_t isolationcols_n) {
  return guard(prob, "KRVXgetiisdata", [&] {
    if (!nrows || !ncols) raise(kErrInvalid, "arguments 'nrows' and 'ncols' must not be NULL");
    const IisRecord &rec = iisRecord(prob, num);
    const std::vector<ReportedMember> e = entriesOf(*prob->iis, rec);
    const int64_t nr = int64_t(countRowSide(e)), nc = int64_t(e.size()) - nr;
    checkOptional(rowind, rowind_n, nr, "rowind");
    checkOptional(contype, contype_n, nr, "contype");
    checkOptional(duals, duals_n, nr, "duals");
    checkOptional(isolationrows, isolationrows_n, nr, "isolationrows");
    checkOptional(colind, colind_n, nc, "colind");
    checkOptional(bndtype, bndtype_n, nc, "bndtype");
    checkOptional(djs, djs_n, nc, "djs");
    checkOptional(isolationcols, isolationcols_n, nc, "isolationcols");
    *nrows = int(nr);
    *ncols = int(nc);
    for (int64_t k = 0; k < nr; ++k) {
      const ReportedMember &x = e[size_t(k)];
      if (rowind_n) rowind[k] = x.index;
      if (contype_n) contype[k] = x.letter;
      if (duals_n) duals[k] = x.mult;
      if (isolationrows_n) isolationrows[k] = x.isolation;
    }
    for (int64_t k = 0; k < nc; ++k) {
      const ReportedMember &x = e[size_t(nr + k)];
      if (colind_n) colind[k] = x.index;
      if (bndtype_n) bndtype[k] = x.letter;
      if (djs_n) djs[k] = x.mult;
      if (isolationcols_n) isolationcols[k] = x.isolation;
    }
  });
}

extern "C" KRVX_API int KRVXiisprint(KRVXprob prob, int num) {
  std::vector<std::string> lines;
  const int rc = guard(prob, "KRVXiisprint", [&] {
    const IisRecord &rec = iisRecord(prob, num);
    const std::vector<ReportedMember> e = entriesOf(*prob->iis, rec);
    const size_t nr = countRowSide(e);
    char head[200];
    std::snprintf(head, sizeof head, "%s %d: %zu constraint(s), %zu bound(s); phase 1: %d violation(s), sum %.10g",
                  num == 0 ? "Initial infeasible subproblem, IIS" : "IIS", num, nr, e.size() - nr, rec.numinf,
                  rec.suminf);
    lines.push_back(head);
    for (const ReportedMember &x : e) {
      const Described d = describe(*prob, x);
      std::string line = "  " + d.kind + " " + d.name + " " + x.letter;
      if (d.hasValue) line += " " + number(d.value);
      if (x.mult != 0.0) line += "  multiplier " + number(x.mult);
      if (x.isolation >= 0) line += x.isolation ? "  in isolation" : "  not in isolation";
      lines.push_back(std::move(line));
    }
  });
  if (rc) return rc;
  // handlers run without the problem's lock held
  for (const std::string &l : lines) messageCode(prob, kMsgSolve, 1, "%s", l.c_str());
  return 0;
}

extern "C" KRVX_API int KRVXiiswrite(KRVXprob prob, int num, const char *filename, int filetype, const char *flags) {
  return guard(prob, "KRVXiiswrite", [&] {
    if (filetype != 0 && filetype != 1)
      raise(kErrInvalid, "invalid filetype %d (0 an LP or MPS problem file, 1 a CSV file)", filetype);
    const std::string fl = checkedString(flags, 64, "flags");
    const IisRecord &rec = iisRecord(prob, num);
    std::string path = checkedString(filename, 4096, "filename");
    if (path.empty()) {
      if (prob->name.empty()) raise(kErrInvalid, "no file name given and the problem has no name");
      const bool lp = fl.find('l') != std::string::npos;
      path = prob->name + "_iis" + std::to_string(num) + (filetype == 1 ? ".csv" : lp ? ".lp" : ".mps");
    }
    if (filetype == 1) {
      writeCsv(prob, entriesOf(*prob->iis, rec), path);
      return;
    }
    writeProblem(prob, *prob->iis, rec, path, fl);
  });
}

extern "C" KRVX_API int KRVXiisisolations(KRVXprob prob, int num) {
  return guard(prob, "KRVXiisisolations", [&] {
    if (num == 0) raise(kErrInvalid, "IIS 0 is the initial infeasible subproblem; isolations are computed for IISs 1 and up");
    IisRecord &rec = const_cast<IisRecord &>(iisRecord(prob, num));
    const IisState &st = *prob->iis;
    for (size_t k = 0; k < rec.members.size(); ++k) {
      bool other = false;
      for (size_t f = 0; f < st.found.size() && !other; ++f)
        if (int(f) + 1 != num)
          other = std::binary_search(st.found[f].members.begin(), st.found[f].members.end(), rec.members[k]);
      rec.isolation[k] = other ? 0 : 1;
    }
  });
}
