// The attribute table: counts computed from the store, solution values from p->sol.
#include "core/call_guard.h"
#include "core/controls.h"
#include "core/model.h"

#include <cstring>
#include <strings.h>

namespace krvx {
namespace {

int64_t countElems(const ko_prob_struct &p) {
  return p.matrix.nnz();
}

int64_t countEntities(const ko_prob_struct &p) {
  int64_t n = 0;
  for (const Column &c : p.cols) n += c.type != 'C';
  return n;
}

// Longest name of rows, columns and sets, default names included.
int64_t longestName(const ko_prob_struct &p) {
  size_t longest = 0;
  for (int kind = 1; kind <= 3; ++kind) {
    int64_t count = nameCount(p, kind);
    if (count > 0) longest = std::max(longest, objectName(p, kind, count - 1).size());
    const NameSpace &ns = p.names[kind];
    for (const std::string &n : ns.names) longest = std::max(longest, n.size());
  }
  return int64_t(longest);
}

struct AttribInfo {
  const char *name;
  int id;
  int type;
  int64_t (*intValue)(const ko_prob_struct &);
  double (*dblValue)(const ko_prob_struct &);
};

#define KRVX_INT(expr) [](const ko_prob_struct &p) -> int64_t { (void)p; return int64_t(expr); }, nullptr
#define KRVX_DBL(expr) nullptr, [](const ko_prob_struct &p) -> double { return double(expr); }

const AttribInfo kAttribs[] = {
    // rows and cols are those of the presolved problem while the problem is in presolved form
    {"rows", KRVX_ROWS, KRVX_TYPE_INT, KRVX_INT(p.presolved.active ? p.presolved.nrows : p.rows.size())},
    {"cols", KRVX_COLS, KRVX_TYPE_INT, KRVX_INT(p.presolved.active ? p.presolved.ncols : p.cols.size())},
    {"sparerows", KRVX_SPAREROWS, KRVX_TYPE_INT, KRVX_INT(0)},
    {"presolvestate", KRVX_PRESOLVESTATE, KRVX_TYPE_INT, KRVX_INT(p.presolved.active ? KRVX_PRESOLVED : 0)},
    {"namelength", KRVX_NAMELENGTH, KRVX_TYPE_INT, KRVX_INT(longestName(p))},
    {"originalrows", KRVX_ORIGINALROWS, KRVX_TYPE_INT, KRVX_INT(p.rows.size())},
    {"originalsets", KRVX_ORIGINALSETS, KRVX_TYPE_INT, KRVX_INT(p.sets.size())},
    {"originalcols", KRVX_ORIGINALCOLS, KRVX_TYPE_INT, KRVX_INT(p.cols.size())},
    {"pwlcons", KRVX_PWLCONS, KRVX_TYPE_INT, KRVX_INT(p.pwls.size())},
    {"gencons", KRVX_GENCONS, KRVX_TYPE_INT, KRVX_INT(p.gencons.size())},
    {"inputcols", KRVX_INPUTCOLS, KRVX_TYPE_INT, KRVX_INT(p.cols.size())},
    {"sets", KRVX_SETS, KRVX_TYPE_INT, KRVX_INT(p.sets.size())},
    {"elems", KRVX_ELEMS, KRVX_TYPE_INT64, KRVX_INT(countElems(p))},
    {"mipents", KRVX_MIPENTS, KRVX_TYPE_INT, KRVX_INT(countEntities(p))},
    {"lpstatus", KRVX_LPSTATUS, KRVX_TYPE_INT, KRVX_INT(p.sol.lpstatus)},
    {"mipstatus", KRVX_MIPSTATUS, KRVX_TYPE_INT, KRVX_INT(p.sol.mipstatus)},
    {"solvestatus", KRVX_SOLVESTATUS, KRVX_TYPE_INT, KRVX_INT(p.sol.solvestatus)},
    {"solstatus", KRVX_SOLSTATUS, KRVX_TYPE_INT, KRVX_INT(p.sol.solstatus)},
    {"simplexiter", KRVX_SIMPLEXITER, KRVX_TYPE_INT64, KRVX_INT(p.sol.simplexiter)},
    {"bariter", KRVX_BARITER, KRVX_TYPE_INT64, KRVX_INT(p.sol.bariter)},
    {"nodes", KRVX_NODES, KRVX_TYPE_INT64, KRVX_INT(p.sol.nodes)},
    {"stopstatus", KRVX_STOPSTATUS, KRVX_TYPE_INT, KRVX_INT(p.sol.stopstatus)},
    {"objval", KRVX_OBJVAL, KRVX_TYPE_DOUBLE, KRVX_DBL(p.sol.objval)},
    {"bestbound", KRVX_BESTBOUND, KRVX_TYPE_DOUBLE, KRVX_DBL(p.sol.bestbound)},
    {"time", KRVX_TIME, KRVX_TYPE_DOUBLE, KRVX_DBL(p.sol.time)},
    {"penaltyvalue", KRVX_PENALTYVALUE, KRVX_TYPE_DOUBLE, KRVX_DBL(p.sol.penaltyvalue)},
};
constexpr int kNumAttribs = int(sizeof kAttribs / sizeof kAttribs[0]);

#undef KRVX_INT
#undef KRVX_DBL

const AttribInfo &attrib(int id) {
  for (const AttribInfo &a : kAttribs)
    if (a.id == id) return a;
  raise(kErrInvalid, "Unknown attribute id %d", id);
}

const char *typeWord(int type) {
  return type == KRVX_TYPE_DOUBLE ? "a double" : type == KRVX_TYPE_STRING ? "a string" : "an integer";
}

int64_t intAttrib(const ko_prob_struct &p, int id) {
  const AttribInfo &a = attrib(id);
  if (!a.intValue) raise(kErrInvalid, "Attribute %d is %s attribute", id, typeWord(a.type));
  return a.intValue(p);
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXgetattribbyindex(int i, char *name, int *id, int *type) {
  return guardGlobal("KRVXgetattribbyindex", [&] {
    if (i < 0 || i >= kNumAttribs) raise(kErrInvalid, "index %d is beyond the %d attributes", i, kNumAttribs);
    writeTableEntry(name, id, type, kAttribs[i].name, kAttribs[i].id, kAttribs[i].type);
  });
}

extern "C" KRVX_API int KRVXgetattribinfo(KRVXprob prob, const char *name, int *id, int *type) {
  auto body = [&] {
    if (!name) raise(kErrInvalid, "argument 'name' is NULL");
    if (!id) raise(kErrInvalid, "argument 'id' is NULL");
    *id = -1;
    if (type) *type = KRVX_TYPE_NOTDEFINED;
    for (const AttribInfo &a : kAttribs)
      if (strcasecmp(a.name, name) == 0) {
        *id = a.id;
        if (type) *type = a.type;
      }
  };
  return prob ? guard(prob, "KRVXgetattribinfo", body) : guardGlobal("KRVXgetattribinfo", body);
}

extern "C" KRVX_API int KRVXgetintattrib(KRVXprob prob, int id, int *value) {
  return guard(prob, "KRVXgetintattrib", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    int64_t v = intAttrib(*prob, id);
    if (v < INT32_MIN || v > INT32_MAX)
      raise(kErrInvalid, "value %lld of attribute %d does not fit 32 bits; use KRVXgetintattrib64", (long long)v, id);
    *value = int(v);
  });
}

extern "C" KRVX_API int KRVXgetintattrib64(KRVXprob prob, int id, int64_t *value) {
  return guard(prob, "KRVXgetintattrib64", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    *value = intAttrib(*prob, id);
  });
}

extern "C" KRVX_API int KRVXgetdblattrib(KRVXprob prob, int id, double *value) {
  return guard(prob, "KRVXgetdblattrib", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    const AttribInfo &a = attrib(id);
    if (!a.dblValue) raise(kErrInvalid, "Attribute %d is %s attribute", id, typeWord(a.type));
    *value = a.dblValue(*prob);
  });
}

extern "C" KRVX_API int KRVXgetstrattrib(KRVXprob prob, int id, char *value, int maxbytes, int *nbytes) {
  return guard(prob, "KRVXgetstrattrib", [&] {
    (void)value;
    (void)maxbytes;
    (void)nbytes;
    const AttribInfo &a = attrib(id);
    raise(kErrInvalid, "Attribute %d is %s attribute", id, typeWord(a.type));
  });
}
