#include "brixdev/device/change_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "brixdev/checks/diagnostics.h"
#include "brixdev/registry/dialect_writer.h"
#include "brixdev/text.h"
#include "platform/posix/regstore/names.h"

namespace brixdev {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// FNV-1a over the file's bytes: enough to tell a changed file from an unchanged one.
bool HashFile(const std::string& path, std::uint64_t* hash) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  std::uint64_t h = 14695981039346656037ull;
  unsigned char buffer[1 << 16];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    for (ssize_t i = 0; i < got; ++i) h = (h ^ buffer[i]) * 1099511628211ull;
  }
  close(fd);
  *hash = h;
  return got == 0;
}

bool Walk(const std::string& folder, const std::string& device, FileSnapshot* out, std::string* error) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) {
    *error = "cannot read the folder " + folder;
    return false;
  }
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string host = folder + "/" + name;
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (!Walk(host, device + "\\" + name, out, error)) return false;
    } else if (S_ISREG(st.st_mode)) {
      FileState state{static_cast<std::uint64_t>(st.st_size), 0};
      // A file that vanished or cannot be read keeps hash 0 and shows as changed at worst.
      HashFile(host, &state.hash);
      (*out)[device + "\\" + name] = state;
    }
  }
  return true;
}

std::u16string KeyPath(const regstore::Key& key) {
  std::u16string path = regstore::RootName(key.root);
  for (const std::u16string& name : key.path) path += u"\\" + name;
  return path;
}

