// Whole-model operations on the store: copy, replace, validate, namespaces.
#pragma once
#include "core/store.h"

#include <string>
#include <vector>

namespace krvx {

// Number of objects in namespace kind 1..6 (rows, cols, sets, pwl, gencons, objectives incl. the main one).
int64_t nameCount(const ko_prob_struct &p, int kind);

// Checks that a store is consistent (types, index ranges, sizes, finite values, unique names) and
// throws krvx::Error naming the fault. Name index maps are not looked at.
void validateStore(const ko_prob_struct &s);

// Replaces the model of p with `fresh` (its name, rows, columns, matrix, Q parts, sets, names,
// objectives, indicators, pwl, gencons, marks, scales): validates fresh first (throws, p unchanged),
// then swaps it in, rebuilds the name indexes and drops the solution. Controls, handlers and the
// log file of p stay. For file readers: build a fresh store, then call this with p locked.
void loadStore(ko_prob_struct *p, ko_prob_struct &&fresh);

// Deep copy of the model fields, controls and solution (not the HiGHS instance, handlers, log file).
void copyStore(ko_prob_struct &dst, const ko_prob_struct &src);

// Rebuilds the hash of a namespace from its names (throws on a repeated non-empty name).
void rebuildNameIndex(NameSpace &ns, int kind);

// Objective Q triangles and quadratic rows: i <= j, sorted by (i, j), duplicates summed, zeros dropped.
void normalizeTerms(std::vector<QTerm> &terms);

// Name of object i of namespace kind: its own, or the default (R<i+1>, C<j+1>, S<k+1>, ...).
std::string objectName(const ko_prob_struct &p, int kind, int64_t i);
std::string defaultName(int kind, int64_t i);

// The object of namespace kind called `name`: its own name first, then the default ones; -1 none.
int findNamed(const ko_prob_struct &p, int kind, const std::string &name);

// One line describing the model ("Problem 'x': 3 rows, 4 columns, 7 elements, ..."), for the
// message a call sends after loading or reading a problem.
std::string modelSummary(const ko_prob_struct &p);

}  // namespace krvx
