// Writes the bash completion script of framemeld, made from its option table, to the file named
// by its one argument; the build runs it, and the install puts the file where bash finds it.

#include <cstdio>
#include <fstream>

#include "cli/app/OptionTable.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: framemeld_completion OUTPUT\n");
        return 2;
    }
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << framemeld::cli::bashCompletion("framemeld");
    file.close();
    if (!file) {
        std::fprintf(stderr, "framemeld_completion: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