const regstore::Value* FindValue(const regstore::Key& key, const std::u16string& name) {
  for (const regstore::Value& value : key.values)
    if (regstore::Fold(value.name) == regstore::Fold(name)) return &value;
  return nullptr;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The record's %XX escapes turned back into their bytes.
std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The UTF-16 units of bytes, when they are whole units.
bool Units(const std::string& bytes, std::u16string* units) {
  if (bytes.size() % 2 != 0) return false;
  units->clear();
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    units->push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return true;
}

// A value's data as JSON, by its type; bytes that do not make the type's form are given as hex.
std::string JsonData(const regstore::Value& value) {
  std::u16string units;
  if ((value.type == 1 || value.type == 2) && Units(value.data, &units))
    return JsonString(Utf8(std::u16string_view(units).substr(0, units.find(u'\0'))));
  if (value.type == 4 && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
    return std::to_string(number);
  }
  if (value.type == 7 && Units(value.data, &units)) {
    // The strings one after another, each with its terminator, and one more closing the list.
    if (!units.empty() && units.back() == 0) units.pop_back();
    std::vector<std::u16string_view> strings;
    for (std::size_t at = 0; at <= units.size();) {
      const std::size_t end = std::min(units.find(u'\0', at), units.size());
      strings.push_back(std::u16string_view(units).substr(at, end - at));
      at = end + 1;
    }
    if (!strings.empty() && strings.back().empty()) strings.pop_back();
    std::string list = "[";
    for (std::size_t i = 0; i < strings.size(); ++i) list += (i ? ", " : "") + JsonString(Utf8(strings[i]));
    return list + "]";
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : value.data) {
    const auto byte = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ',';
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return JsonString(hex);
}

std::string Section(const std::string& title, const std::vector<std::string>& lines) {
  std::string out = "=== " + title + "\n";
  if (lines.empty()) out += "(none)\n";
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

}  // namespace

bool SnapshotFiles(const std::string& root, FileSnapshot* out, std::string* error) {
  out->clear();
  return Walk(root, "", out, error);
}

bool SnapshotRegistry(const std::string& device, RegistrySnapshot* out, std::string* error) {
  out->clear();
  if (access(regstore::Store::DatabasePath(device).c_str(), F_OK) != 0) return true;
  std::unique_ptr<regstore::Store> store = regstore::Store::OpenExisting(device, error);
  if (store == nullptr) return false;
  for (const std::uint32_t root : {regstore::kRootClasses, regstore::kRootCurrentUser, regstore::kRootLocalMachine}) {
    std::vector<regstore::Key> keys;
    if (store->ReadSubtree(regstore::Store::RootKey(root), &keys) != regstore::kOk) {
      *error = "cannot read the device registry: " + store->LastMessage();
      return false;
    }
    for (regstore::Key& key : keys) (*out)[regstore::Fold(KeyPath(key))] = std::move(key);
  }
  return true;
}

std::vector<StartedProgram> ReadStartRecord(const std::string& path) {
  std::vector<StartedProgram> started;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    StartedProgram program;
    const std::size_t tab = line.find('\t');
    program.program = Unescaped(line.substr(0, tab));
    program.hasCommandLine = tab != std::string::npos;
    if (program.hasCommandLine) program.commandLine = Unescaped(line.substr(tab + 1));
    started.push_back(std::move(program));
  }
  return started;
}

Changes Compare(const FileSnapshot& filesBefore, const FileSnapshot& filesAfter, const RegistrySnapshot& registryBefore,
                const RegistrySnapshot& registryAfter) {
  Changes changes;
  for (const auto& [path, state] : filesAfter) {
    const auto before = filesBefore.find(path);
    if (before == filesBefore.end()) {
      changes.created.emplace_back(path, state.size);
    } else if (before->second.size != state.size || before->second.hash != state.hash) {
      changes.changed.emplace_back(path, state.size);
    }
  }
  for (const auto& [folded, key] : registryAfter) {
    const auto before = registryBefore.find(folded);
    const std::string path = Utf8(KeyPath(key));
    // A root is no key that can be added; its values are reported like any other.
    if (before == registryBefore.end() && !key.path.empty()) changes.keysAdded.push_back(path);
    std::vector<regstore::Value> values = key.values;
    std::sort(values.begin(), values.end(), [](const regstore::Value& a, const regstore::Value& b) {
      return regstore::Fold(a.name) < regstore::Fold(b.name);
    });
    for (const regstore::Value& value : values) {
      const regstore::Value* old = before == registryBefore.end() ? nullptr : FindValue(before->second, value.name);
      if (old == nullptr) {
        changes.valuesAdded.push_back({path, FormatValue(value), value});
      } else if (old->type != value.type || old->data != value.data) {
        changes.valuesChanged.push_back({path, FormatValue(value), value});
      }
    }
  }
  return changes;
}

std::string ChangesText(const Changes& changes) {
  std::vector<std::string> created, changed, keys, added, altered, started;
  for (const auto& [path, size] : changes.created) created.push_back(path + "  " + std::to_string(size) + " bytes");
  for (const auto& [path, size] : changes.changed) changed.push_back(path + "  " + std::to_string(size) + " bytes");
  keys = changes.keysAdded;
  for (const ValueChange& v : changes.valuesAdded) added.push_back("[" + v.key + "] " + v.value);
  for (const ValueChange& v : changes.valuesChanged) altered.push_back("[" + v.key + "] " + v.value);
  for (const StartedProgram& p : changes.started)
    started.push_back(p.program + (p.hasCommandLine ? "  command line: " + p.commandLine : "  (no command line)"));
  return Section("Files created", created) + Section("Files changed", changed) + Section("Registry keys added", keys) +
         Section("Registry values added", added) + Section("Registry values changed", altered) +
         Section("Programs started", started);
}

std::string ChangesJson(const Changes& changes) {
  auto files = [](const std::vector<std::pair<std::string, std::uint64_t>>& list) {
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i) {
      out += (i ? ", " : "") + std::string("{\"path\": ") + JsonString(list[i].first) +
             ", \"size\": " + std::to_string(list[i].second) + "}";
    }
    return out + "]";
  };
  auto values = [](const std::vector<ValueChange>& list) {
    std::string out = "[";
    for (std::size_t i = 0; i < list.size(); ++i)
      out += (i ? ", " : "") + std::string("{\"key\": ") + JsonString(list[i].key) +
             ", \"name\": " + JsonString(Utf8(list[i].stored.name)) +
             ", \"type\": " + std::to_string(list[i].stored.type) + ", \"data\": " + JsonData(list[i].stored) + "}";
    return out + "]";
  };
  std::string keys = "[";
  for (std::size_t i = 0; i < changes.keysAdded.size(); ++i) keys += (i ? ", " : "") + JsonString(changes.keysAdded[i]);
  keys += "]";
  std::string programs = "[";
  for (std::size_t i = 0; i < changes.started.size(); ++i) {
    const StartedProgram& p = changes.started[i];
    programs += (i ? ", " : "") + std::string("{\"program\": ") + JsonString(p.program) +
                ", \"command_line\": " + (p.hasCommandLine ? JsonString(p.commandLine) : "null") + "}";
  }
  programs += "]";
  return "\"files\": {\"created\": " + files(changes.created) + ", \"changed\": " + files(changes.changed) +
         "},\n  \"registry\": {\"keys_added\": " + keys + ", \"values_added\": " + values(changes.valuesAdded) +
         ", \"values_changed\": " + values(changes.valuesChanged) + "},\n  \"programs\": " + programs;
}

}  // namespace brixdev
