// Writes the manual page temra-cli(1) to the file named by its argument; run by
// the build.
#include "cli/cli.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: temra-cli-man OUTPUT\n";
        return 2;
    }
    std::ofstream out(argv[1]);
    temra::cli::WriteManPage(out);
    out.close();
    if (!out) {
        std::cerr << "temra-cli-man: " << argv[1] << ": could not be written\n";
        return 1;
    }
    return 0;
}
