// The control table and the KRVX control calls.
#include "core/controls.h"

#include "core/call_guard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include <cstring>
#include <strings.h>

namespace krvx {
namespace {

constexpr double kIntMax = 2147483647.0;
constexpr double kHuge = HUGE_VAL;

const ControlInfo kControls[] = {
    {"lpiterlimit", KRVX_LPITERLIMIT, KRVX_TYPE_INT, kIntMax, 0, kIntMax, nullptr},
    {"maxnode", KRVX_MAXNODE, KRVX_TYPE_INT, kIntMax, 0, kIntMax, nullptr},
    {"threads", KRVX_THREADS, KRVX_TYPE_INT, 0, 0, 1024, nullptr},   // 0 automatic
    {"presolve", KRVX_PRESOLVE, KRVX_TYPE_INT, 1, 0, 1, nullptr},
    {"outputlog", KRVX_OUTPUTLOG, KRVX_TYPE_INT, 1, 0, 1, nullptr},
    {"maxiis", KRVX_MAXIIS, KRVX_TYPE_INT, -1, -1, kIntMax, nullptr},
    {"defaultalg", KRVX_DEFAULTALG, KRVX_TYPE_INT, 1, 1, 5, nullptr},
    {"timelimit", KRVX_TIMELIMIT, KRVX_TYPE_DOUBLE, 0, -kHuge, kHuge, nullptr},
    {"miprelstop", KRVX_MIPRELSTOP, KRVX_TYPE_DOUBLE, 1e-4, 0, kHuge, nullptr},
    {"mipabsstop", KRVX_MIPABSSTOP, KRVX_TYPE_DOUBLE, 1e-6, 0, kHuge, nullptr},
    {"feastol", KRVX_FEASTOL, KRVX_TYPE_DOUBLE, 1e-6, 1e-10, 1, nullptr},
    {"optimalitytol", KRVX_OPTIMALITYTOL, KRVX_TYPE_DOUBLE, 1e-7, 1e-10, 1, nullptr},
    {"miptol", KRVX_MIPTOL, KRVX_TYPE_DOUBLE, 5e-6, 0, 0.5, nullptr},
};
constexpr int kNumControls = int(sizeof kControls / sizeof kControls[0]);

const char *typeWord(int type) {
  switch (type) {
    case KRVX_TYPE_INT: return "an integer";
    case KRVX_TYPE_INT64: return "a 64-bit integer";
    case KRVX_TYPE_DOUBLE: return "a double";
    case KRVX_TYPE_STRING: return "a string";
    default: return "an undefined";
  }
}

const ControlInfo &known(int id) {
  const ControlInfo *c = findControl(id);
  if (!c) raise(kErrInvalid, "Unknown control id %d", id);
  return *c;
}

bool isIntType(int type) { return type == KRVX_TYPE_INT || type == KRVX_TYPE_INT64; }

// The control's entry, checked against the kind of access (integer, double or string).
const ControlInfo &typed(int id, int want) {
  const ControlInfo &c = known(id);
  bool ok = want == KRVX_TYPE_INT ? isIntType(c.type) : c.type == want;
  if (!ok) raise(kErrInvalid, "Control %d is %s control", id, typeWord(c.type));
  return c;
}

void setInt(ko_prob_struct *p, int id, int64_t v) {
  const ControlInfo &c = typed(id, KRVX_TYPE_INT);
  if (double(v) < c.min || double(v) > c.max)
    raise(kErrInvalid, "Value %lld out of range for control '%s' (%.0f..%.0f)", (long long)v, c.name, c.min, c.max);
  p->controls.ints[id] = v;
  if (id == KRVX_OUTPUTLOG) p->outputlog.store(int(v));
}

void syncOutputLog(ko_prob_struct *p) { p->outputlog.store(int(ctlInt(p, KRVX_OUTPUTLOG))); }

}  // namespace

const ControlInfo *findControl(int id) {
  for (const ControlInfo &c : kControls)
    if (c.id == id) return &c;
  return nullptr;
}

const ControlInfo *findControl(const char *name) {
  for (const ControlInfo &c : kControls)
    if (strcasecmp(c.name, name) == 0) return &c;
  return nullptr;
}

int64_t ctlInt(const ko_prob_struct *p, int id) {
  const ControlInfo &c = typed(id, KRVX_TYPE_INT);
  auto it = p->controls.ints.find(id);
  return it != p->controls.ints.end() ? it->second : int64_t(c.def);
}

double ctlDbl(const ko_prob_struct *p, int id) {
  const ControlInfo &c = typed(id, KRVX_TYPE_DOUBLE);
  auto it = p->controls.dbls.find(id);
  return it != p->controls.dbls.end() ? it->second : c.def;
}

std::string ctlStr(const ko_prob_struct *p, int id) {
  const ControlInfo &c = typed(id, KRVX_TYPE_STRING);
  auto it = p->controls.strs.find(id);
  return it != p->controls.strs.end() ? it->second : std::string(c.sdef ? c.sdef : "");
}

// Table enumeration shared with the attribute table (attributes.cpp).
void writeTableEntry(char *name, int *id, int *type, const char *ename, int eid, int etype) {
  if (name) {
    std::strncpy(name, ename, 63);
    name[63] = '\0';
  }
  if (id) *id = eid;
  if (type) *type = etype;
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXgetcontrolbyindex(int i, char *name, int *id, int *type) {
  return guardGlobal("KRVXgetcontrolbyindex", [&] {
    if (i < 0 || i >= kNumControls) raise(kErrInvalid, "index %d is beyond the %d controls", i, kNumControls);
    writeTableEntry(name, id, type, kControls[i].name, kControls[i].id, kControls[i].type);
  });
}

extern "C" KRVX_API int KRVXgetcontrolinfo(KRVXprob prob, const char *name, int *id, int *type) {
  auto body = [&] {
    if (!name) raise(kErrInvalid, "argument 'name' is NULL");
    if (!id) raise(kErrInvalid, "argument 'id' is NULL");
    const ControlInfo *c = findControl(name);
    *id = c ? c->id : -1;
    if (type) *type = c ? c->type : KRVX_TYPE_NOTDEFINED;
  };
  return prob ? guard(prob, "KRVXgetcontrolinfo", body) : guardGlobal("KRVXgetcontrolinfo", body);
}

extern "C" KRVX_API int KRVXsetintcontrol(KRVXprob prob, int id, int value) {
  return guard(prob, "KRVXsetintcontrol", [&] { setInt(prob, id, value); });
}

extern "C" KRVX_API int KRVXsetintcontrol64(KRVXprob prob, int id, int64_t value) {
  return guard(prob, "KRVXsetintcontrol64", [&] { setInt(prob, id, value); });
}

extern "C" KRVX_API int KRVXsetdblcontrol(KRVXprob prob, int id, double value) {
  return guard(prob, "KRVXsetdblcontrol", [&] {
    const ControlInfo &c = typed(id, KRVX_TYPE_DOUBLE);
    if (std::isnan(value) || value < c.min || value > c.max)
      raise(kErrInvalid, "Value %g out of range for control '%s' (%g..%g)", value, c.name, c.min, c.max);
    prob->controls.dbls[id] = value;
  });
}

extern "C" KRVX_API int KRVXsetstrcontrol(KRVXprob prob, int id, const char *value) {
  return guard(prob, "KRVXsetstrcontrol", [&] {
    typed(id, KRVX_TYPE_STRING);
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    prob->controls.strs[id] = checkedString(value, KRVX_MAXPROBNAMELENGTH, "value");
  });
}

extern "C" KRVX_API int KRVXgetintcontrol(KRVXprob prob, int id, int *value) {
  return guard(prob, "KRVXgetintcontrol", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    int64_t v = ctlInt(prob, id);
    if (v < INT32_MIN || v > INT32_MAX)
      raise(kErrInvalid, "value of control %d does not fit 32 bits; use KRVXgetintcontrol64", id);
    *value = int(v);
  });
}

extern "C" KRVX_API int KRVXgetintcontrol64(KRVXprob prob, int id, int64_t *value) {
  return guard(prob, "KRVXgetintcontrol64", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    *value = ctlInt(prob, id);
  });
}

