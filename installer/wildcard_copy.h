// Copy of every file of the package that matches a wildcard source.
#pragma once

#include "installer/decisions.h"
#include "installer/messages.h"

namespace brixcopy {

// Where a wildcard line takes its files from and puts them.
struct WildcardPlan {
  char16_t pattern[kPathChars];    // search pattern below the package directory
  char16_t sourceDir[kPathChars];  // folder of the matching files
  char16_t targetDir[kPathChars];  // folder the matches are copied into
};

// Derives the plan of a wildcard line from its parsed source and destination, with the
// package directory packageDir; false when a composed path does not fit. resolved: the
// source was relative and already placed in the package. observer, when not nullptr, is
// told how the source's folder is read.
bool PlanWildcardCopy(const char16_t* packageDir, const char16_t* source, const char16_t* destination,
                      bool resolved, WildcardPlan* plan, LineObserver* observer = nullptr);

// Composes the paths of one match: from (in the source folder) and target (in the target
// folder), 260 units each; false when either does not fit.
bool MatchPaths(const WildcardPlan& plan, const char16_t* name, char16_t* from, char16_t* target);

// Copies every match of the plan; each failed file is reported with lineSource, the line's source.
// observer, when not nullptr, is told when the search finds nothing to copy.
void RunWildcardCopy(const WildcardPlan& plan, const char16_t* lineSource, LineObserver* observer = nullptr);

}  // namespace brixcopy
