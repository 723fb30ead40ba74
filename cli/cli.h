// temra-cli as a function: the arguments (without the program's name) in, the
// results and the messages out, the exit status back. The program's main() hands
// it the operating system's memory probe and the standard streams.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace temra::cli {

struct Environment {
    // The memory this process may still claim; empty: the calculation core's fixed
    // budget.
    std::function<std::uint64_t()> memoryProbe;
};

// Exit status: 0 done, 1 the results or the workbook could not be written (for
// study also: some samples were refused), 2 refused (the input, the options or
// the memory).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment = {});

// The manual page temra-cli(1) in roff, from the same options as --help.
void WriteManPage(std::ostream& out);

} // namespace temra::cli
