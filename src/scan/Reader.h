// Text scanning: TReader says how a text is read (blank characters, a
// dictionary of delimiters and words, number syntax, wildcard keys), and
// TScroller splits a text into tokens with it, keeping a window of six
// token slots that it moves through the text one token at a time.
//
// Characters are bytes. Dictionary lookups fold ASCII A-Z to lower case;
// every other byte (UTF-8 included) compares exactly.
//
// Single-threaded: a reader and its scrollers are used from one thread.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <set>
#include <tuple>
#include <vector>

#include "project/DList.h"

namespace brindle {

class TScroller;

enum TNumericFormat : int32_t { nfNone = 0, nfInteger = 1, nfPeriod = 2, nfComma = 3 };

// Token status values the scanner produces; any other value is a
// dictionary word's own status.
constexpr int32_t stEnd = 0;
constexpr int32_t stWord = 1;
constexpr int32_t stInteger = 2;
constexpr int32_t stDecimal = 3;
constexpr int32_t stScientific = 4;
constexpr int32_t stNoJoin = 5;  // never produced; number joining stops at it
constexpr int32_t stDelimiter = 6;

// ASCII lower-casing of one byte, the folding used by every dictionary lookup.
inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
std::string LowerText(std::string_view text);

// A case-sensitive variant of a dictionary entry: a word that shares the
// entry's (lower-case) key but matches only when spelled exactly as Str.
struct TCSVariant {
  int32_t Structure = 0;
  int32_t KeyNum = -1;
  std::string Str;
  int32_t Status = 0;
  void* Properties = nullptr;  // the reader's user owns what it points to
};

// One dictionary entry, held by the reader's Words list under structure id
// 0. Status 6 is a delimiter, 0 an entry that only carries variants.
struct TSymProperties {
  int32_t Structure = 0;
  int32_t KeyNum = -1;
  std::string Str;
  int32_t Status = 0;
  void* Properties = nullptr;  // the reader's user owns what it points to
  std::vector<TCSVariant> CSAdd;
};

// The scanner configuration. It owns its dictionary and the entries in it;
// the Properties the user stores in entries stay the user's and are handed
// back through OnDisposeProperties whenever the reader lets go of them.
//
// A reader must not be changed while a scroller over it is scanning (from
// SetText until its tokens are no longer read), and it must outlive every
// scroller made over it.
class TReader {
 public:
  // No blank characters, an empty dictionary, nfPeriod, scientific numbers
  // on, wildcards off with the tilde and the backquote as wildcard
  // characters.
  TReader();
  // Releases every entry; OnDisposeProperties is raised for each non-null
  // Properties, and errors it raises are swallowed here.
  ~TReader();
  TReader(const TReader&) = delete;
  TReader& operator=(const TReader&) = delete;

  // With wildcards enabled, these two characters in a dictionary key stand
  // for any run of zero or more token characters (OrWildCard) and for
  // exactly one (AndWildCard). A token starting with a delimiter takes the
  // longest delimiter key that matches; any other token is its whole run of
  // word characters, with the values of a key that matches all of it.
  bool WildCardEnabled = false;
  char OrWildCard = '~';
  char AndWildCard = '`';
  bool ScientificNumber = true;

  // Raised with the Structure and Properties of every entry or variant the
  // reader releases while its Properties is non-null; the handler frees
  // what Properties points to. It must not change the reader. An error it
  // raises reaches the caller after the reader's own state is consistent
  // (the entry is gone or updated either way).
  std::function<void(TReader& sender, int32_t structure, void* properties)> OnDisposeProperties;
  // Raised by a scroller at the end of every Next (so also by SetText),
  // with the scroller as sender. The handler may change the Status of any
  // slot with TScroller::SetTokenStatus.
  std::function<void(TScroller& sender)> OnCustomStatus;

