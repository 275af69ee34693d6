// Runs a fuzz target's LLVMFuzzerTestOneInput once on every file of the
// folders (or files) named on the command line, so that the saved corpora and
// crash inputs are replayed as an ordinary test, without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = argv[i];
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
      inputs.push_back(path);
    } else if (fs::is_directory(path, error)) {
      for (const auto& entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      // A folder that moved would otherwise leave a test that replays nothing.
      std::fprintf(stderr, "no such corpus file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    fuzz::SetInputName(path.string());
    static const std::uint8_t kNothing = 0;  // libFuzzer never passes a null pointer
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
