#ifndef KORVANE_TESTS_LSMTESTSUPPORT_H
#define KORVANE_TESTS_LSMTESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "DorudURIVuruda.h"
#include "LsmWriter.h"
#include "Reporter.h"

namespace korvane::lsmtest {

// Reporter that records every message; registered under its own id for the lifetime of the object.
class CapturedMessages {
  public:
    CapturedMessages();
    ~CapturedMessages();
    CapturedMessages(const CapturedMessages&) = delete;
    CapturedMessages& operator=(const CapturedMessages&) = delete;

    const std::vector<std::pair<int, std::string>>& messages() const;
    std::string text() const;  // all texts joined
    void clear();

  private:
    class Sink;
    Sink* mSink;  // owned by the reporter registry
};

// The text of the BlitzFileIOException thrown by aAction, "<no exception>" or "<other exception: ...>".
std::string thrownMessage(const std::function<void()>& aAction);

// aMessage is aText, a blank, "DorudURIVuruda:", a line number and ".\n".
::testing::AssertionResult hasClassLineEnding(const std::string& aMessage, const std::string& aText);

// Every channel of every plane, read as float, equals what the writer stored.
::testing::AssertionResult everyPlaneMatches(DorudURIVuruda& aReader,
                                             const korvane::testsupport::LsmSpec& aRecipe);

// 64-bit FNV-1a of a file's bytes, to prove the reader left it unchanged.
uint64_t fileHash(const std::string& aPath);

}  // namespace korvane::lsmtest

#define EXPECT_READER_ERROR(aStatement, aText)          \
    EXPECT_TRUE(::korvane::lsmtest::hasClassLineEnding( \
        ::korvane::lsmtest::thrownMessage([&] { aStatement; }), aText))

#endif
