#ifndef KORVANE_BANDS_H
#define KORVANE_BANDS_H

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

// Runs aWork(first, end) over rows [0, aRows) in bands, one per core (at most four) for planes of a
// million elements and more, on the caller's thread alone for smaller ones. Returns the band count.
template <typename Work>
int forEachBand(int aRows, int aCols, Work aWork) {
    const int bands = uint64_t(aRows) * uint64_t(aCols) < (uint64_t(1) << 20) || aRows < 2
                          ? 1
                          : int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    std::vector<std::thread> helpers;
    for (int band = 1; band < bands; ++band)
        helpers.emplace_back([&, band] {
            aWork(band, int(int64_t(aRows) * band / bands), int(int64_t(aRows) * (band + 1) / bands));
        });
    aWork(0, 0, int(int64_t(aRows) / bands));
    for (std::thread& helper : helpers) helper.join();
    return bands;
}

#endif
