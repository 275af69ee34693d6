#include "installer/wildcard_copy.h"

#include <cstddef>
#include <cstdint>

#include "installer/file_ops.h"
#include "installer/handles.h"
#include "installer/messages.h"
#include "platform/platform.h"
#include "platform/wstr.h"

namespace brixcopy {
namespace {

bool EndsWith(const char16_t* text, char16_t c) {
  const std::size_t length = wstr::Len(text);
  return length > 0 && text[length - 1] == c;
}

// Appends a backslash unless text already ends with one (an empty text gets one).
bool CatSeparator(char16_t* text) {
  return EndsWith(text, u'\\') || wstr::Cat(text, kPathChars, u"\\");
}

// Everything before the last backslash of path; empty when it has none.
bool CopyParent(char16_t* parent, const char16_t* path) {
  const char16_t* slash = wstr::RChr(path, u'\\');
  const std::size_t length = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path);
  return wstr::CopyN(parent, kPathChars, path, length);
}

// Package directory, a separating backslash and relative without one leading backslash.
bool InPackage(char16_t* out, const char16_t* packageDir, const char16_t* relative) {
  return wstr::Copy(out, kPathChars, packageDir) && CatSeparator(out) &&
         wstr::Cat(out, kPathChars, relative[0] == u'\\' ? relative + 1 : relative);
}

// folder, a separating backslash and the match's name.
bool InFolder(char16_t* out, const char16_t* folder, const char16_t* name) {
  return wstr::Copy(out, kPathChars, folder) && CatSeparator(out) &&
         wstr::Cat(out, kPathChars, name);
}

// The errors of a search that looked and found nothing to copy.
bool NothingToMatch(std::uint32_t error) {
  return error == plat::kErrorFileNotFound || error == plat::kErrorPathNotFound || error == kErrorNoMoreFiles;
}

}  // namespace

bool PlanWildcardCopy(const char16_t* packageDir, const char16_t* source, const char16_t* destination,
                      bool resolved, WildcardPlan* plan, LineObserver* observer) {
  if (observer != nullptr) {
    // The folder is what stands before the last backslash; a slash behind it divides nothing.
    const char16_t* slash = wstr::RChr(source, u'\\');
    slash = wstr::Chr(slash != nullptr ? slash : source, u'/');
    if (slash != nullptr) observer->Decided(Decision::kForwardSlash, slash, 1);
    if (resolved) observer->Decided(Decision::kRelativeWildcard, source, wstr::Len(source));
  }
  if (resolved) {
    // The line parser has already placed the source in the package and appended
    // it to the destination; taking the parents here keeps the package
    // directory from being put in front a second time and sends the matches
    // to the same relative folder below the destination.
    return wstr::Copy(plan->pattern, kPathChars, source) &&
           CopyParent(plan->sourceDir, source) && CopyParent(plan->targetDir, destination);
  }
  char16_t directory[kPathChars];
  return CopyParent(directory, source) && InPackage(plan->pattern, packageDir, source) &&
         InPackage(plan->sourceDir, packageDir, directory) &&
         wstr::Copy(plan->targetDir, kPathChars, destination);
}

bool MatchPaths(const WildcardPlan& plan, const char16_t* name, char16_t* from, char16_t* target) {
  return InFolder(target, plan.targetDir, name) && InFolder(from, plan.sourceDir, name);
}

void RunWildcardCopy(const WildcardPlan& plan, const char16_t* lineSource, LineObserver* observer) {
  plat::FindData match{};
  FindHandle search(plat::FindFirst(plan.pattern, &match));
  if (!search) {
    // Nothing to match (no such file, or no such folder) is silent; a search
    // that could not look (a folder that cannot be read) is a failure.
    const std::uint32_t error = plat::LastError();
    if (!NothingToMatch(error))
      plat::DebugPrint(u"BrixCopy: Failed to copy file: %s\r\nGetLastError returned: %d\r\n", lineSource, error);
    else if (observer != nullptr)
      observer->Decided(Decision::kWildcardNoMatch, plan.pattern, wstr::Len(plan.pattern));
    return;
  }
  do {
    match.name[plat::kMaxPath - 1] = 0;
    // Subfolders are handed over like files; their copy fails and is reported.
    char16_t target[kPathChars];
    char16_t from[kPathChars];
    if (!MatchPaths(plan, match.name, from, target)) {
      plat::DebugPrint(u"BrixCopy: Failed to copy file: %s\r\nGetLastError returned: %d\r\n",
                       lineSource, kErrorFilenameTooLong);
      continue;
    }
    if (CopyOneFile(from, target) == 0) {
      plat::DebugPrint(u"BrixCopy: Failed to copy file: %s\r\nGetLastError returned: %d\r\n",
                       lineSource, plat::LastError());
    }
  } while (plat::FindNextMatch(search.Get(), &match));
  // The end of the matches is error 18; any other error is a search that
  // stopped early, and the files it did not list were not copied.
  if (const std::uint32_t error = plat::LastError(); error != kErrorNoMoreFiles)
    plat::DebugPrint(u"BrixCopy: Failed to copy file: %s\r\nGetLastError returned: %d\r\n", lineSource, error);
}

}  // namespace brixcopy
