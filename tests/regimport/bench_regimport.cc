// Parse speed of the registry importer: a generated script of 10,000 keys and
// 100,000 values of every type is parsed on the fake device, and the time of
// the parse alone (reading, line rules, entry parsing, building the list) is
// reported in MB/s of script. Writing into the registry is not measured here.
// The fake's call log is paused for the measured runs, as a device keeps none;
// one more figure shows the parse with it.
//
//   bench_regimport [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/platform.h"
#include "regimport/brixparse.h"

using brixparse::CBrixparse;
using brixparse::CValueNode;
using brixparse::CKeyNode;
using brixparse::kLineRead;
using brixparse::CScriptFile;
using brixparse::ReadLogicalLine;

namespace {

constexpr int kKeys = 10000;
constexpr int kValuesPerKey = 10;
constexpr int kRuns = 10;
constexpr char16_t kPath[] = u"\\Temp\\bench.reg";

std::string Hex2(unsigned v) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", v & 0xff);
  return text;
}

// One value line (or a run of continuation lines) of the given kind.
std::string ValueLine(int key, int value) {
  const std::string name = "\"Value" + std::to_string(value) + "\"=";
  switch (value % kValuesPerKey) {
    case 0:
      return name + "\"C:\\Program Files\\Vendor\\App" + std::to_string(key) + "\\bin\"\n";
    case 1:
      return name + "dword:" + Hex2(key) + Hex2(value) + "00ff ; counter\n";
    case 2: {
      std::string line = name + "hex:";
      for (int i = 0; i < 48; ++i) {
        line += Hex2(key + i) + ",";
        if (i % 16 == 15) line += "\\\n  ";
      }
      return line + "00\n";
    }
    case 3:
      return name + "hex(7):41,00,42,00,00,00,43,00,00,00,00,00\n";
    case 4:
      return name + "multi_sz:\"first string\",\"second\",\"third one\"\n";
    case 5:
      return name + "hex(2):25,00,57,00,49,00,4e,00,25,00,00,00\n";
    case 6:
      return name + "\"a value; with a semicolon\" ; and a comment\n";
    case 7:
      return name + "dword:00000001\n";
    case 8:
      return name + "\"" + std::string(120, static_cast<char>('a' + key % 26)) + "\"\n";
    default:
      return "  " + name + "hex:" + Hex2(value) + "," + Hex2(key) + "\n";
  }
}

std::string MakeScript() {
  std::string script = "; generated registry script\n\n";
  for (int key = 0; key < kKeys; ++key) {
    script += "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Product\\Key" + std::to_string(key) +
              "]   ; key " + std::to_string(key) + "\n";
    for (int value = 0; value < kValuesPerKey; ++value) script += ValueLine(key, value);
    script += "\n";
  }
  return script;
}

// Seconds to read every line of the script through the platform stream alone:
// the ceiling that the device layer puts on any parse.
double StreamOnlySeconds(const std::string& script) {
  plat::fake::Reset();
  plat::fake::AddFile(kPath, script);
  plat::fake::PauseCallRecording();
  plat::Stream* stream = plat::StreamOpen(kPath, u"rt");
  if (stream == nullptr) return 0;
  char16_t buffer[1024];
  const auto start = std::chrono::steady_clock::now();
  while (plat::StreamReadLine(buffer, 1024, stream) != nullptr) {
  }
  const auto stop = std::chrono::steady_clock::now();
  plat::StreamClose(stream);
  return std::chrono::duration<double>(stop - start).count();
}

// Seconds to read every logical line (stream, comments, continuations) without parsing them.
double LogicalLinesSeconds(const std::string& script) {
  plat::fake::Reset();
  plat::fake::AddFile(kPath, script);
  plat::fake::PauseCallRecording();
  CScriptFile file;
  file.Open(kPath);
  std::u16string physical, logical;
  const auto start = std::chrono::steady_clock::now();
  while (ReadLogicalLine(file, physical, logical) == kLineRead) {
  }
  const auto stop = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(stop - start).count();
}

// Seconds of one whole parse; counts the keys and values of the list it built.
double ParseSeconds(const std::string& script, bool callLog, std::size_t& keys, std::size_t& values) {
  plat::fake::Reset();
  plat::fake::AddFile(kPath, script);
  if (!callLog) plat::fake::PauseCallRecording();
  CScriptFile file;
  file.Open(kPath);
  if (file.stream == nullptr) return 0;
  CBrixparse parser(file);
  const auto start = std::chrono::steady_clock::now();
  const CKeyNode* first = parser.ParseFile();
  const auto stop = std::chrono::steady_clock::now();
  keys = values = 0;
  for (const CKeyNode* k = first; k != nullptr; k = k->next.get(), ++keys)
    for (const CValueNode* v = k->values.get(); v != nullptr; v = v->next.get()) ++values;
  return std::chrono::duration<double>(stop - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kRuns;
  const std::string script = MakeScript();
  const double megabytes = static_cast<double>(script.size()) / 1e6;
  std::vector<double> parse, logged, stream, lines;
  std::size_t keys = 0, values = 0;
  for (int run = 0; run <= runs; ++run) {
    const double streamSeconds = StreamOnlySeconds(script);
    const double linesSeconds = LogicalLinesSeconds(script);
    const double parseSeconds = ParseSeconds(script, false, keys, values);
    if (parseSeconds == 0 || streamSeconds == 0) {
      std::fprintf(stderr, "bench_regimport: the script could not be opened\n");
      return 1;
    }
    if (run == 0) continue;  // the first run warms the allocator up
    parse.push_back(parseSeconds);
    stream.push_back(streamSeconds);
    lines.push_back(linesSeconds);
  }
  if (keys != kKeys || values != static_cast<std::size_t>(kKeys) * kValuesPerKey) {
    std::fprintf(stderr, "bench_regimport: parsed %zu keys and %zu values, expected %d and %d\n",
                 keys, values, kKeys, kKeys * kValuesPerKey);
    return 1;
  }
  // Last, as the call log leaves the heap in another shape.
  for (int run = 0; run < runs; ++run) logged.push_back(ParseSeconds(script, true, keys, values));
  for (auto* v : {&parse, &logged, &stream, &lines}) std::sort(v->begin(), v->end());
  const double parseBest = parse.front(), parseMedian = parse[parse.size() / 2];
  const auto rate = [&](double seconds) { return seconds > 0 ? megabytes / seconds : 0.0; };
  std::printf("script: %.2f MB, %zu keys, %zu values\n", megabytes, keys, values);
  std::printf("parse: best %.1f ms (%.1f MB/s), median %.1f ms (%.1f MB/s) over %d runs\n",
              parseBest * 1e3, rate(parseBest), parseMedian * 1e3, rate(parseMedian), runs);
  std::printf("phases (best of each): platform stream alone %.1f ms (%.1f MB/s); logical lines "
              "%.1f ms (%.1f MB/s); entries and key list %.1f ms\n",
              stream.front() * 1e3, rate(stream.front()), lines.front() * 1e3, rate(lines.front()),
              (parseBest - lines.front()) * 1e3);
  const double loggedMedian = logged[logged.size() / 2];
  std::printf("parse with the fake's call log kept (unit-test setting): median %.1f ms (%.1f MB/s)\n",
              loggedMedian * 1e3, rate(loggedMedian));
  return 0;
}
