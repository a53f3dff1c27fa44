// The nonlinear layer's handle, attributes, formula store and user-function registry (KRVN calls),
// and the hooks through which the rest of the library keeps the formulas in step.
#include "nl/nl.h"
#include "core/modify.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace krvx {
namespace {

// Runs a KRVN call under the owning problem's lock (as guard() does for KRVX calls).
template <class F>
int nlGuard(tagKRVNproblem *nl, const char *fn, F &&body) noexcept {
  if (!nl) return failGlobal(kErrNoProblem, "%s: no nonlinear problem given", fn);
  return guard(nl->p, fn, std::forward<F>(body));
}

bool isObj(int row) { return row == KRVN_OBJROW; }

void checkRow(const ko_prob_struct *p, int row, bool objectiveAllowed) {
  if (objectiveAllowed && isObj(row)) return;
  if (row < 0 || size_t(row) >= p->rows.size())
    raise(kErrInvalid, "row %d is out of range (the problem has %zu rows%s)", row, p->rows.size(),
          objectiveAllowed ? "; -1 is the objective" : "");
}

std::string rowText(int row) { return isObj(row) ? std::string("the objective") : "row " + std::to_string(row); }

// The formula list of a row (created when asked with create), or null.
std::vector<Formula> *formulasOf(ko_prob_struct *p, int row, bool create) {
  if (isObj(row)) return &p->nlobj;
  if (size_t(row) >= p->nlrows.size()) {
    if (!create) return nullptr;
    p->nlrows.resize(p->rows.size());
  }
  return &p->nlrows[size_t(row)];
}

int normalCol(int col) { return col == -1 ? KRVN_NOCOL : col; }

bool usesColumn(const Formula &f, int col) {
  if (f.col == col) return true;
  for (size_t k = 0; k < f.type.size(); ++k)
    if (f.type[k] == KRVN_TOK_COL && int(f.value[k]) == col) return true;
  return false;
}

// The checks every formula passes before it is stored, whether added or restored: its own column
// and factor, then its tokens.
void validateFormula(const Formula &f, int64_t ncols, const UserFunctions &funcs, const std::string &where) {
  if (f.col != KRVN_NOCOL && (f.col < 0 || f.col >= ncols))
    raise(kErrInvalid, "%s: column %d is out of range (the problem has %lld columns; -1000 is none)", where.c_str(),
          f.col, (long long)ncols);
  if (!std::isfinite(f.factor) || isInf(f.factor)) raise(kErrInvalid, "%s: factor %g is not finite", where.c_str(), f.factor);
  nl::compile(f, ncols, funcs, where);
}

bool usesUserFunction(const Formula &f, int *number) {
  for (size_t k = 0; k < f.type.size(); ++k)
    if (f.type[k] == KRVN_TOK_UFUN) {
      *number = int(f.value[k]);
      return true;
    }
  return false;
}

// Calls each(row, formula) for every formula: rows in order, then the objective.
template <class P, class F>
void forEachFormula(P &p, F &&each) {
  for (size_t r = 0; r < p.nlrows.size(); ++r)
    for (auto &f : p.nlrows[r]) each(int(r), f);
  for (auto &f : p.nlobj) each(KRVN_OBJROW, f);
}

}  // namespace

void nlFree(ko_prob_struct *p) {
  delete p->nl;
  p->nl = nullptr;
}

void nlOnReplace(ko_prob_struct *p) {
  if (p->nl) p->nl->funcs.clear();
}

void nlValidateStore(const ko_prob_struct &s) {
  if (s.nlrows.size() > s.rows.size() || s.nlstatus.size() > s.rows.size())
    raise(kErrInvalid, "nonlinear formulas are given for %zu rows, the problem has %zu", s.nlrows.size(),
          s.rows.size());
  const UserFunctions none;
  forEachFormula(s, [&](int row, const Formula &f) {
    int number;
    if (usesUserFunction(f, &number))
      raise(kErrInvalid, "a formula of %s uses user function %d, which this problem does not have",
            rowText(row).c_str(), number);
    validateFormula(f, int64_t(s.cols.size()), none, "formula of " + rowText(row));
  });
}

void nlOnDeleteRows(ko_prob_struct *p, const std::vector<int> &map) {
  compact(p->nlrows, map);
  compact(p->nlstatus, map);
}

