// What a run changed on a simulated device: files created and changed, registry
// keys and values added and changed, programs started; as text or JSON.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/regstore/store.h"

namespace brixdev {

struct FileState {
  std::uint64_t size = 0;
  std::uint64_t hash = 0;  // of the content
};
// Every file below a device root, by device path (UTF-8, such as \Windows\a.dll).
using FileSnapshot = std::map<std::string, FileState>;

// Every key of a device registry, by its path with capitals folded.
using RegistrySnapshot = std::map<std::u16string, regstore::Key>;

struct StartedProgram {
  std::string program;      // as the starting program named it, UTF-8
  bool hasCommandLine = false;
  std::string commandLine;  // UTF-8
};

struct ValueChange {
  std::string key;         // the key's path, UTF-8
  std::string value;       // the value as an export line ("name"=dword:00000001)
  regstore::Value stored;  // its name, type and bytes
};

struct Changes {
  std::vector<std::pair<std::string, std::uint64_t>> created, changed;  // device path and size
  std::vector<std::string> keysAdded;
  std::vector<ValueChange> valuesAdded, valuesChanged;
  std::vector<StartedProgram> started;
};

// Reads every file below root (symbolic links are not followed); false and *error when a folder cannot be read.
bool SnapshotFiles(const std::string& root, FileSnapshot* out, std::string* error);
// Reads the registry of a device folder (empty when it has none); false and *error on a database failure.
bool SnapshotRegistry(const std::string& device, RegistrySnapshot* out, std::string* error);
// Reads a start record of the simulator (see platform/posix/start_record.h); no programs when it is missing.
std::vector<StartedProgram> ReadStartRecord(const std::string& path);

// What changed between two snapshots.
Changes Compare(const FileSnapshot& filesBefore, const FileSnapshot& filesAfter, const RegistrySnapshot& registryBefore,
                const RegistrySnapshot& registryAfter);

// The report as text: one section per kind of change.
std::string ChangesText(const Changes& changes);
// The report as JSON object members (without braces): "files", "registry", "programs"; a registry
// value is an object with "key", "name", "type" (the registry type number) and "data": a string for
// types 1 and 2, a number for a dword of 4 bytes, an array of strings for type 7, and otherwise the
// bytes as two-digit hex numbers separated by commas.
std::string ChangesJson(const Changes& changes);

}  // namespace brixdev
