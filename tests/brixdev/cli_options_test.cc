// brixdev's options as the command table reads them, and what --ignore and
// --werror do to a check's report and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "brixdev/cli/args.h"
#include "brixdev/commands/check_command.h"
#include "tests/brixdev/workbench_support.h"

namespace {

using brixdev::Format;

TEST(BrixdevOptions, EveryValueTakesEveryForm) {
  struct Case {
    std::vector<std::string> args;
    Format format;
    std::string at;
    unsigned timeout;
  };
  const Case cases[] = {
      {{"check", "--format", "json", "p"}, Format::kJson, "\\Storage Card", 300},
      {{"check", "--format=sarif", "p"}, Format::kSarif, "\\Storage Card", 300},
      {{"check", "p", "--format=text", "--at=\\Data"}, Format::kText, "\\Data", 300},
      {{"try", "p", "--format", "json"}, Format::kJson, "\\Storage Card", 300},
      {{"try", "--json", "p", "--timeout=7"}, Format::kJson, "\\Storage Card", 7},
      {{"try", "--at", "\\X", "--timeout", "0", "p"}, Format::kText, "\\X", 0},
  };
  for (const Case& c : cases) {
    const brixdev::Command command = brixdev::ParseArgs(c.args, nullptr);
    EXPECT_TRUE(command.error.empty()) << c.args[1] << ": " << command.error;
    EXPECT_EQ(command.format, c.format) << c.args[1];
    EXPECT_EQ(command.at, c.at) << c.args[1];
    EXPECT_EQ(command.timeout, c.timeout) << c.args[1];
    EXPECT_EQ(command.paths, std::vector<std::string>{"p"}) << c.args[1];
  }

  const brixdev::Command ignoring =
      brixdev::ParseArgs({"check", "--ignore", "tab-comment,never-run", "--ignore=cr-line-end", "--werror", "p"}, nullptr);
  EXPECT_EQ(ignoring.action, brixdev::Action::kCheck) << ignoring.error;
  EXPECT_EQ(ignoring.ignored, (std::set<std::string>{"cr-line-end", "never-run", "tab-comment"}));
  EXPECT_TRUE(ignoring.werror);

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"try", "--format", "sarif", "p"}, "--format takes text or json"},
      {{"check", "--format=", "p"}, "--format takes text, json or sarif"},
      {{"check", "--ignore", "no-such-id", "p"}, "no finding has the id 'no-such-id'"},
      {{"check", "--ignore=tab-comment,", "p"}, "no finding has the id ''"},
      {{"check", "--werror=yes", "p"}, "option --werror takes no value"},
      {{"check", "p", "--format"}, "option --format needs a value"},
      {{"try", "--json=1", "p"}, "option --json takes no value"},
      {{"check", "--timeout", "5", "p"}, "unknown option --timeout of check"},
      {{"reg", "convert", "-o"}, "option --output needs a value"},
      {{"reg"}, "reg needs a command"},
  };
  for (const auto& [args, error] : refused) {
    const brixdev::Command command = brixdev::ParseArgs(args, nullptr);
    EXPECT_EQ(command.action, brixdev::Action::kUsageError) << error;
    EXPECT_NE(command.error.find(error), std::string::npos) << command.error;
  }
}

// A script with an error that stops it, the note on the lines it keeps from
// running, and a warning before it.
const std::string kScript =
    "'\\Storage Card\\BrixCopy\\a.txt' '\\D\\a.txt' -R\n\t; a comment after a tab\n'a.txt' '\\D\\b.txt'\n";

TEST(BrixdevOptions, IgnoreAndWerrorDecideWhatIsPrintedAndCounted) {
  wbtest::TempFolder folder;
  folder.Write("pkg/a.txt", "a\n");
  const std::string package = folder.path() + "/pkg";
  folder.Write("pkg/BrixCopy.inf", kScript);
  struct Case {
    std::set<std::string> ignored;
    bool werror;
    int status;
    std::vector<std::string> ids;
    std::string summary;
  };
  const Case cases[] = {
      {{}, false, 1, {"no-action-options", "tab-comment", "never-run"}, "1 error, 1 warning, 1 note\n"},
      {{"tab-comment"}, false, 0, {"no-action-options"}, "0 errors, 1 warning, 0 notes\n"},
      {{"tab-comment"}, true, 1, {"no-action-options"}, "0 errors, 1 warning, 0 notes\n"},
      {{"never-run"}, false, 1, {"no-action-options", "tab-comment"}, "1 error, 1 warning, 0 notes\n"},
      {{"tab-comment", "no-action-options"}, true, 0, {}, "0 errors, 0 warnings, 0 notes\n"},
  };
  for (const Case& c : cases) {
    brixdev::CheckRequest request;
    request.paths = {package};
    request.importer = BRIXPARSE_PATH;
    request.ignored = c.ignored;
    request.werror = c.werror;
    std::string out, err;
    EXPECT_EQ(brixdev::RunCheck(request, &out, &err), c.status) << c.summary << out;
    std::vector<std::string> ids;
    for (const wbtest::Finding& finding : wbtest::ParseFindings(out)) ids.push_back(finding.id);
    EXPECT_EQ(ids, c.ids) << out;
    EXPECT_EQ(err, c.summary);
    // Other formats leave out the same findings and give the same status, without a summary.
    request.format = Format::kJson;
    std::string json, jsonErr;
    EXPECT_EQ(brixdev::RunCheck(request, &json, &jsonErr), c.status);
    EXPECT_EQ(jsonErr, "");
    for (const char* id : {"tab-comment", "never-run", "no-action-options"}) {
      const bool listed = std::find(c.ids.begin(), c.ids.end(), id) != c.ids.end();
      EXPECT_EQ(json.find(std::string("\"id\": \"") + id + "\"") != std::string::npos, listed) << id << json;
    }
  }
}

}  // namespace
