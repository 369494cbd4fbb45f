#include "RowHalvesProjection.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "BlitzFileIOException.h"
#include "DorudURIVuruda.h"

namespace korvane::analysis {

namespace {

// Each thread reads its rows of a plane in one go: the reader checks the image directories that follow
// a plane after every read of it, which costs more than reading in cache-sized bands saves.
constexpr int64_t kBandBytes = int64_t(128) << 20;

// What the calling thread learns from the other one.
struct SecondThread {
    std::mutex mutex;
    std::condition_variable changed;
    int planesDone = 0;
    bool finished = false;
    std::exception_ptr error;
    std::atomic<bool> stop{false};
    std::thread thread;

    // Stops it after its current plane and waits for it; also when the calling thread's read throws.
    ~SecondThread() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
};

// Rows [aFirstRow, aFirstRow + aRows) of the window, of every selected plane in turn, band by band into
// aAccumulator. aPlaneDone(n) follows the n-th plane; returning false stops.
template <typename T, typename PlaneDone>
void projectRows(DorudURIVuruda& aReader, const PlaneSelection& aSelection, int aFirstRow, int aRows,
                 int aBandRows, ZAccumulator<T>& aAccumulator, PlaneDone aPlaneDone) {
    const PlaneSelection& s = aSelection;
    const size_t columns = size_t(s.xWidth);
    blitz::Array<T, 2> band, lastBand;  // the last band may be shorter: each keeps its own storage
    for (int k = 0; k < s.count; ++k) {
        for (int row = aFirstRow; row < aFirstRow + aRows; row += aBandRows) {
            const int height = std::min(aBandRows, aFirstRow + aRows - row);
            blitz::Array<T, 2>& buffer = height == aBandRows ? band : lastBand;
            aReader.readArray(buffer, s.timepoint, s.channel, s.zFirst + k, 1, s.yStart + row, height,
                              s.xStart, s.xWidth);
            aAccumulator.addPixels(buffer.dataFirst(), size_t(row) * columns, size_t(height) * columns,
                                   k == 0);
        }
        if (!aPlaneDone(k + 1)) return;
    }
}

}  // namespace

template <typename T>
bool projectInRowHalves(DorudURIVuruda& aReader, DorudURIVuruda& aSecondReader,
                        const PlaneSelection& aSelection, ZAccumulator<T>& aAccumulator,
                        const ProjectionProgress& aProgress) {
    const PlaneSelection& s = aSelection;
    const int bandRows =
        int(std::clamp<int64_t>(kBandBytes / (int64_t(s.xWidth) * int64_t(sizeof(T))), 1, int64_t(s.yWidth)));
    const int ownRows = s.yWidth / 2;

    SecondThread second;
    try {
        second.thread = std::thread([&] {
            try {
                projectRows(aSecondReader, s, ownRows, s.yWidth - ownRows, bandRows, aAccumulator,
                            [&](int aDone) {
                                {
                                    std::lock_guard<std::mutex> lock(second.mutex);
                                    second.planesDone = aDone;
                                }
                                second.changed.notify_all();
                                return !second.stop;
                            });
            } catch (...) {
                std::lock_guard<std::mutex> lock(second.mutex);
                second.error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(second.mutex);
                second.finished = true;
            }
            second.changed.notify_all();
        });
    } catch (const std::exception& e) {
        KORVANE_THROW("ZProjection", "Could not start reading planes: " << e.what() << ".");
    }

    int reported = 0;
    bool cancelled = false;
    const auto reportUpTo = [&](int aDone) {
        while (reported < aDone) {
            ++reported;
            if (aProgress && !aProgress(reported, s.count)) return !(cancelled = true);
        }
        return true;
    };
    projectRows(aReader, s, 0, ownRows, bandRows, aAccumulator, [&](int aDone) {
        int theirs;
        {
            std::lock_guard<std::mutex> lock(second.mutex);
            if (second.error) return false;
            theirs = second.planesDone;
        }
        return reportUpTo(std::min(aDone, theirs));
    });
    // The planes the other thread still works on.
    for (bool finished = false; !cancelled && !finished;) {
        int theirs;
        {
            std::unique_lock<std::mutex> lock(second.mutex);
            second.changed.wait(lock, [&] { return second.finished || second.planesDone > reported; });
            if (second.error) break;
            theirs = second.planesDone;
            finished = second.finished;
        }
        reportUpTo(theirs);
    }
    second.stop = true;
    second.thread.join();
    if (second.error) std::rethrow_exception(second.error);
    if (cancelled) return false;
    aAccumulator.setPlanes(uint64_t(s.count));
    return true;
}

template bool projectInRowHalves<unsigned char>(DorudURIVuruda&, DorudURIVuruda&, const PlaneSelection&,
                                                ZAccumulator<unsigned char>&, const ProjectionProgress&);
template bool projectInRowHalves<unsigned short>(DorudURIVuruda&, DorudURIVuruda&, const PlaneSelection&,
                                                 ZAccumulator<unsigned short>&, const ProjectionProgress&);
template bool projectInRowHalves<float>(DorudURIVuruda&, DorudURIVuruda&, const PlaneSelection&,
                                        ZAccumulator<float>&, const ProjectionProgress&);

}  // namespace korvane::analysis
