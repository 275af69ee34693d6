// Both formats are read defensively: every offset and count comes from the
// file, which is untrusted input, so each is checked against the file's size
// before anything is read through it.
#include "brixdev/checks/pe_elf_exports.h"

#include <cstdint>

namespace brixdev {
namespace {

class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  bool Has(std::uint64_t offset, std::uint64_t size) const {
    return offset <= data_.size() && size <= data_.size() - offset;
  }
  std::uint64_t Le(std::uint64_t offset, int size) const {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data_[offset + i]);
    return value;
  }
  // The zero-terminated text at offset; false when it runs past the end.
  bool Text(std::uint64_t offset, std::string* text) const {
    if (offset >= data_.size()) return false;
    const std::size_t end = data_.find('\0', offset);
    if (end == std::string_view::npos) return false;
    *text = std::string(data_.substr(offset, end - offset));
    return true;
  }

 private:
  std::string_view data_;
};

constexpr std::uint16_t kPe32 = 0x10b;
constexpr std::uint16_t kPe32Plus = 0x20b;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint32_t kMaxNames = 1u << 16;

struct Section {
  std::uint64_t address, size, offset;
};

// The file offset of a relative virtual address, through the section table.
bool FileOffset(const std::vector<Section>& sections, std::uint64_t rva, std::uint64_t* offset) {
  for (const Section& s : sections) {
    if (rva >= s.address && rva - s.address < s.size) {
      *offset = rva - s.address + s.offset;
      return true;
    }
  }
  return false;
}

BinaryInfo ReadPe(const Bytes& b) {
  BinaryInfo info{BinaryKind::kDamaged, {}};
  if (!b.Has(0x3c, 4)) return info;
  const std::uint64_t pe = b.Le(0x3c, 4);
  if (!b.Has(pe, 24) || b.Le(pe, 4) != 0x00004550) return info;
  const std::uint64_t sectionCount = b.Le(pe + 6, 2);
  const std::uint64_t optionalSize = b.Le(pe + 20, 2);
  const bool dll = (b.Le(pe + 22, 2) & kFileDll) != 0;
  const std::uint64_t optional = pe + 24;
  if (!b.Has(optional, optionalSize) || optionalSize < 2) return info;
  const std::uint64_t magic = b.Le(optional, 2);
  const std::uint64_t directories = magic == kPe32 ? 96 : magic == kPe32Plus ? 112 : 0;
  if (directories == 0 || optionalSize < directories) return info;
  info.kind = dll ? BinaryKind::kWindowsLibrary : BinaryKind::kWindowsProgram;
  std::vector<Section> sections;
  const std::uint64_t table = optional + optionalSize;
  for (std::uint64_t i = 0; i < sectionCount && b.Has(table + 40 * i, 40); ++i) {
    const std::uint64_t at = table + 40 * i;
    const std::uint64_t virtualSize = b.Le(at + 8, 4), rawSize = b.Le(at + 16, 4);
    sections.push_back({b.Le(at + 12, 4), virtualSize > rawSize ? virtualSize : rawSize, b.Le(at + 20, 4)});
  }
  const std::uint64_t directoryCount = b.Le(optional + directories - 4, 4);
  if (directoryCount == 0 || optionalSize < directories + 8) return info;
  const std::uint64_t exportRva = b.Le(optional + directories, 4);
  std::uint64_t exportAt = 0;
  if (exportRva == 0 || !FileOffset(sections, exportRva, &exportAt) || !b.Has(exportAt, 40)) return info;
  const std::uint64_t nameCount = b.Le(exportAt + 24, 4);
  std::uint64_t names = 0;
  if (nameCount > kMaxNames || !FileOffset(sections, b.Le(exportAt + 32, 4), &names)) return info;
  for (std::uint64_t i = 0; i < nameCount && b.Has(names + 4 * i, 4); ++i) {
    std::uint64_t nameAt = 0;
    std::string name;
    if (FileOffset(sections, b.Le(names + 4 * i, 4), &nameAt) && b.Text(nameAt, &name))
      info.exports.push_back(name);
  }
  return info;
}

