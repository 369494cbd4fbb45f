// Writes a small LSM stack to look at: bright round cells on a dim background, several channels,
// z planes and timepoints. With --quadrants it writes instead one 8-bit plane of four solid grey
// quadrants, which the end-to-end test looks for on the screen.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "LsmFileWriter.h"

using korvane::tools::LsmStack;

namespace {

// Grey levels of the quadrants: top left, top right, bottom left, bottom right. Unusual values, so
// that nothing else on the screen has them.
const int kQuadrantLevels[4] = {23, 87, 151, 213};

struct Cell {
    double x, y, z, radius, brightness, driftX, driftY;
};

// A fixed pseudo-random sequence, so every run writes the same stack.
double nextRandom(unsigned& aState) {
    aState = aState * 1103515245u + 12345u;
    return ((aState >> 8) & 0xFFFF) / 65535.0;
}

std::vector<Cell> makeCells(int aSize, int aCount) {
    std::vector<Cell> cells;
    unsigned state = 20100926u;
    for (int i = 0; i < aCount; ++i) {
        Cell cell;
        cell.x = 20 + nextRandom(state) * (aSize - 40);
        cell.y = 20 + nextRandom(state) * (aSize - 40);
        cell.z = nextRandom(state) * 4.0;
        cell.radius = 9 + nextRandom(state) * 12;
        cell.brightness = 150 + nextRandom(state) * 100;
        cell.driftX = (nextRandom(state) - 0.5) * 6;
        cell.driftY = (nextRandom(state) - 0.5) * 6;
        cells.push_back(cell);
    }
    return cells;
}

uint8_t toSample(double aValue) {
    return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, aValue))));
}

LsmStack demoStack() {
    const int size = 256;
    LsmStack recipe;
    recipe.sizeX = recipe.sizeY = size;
    recipe.sizeZ = 5;
    recipe.sizeC = 3;
    recipe.sizeT = 4;
    recipe.timeInterval = 30;
    recipe.channelColors = {0xff0000, 0x00ff00, 0x0000ff};
    recipe.voxelSizeX = 2e-7;
    recipe.voxelSizeY = 2e-7;
    recipe.voxelSizeZ = 1e-6;
    recipe.channelNames = {"Nuclei", "Membrane", "Marker"};
    const std::vector<Cell> cells = makeCells(size, 28);
    recipe.value = [cells](int t, int c, int z, int y, int x) {
        // Dim, slightly uneven background.
        double value = 18 + 6 * std::sin(x * 0.05) * std::cos(y * 0.04) + ((x * 7 + y * 13 + z * 5) % 5);
        for (size_t i = 0; i < cells.size(); ++i) {
            const Cell& cell = cells[i];
            if (c == 2 && i % 3 != 0) continue;  // the marker is in every third cell only
            const double dz = (z - cell.z) * 5.0;
            const double r2 = cell.radius * cell.radius - dz * dz;  // section through a sphere
            if (r2 <= 4) continue;
            const double r = std::sqrt(r2);
            const double dx = x - (cell.x + cell.driftX * t);
            const double dy = y - (cell.y + cell.driftY * t);
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d > r + 1.5) continue;
            double intensity;
            if (c == 1) {
                intensity = cell.brightness * std::exp(-std::pow((d - r) / 1.6, 2));  // ring at the rim
            } else {
                const double edge = std::min(1.0, std::max(0.0, r + 0.5 - d));  // soft edge
                intensity = cell.brightness * edge * (0.75 + 0.25 * (1 - d * d / (r * r + 1)));
            }
            value = std::max(value, intensity);
        }
        return toSample(value);
    };
    return recipe;
}

LsmStack quadrantStack() {
    LsmStack recipe;
    recipe.sizeX = 96;
    recipe.sizeY = 64;
    recipe.channelColors = {0xffffff};
    recipe.value = [](int, int, int, int y, int x) {
        return static_cast<uint8_t>(kQuadrantLevels[(y >= 32 ? 2 : 0) + (x >= 48 ? 1 : 0)]);
    };
    return recipe;
}

}  // namespace

int main(int argc, char** argv) {
    bool quadrants = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quadrants") == 0) {
            quadrants = true;
        } else if (path.empty()) {
            path = argv[i];
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "Usage: %s [--quadrants] FILE.lsm\n", argv[0]);
        return 2;
    }
    try {
        korvane::tools::writeLsmStack(path, quadrants ? quadrantStack() : demoStack());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], path.c_str(), e.what());
        return 1;
    }
    return 0;
}
