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

// The thread that projects the second half of the rows, and what the calling thread learns from it.
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

    // On the thread: its progress, and whether to go on.
    bool planeDone(int aDone) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            planesDone = aDone;
        }
        changed.notify_all();
        return !stop;
    }

    // On the thread, last: how it ended.
    void end(std::exception_ptr aError) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            error = aError;
            finished = true;
        }
        changed.notify_all();
    }
};

// Rows [aFirstRow, aFirstRow + aRows) of the window, of every selected plane in turn, into aAccumulator.
// aPlaneDone(n) follows the n-th plane; returning false stops. A plane's rows come in one read: the
// reader checks the image directories that follow a plane after each read of it, which costs more than
// reading in cache-sized bands saves.
template <typename T, typename PlaneDone>
void projectRows(DorudURIVuruda& aReader, const PlaneSelection& aSelection, int aFirstRow, int aRows,
                 ZAccumulator<T>& aAccumulator, PlaneDone aPlaneDone) {
    const PlaneSelection& s = aSelection;
    const size_t first = size_t(aFirstRow) * size_t(s.xWidth);
    blitz::Array<T, 2> rows;
    for (int k = 0; k < s.count; ++k) {
        aReader.readArray(rows, s.timepoint, s.channel, s.zFirst + k, 1, s.yStart + aFirstRow, aRows,
                          s.xStart, s.xWidth);
        aAccumulator.addPixels(rows.dataFirst(), first, size_t(rows.size()), k == 0);
        if (!aPlaneDone(k + 1)) return;
    }
}

}  // namespace

template <typename T>
bool projectInRowHalves(DorudURIVuruda& aReader, DorudURIVuruda& aSecondReader,
                        const PlaneSelection& aSelection, ZAccumulator<T>& aAccumulator,
                        const ProjectionProgress& aProgress) {
    const PlaneSelection& s = aSelection;
    const int ownRows = s.yWidth / 2;

    SecondThread second;
    try {
        second.thread = std::thread([&] {
            std::exception_ptr error;
            try {
                projectRows(aSecondReader, s, ownRows, s.yWidth - ownRows, aAccumulator,
                            [&](int aDone) { return second.planeDone(aDone); });
            } catch (...) {
                error = std::current_exception();
            }
            second.end(error);
        });
    } catch (const std::exception& e) {
        KORVANE_THROW("ZProjection", "Could not start reading planes: " << e.what() << ".");
    }

    // Progress counts the planes both threads are done with.
    int reported = 0;
    bool cancelled = false;
    const auto reportUpTo = [&](int aDone) {
        while (reported < aDone) {
            ++reported;
            if (aProgress && !aProgress(reported, s.count)) return !(cancelled = true);
        }
        return true;
    };
    projectRows(aReader, s, 0, ownRows, aAccumulator, [&](int aDone) {
        int theirs;
        {
            std::lock_guard<std::mutex> lock(second.mutex);
            if (second.error) return false;
            theirs = second.planesDone;
        }
        return reportUpTo(std::min(aDone, theirs));
    });
    // The planes the other thread is still at.
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
