// brindle-cli: the engine from a shell or a CI job.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace brindle {

// Exit statuses of the tool.
enum CliStatus : int {
  kCliOk = 0,        // the work was done
  kCliPartial = 1,   // the work failed part-way (a page not written or not
                     // uploaded, a damaged project read in part)
  kCliUsage = 2,     // usage error, or a project that cannot be opened at all
};

// Runs the tool on `args` (without the program name). Reads stdin from `in`,
// writes results to `out` and messages ("brindle-cli: …") to `err`.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// The usage text printed by --help.
const char* CliUsage();

}  // namespace brindle
