// The importer's lenient decisions. Where the script reader, the parse loop or
// the entry parser take a line otherwise than it is written (part of it passed
// over, a character dropped, a number cut to fit, a line or value not stored),
// they tell an observer what they decided and where. The program itself has no
// observer: every report is behind a null pointer, so nobody pays for it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brixparse {

enum class Decision {
  // Script reader
  kCarriageReturn,       // a carriage return without line feed stays in the line as a character
  kBlankAfterBackslash,  // a continuation line ends in a backslash and blanks: it does not continue
  kBackslashAtEnd,       // the last line ends in a continuation backslash: nothing follows to join
  kLineTooLong,          // a logical line longer than the importer keeps gives no entry
  kCommandLineFirst,     // a command line with a double quote loses its first character, whatever it is
  kCommandLineRest,      // text behind the double quote that ends the script's path is passed over
  // Parse loop
  kValueBeforeKey,       // a value before the first key line is not stored
  kValueAfterNoKey,      // a value after a line meant as a key line that gave no key is not stored
  // Entry parser: the line
  kZeroCharacter,        // the line is read only up to its first zero character
  kNoEntry,              // a line that is neither blank nor a comment gives no entry
  kTextBeforeEntry,      // text before the key's "[" or the name's double quote is passed over
  kKeyUnclosed,          // a line meant as a key line has no "]": no key
  kTextAfterKey,         // text behind the key's "]" is passed over
  kNameUnclosed,         // a value name without closing double quote: no value
  kNameTooLong,          // a value name of more than 255 characters: no value
  kNoEquals,             // no "=" directly behind the name's closing double quote: no value
  kNoTypeWord,           // no type word with ":" and no string behind the "=": no value
  kUnknownTypeWord,      // a type word none of the known ones begins with: no value
  kShortTypeWord,        // a leading part of a type word ("d" for dword) chose the type
  kTextBeforeValue,      // text between the "=" and a string's opening double quote is passed over
  kTextAroundType,       // text around the type word, before its ":", is passed over
  kTextAfterValue,       // text behind the value is passed over
  kDataTooLarge,         // data larger than 1 MiB: no value
  // Entry parser: strings and string lists
  kStringUnclosed,       // a string's last character is no double quote, but is dropped as one
  kQuoteInString,        // a double quote inside a string is kept as a character
  kListOpening,          // the unit behind "multi_sz:" is dropped as the opening double quote, whatever it is
  kListTextSkipped,      // text between the strings of a list, or behind its last ",", is passed over
  // Entry parser: numbers
  kNumberNotHex,         // a dword without a hexadecimal digit: 0 is stored
  kNumberTooLong,        // a dword of more than eight digits: only the last eight count
  kNumberForm,           // a number not written as 1 to 8 hex digits (a byte: 2), read all the same
  kByteNotHex,           // a byte-list word with other characters: read up to the first of them
  kByteOverFF,           // a byte-list number above ff: only its low eight bits are kept
  kListSeparator,        // numbers not separated by exactly one ",": runs of separators count once
};

// Receives the decisions made on one line: offset and length in units of the text handed over.
class LineObserver {
 public:
  virtual void Decided(Decision decision, std::size_t offset, std::size_t length) = 0;

 protected:
  ~LineObserver() = default;
};

// A place in the script: physical line and column, both from 1, columns in UTF-16 units.
struct DecisionPlace {
  std::size_t line = 1;
  std::size_t column = 1;
};

class LineTrace;
struct CLineEntry;

// Receives the decisions of a whole parse with their places in the script.
class DecisionObserver {
 public:
  virtual ~DecisionObserver() = default;
  // A decision at place; text is what it concerns (valid during the call only).
  virtual void Decided(Decision decision, DecisionPlace place, std::u16string_view text) = 0;
  // A logical line has been parsed: line tells its text and places, entry what it gave (nullptr: nothing).
  virtual void Parsed(const LineTrace& line, const CLineEntry* entry) = 0;
};

// Where the units of the logical line being read stand in the script; kept only while observed.
class LineTrace final : public LineObserver {
 public:
  explicit LineTrace(DecisionObserver& observer) : observer_(observer) {}

  // A logical line starts with physical line number, as read (before its comment is removed).
  void Begin(std::size_t number, const std::u16string& raw);
  // The units of logical from offset on come from physical line number.
  void Continue(std::size_t offset, std::size_t number);
  // The logical line that offsets of Decided refer to.
  void SetText(const std::u16string& logical) { logical_ = &logical; }

  // A decision at units [offset, offset + length) of the logical line.
  void Decided(Decision decision, std::size_t offset, std::size_t length) override;
  // A decision at a place of a physical line, about text.
  void DecidedAt(Decision decision, DecisionPlace place, std::u16string_view text);

  // The place of a unit of the logical line.
  DecisionPlace At(std::size_t offset) const;
  // The logical line's text (as ParseEntry got it).
  const std::u16string& Text() const;
  // The first physical line of the logical line, as read.
  const std::u16string& FirstRaw() const { return firstRaw_; }
  DecisionObserver& Observer() const { return observer_; }

 private:
  struct Segment {
    std::size_t offset;  // first unit of the logical line from this physical line
    std::size_t line;
  };
  DecisionObserver& observer_;
  std::vector<Segment> segments_;
  std::u16string firstRaw_;
  const std::u16string* logical_ = nullptr;
};

}  // namespace brixparse
