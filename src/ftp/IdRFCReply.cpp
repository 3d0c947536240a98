#include "ftp/IdRFCReply.h"

namespace brindle {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

namespace {

// A decimal integer with an optional sign filling the whole text.
bool ParseInt(const std::string& s, int& out) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  int v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');  // at most 4 bytes: no overflow
  }
  out = negative ? -v : v;
  return true;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool TIdRFCReply::StartsMultiLine(const std::string& firstLine, std::string& endMarker) {
  if (firstLine.size() > 3 && firstLine[3] == '-') {
    endMarker = firstLine.substr(0, 3) + " ";
    return true;
  }
  return false;
}

bool TIdRFCReply::EndsMultiLine(const std::string& line, const std::string& endMarker) {
  if (line.size() < 4) return true;
  for (size_t i = 0; i < 4; ++i)
    if (Lower(line[i]) != Lower(endMarker[i])) return false;
  return true;
}

void TIdRFCReply::Parse(const std::vector<std::string>& lines) {
  Clear();
  if (lines.empty()) return;
  TextCode = Trim(lines[0].substr(0, 4));
  if (TextCode.size() == 4 && TextCode.back() == '-') TextCode.pop_back();
  int code = 0;
  NumericCode = static_cast<int16_t>(ParseInt(TextCode, code) ? code : 0);
  Text.reserve(lines.size());
  for (const std::string& line : lines) Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

void TIdRFCReply::Clear() {
  NumericCode = 0;
  TextCode.clear();
  Text.clear();
}

std::string TIdRFCReply::FormattedText() const {
  std::string out;
  for (const std::string& line : Text) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace brindle