constexpr std::uint64_t kElfDynamicLibrary = 3, kElfExecutable = 2;
constexpr std::uint64_t kSectionDynsym = 11, kSegmentDynamic = 2;
constexpr std::uint64_t kDynamicFlags1 = 0x6ffffffb, kFlags1Pie = 0x08000000;

BinaryInfo ReadElf(const Bytes& b) {
  BinaryInfo info{BinaryKind::kDamaged, {}};
  if (!b.Has(0, 52) || b.Le(5, 1) != 1) return info;  // little-endian only
  const bool wide = b.Le(4, 1) == 2;
  const int word = wide ? 8 : 4;
  if (!b.Has(0, wide ? 64 : 52)) return info;
  const std::uint64_t type = b.Le(16, 2);
  const std::uint64_t programHeaders = b.Le(wide ? 32 : 28, word);
  const std::uint64_t sectionHeaders = b.Le(wide ? 40 : 32, word);
  const std::uint64_t programSize = b.Le(wide ? 54 : 42, 2), programCount = b.Le(wide ? 56 : 44, 2);
  const std::uint64_t sectionSize = b.Le(wide ? 58 : 46, 2), sectionCount = b.Le(wide ? 60 : 48, 2);
  if (type == kElfExecutable) {
    info.kind = BinaryKind::kHostProgram;
    return info;
  }
  if (type != kElfDynamicLibrary) return info;
  info.kind = BinaryKind::kSharedObject;
  // A position-independent program is a shared object too, but one no program can load.
  for (std::uint64_t i = 0; i < programCount && b.Has(programHeaders + i * programSize, programSize); ++i) {
    const std::uint64_t at = programHeaders + i * programSize;
    if (b.Le(at, 4) != kSegmentDynamic) continue;
    const std::uint64_t offset = b.Le(at + (wide ? 8 : 4), word), size = b.Le(at + (wide ? 32 : 16), word);
    for (std::uint64_t d = offset; b.Has(d, 2 * word) && d + 2 * word <= offset + size; d += 2 * word) {
      if (b.Le(d, word) == kDynamicFlags1 && (b.Le(d + word, word) & kFlags1Pie) != 0) {
        info.kind = BinaryKind::kHostProgram;
        return info;
      }
    }
  }
  for (std::uint64_t i = 0; i < sectionCount && b.Has(sectionHeaders + i * sectionSize, sectionSize); ++i) {
    const std::uint64_t at = sectionHeaders + i * sectionSize;
    if (b.Le(at + 4, 4) != kSectionDynsym) continue;
    const std::uint64_t symbols = b.Le(at + (wide ? 24 : 16), word), size = b.Le(at + (wide ? 32 : 20), word);
    const std::uint64_t link = b.Le(at + (wide ? 40 : 24), 4);
    const std::uint64_t entry = b.Le(at + (wide ? 56 : 36), word);
    const std::uint64_t linked = sectionHeaders + link * sectionSize;
    if (entry == 0 || link >= sectionCount || !b.Has(linked, sectionSize)) return info;
    const std::uint64_t strings = b.Le(linked + (wide ? 24 : 16), word);
    for (std::uint64_t s = symbols; s + entry <= symbols + size && b.Has(s, entry); s += entry) {
      const std::uint64_t nameOffset = b.Le(s, 4);
      const std::uint64_t sectionIndex = b.Le(s + (wide ? 6 : 14), 2);
      const std::uint64_t binding = b.Le(s + (wide ? 4 : 12), 1) >> 4;
      std::string name;
      // Defined (section index not 0), global (1) or weak (2) symbols are what a lookup finds.
      if (sectionIndex != 0 && (binding == 1 || binding == 2) && b.Text(strings + nameOffset, &name) &&
          !name.empty())
        info.exports.push_back(name);
    }
  }
  return info;
}

}  // namespace

BinaryInfo ReadBinary(std::string_view bytes) {
  const Bytes b(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') return ReadPe(b);
  if (bytes.size() >= 4 && bytes.substr(0, 4) == std::string_view("\x7f" "ELF", 4)) return ReadElf(b);
  return BinaryInfo{};
}

bool IsLibrary(BinaryKind kind) {
  return kind == BinaryKind::kWindowsLibrary || kind == BinaryKind::kSharedObject;
}

}  // namespace brixdev
