#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "LSMStreamProcedures.h"
#include "LsmTestSupport.h"
#include "TestFiles.h"

using korvane::lsmtest::CapturedMessages;
using korvane::testsupport::ScopedFile;

namespace {

const char* const kEofWarning = "WARNING: BlitzLSMTIFFread() encountered EOF while reading\n";

// A stream handle over a file of aSize bytes 0, 1, 2, ... (mod 256).
class StreamFile {
  public:
    explicit StreamFile(size_t aSize) : mFile("stream.bin") {
        FILE* out = std::fopen(mFile.path().c_str(), "wb");
        for (size_t i = 0; i < aSize; ++i) std::fputc(int(i % 256), out);
        std::fclose(out);
        mHandle =
            LSMStreamHandle{std::fopen(mFile.path().c_str(), "rb"), mFile.path().c_str(), false, 0, 0.0, 0};
    }
    ~StreamFile() {
        if (mHandle.file) std::fclose(mHandle.file);
    }
    LSMStreamHandle* handle() { return &mHandle; }

  private:
    ScopedFile mFile;
    LSMStreamHandle mHandle;
};

}  // namespace

TEST(StreamProcedures, ReadPastTheEndReturnsWhatWasThereWithOneLevelTwoWarning) {
    StreamFile file(10);
    CapturedMessages captured;
    unsigned char buffer[16] = {};
    ASSERT_EQ(BlitzLSMTIFFseek(file.handle(), 6, SEEK_SET), 6u);
    EXPECT_EQ(BlitzLSMTIFFread(file.handle(), buffer, 16), 4);
    EXPECT_EQ(buffer[0], 6);
    EXPECT_EQ(buffer[3], 9);
    ASSERT_EQ(captured.messages().size(), 1u);
    EXPECT_EQ(captured.messages()[0].first, 2);
    EXPECT_EQ(captured.messages()[0].second, kEofWarning);

    captured.clear();  // starting exactly at the end
    EXPECT_EQ(BlitzLSMTIFFread(file.handle(), buffer, 1), 0);
    ASSERT_EQ(captured.messages().size(), 1u);
    EXPECT_EQ(captured.messages()[0].second, kEofWarning);

    captured.clear();  // the indicators are cleared before every read
    ASSERT_EQ(BlitzLSMTIFFseek(file.handle(), 0, SEEK_SET), 0u);
    EXPECT_EQ(BlitzLSMTIFFread(file.handle(), buffer, 10), 10);
    EXPECT_TRUE(captured.messages().empty());
}

TEST(StreamProcedures, SeekPastTheEndSucceedsAndTheNextReadReportsEof) {
    StreamFile file(10);
    CapturedMessages captured;
    unsigned char byte;
    EXPECT_EQ(BlitzLSMTIFFseek(file.handle(), 1000, SEEK_SET), 1000u);
    EXPECT_TRUE(captured.messages().empty());
    EXPECT_EQ(BlitzLSMTIFFread(file.handle(), &byte, 1), 0);
    EXPECT_EQ(captured.text(), kEofWarning);
}

TEST(StreamProcedures, SeekAddsTheStripsCorrectionOnlyWhileAStripIsRead) {
    StreamFile file(64);
    LSMStreamHandle& handle = *file.handle();
    handle.correction = uint64_t(1) << 32;
    ASSERT_EQ(BlitzLSMTIFFseek(&handle, 20, SEEK_SET), 20u);
    EXPECT_EQ(ftello(handle.file), 20);
    handle.correctOffsets = true;
    // 5000000000 stored modulo 2^32 is brought back by one step of 4 GiB; the requested value is returned.
    EXPECT_EQ(BlitzLSMTIFFseek(&handle, 705032704u, SEEK_SET), 705032704u);
    EXPECT_EQ(ftello(handle.file), 5000000000);
}

TEST(StreamProcedures, SizeKeepsThePositionAndIsZeroForEmptyOrUnusableStreams) {
    StreamFile file(300);
    ASSERT_EQ(BlitzLSMTIFFseek(file.handle(), 17, SEEK_SET), 17u);
    EXPECT_EQ(BlitzLSMTIFFsize(file.handle()), 300u);
    EXPECT_EQ(ftello(file.handle()->file), 17);

    StreamFile empty(0);
    EXPECT_EQ(BlitzLSMTIFFsize(empty.handle()), 0u);
    LSMStreamHandle closed{nullptr, "none", false, 0, 0.0, 0};
    EXPECT_EQ(BlitzLSMTIFFsize(&closed), 0u);
}

TEST(StreamProcedures, WriteOnAReadOnlyStreamWarnsAtLevelOneAndCloseReportsItsResult) {
    StreamFile file(4);
    CapturedMessages captured;
    char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(BlitzLSMTIFFwrite(file.handle(), data, 4), 0);
    ASSERT_EQ(captured.messages().size(), 1u);
    EXPECT_EQ(captured.messages()[0].first, 1);
    EXPECT_EQ(captured.messages()[0].second, "WARNING: BlitzLSMTIFFwrite() encountered unspecified error\n");

    EXPECT_EQ(BlitzLSMTIFFclose(file.handle()), 0);
    EXPECT_EQ(file.handle()->file, nullptr);
    EXPECT_EQ(BlitzLSMTIFFclose(file.handle()), -1);
}
