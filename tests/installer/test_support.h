// Helpers shared by the installer's unit tests: a fixture that resets the fake
// device, and conversions between test text (ASCII) and platform text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/script_runner.h"
#include "platform/fake/fake.h"
#include "platform/wstr.h"

namespace brixcopy::test {

// Platform text from ASCII test text.
inline std::u16string U(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// ASCII test text from platform text (every unit of test text is ASCII).
inline std::string A(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

// The first text argument of every recorded call of op, in order.
inline std::vector<std::string> TextsOf(const std::string& op) {
  std::vector<std::string> texts;
  for (const auto& call : plat::fake::CallsOf(op)) texts.push_back(A(call.text));
  return texts;
}

// The numeric argument of every recorded call of op, in order.
inline std::vector<std::int64_t> NumbersOf(const std::string& op) {
  std::vector<std::int64_t> numbers;
  for (const auto& call : plat::fake::CallsOf(op)) numbers.push_back(call.number);
  return numbers;
}

// Index of the first recorded call of op, or -1.
inline int IndexOf(const std::string& op) {
  const auto& calls = plat::fake::Calls();
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (calls[i].op == op) return static_cast<int>(i);
  return -1;
}

// Index of the last recorded call of op, or -1.
inline int LastIndexOf(const std::string& op) {
  const auto& calls = plat::fake::Calls();
  for (std::size_t i = calls.size(); i > 0; --i)
    if (calls[i - 1].op == op) return static_cast<int>(i - 1);
  return -1;
}

inline constexpr char kPackage[] = "\\Windows\\BrixCopy";
inline constexpr char kScript[] = "\\Windows\\BrixCopy\\BrixCopy.inf";
inline constexpr char kBanner[] = "----- BrixCopy Finished ----- \r\n\n";

// The package directory of the default executable path, as the worker derives it.
inline constexpr char16_t kPackageDir[] = u"\\Windows\\BrixCopy";

// Resets the fake device before each test.
class FakeDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { plat::fake::Reset(); }
  static std::string Debug() { return plat::fake::DebugTextUtf8(); }
};

}  // namespace brixcopy::test
