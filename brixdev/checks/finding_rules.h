// The findings of brixdev check as docs/brixdev.md documents them: the rows of
// its finding tables, compiled in by the build (tools/finding_rules.py).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brixdev {

struct FindingRule {
  const char* id;        // the id a finding is reported with
  const char* section;   // the heading of the table: which scripts the row is about
  const char* severity;  // as the table gives it: "error", "warning, error", ...
  const char* finding;   // what the finding means (Markdown)
  const char* example;   // an example line (Markdown)
};

// Every row of the documented finding tables, in the order of the document.
std::span<const FindingRule> FindingRules();
// The rows documenting id (several when more than one table has it); empty for an unknown id.
std::vector<FindingRule> RulesFor(std::string_view id);
// Text of Markdown for plain output: code marks (`) removed.
std::string PlainText(std::string_view markdown);

}  // namespace brixdev