extern "C" KRVX_API int KRVXgetdblcontrol(KRVXprob prob, int id, double *value) {
  return guard(prob, "KRVXgetdblcontrol", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    *value = ctlDbl(prob, id);
  });
}

extern "C" KRVX_API int KRVXgetstrcontrol(KRVXprob prob, int id, char *value, int maxbytes, int *nbytes) {
  return guard(prob, "KRVXgetstrcontrol", [&] {
    std::string v = ctlStr(prob, id);
    if (!value && !nbytes) raise(kErrInvalid, "arguments 'value' and 'nbytes' are both NULL");
    if (value && maxbytes <= 0) raise(kErrInvalid, "argument 'maxbytes' is %d", maxbytes);
    if (nbytes) *nbytes = int(v.size()) + 1;   // the size needed; a shorter buffer gets a cut, terminated text
    if (!value) return;
    size_t n = std::min(v.size(), size_t(maxbytes) - 1);
    std::memcpy(value, v.data(), n);
    value[n] = '\0';
  });
}

extern "C" KRVX_API int KRVXsetdefaultcontrol(KRVXprob prob, int id) {
  return guard(prob, "KRVXsetdefaultcontrol", [&] {
    known(id);
    prob->controls.ints.erase(id);
    prob->controls.dbls.erase(id);
    prob->controls.strs.erase(id);
    syncOutputLog(prob);
  });
}

extern "C" KRVX_API int KRVXsetdefaults(KRVXprob prob) {
  return guard(prob, "KRVXsetdefaults", [&] {
    prob->controls = ControlValues();
    syncOutputLog(prob);
  });
}

// The lines are made under the problem's lock and sent after it is released: a handler that waits for
// another thread (a Python handler wants the interpreter lock) must not hold up that thread's reads.
extern "C" KRVX_API int KRVXdumpcontrols(KRVXprob prob) {
  std::vector<std::string> lines;
  int rc = guard(prob, "KRVXdumpcontrols", [&] {
    char line[128];
    for (const ControlInfo &c : kControls) {
      if (isIntType(c.type)) {
        int64_t v = ctlInt(prob, c.id);
        if (v == int64_t(c.def)) continue;
        std::snprintf(line, sizeof line, "%s = %lld", c.name, (long long)v);
        lines.push_back(line);
      } else if (c.type == KRVX_TYPE_DOUBLE) {
        double v = ctlDbl(prob, c.id);
        if (v == c.def) continue;
        std::snprintf(line, sizeof line, "%s = %.17g", c.name, v);
        lines.push_back(line);
      } else {
        std::string v = ctlStr(prob, c.id);
        if (v == (c.sdef ? c.sdef : "")) continue;
        lines.push_back(std::string(c.name) + " = " + v);
      }
    }
    if (lines.empty()) lines.push_back("All controls have their default values");
  });
  if (rc != 0) return rc;
  for (const std::string &l : lines) messageCode(prob, kMsgControls, 1, "%s", l.c_str());
  return 0;
}
