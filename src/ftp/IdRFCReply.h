// One reply of an RFC 959 server: its code and its text lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brindle {

class TIdRFCReply {
 public:
  int16_t NumericCode = 0;  // 0 when the code is not a number
  std::string TextCode;     // normally the three digits
  std::vector<std::string> Text;  // every line from its 5th byte on

  // True when `firstLine` opens a multi-line reply ("220-..."); `endMarker`
  // is then its code followed by one blank.
  static bool StartsMultiLine(const std::string& firstLine, std::string& endMarker);
  // True when `line` ends the multi-line reply that `endMarker` belongs to:
  // shorter than 4 bytes, or beginning with the marker in any letter case.
  static bool EndsMultiLine(const std::string& line, const std::string& endMarker);

  // Parses the collected (trimmed) lines of one reply.
  void Parse(const std::vector<std::string>& lines);
  void Clear();
  // The text lines, each followed by CR LF.
  std::string FormattedText() const;
};

// `s` without the characters of codes 0 to 32 at either end, as replies and
// blank lines are trimmed.
std::string Trim(const std::string& s);

}  // namespace brindle