  TNumericFormat NumericFormat() const { return numericFormat_; }
  // Also sets DecimalChar: "," for nfComma, "." otherwise.
  void SetNumericFormat(TNumericFormat format);
  char DecimalChar() const { return decimalChar_; }

  void ClearBlanks();
  // Codes 0 to 32 become blank, nothing else.
  void SetDefaultBlanks();
  void RemoveBlank(char ch);
  bool IsBlank(char ch) const { return (CharClass(ch) & kBlankClass) != 0; }

  // Adds or replaces the delimiter entry of str (keyed without case
  // folding). Every character of a longer str becomes a one-character
  // delimiter too. An empty str is ignored and properties are not taken.
  void AddDelimiter(std::string_view str, int32_t structure, int32_t keyNum, void* properties);
  // ClearDelimiters, then the 29 one-character delimiters ! @ # $ % ^ & * ( )
  // + | - = \ [ ] { } ; ' : " , . / < > ? with their codes as key numbers.
  void SetDefaultDelimiters();
  void ClearDelimiters() { RemoveStatus(stDelimiter); }
  // Removes every entry of the given status, and every variant of it.
  void RemoveStatus(int32_t status);
  // Removes the entry found under the lower-case form of str, or only the
  // variant spelled exactly str when there is one.
  void RemoveWord(std::string_view str);
  // True if the dictionary holds exactly the key str with a delimiter entry.
  bool IsDelimiter(std::string_view str) const;
  // IsDelimiter of the one-character string ch, from a table.
  bool IsDelimiterChar(char ch) const { return (CharClass(ch) & kDelimiterClass) != 0; }

  // Both answers for one character in one lookup, for the scanner's loops.
  static constexpr uint8_t kBlankClass = 1;
  static constexpr uint8_t kDelimiterClass = 2;
  uint8_t CharClass(char ch) const { return charClass_[static_cast<uint8_t>(ch)]; }

  // Adds or replaces a word entry with the user's own status under the
  // lower-case form of str (Str keeps str's case). A replaced entry's
  // Properties and variants are disposed. An empty str is ignored.
  void AddWord(std::string_view str, int32_t structure, int32_t keyNum, int32_t status,
               void* properties);
  // Adds a case-sensitive variant spelled str under the lower-case key,
  // creating an entry of status 0 to carry it if there is none; a variant of
  // the same spelling is replaced (its Properties disposed). An empty str is
  // ignored.
  void AddVariant(std::string_view str, int32_t structure, int32_t keyNum, int32_t status,
                  void* properties);

  // The dictionary, for the scanner's tracer. Keys hold TSymProperties*
  // under structure id 0; they belong to the reader.
  const TDList& Words() const { return words_; }
  // The entry stored under exactly key, or null.
  const TSymProperties* FindEntry(std::string_view key) const;

 private:
  class Change;

  TSymProperties* MutableEntry(std::string_view key);
  void AddEntry(std::string_view key, TSymProperties entry);
  void AddDelimiterEntry(std::string_view str, int32_t structure, int32_t keyNum,
                         void* properties);
  void RemoveStatusEntries(int32_t status);
  void OnWordsDispose(int32_t structure, void* properties);
  void RaiseDispose(int32_t structure, void* properties);
  void DisposeVariants(TSymProperties& entry);
  void RefreshDelimiterTable();

