// Any text through the expansion: no crash, and a text without "%" comes
// back unchanged. The project has globals, a template and a page whose
// values themselves hold placeholders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "build/Build.h"
#include "build/Expansion.h"
#include "project/Project.h"
#include "project/Records.h"
#include "scan/Reader.h"

using namespace brindle;

namespace {

struct Fixture {
  Project project;
  TReader reader;
  Fixture() {
    ConfigureMainReader(reader);
    project.GetVars() = {{"a", "A"}, {"b", "%a%"}, {"x_y", "%b%%"}, {"\xC3\xA9", "e"}, {"1e", "num?"}};
    project.GetTemps().push_back({"T", "%a%|%p%|%d%", {"p", "d"}});
    TPage page;
    page.Name = "P";
    page.Template = "t";
    page.Values = {{"p", "%a%%p%"}, {"q", "%%%b%"}};
    project.GetPages().push_back(page);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = new Fixture;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (int32_t index : {-1, 0, 1}) {
    TExpander expander(f->project, f->reader);
    std::string out = expander.ExpandText(text, index);
    if (std::memchr(text.data(), '%', text.size()) == nullptr && out != text) std::abort();
  }
  std::string lines = NormalizeLines(text);
  if (!lines.empty() && lines.compare(lines.size() - 2, 2, "\r\n") != 0) std::abort();
  return 0;
}
