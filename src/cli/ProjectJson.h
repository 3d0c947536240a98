// Lossless JSON form of a project, for `brindle-cli export` and `import`.
//
//   {"format":N,"nodes":[{"key":…,"structure":…, <payload>}, …]}
//
// Nodes appear in the list's enumeration order. The payload depends on the
// structure id: "vars" (1), "templates" (2), "pages" (3), "text" (4); a node
// with any other id carries only "key" and "structure". Every byte string
// that is valid UTF-8 is a JSON string; any other is {"hex":"…"}.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace brindle {

class Project;

// Raised by ImportProjectJson; the message names the place in the input
// ("line 3, column 7: …" for syntax, "nodes[1].pages[0].name: …" for shape).
class EJsonImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `project` (loaded from a file of format value `format`) as JSON.
std::string ExportProjectJson(const Project& project, int format);

// Fills the empty `project` from `json`. On error `project` may hold part of
// the input; callers discard it and write nothing.
void ImportProjectJson(std::string_view json, Project& project);

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view bytes);

}  // namespace brindle
