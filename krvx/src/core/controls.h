// Control table and typed access for the library's own code (the caller holds the problem's lock).
#pragma once
#include "core/store.h"

#include <string>

namespace krvx {

struct ControlInfo {
  const char *name;        // lower case
  int id;
  int type;                // KRVX_TYPE_INT, _INT64, _DOUBLE or _STRING
  double def, min, max;    // default and allowed range (numeric controls)
  const char *sdef;        // default of a string control
};

const ControlInfo *findControl(int id);        // null when unknown
const ControlInfo *findControl(const char *name);   // case-insensitive; null when unknown

// Current value (set on the problem, else the default). Throw krvx::Error for an unknown id or a
// control of another type.
int64_t ctlInt(const ko_prob_struct *p, int id);
double ctlDbl(const ko_prob_struct *p, int id);
std::string ctlStr(const ko_prob_struct *p, int id);

// Writes one row of a control or attribute table (name buffer of at least 64 bytes; any pointer may be NULL).
void writeTableEntry(char *name, int *id, int *type, const char *ename, int eid, int etype);

}  // namespace krvx
