// The workbench tests' helpers that are more than a line or two.
#include "tests/brixdev/workbench_support.h"

#include <cctype>
#include <cstring>

namespace wbtest {

std::string MakePe(bool dll, const std::vector<std::string>& exports) {
  std::string file(0x400, '\0');
  auto put = [&](std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) file[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  file[0] = 'M';
  file[1] = 'Z';
  put(0x3c, 0x40, 4);
  put(0x40, 0x00004550, 4);               // "PE\0\0"
  put(0x44, 0x01c0, 2);                   // ARM
  put(0x46, 1, 2);                        // one section
  put(0x54, 224, 2);                      // optional header size
  put(0x56, dll ? 0x2102 : 0x0102, 2);    // characteristics
  const std::size_t optional = 0x58;
  put(optional, 0x10b, 2);                // PE32
  put(optional + 92, 16, 4);              // data directories
  put(optional + 96, 0x1000, 4);          // export table RVA
  put(optional + 100, 0x200, 4);
  const std::size_t section = optional + 224;
  std::memcpy(&file[section], ".edata", 6);
  put(section + 8, 0x200, 4);             // virtual size
  put(section + 12, 0x1000, 4);           // virtual address
  put(section + 16, 0x200, 4);            // raw size
  put(section + 20, 0x200, 4);            // raw data at 0x200
  const std::size_t table = 0x200;
  put(table + 24, static_cast<std::uint32_t>(exports.size()), 4);
  put(table + 32, 0x1000 + 40, 4);        // the name pointers follow the table
  std::uint32_t text = 0x1000 + 40 + 4 * static_cast<std::uint32_t>(exports.size());
  for (std::size_t i = 0; i < exports.size(); ++i) {
    put(table + 40 + 4 * i, text, 4);
    std::memcpy(&file[table + (text - 0x1000)], exports[i].data(), exports[i].size());
    text += static_cast<std::uint32_t>(exports[i].size()) + 1;
  }
  return file;
}

namespace {

bool AllDigits(const std::string& text, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

bool IsId(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '-'))
      return false;
  return true;
}

// One report line, read as FILE:LINE:COLUMN: SEVERITY: MESSAGE [ID]. A file
// name may hold colons, so the position is taken at the last place where the
// rest of the line reads as one.
bool ParseFindingLine(const std::string& line, Finding* finding) {
  if (line.size() < 2 || line.back() != ']') return false;
  const std::size_t open = line.rfind(" [");
  if (open == std::string::npos) return false;
  const std::string id = line.substr(open + 2, line.size() - open - 3);
  if (!IsId(id)) return false;
  for (std::size_t at = line.rfind(':', open); at != std::string::npos;
       at = at == 0 ? std::string::npos : line.rfind(':', at - 1)) {
    // at is the colon before LINE.
    const std::size_t second = line.find(':', at + 1);
    if (second == std::string::npos || !AllDigits(line, at + 1, second)) continue;
    const std::size_t third = line.find(':', second + 1);
    if (third == std::string::npos || !AllDigits(line, second + 1, third)) continue;
    if (line.compare(third, 2, ": ") != 0) continue;
    const std::size_t severity_end = line.find(": ", third + 2);
    if (severity_end == std::string::npos || severity_end > open) continue;
    const std::string severity = line.substr(third + 2, severity_end - third - 2);
    if (severity != "error" && severity != "warning" && severity != "note") continue;
    *finding = {std::stoi(line.substr(at + 1, second - at - 1)),
                std::stoi(line.substr(second + 1, third - second - 1)), severity, id,
                line.substr(severity_end + 2, open - severity_end - 2), line.substr(0, at)};
    return true;
  }
  return false;
}

}  // namespace

std::vector<Finding> ParseFindings(const std::string& report) {
  std::vector<Finding> findings;
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find('\n', start);
    const std::string line = report.substr(start, end - start);
    Finding finding;
    if (ParseFindingLine(line, &finding)) {
      findings.push_back(finding);
    } else {
      findings.push_back({0, 0, "unparsed", "", line, ""});
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return findings;
}

void ExpectFindings(const std::vector<Finding>& found, const std::vector<Expected>& expected) {
  std::string all;
  for (const Finding& f : found)
    all += std::to_string(f.line) + ":" + std::to_string(f.column) + " " + f.severity + " " + f.id + ": " + f.message + "\n";
  ASSERT_EQ(found.size(), expected.size()) << all;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Expected& e = expected[i];
    EXPECT_EQ(found[i].line, e.line) << all;
    EXPECT_EQ(found[i].column, e.column) << all;
    EXPECT_EQ(found[i].severity, e.severity) << all;
    EXPECT_EQ(found[i].id, e.id) << all;
    EXPECT_NE(found[i].message.find(e.fragment), std::string::npos) << e.fragment << "\n" << all;
  }
}

}  // namespace wbtest
