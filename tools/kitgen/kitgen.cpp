// Writes the demo kit into the folder given on the command line.
#include <cstdio>
#include <string>

#include "drums.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!zb::kitgen::WriteKit(argv[1], &error)) {
        std::fprintf(stderr, "kitgen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
