#include "regimport/decisions.h"

namespace brixparse {

void LineTrace::Begin(std::size_t number, const std::u16string& raw) {
  segments_.assign(1, Segment{0, number});
  firstRaw_ = raw;
  logical_ = nullptr;
}

void LineTrace::Continue(std::size_t offset, std::size_t number) { segments_.push_back(Segment{offset, number}); }

DecisionPlace LineTrace::At(std::size_t offset) const {
  if (segments_.empty()) return DecisionPlace{};
  // The last segment that starts at or before offset holds it; an offset
  // behind the text (a dropped final backslash) stays on the last line.
  std::size_t i = segments_.size() - 1;
  while (i > 0 && segments_[i].offset > offset) --i;
  return DecisionPlace{segments_[i].line, offset - segments_[i].offset + 1};
}

const std::u16string& LineTrace::Text() const {
  static const std::u16string kNone;
  return logical_ != nullptr ? *logical_ : kNone;
}

void LineTrace::Decided(Decision decision, std::size_t offset, std::size_t length) {
  const std::u16string& text = Text();
  const std::size_t begin = offset < text.size() ? offset : text.size();
  const std::size_t count = length < text.size() - begin ? length : text.size() - begin;
  observer_.Decided(decision, At(offset), std::u16string_view(text).substr(begin, count));
}

void LineTrace::DecidedAt(Decision decision, DecisionPlace place, std::u16string_view text) {
  observer_.Decided(decision, place, text);
}

}  // namespace brixparse