void nlOnDeleteCols(ko_prob_struct *p, const std::vector<int> &map) {
  auto refuse = [&](int row, int c) {
    if (c >= 0 && map[size_t(c)] < 0)
      raise(kErrInvalid, "column %d is used by a nonlinear formula of %s; remove the formula first", c,
            rowText(row).c_str());
  };
  forEachFormula(*p, [&](int row, const Formula &f) {
    refuse(row, f.col);
    for (size_t k = 0; k < f.type.size(); ++k)
      if (f.type[k] == KRVN_TOK_COL) refuse(row, int(f.value[k]));
  });
  forEachFormula(*p, [&](int, Formula &f) {
    if (f.col >= 0) f.col = map[size_t(f.col)];
    for (size_t k = 0; k < f.type.size(); ++k)
      if (f.type[k] == KRVN_TOK_COL) f.value[k] = map[size_t(f.value[k])];
  });
}

bool nlHasFormulas(const ko_prob_struct *p) {
  if (!p->nlobj.empty()) return true;
  for (const auto &r : p->nlrows)
    if (!r.empty()) return true;
  return false;
}

int nlUserFunctionNumber(const ko_prob_struct *p, const char *name) {
  if (!p->nl) return -1;
  const auto &funcs = p->nl->funcs;
  for (size_t k = 0; k < funcs.size(); ++k)
    if (funcs[k].name == name) return int(k) + 1;
  return -1;
}

void nlCheckSavable(const ko_prob_struct &p) {
  forEachFormula(p, [&](int row, const Formula &f) {
    int number;
    if (!usesUserFunction(f, &number)) return;
    const UserFunctions *funcs = p.nl ? &p.nl->funcs : nullptr;
    std::string name = funcs && number >= 1 && size_t(number) <= funcs->size() ? (*funcs)[size_t(number - 1)].name : "?";
    raise(kErrUnsupported,
          "cannot save the problem: a formula of %s uses the user function '%.100s', and user functions cannot be "
          "saved",
          rowText(row).c_str(), name.c_str());
  });
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXnlpcreateprob(KRVXprob prob, tagKRVNproblem **nlprob) {
  return guard(prob, "KRVXnlpcreateprob", [&] {
    if (!nlprob) raise(kErrInvalid, "argument 'nlprob' is NULL");
    if (!prob->nl) {
      prob->nl = new tagKRVNproblem;
      prob->nl->p = prob;
    }
    *nlprob = prob->nl;
  });
}

extern "C" KRVX_API int KRVNgetlasterror(tagKRVNproblem *nlprob, char *buf) {
  return KRVXgetlasterror(nlprob ? nlprob->p : nullptr, buf);
}

extern "C" KRVX_API int KRVNgetintattrib(tagKRVNproblem *nlprob, int id, int *value) {
  return nlGuard(nlprob, "KRVNgetintattrib", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    const ko_prob_struct *p = nlprob->p;
    switch (id) {
      case KRVN_NLPCOLS: *value = int(p->cols.size()); break;
      case KRVN_DEFAULTFORMULACOL: *value = -1; break;   // no default formula column
      case KRVN_FORMULAS: {
        size_t n = p->nlobj.size();
        for (const auto &r : p->nlrows) n += r.size();
        *value = int(n);
        break;
      }
      default: raise(kErrInvalid, "unknown nonlinear attribute id %d", id);
    }
  });
}

