#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "Reporter.h"
#include "ReporterCmdline.h"

namespace {

static_assert(!std::is_copy_constructible_v<Reporter> && !std::is_copy_assignable_v<Reporter> &&
                  !std::is_move_constructible_v<Reporter>,
              "a Reporter's destructor empties the registry");
static_assert(!std::is_copy_constructible_v<ReporterCmdline> && !std::is_copy_assignable_v<ReporterCmdline> &&
                  !std::is_move_constructible_v<ReporterCmdline>,
              "reporters belong to the registry");

// Records every broadcast and counts its own deletion.
class RecordingReporter : public ReporterImpl {
  public:
    RecordingReporter(int aId, int* aDeletions, bool aHook = false) : mId(aId), mDeletions(aDeletions) {
        mHookEnabled = aHook;
    }
    ~RecordingReporter() override {
        if (mDeletions) ++*mDeletions;
    }
    int getId() override { return mId; }
    void progress(int aDone, int aTotal) override {
        calls.push_back("progress2 " + std::to_string(aDone) + "/" + std::to_string(aTotal));
    }
    void progress(float, float, float, float, float) override { calls.push_back("progress5"); }
    void message(int aLevel, const std::string& aText) override {
        calls.push_back("message " + std::to_string(aLevel) + " " + aText);
    }
    void note(int aLevel, const std::string& aText) override {
        calls.push_back("note " + std::to_string(aLevel) + " " + aText);
    }
    void hook(int32_t aFirst, int32_t aSecond) override {
        calls.push_back("hook " + std::to_string(aFirst) + "," + std::to_string(aSecond));
    }

    std::vector<std::string> calls;

  private:
    int mId;
    int* mDeletions;
};

class ReporterRegistry : public ::testing::Test {
  protected:
    void TearDown() override {
        Reporter::removeReporter(-1);
        Reporter::setMessageLevel(0);
        Reporter::setNoteLevel(0);
    }
};

TEST_F(ReporterRegistry, SameIdReplacesAndDeletesTheOldReporter) {
    int deletions = 0;
    auto* first = new RecordingReporter(3, &deletions);
    auto* second = new RecordingReporter(3, &deletions);
    Reporter::addReporter(first);
    Reporter::addReporter(first);  // the same object again changes nothing
    EXPECT_EQ(deletions, 0);
    Reporter::addReporter(second);
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(Reporter::getReporter(3), second);
}

TEST_F(ReporterRegistry, SecondConsoleReporterReplacesTheFirst) {
    std::ostringstream out1, out2;
    new ReporterCmdline(8, &out1);
    auto* newer = new ReporterCmdline(8, &out2);
    EXPECT_EQ(Reporter::getReporter(1), newer);
    Reporter::message(0, "x");
    EXPECT_EQ(out1.str(), "");
    EXPECT_EQ(out2.str(), "x");
}

TEST_F(ReporterRegistry, RemoveByIdAndRemoveAll) {
    int deletions = 0;
    Reporter::removeReporter(-1);  // empty registry: harmless
    Reporter::addReporter(new RecordingReporter(2, &deletions));
    Reporter::addReporter(new RecordingReporter(7, &deletions));
    Reporter::removeReporter(5);  // unknown id
    EXPECT_EQ(deletions, 0);
    Reporter::removeReporter(2);
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(Reporter::getReporter(2), nullptr);
    EXPECT_NE(Reporter::getReporter(7), nullptr);
    Reporter::removeReporter(-1);
    EXPECT_EQ(deletions, 2);
    EXPECT_EQ(Reporter::getReporter(7), nullptr);
}

TEST_F(ReporterRegistry, DestroyingAReporterObjectEmptiesTheRegistry) {
    int deletions = 0;
    Reporter::addReporter(new RecordingReporter(4, &deletions));
    { Reporter registry; }
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(Reporter::getReporter(4), nullptr);
}

TEST_F(ReporterRegistry, BroadcastsReachEveryReporterInIdOrderAndHookOnlyWhenEnabled) {
    std::vector<std::string> order;
    auto* low = new RecordingReporter(1, nullptr, true);
    auto* high = new RecordingReporter(9, nullptr, false);
    Reporter::addReporter(high);
    Reporter::addReporter(low);
    Reporter::message(3, "m");
    Reporter::note(0, "n");
    Reporter::progress(1, 2);
    Reporter::progress(0.f, 1.f, 2.f, 1.f, 4.f);
    Reporter::hook(5, 6);
    const std::vector<std::string> expectedLow = {"message 3 m", "note 0 n", "progress2 1/2", "progress5",
                                                  "hook 5,6"};
    const std::vector<std::string> expectedHigh = {"message 3 m", "note 0 n", "progress2 1/2", "progress5"};
    EXPECT_EQ(low->calls, expectedLow);
    EXPECT_EQ(high->calls, expectedHigh);
    Reporter::setVerbosity(4);
    EXPECT_EQ(low->getVerbosity(), 4);
    EXPECT_EQ(high->getVerbosity(), 4);
}

TEST_F(ReporterRegistry, BroadcastToEmptyRegistryDoesNothing) {
    Reporter::message(1, "nobody");
    Reporter::progress(1, 1);
    SUCCEED();
}

class ConsoleReporter : public ReporterRegistry {
  protected:
    std::ostringstream out;
    ReporterCmdline* reporter = new ReporterCmdline(8, &out);

