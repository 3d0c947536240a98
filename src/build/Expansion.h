// Placeholder expansion: %name% is replaced by the value of a page's value,
// a name its template declares (empty text), or a global variable.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "build/NameIndex.h"

namespace brindle {

class Project;
class TReader;
struct TPage;
struct TVar;
using TVars = std::vector<TVar>;
using TPages = std::vector<TPage>;

// Collects output in a fixed buffer and hands it on in pieces, so that a
// large expansion streams to a file without ever holding its whole result.
class ChunkWriter {
 public:
  // `sink` receives every full buffer and, on Flush, the rest.
  explicit ChunkWriter(std::function<void(std::string_view)> sink, size_t capacity = 1 << 20);
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  void Append(const char* p, size_t n) {
    if (n <= static_cast<size_t>(end_ - cur_)) {
      std::memcpy(cur_, p, n);
      cur_ += n;
    } else {
      Spill(p, n);
    }
  }
  void Append(std::string_view s) { Append(s.data(), s.size()); }
  void Flush();

 private:
  void Spill(const char* p, size_t n);
  std::function<void(std::string_view)> sink_;
  std::string buf_;
  char* cur_;
  char* end_;
};

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
  // The same, appending the result to `out` (not flushed).
  void ExpandText(std::string_view text, int32_t pageIndex, ChunkWriter& out);

  // Looks `name` up: the page's values (expanded for globals), then the
  // names its template declares (empty), then the global variables (as
  // stored). False leaves `value` untouched.
  bool FindVariableValue(std::string_view name, std::string& value, int32_t pageIndex);

 private:
  // The value of `name` for `pageIndex` without copying it where it can be
  // helped: points at the stored value, at an empty string, or at scratch_
  // (a page value after its own expansion); null when not found. Valid
  // until the next lookup.
  const std::string* Lookup(std::string_view name, int32_t pageIndex);
  void IndexPage(int32_t pageIndex);
  template <class Out>
  void Expand(std::string_view text, int32_t pageIndex, Out& out);

  Project& project_;
  TReader& reader_;
  // The project's arrays, looked up once (their holders stay put while the
  // project is unchanged).
  TVars* vars_ = nullptr;
  TPages* pages_ = nullptr;
  NameIndex globals_;
  int32_t indexedPage_ = -1;
  NameIndex pageValues_;
  NameIndex declared_;  // names declared by the page's template(s)
  std::string scratch_;
};

}  // namespace brindle