extern "C" KRVX_API int KRVNaddcoefs(tagKRVNproblem *nlprob, int nformulas, const int *rowind, const int *colind,
                                     const double *factor, const int *formulastart, int64_t ntokens, const int *type,
                                     const double *value) {
  return nlGuard(nlprob, "KRVNaddcoefs", [&] {
    ko_prob_struct *p = nlprob->p;
    requireIdle(p);
    if (nformulas < 0) raise(kErrInvalid, "argument 'nformulas' is negative (%d)", nformulas);
    if (ntokens < 0) raise(kErrInvalid, "argument 'ntokens' is negative (%lld)", (long long)ntokens);
    if (nformulas == 0) return;
    if (!rowind || !colind || !factor || !formulastart)
      raise(kErrInvalid, "arguments 'rowind', 'colind', 'factor' and 'formulastart' are required");
    if (ntokens > 0 && (!type || !value)) raise(kErrInvalid, "arguments 'type' and 'value' are required");
    std::vector<std::pair<int, Formula>> add;
    add.reserve(size_t(nformulas));
    for (int k = 0; k < nformulas; ++k) {
      int64_t a = formulastart[k], b = formulastart[k + 1];
      if (a < 0 || b < a || b > ntokens)
        raise(kErrInvalid, "formula %d: its tokens %lld..%lld are not inside 0..%lld (formulastart)", k,
              (long long)a, (long long)b, (long long)ntokens);
      checkRow(p, rowind[k], true);
      Formula f;
      f.col = normalCol(colind[k]);
      f.factor = factor[k];
      for (int64_t t = a; t < b; ++t) {
        if (type[t] == KRVN_TOK_SKIP) continue;
        f.type.push_back(type[t]);
        f.value.push_back(value[t]);
      }
      validateFormula(f, int64_t(p->cols.size()), nlprob->funcs, "formula " + std::to_string(k));
      add.emplace_back(rowind[k], std::move(f));
    }
    for (auto &rf : add) {
      formulasOf(p, rf.first, true)->push_back(std::move(rf.second));
      if (!isObj(rf.first)) {
        if (p->nlstatus.size() <= size_t(rf.first)) p->nlstatus.resize(p->rows.size(), 0);
        p->nlstatus[size_t(rf.first)] = 1;
      }
    }
    invalidate(p);
  });
}

extern "C" KRVX_API int KRVNgetcoefs(tagKRVNproblem *nlprob, int row, int *nformulas, int64_t *ntokens, int *rowind,
                                     int *colind, double *factor, int *formulastart, int maxformulas, int *type,
                                     double *value, int64_t maxtokens) {
  return nlGuard(nlprob, "KRVNgetcoefs", [&] {
    ko_prob_struct *p = nlprob->p;
    if (!nformulas || !ntokens) raise(kErrInvalid, "arguments 'nformulas' and 'ntokens' are required");
    if (row != KRVN_ALLROWS) checkRow(p, row, true);
    std::vector<std::pair<int, const Formula *>> list;
    if (row == KRVN_ALLROWS) {
      forEachFormula(*p, [&](int r, const Formula &f) { list.emplace_back(r, &f); });
    } else if (const std::vector<Formula> *own = formulasOf(p, row, false)) {
      for (const Formula &f : *own) list.emplace_back(row, &f);
    }
    int64_t nt = 0;
    for (const auto &rf : list) nt += int64_t(rf.second->type.size());
    *nformulas = int(list.size());
    *ntokens = nt;
    if (!rowind && !colind && !factor && !formulastart && !type && !value) return;
    if (maxformulas < int64_t(list.size()) && (rowind || colind || factor || formulastart))
      raise(kErrInvalid, "room for %d formulas given, there are %zu", maxformulas, list.size());
    if (maxtokens < nt && (type || value))
      raise(kErrInvalid, "room for %lld tokens given, there are %lld", (long long)maxtokens, (long long)nt);
    int64_t pos = 0;
    for (size_t k = 0; k < list.size(); ++k) {
      const Formula &f = *list[k].second;
      if (rowind) rowind[k] = list[k].first;
      if (colind) colind[k] = f.col;
      if (factor) factor[k] = f.factor;
      if (formulastart) formulastart[k] = int(pos);
      if (type) std::copy(f.type.begin(), f.type.end(), type + pos);
      if (value) std::copy(f.value.begin(), f.value.end(), value + pos);
      pos += int64_t(f.type.size());
    }
    if (formulastart) formulastart[list.size()] = int(pos);
  });
}

extern "C" KRVX_API int KRVNdelcoef(tagKRVNproblem *nlprob, int row, int col) {
  return nlGuard(nlprob, "KRVNdelcoef", [&] {
    ko_prob_struct *p = nlprob->p;
    requireIdle(p);
    checkRow(p, row, true);
    col = normalCol(col);
    std::vector<Formula> *list = formulasOf(p, row, false);
    size_t before = list ? list->size() : 0;
    if (list) list->erase(std::remove_if(list->begin(), list->end(), [&](const Formula &f) { return f.col == col; }),
                          list->end());
    if (!list || list->size() == before)
      raise(kErrInvalid, "%s has no nonlinear coefficient for column %d", rowText(row).c_str(), col);
    invalidate(p);
  });
}

