#include "brixdev/checks/finding_rules.h"

namespace brixdev {

std::vector<FindingRule> RulesFor(std::string_view id) {
  std::vector<FindingRule> rows;
  for (const FindingRule& rule : FindingRules())
    if (id == rule.id) rows.push_back(rule);
  return rows;
}

std::string PlainText(std::string_view markdown) {
  std::string out;
  for (const char c : markdown)
    if (c != '`') out += c;
  return out;
}

}  // namespace brixdev
