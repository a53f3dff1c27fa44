// Branching directives of a problem: checks, replacement and the renumbering that deletions need.
#pragma once
#include "core/store.h"

#include <string>
#include <vector>

namespace krvx {

// "column 3 ('x')" or "set 0 ('s')" for an entity index (column >= 0, set -1-k).
std::string entityText(const ko_prob_struct &p, int index);

// Refuses an entity index that names no column or set, and a continuous column (directives
// address MIP entities). `where` names the place ("entry 2 of argument 'colind'").
void checkEntity(const ko_prob_struct &p, int index, const std::string &where);

// Refuses a priority outside 0..1000, a direction other than U, D, N, a pseudo cost that is
// negative or not finite. `where` as above.
void checkDirective(const Directive &d, const std::string &where);

// Consistency of a whole store's directives and branch marks (entities in range and distinct,
// values valid); used when a problem is replaced from a file.
void validateDirectives(const ko_prob_struct &s);

// After a deletion of columns or sets (map: new index per old one, -1 deleted): directives and
// marks of deleted entities are dropped, the others renumbered.
void renumberDirectiveColumns(ko_prob_struct *p, const std::vector<int> &map);
void renumberDirectiveSets(ko_prob_struct *p, const std::vector<int> &map);

}  // namespace krvx