extern "C" KRVX_API int KRVNdelrowcoefs(tagKRVNproblem *nlprob, int row) {
  return nlGuard(nlprob, "KRVNdelrowcoefs", [&] {
    ko_prob_struct *p = nlprob->p;
    requireIdle(p);
    checkRow(p, row, true);
    std::vector<Formula> *list = formulasOf(p, row, false);
    if (list && !list->empty()) {
      list->clear();
      invalidate(p);
    }
  });
}

extern "C" KRVX_API int KRVNgetrowstatus(tagKRVNproblem *nlprob, int row, int *status) {
  return nlGuard(nlprob, "KRVNgetrowstatus", [&] {
    if (!status) raise(kErrInvalid, "argument 'status' is NULL");
    const ko_prob_struct *p = nlprob->p;
    checkRow(p, row, false);
    *status = size_t(row) < p->nlstatus.size() ? p->nlstatus[size_t(row)] : 0;
  });
}

extern "C" KRVX_API int KRVNsetrowstatus(tagKRVNproblem *nlprob, int row, int status) {
  return nlGuard(nlprob, "KRVNsetrowstatus", [&] {
    ko_prob_struct *p = nlprob->p;
    requireIdle(p);
    checkRow(p, row, false);
    if (status != 0 && status != 1) raise(kErrInvalid, "status %d is not 0 or 1", status);
    std::vector<Formula> *list = formulasOf(p, row, false);
    if (status == 0 && list && !list->empty())
      raise(kErrInvalid, "row %d still has %zu nonlinear formulas; delete them first", row, list->size());
    if (p->nlstatus.size() <= size_t(row)) {
      if (status == 0) return;
      p->nlstatus.resize(p->rows.size(), 0);
    }
    p->nlstatus[size_t(row)] = char(status);
  });
}

extern "C" KRVX_API int KRVNresetcol(tagKRVNproblem *nlprob, int col) {
  return nlGuard(nlprob, "KRVNresetcol", [&] {
    ko_prob_struct *p = nlprob->p;
    requireIdle(p);
    if (col < 0 || size_t(col) >= p->cols.size())
      raise(kErrInvalid, "column %d is out of range (the problem has %zu columns)", col, p->cols.size());
    bool changed = false;
    auto drop = [&](std::vector<Formula> &list) {
      size_t before = list.size();
      list.erase(std::remove_if(list.begin(), list.end(), [&](const Formula &f) { return usesColumn(f, col); }),
                 list.end());
      changed = changed || list.size() != before;
    };
    for (auto &r : p->nlrows) drop(r);
    drop(p->nlobj);
    if (changed) invalidate(p);
  });
}

extern "C" KRVX_API int KRVNadduserfunction(tagKRVNproblem *nlprob, const char *name, int functype, int nargs,
                                            int nresults, int options, void *func, void *userdata, int *funcnumber) {
  return nlGuard(nlprob, "KRVNadduserfunction", [&] {
    if (!name) raise(kErrInvalid, "argument 'name' is NULL");
    if (!func) raise(kErrInvalid, "argument 'func' is NULL");
    if (!funcnumber) raise(kErrInvalid, "argument 'funcnumber' is NULL");
    if (std::strlen(name) > 63) raise(kErrInvalid, "the function name '%.63s...' is longer than 63 bytes", name);
    if (functype != KRVN_FUNCTYPE_VALUE && functype != KRVN_FUNCTYPE_DERIVS)
      raise(kErrInvalid, "function type %d is not supported (2: value only, 5: value and partials)", functype);
    if (nargs < 1 || nargs > 1000000) raise(kErrInvalid, "argument count %d must be between 1 and 1000000", nargs);
    if (nresults != 1) raise(kErrInvalid, "result count %d is not supported (1 only)", nresults);
    if (options != 0) raise(kErrInvalid, "options %d are not supported (0 only)", options);
    tagKRVNproblem::UserFunction u;
    u.name = name;
    u.functype = functype;
    u.nargs = nargs;
    u.func = func;
    u.userdata = userdata;
    nlprob->funcs.push_back(std::move(u));
    *funcnumber = int(nlprob->funcs.size());
  });
}