  // The first error a dispose handler raised during the current change;
  // rethrown once the change is complete.
  std::exception_ptr pending_;
  TNumericFormat numericFormat_ = nfPeriod;
  char decimalChar_ = '.';
  std::array<uint8_t, 256> charClass_{};  // kBlankClass | kDelimiterClass
  TDList words_;
};

// The main window's configuration of its reader: blanks are the codes 0 to
// 32 except LF and CR, the delimiters are the 29 defaults plus LF and CR,
// and the underscore is a word character. Call on a new reader.
void ConfigureMainReader(TReader& reader);

// One token. Text and Blanks are views into the scanned text.
struct TPosition {
  int32_t Position = 0;  // 1-based index of the token's last character; for
                         // the start token and end tokens, where scanning stands
  int32_t Structure = 0;
  int32_t KeyNum = -1;
  std::string_view Text;    // the token's characters as they stand
  std::string_view Blanks;  // the blank characters just before it
  int32_t Status = stEnd;
  void* Properties = nullptr;
};

// Splits a text into tokens over a reader. Slot 0 of the window is the
// current token, slots 1 to 4 the four tokens after it and slot 5 the next
// one after those; Next moves the window by one token, joining number
// tokens (1, ".", 5 -> 1.5) in slot 0.
//
// Slots are scanned only when read, so a caller that reads slot 0 and 1
// pays for two tokens; every value read is the one a window scanned in full
// would hold. When the reader's OnCustomStatus is assigned the window is
// scanned in full before each call of it.
//
// The scanned text is not copied: it must stay alive and unchanged while
// tokens are read, and tokens read earlier stay valid as long as it does.
class TScroller {
 public:
  static constexpr int kSlots = 6;

  explicit TScroller(TReader& reader);
  TScroller(const TScroller&) = delete;
  TScroller& operator=(const TScroller&) = delete;

  // Starts a scan of text after the 1-based position start (0: from the
  // first character); slot 0 is then the first token. Throws
  // std::out_of_range for a negative start or std::length_error for a text
  // longer than 2^31-1 bytes (positions are 32-bit).
  void SetText(std::string_view text, int32_t start = 0);
  // Moves the window one token on; Previous becomes the old slot 0.
  void Next();

  // The token in a slot (0 to 5), scanned now if not yet; other slots
  // stay as they are. The slot's contents change with SetText and Next.
  // Throws std::out_of_range for another slot number.
  const TPosition& Token(int slot) {
    if (static_cast<unsigned>(slot) >= static_cast<unsigned>(valid_)) Fill(slot);
    return tokens_[static_cast<size_t>(slot)];
  }
  // The token that was in slot 0 before the last Next.
  const TPosition& Previous() const { return previous_; }
  // For OnCustomStatus handlers: changes the Status of a slot.
  void SetTokenStatus(int slot, int32_t status);

  std::string_view Text() const { return text_; }
  TReader& Reader() const { return *reader_; }

 private:
  // One open branch of the wildcard search: a dictionary position, the
  // index of the next text character, and the entry of the key ending at
  // the position (null if none). An OrWildCard state also stands for the
  // same position with its run one character longer.
  struct WildState {
    TTracerPosition Pos;
    size_t Index = 0;
    const void* Entry = nullptr;
    bool OrRun = false;
  };

  void Fill(int slot);
  void Settle();
  void ScanToken(int32_t from, TPosition& token);
  void ScanOrdinary(size_t start, bool firstIsDelimiter, TPosition& token);
  bool ScanWildCard(size_t start, bool firstIsDelimiter, TPosition& token);
  bool StepFrom(const TTracerPosition& from, char ch, WildState& to);
  // Offers the text from start to end (exclusive), spelled by a dictionary
  // path ending at entry (null if the path is no key), as the token; true
  // if the token changed.
  bool Record(size_t start, size_t end, const void* entry, bool firstIsDelimiter, size_t& best,
              TPosition& token) const;
  void MakeWord(size_t start, size_t end, TPosition& token) const;
  void JoinNumbers();
  void MergeSlot1();

  TReader* reader_;
  TTracer tracer_;
  std::string_view text_;
  TPosition previous_;
  std::array<TPosition, kSlots> tokens_;
  int valid_ = 1;         // slots 0 .. valid_-1 hold their tokens
  std::string joinText_;  // reused by JoinNumbers
  std::vector<WildState> wildStack_;  // reused by the wildcard search
  std::set<std::tuple<const void*, int, size_t, bool>> wildSeen_;
};

}  // namespace brindle
