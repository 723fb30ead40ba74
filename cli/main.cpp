// temra-cli: Temra's computations from the command line (cli/cli.h).
#include "cli/cli.h"
#include "core/run_array.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    temra::SetMemoryAdvisor(&temra::platform::AdviseHugePages);
    temra::platform::ReportFileSizeLimitAsError();
    temra::platform::EndWithTemporaryFilesRemoved();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status =
        temra::cli::Run(args, std::cout, std::cerr, {&temra::platform::AvailableMemory});
    if (status != 0) return status;
    // The last buffered results reach the file only now.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::cerr << "temra-cli: standard output: the results could not be written ("
                  << (errno ? std::strerror(errno) : "write error") << ")\n";
        return 1;
    }
    return 0;
}
