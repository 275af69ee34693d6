// The throw-away simulated device a check works on: a copy of a device or a
// fresh one, with the package copied onto it. While it is active, the platform
// layer's device simulator works on it on this thread (a device context in
// force, never the environment), so the programs' own code reads scripts and
// looks up files there as the device will.
//
// A file of a megabyte or more is placed as a stand-in: an empty file, so that
// placing it costs nothing and a copy line carries it out with the installer's
// own code (opening, creating, every failure a device has) without reading its
// bytes. The check reads the content of few files (the scripts, the programs
// and libraries it looks into); Prepare gives a stand-in its content just
// before, by a reflink or a hard link to the package's file where the host
// allows it, and Copied lets a copy's destination stand for what its source
// stands for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brixdev/device/device_folder.h"
#include "platform/posix/device_context.h"

namespace brixdev {

class CheckDevice {
 public:
  CheckDevice() = default;
  // Ends the device's time in force and removes its folder.
  ~CheckDevice();
  CheckDevice(const CheckDevice&) = delete;
  CheckDevice& operator=(const CheckDevice&) = delete;

  // Creates the device in a new temporary folder: the files of baseDevice's fs/, or, when
  // baseDevice is empty, a fresh device holding importer. false and *error on failure.
  bool Create(const std::string& baseDevice, const std::string& importer, std::string* error);
  // Copies a host file or folder to a device path.
  bool Place(const std::string& host, std::u16string_view devicePath, std::string* error);
  // Puts this device in force for the simulator's calls on this thread (and the threads
  // they start) for the object's life; the programs' debug output goes to debug, or to
  // the console when it is empty.
  void Activate(plat::posix::DebugSink debug = {});

  // The host path of a device path on this device.
  std::string HostPath(std::u16string_view devicePath) const;
  // The host file that the device file at hostPath was placed from; empty when none.
  std::string PlacedFrom(const std::string& hostPath) const;
  // Host entries that were not placed because they are neither file nor folder.
  const std::vector<std::string>& Skipped() const { return placed_.skipped; }

  // Notes that a copy line copied the device file from to the device file to.
  void Copied(std::u16string_view from, std::u16string_view to);
  // Gives the device file at devicePath its content, if it is a stand-in, before the check reads it.
  void Prepare(std::u16string_view devicePath);
  // What went wrong giving a stand-in its content; empty when nothing did.
  const std::string& PrepareError() const { return prepareError_; }

  // Files of this size or more are placed as stand-ins.
  static constexpr std::uint64_t kStandInSize = std::uint64_t{1} << 20;

 private:
  std::string dir_;   // the device folder; empty before Create
  std::string root_;  // dir_/fs
  Placed placed_;
  std::optional<plat::posix::DeviceScope> scope_;
  std::string prepareError_;
};

// A debug sink that keeps nothing: a check reports findings, never the programs' messages.
inline void DropDebugOutput(std::string_view /*message*/) {}

// What a device path names.
enum class EntryKind { kMissing, kFile, kFolder, kInvalid };

// Looks a device path up through the platform table: missing, a file, a folder, or a name the device refuses.
EntryKind LookUp(std::u16string_view devicePath);
// The names matching a device pattern through the platform table, with whether each is a folder.
std::vector<std::pair<std::u16string, bool>> Matches(std::u16string_view pattern);
// Reads up to limit bytes of a device file through the platform table; false when it cannot be read.
bool ReadDeviceFile(std::u16string_view devicePath, std::size_t limit, std::string* bytes);

}  // namespace brixdev
