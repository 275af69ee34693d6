// Fails every platform call of a clean run in turn, on the in-memory fake, and
// sorts each run's outcome: the clean run's (the failure changed nothing), a
// debug output that differs from the clean run's (the failure was said), or
// neither, a failure passed in silence.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake.h"

namespace faultsweep {

// A run of a program on a fresh fake device: its debug output and what it left.
struct Outcome {
  std::string debug;
  std::vector<std::string> state;
};

// The failures allowed to pass unsaid, each with the reason: op and the text
// of its first argument ("" for any).
struct Exception {
  std::string op;
  std::string reason;
};

// Counts of the outcomes of one sweep.
struct Figures {
  int runs = 0;
  int clean = 0;
  int reported = 0;
  int excepted = 0;
  std::vector<std::string> silent;
};

// Runs setUp then run once cleanly, then once for every call of the clean run
// with that call (op, occurrence N) failing with error.
inline Figures Sweep(const std::function<void()>& setUp, const std::function<Outcome()>& run,
                     std::uint32_t error, const std::vector<Exception>& exceptions) {
  plat::fake::Reset();
  setUp();
  const Outcome clean = run();
  std::vector<std::pair<std::string, int>> targets;
  std::map<std::string, int> seen;
  for (const plat::fake::Call& call : plat::fake::Calls()) targets.emplace_back(call.op, ++seen[call.op]);
  Figures figures;
  for (const auto& [op, occurrence] : targets) {
    plat::fake::Reset();
    setUp();
    plat::fake::InjectFailure({op, error, occurrence, u""});
    const Outcome outcome = run();
    ++figures.runs;
    if (outcome.debug != clean.debug) {
      ++figures.reported;
    } else if (outcome.state == clean.state) {
      ++figures.clean;
    } else {
      bool excepted = false;
      for (const Exception& e : exceptions) excepted = excepted || e.op == op;
      if (excepted)
        ++figures.excepted;
      else
        figures.silent.push_back(op + " #" + std::to_string(occurrence));
    }
  }
  return figures;
}

}  // namespace faultsweep
