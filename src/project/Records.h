// The records of a project and the holders through which the node list owns
// them. A node's properties point to one holder; only the project's dispose
// handler destroys it, chosen by the node's structure id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// One variable: a global variable, or a page's value of a local variable.
struct TVar {
  std::string Name;
  std::string Value;  // may itself hold %name% placeholders
};
using TVars = std::vector<TVar>;

struct TTemplate {
  std::string Name;
  std::string Text;                    // with %name% placeholders
  std::vector<std::string> LocalVars;  // names the pages fill in, in order
};
using TTemplates = std::vector<TTemplate>;

struct TPage {
  std::string Name;
  std::string Template;  // name of the template, matched ignoring case
  std::string LocalFolder;
  std::string FileName;
  std::string FtpFolder;
  bool CopyToFtp = false;  // upload the built file
  TVars Values;            // only the local variables edited on this page
};
using TPages = std::vector<TPage>;

struct TVarsHolder { TVars Items; };
struct TTemplatesHolder { TTemplates Items; };
struct TPagesHolder { TPages Items; };
struct TStringHolder { std::string Text; };

// Structure ids of the project's nodes.
constexpr int32_t kStructVars = 1;       // "Vars": TVarsHolder
constexpr int32_t kStructTemplates = 2;  // "Temps": TTemplatesHolder
constexpr int32_t kStructPages = 3;      // "Pages": TPagesHolder
constexpr int32_t kStructString = 4;     // "Head", "Footer": TStringHolder

// Records are found by name with ASCII letters folded to lower case; every
// other byte compares exactly (UTF-8 names pass through untouched).
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace brindle
