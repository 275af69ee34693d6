// The importer's key list: one node per key line, each owning its values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace brixparse {

// One value line: name, registry type and the data bytes as written.
class CValueNode {
 public:
  // Copies the name and size bytes of data (no data block when size is 0).
  CValueNode(const char16_t* name, std::uint32_t type, const void* data, std::uint32_t size);
  // Frees the name, the data and every following node, without recursion.
  ~CValueNode();
  CValueNode(const CValueNode&) = delete;
  CValueNode& operator=(const CValueNode&) = delete;

  // The two 32-bit fields stand together: a node of 56 bytes rather than 64
  // takes one allocation unit less, and a script holds many values.
  std::u16string name;
  std::unique_ptr<std::uint8_t[]> data;  // size bytes, or none when size is 0
  std::unique_ptr<CValueNode> next;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
};

// One key line: the key path and its values in script order.
class CKeyNode {
 public:
  // Copies the key path.
  explicit CKeyNode(const char16_t* keyPath);
  // Frees the path, the values and every following node, without recursion.
  ~CKeyNode();
  CKeyNode(const CKeyNode&) = delete;
  CKeyNode& operator=(const CKeyNode&) = delete;

  // Makes value the last of values, in constant time.
  void AppendValue(std::unique_ptr<CValueNode> value);

  std::u16string path;
  std::unique_ptr<CValueNode> values;
  std::unique_ptr<CKeyNode> next;

 private:
  CValueNode* lastValue_ = nullptr;
};

}  // namespace brixparse
