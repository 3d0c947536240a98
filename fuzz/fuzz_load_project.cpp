// Loads arbitrary bytes as a project file. Whatever loads must save, and the
// saved file must load completely and save to the very same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "project/Project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  brindle::Project project;
  project.OpenBytes(bytes, "input.brp");
  std::string once = project.SaveToBytes();

  brindle::Project again;
  brindle::LoadResult r = again.OpenBytes(once, "resaved.brp");
  if (r.Outcome != brindle::LoadOutcome::Loaded) {
    std::fprintf(stderr, "a saved project does not load: %s\n", r.Message.c_str());
    std::abort();
  }
  if (again.SaveToBytes() != once) {
    std::fprintf(stderr, "save, load, save changed the bytes\n");
    std::abort();
  }
  return 0;
}