    std::string progress(int aDone, int aTotal) {
        out.str("");
        reporter->progress(aDone, aTotal);
        return out.str();
    }
};

TEST_F(ConsoleReporter, MessageVerbosityEdge) {
    for (int level = 0; level <= 8; ++level) Reporter::message(level, std::to_string(level));
    Reporter::message(9, "nine");
    Reporter::message(-9, "minus nine");
    Reporter::message(-8, "|-8|");
    EXPECT_EQ(out.str(), "012345678|-8|");
}

TEST_F(ConsoleReporter, NotesIgnoreVerbosity) {
    Reporter::note(0, "zero\n");
    Reporter::note(3, "three\n");
    Reporter::note(99, "far\n");
    EXPECT_EQ(out.str(), "NOTE: zero\nthree\nfar\n");
}

TEST_F(ConsoleReporter, ProgressRoundsHalfUpAndClampsAtHundred) {
    EXPECT_EQ(progress(1, 8), "done 13%\n");
    EXPECT_EQ(progress(1, 3), "done 33%\n");
    EXPECT_EQ(progress(2, 3), "done 67%\n");
    EXPECT_EQ(progress(150, 100), "done 100%\n");
    EXPECT_EQ(progress(5, 0), "");
    EXPECT_EQ(progress(5, -2), "");
    EXPECT_EQ(progress(-1, 4), "done -25%\n");  // no lower clamp
}

TEST_F(ConsoleReporter, SubRangeProgress) {
    reporter->progress(1.f, 2.f, 4.f, 2.f, 4.f);
    EXPECT_EQ(out.str(), "done 38%\n");
    out.str("");
    reporter->progress(1.f, 2.f, 4.f, 2.f, 0.f);
    EXPECT_EQ(out.str(), "");
    reporter->progress(0.f, 8.f, 1.f, 1.f, 4.f);  // 200% clamps
    EXPECT_EQ(out.str(), "done 100%\n");
}

TEST_F(ConsoleReporter, ProgressWithoutANumberWritesNothingAndOtherValuesClampToInt) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
    const struct {
        float from, to, subTotal, subDone, total;
        const char* expected;
    } cases[] = {
        {0.f, 1.f, 0.f, 0.f, 1.f, ""},  // 0 of 0
        {0.f, 1.f, 0.f, 1.f, 1.f, ""},  // 1 of 0
        {0.f, 1.f, 1.f, nan, 1.f, ""},
        {0.f, 1.f, 1.f, 1.f, nan, ""},
        {-inf, 1.f, 1.f, 1.f, 1.f, ""},
        {0.f, 1.f, 1.f, inf, 1.f, ""},
        {-3e38f, 0.f, 1.f, 0.f, 1e-38f, "done -2147483648%\n"},
        {-21474838.f, 0.f, 1.f, 0.f, 1.f, "done -2147483648%\n"},
        {-1e6f, 0.f, 1.f, 0.f, 1.f, "done -100000000%\n"},
    };
    for (const auto& c : cases) {
        out.str("");
        reporter->progress(c.from, c.to, c.subTotal, c.subDone, c.total);
        EXPECT_EQ(out.str(), c.expected)
            << c.from << " " << c.to << " " << c.subTotal << " " << c.subDone << " " << c.total;
    }
    EXPECT_EQ(progress(-30000000, 1), "done -2147483648%\n");
    EXPECT_EQ(progress(-21474837, 1), "done -2147483648%\n");
    EXPECT_EQ(progress(-21474836, 1), "done -2147483600%\n");
}

TEST_F(ReporterRegistry, MessageStreamMakesOneBroadcastPerInsertion) {
    auto* rec = new RecordingReporter(2, nullptr);
    Reporter::addReporter(rec);
    const char* nullText = nullptr;
    reporterMessages << ReporterLevel(8) << "text" << 5 << std::endl;
    reporterMessages << nullText << std::string("s") << 2.5;
    const std::vector<std::string> expected = {"message 8 text", "message 8 5", "message 8 \n", "message 8 s",
                                               "message 8 2.5"};
    EXPECT_EQ(rec->calls, expected);

    // The level stays in force; the note stream keeps its own level.
    rec->calls.clear();
    reporterNotes << ReporterLevel(0) << "n" << 7;
    reporterMessages << "again";
    const std::vector<std::string> expected2 = {"note 0 n", "note 0 7", "message 8 again"};
    EXPECT_EQ(rec->calls, expected2);
}

}  // namespace
