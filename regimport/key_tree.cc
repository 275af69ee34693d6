#include "regimport/key_tree.h"

#include <cstring>
#include <utility>

namespace brixparse {

CValueNode::CValueNode(const char16_t* valueName, std::uint32_t valueType, const void* bytes,
                       std::uint32_t byteCount)
    : name(valueName), type(valueType) {
  if (byteCount == 0 || bytes == nullptr) return;
  data = std::make_unique_for_overwrite<std::uint8_t[]>(byteCount);
  std::memcpy(data.get(), bytes, byteCount);
  size = byteCount;
}

// Lists can hold millions of nodes: each destructor unlinks its successors
// one at a time so that destruction never recurses down the list.
CValueNode::~CValueNode() {
  std::unique_ptr<CValueNode> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

CKeyNode::CKeyNode(const char16_t* keyPath) : path(keyPath) {}

CKeyNode::~CKeyNode() {
  std::unique_ptr<CKeyNode> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

void CKeyNode::AppendValue(std::unique_ptr<CValueNode> value) {
  CValueNode* added = value.get();
  if (added == nullptr) return;
  // The kept tail makes appending constant-time; walking on from it also
  // copes with values that were linked by hand.
  CValueNode* tail = lastValue_ != nullptr ? lastValue_ : values.get();
  if (tail == nullptr) {
    values = std::move(value);
  } else {
    while (tail->next) tail = tail->next.get();
    tail->next = std::move(value);
  }
  lastValue_ = added;
}

}  // namespace brixparse
