// The log follows SARIF 2.1.0 and what code-scanning services read of it: every
// rule a result names is in tool.driver.rules with its texts, and locations are
// relative to the checkout (SRCROOT, the current folder) wherever they can be.
#include "brixdev/checks/sarif.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>

#include "brixdev/checks/finding_rules.h"

namespace brixdev {
namespace {

constexpr const char* kSchema = "https://json.schemastore.org/sarif-2.1.0.json";

std::string PercentEncoded(const std::string& path) {
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      out += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", byte);
      out += escape;
    }
  }
  return out;
}

std::string Message(const std::string& text) { return "{\"text\": " + JsonString(text) + "}"; }

// The rule object of id: the rows of every table that documents it, joined; its default level is the
// first severity documented, else the level of the result that names it.
std::string RuleJson(const std::string& id, std::string level, const std::string& informationUri) {
  const std::vector<FindingRule> rows = RulesFor(id);
  if (!rows.empty()) level = std::string(rows.front().severity).substr(0, std::string(rows.front().severity).find(','));
  std::string shortText, fullText, helpText, helpMarkdown;
  for (const FindingRule& row : rows) {
    const std::string where = rows.size() > 1 ? std::string(row.section) + ": " : "";
    shortText += (shortText.empty() ? "" : "; ") + where + PlainText(row.finding);
    fullText += (fullText.empty() ? "" : " ") + where + PlainText(row.finding) + ".";
    helpText += (helpText.empty() ? "" : "\n") + where + PlainText(row.finding) + ". Example: " + PlainText(row.example);
    helpMarkdown += (helpMarkdown.empty() ? "" : "\n\n") + (rows.size() > 1 ? "**" + std::string(row.section) + "**: " : "") +
                    row.finding + ". Example: " + row.example;
  }
  if (rows.empty()) shortText = fullText = helpText = helpMarkdown = "undocumented finding " + id;
  // The friendly name: the id's words capitalised and joined (tab-comment: TabComment).
  std::string name;
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (id[i] == '-') continue;
    name += i == 0 || id[i - 1] == '-' ? static_cast<char>(std::toupper(static_cast<unsigned char>(id[i]))) : id[i];
  }
  // The heading of the table, as an anchor of the documentation: lower case, blanks as '-'.
  std::string anchor = rows.empty() ? "" : rows.front().section;
  for (char& c : anchor) c = c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "{\"id\": " + JsonString(id) + ", \"name\": " + JsonString(name) +
         ", \"helpUri\": " + JsonString(informationUri + (anchor.empty() ? "" : "#" + anchor)) +
         ", \"shortDescription\": " + Message(shortText) +
         ", \"fullDescription\": " + Message(fullText) + ", \"help\": {\"text\": " + JsonString(helpText) +
         ", \"markdown\": " + JsonString(helpMarkdown) + "}, \"defaultConfiguration\": {\"level\": \"" + level + "\"}}";
}

}  // namespace

std::string FileUri(const std::string& file, const std::string& currentFolder, bool* relative) {
  namespace fs = std::filesystem;
  const fs::path absolute = (fs::path(currentFolder) / file).lexically_normal();
  const fs::path inside = absolute.lexically_relative(fs::path(currentFolder).lexically_normal());
  *relative = !inside.empty() && *inside.begin() != "..";
  return *relative ? PercentEncoded(inside.generic_string()) : AbsoluteFileUri(absolute.generic_string());
}

std::string AbsoluteFileUri(const std::string& path) { return "file://" + PercentEncoded(path); }

std::string SarifLog(const std::vector<Diagnostic>& findings, const SarifTool& tool) {
  std::map<std::string, std::size_t> ruleIndex;
  std::vector<std::string> rules;
  std::string results;
  for (const Diagnostic& d : findings) {
    const std::string level = SeverityWord(d.severity);
    auto [rule, added] = ruleIndex.emplace(d.id, rules.size());
    if (added) rules.push_back(RuleJson(d.id, level, tool.informationUri));
    bool relative = false;
    const std::string uri = FileUri(d.file, tool.currentFolder, &relative);
    results += std::string(results.empty() ? "\n" : ",\n") + "        {\"ruleId\": " + JsonString(d.id) +
               ", \"ruleIndex\": " + std::to_string(rule->second) + ", \"level\": \"" + level + "\", \"message\": " +
               Message(d.message) + ", \"locations\": [{\"physicalLocation\": {\"artifactLocation\": {\"uri\": " +
               JsonString(uri) + (relative ? ", \"uriBaseId\": \"SRCROOT\"" : "") +
               "}, \"region\": {\"startLine\": " + std::to_string(d.line) +
               ", \"startColumn\": " + std::to_string(d.column) + "}}}]}";
  }
  std::string ruleList;
  for (const std::string& rule : rules) ruleList += std::string(ruleList.empty() ? "\n" : ",\n") + "            " + rule;
  std::string root = tool.currentFolder;
  if (root.empty() || root.back() != '/') root += '/';
  return std::string("{\n  \"$schema\": \"") + kSchema + "\",\n  \"version\": \"2.1.0\",\n  \"runs\": [\n    {\n" +
         "      \"tool\": {\"driver\": {\"name\": \"brixdev\", \"version\": " + JsonString(tool.version) +
         ", \"semanticVersion\": " + JsonString(tool.version) + ", \"informationUri\": " +
         JsonString(tool.informationUri) + ",\n          \"rules\": [" + ruleList + (rules.empty() ? "]" : "\n          ]") +
         "}},\n      \"originalUriBaseIds\": {\"SRCROOT\": {\"uri\": " + JsonString(AbsoluteFileUri(root)) +
         "}},\n      \"columnKind\": \"utf16CodeUnits\",\n      \"results\": [" + results +
         (results.empty() ? "]" : "\n      ]") + "\n    }\n  ]\n}\n";
}

}  // namespace brixdev
