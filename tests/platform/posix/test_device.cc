#include "tests/platform/posix/test_device.h"

#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brixtest {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
}

}  // namespace

TestDevice::TestDevice() {
  char pattern[] = "/tmp/brix-posix-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  mkdir((folder_ + "/fs").c_str(), 0755);
  scope_.emplace(plat::posix::DeviceContext{.folder = folder_});
}

TestDevice::~TestDevice() {
  scope_.reset();
  nftw(folder_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TestDevice::Host(const std::string& relative) const { return folder_ + "/fs/" + relative; }

void TestDevice::Write(const std::string& relative, const std::string& bytes, int mode) const {
  const std::string path = Host(relative);
  MakeParents(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  chmod(path.c_str(), static_cast<mode_t>(mode));
}

void TestDevice::MakeFolder(const std::string& relative) const {
  const std::string path = Host(relative);
  MakeParents(path);
  mkdir(path.c_str(), 0755);
}

std::string TestDevice::Read(const std::string& relative) const { return ReadHost(Host(relative)); }

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool TestDevice::Exists(const std::string& relative) const {
  struct stat st {};
  return lstat(Host(relative).c_str(), &st) == 0;
}

void CopyInto(const TestDevice& device, const std::string& hostFile, const std::string& relative) {
  std::ifstream in(hostFile, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  device.Write(relative, bytes.str(), 0755);
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

}  // namespace brixtest
