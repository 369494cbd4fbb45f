// The window with a big plane: opening an 8192 x 8192 16-bit file until its picture is painted, against
// a pread of the plane's bytes, with the growth of peak resident memory and the share of choosing the
// first display range (Auto). Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BlitzArray.h"  // first, see there
#include "Histogram.h"
#include "KorvaneViewerQt.h"
#include "LsmWriter.h"
#include "ViewerShell.h"

using namespace korvane::testsupport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

double seconds(Clock::duration aDuration) { return std::chrono::duration<double>(aDuration).count(); }

// A "Vm...:" line of /proc/self/status in kB.
long statusKB(const char* aName) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(aName, 0) == 0) return std::stol(line.substr(std::strlen(aName)));
    return 0;
}

// Starts a new peak (VmHWM) at the current resident size; false where the kernel cannot.
bool resetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

struct BigFile {
    ScopedFile file{"viewer-open-bench.lsm"};
    uint64_t planeStart = 0;
    explicit BigFile(int aSide) {
        LsmSpec recipe = lsmSpec(aSide, aSide, 1, 1, 1, {kLsmUint16});
        const LsmLayoutInfo info = writeLsmWithInfo(file.path(), recipe);
        planeStart = info.images.at(0).strips.at(0).position;
    }
};

const BigFile& bigFile(int aSide) {
    static std::map<int, std::unique_ptr<BigFile>> files;
    std::unique_ptr<BigFile>& file = files[aSide];
    if (!file) file = std::make_unique<BigFile>(aSide);
    return *file;
}

void openByTyping(KorvaneViewerQt& aWindow, const std::string& aPath) {
    aWindow.mLoadFileNameLineEdit->setText(QString::fromStdString(aPath));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(aWindow.mLoadFileNameLineEdit, &press);
}

void BM_OpenToPicture(benchmark::State& state) {
    const int kSide = int(state.range(0));
    const BigFile& big = bigFile(kSide);
    const size_t planeBytes = size_t(kSide) * kSide * 2;
    std::vector<char> buffer(planeBytes);
    const int fd = ::open(big.file.path().c_str(), O_RDONLY);
    double preadSeconds = 0;
    double freshPreadSeconds = 0;  // into memory never touched before, as the window's plane is
    double openSeconds = 0;
    double peakGrowthMiB = 0;
    double readSeconds = 0;
    double autoSeconds = 0;
    bool peakKnown = true;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (::pread(fd, buffer.data(), planeBytes, off_t(big.planeStart)) != ssize_t(planeBytes))
            state.SkipWithError("pread failed");
        preadSeconds += seconds(Clock::now() - start);
        {
            std::unique_ptr<char[]> fresh(new char[planeBytes]);
            start = Clock::now();
            if (::pread(fd, fresh.get(), planeBytes, off_t(big.planeStart)) != ssize_t(planeBytes))
                state.SkipWithError("pread failed");
            freshPreadSeconds += seconds(Clock::now() - start);
        }

        auto window = std::make_unique<KorvaneViewerQt>();
        new ViewerShell(*window);
        window->show();
        QApplication::processEvents();
        const long before = statusKB("VmRSS:");
        peakKnown = resetPeakMemory() && peakKnown;

        start = Clock::now();
        openByTyping(*window, big.file.path());
        window->repaint();  // the picture on the screen
        QApplication::processEvents();
        const double elapsed = seconds(Clock::now() - start);
        state.SetIterationTime(elapsed);
        openSeconds += elapsed;
        peakGrowthMiB += (statusKB("VmHWM:") - before) / 1024.0;
        // The window's own time read-out: from the nested update's reading of the stopwatch to the end of
        // the outer update's (answered by the kept plane), i.e. mostly the nested update's drawing.
        readSeconds += window->mJavaAccessTimeLabel->text().section(' ', 0, 0).toDouble();
        if (window->picture().size() != QSize(kSide, kSide)) state.SkipWithError("no picture");
        // What opening spent on choosing the first display range: a histogram and its saturated range.
        start = Clock::now();
        const Histogram counts = histogramOf(window->planeSource().plane());
        benchmark::DoNotOptimize(saturatedRange(counts));
        autoSeconds += seconds(Clock::now() - start);
    }
    ::close(fd);
    const double n = double(state.iterations());
    const double planeAndPictureMiB = (planeBytes + size_t(kSide) * kSide * 4) / kMiB;
    state.counters["open_ms"] = 1000 * openSeconds / n;
    state.counters["pread_ms"] = 1000 * preadSeconds / n;
    state.counters["open_per_pread"] = openSeconds / preadSeconds;
    state.counters["open_per_fresh_pread"] = openSeconds / freshPreadSeconds;
    state.counters["one_read_ms"] = 1000 * readSeconds / n;
    state.counters["auto_per_open_without_it"] = autoSeconds / (openSeconds - autoSeconds);
    if (peakKnown) {
        state.counters["peak_growth_MiB"] = peakGrowthMiB / n;
        state.counters["peak_per_plane_and_picture"] = peakGrowthMiB / n / planeAndPictureMiB;
    }
}

BENCHMARK(BM_OpenToPicture)
    ->Arg(8192)
    ->Arg(512)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
