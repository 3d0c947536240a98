// Placeholder expansion: %name% is replaced by the value of a page's value,
// a name its template declares (empty text), or a global variable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brindle {

class Project;
class TReader;
struct TPage;

// Expands texts of one project. Name lookups go through indexes built on
// first use, so a placeholder costs the same however many variables there
// are; the first match in stored order still wins.
//
// The expander reads the project as it is when an index is first built: the
// caller must not change the project's variables, templates or pages while
// the expander is in use (build a new one after a change). `project` and
// `reader` must outlive it.
class TExpander {
 public:
  TExpander(Project& project, TReader& reader);
  TExpander(const TExpander&) = delete;
  TExpander& operator=(const TExpander&) = delete;

  // Replaces every placeholder whose name is found for `pageIndex` (-1, or
  // any index outside the pages: global variables only). A substituted value
  // is not scanned again by the same call.
  std::string ExpandText(std::string_view text, int32_t pageIndex);

  // Looks `name` up: the page's values (expanded for globals), then the
  // names its template declares (empty), then the global variables (as
  // stored). False leaves `value` untouched.
  bool FindVariableValue(std::string_view name, std::string& value, int32_t pageIndex);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  // Lower-cased name -> index of its first entry in stored order.
  using Index = std::unordered_map<std::string, size_t, Hash, std::equal_to<>>;

  void IndexPage(int32_t pageIndex);
  std::string_view Fold(std::string_view name);  // ASCII lower case, in fold_

  Project& project_;
  TReader& reader_;
  bool globalsIndexed_ = false;
  Index globals_;
  int32_t indexedPage_ = -1;
  Index pageValues_;
  Index declared_;   // names declared by the page's template(s); value unused
  std::string fold_;
};

}  // namespace brindle
