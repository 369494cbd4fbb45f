#include <cstdio>

#include "LsmWriter.h"

// Writes a 5 x 4 unsigned 16-bit plane holding 300 * x + y, whose sum is 12030.
int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.lsm\n", argv[0]);
        return 2;
    }
    using namespace korvane::testsupport;
    LsmSpec recipe = lsmSpec(5, 4, 1, 1, 1, {kLsmUint16});
    recipe.values = [](int, int, int, int y, int x) { return 300.0 * x + y; };
    writeLsm(argv[1], recipe);
    return 0;
}
