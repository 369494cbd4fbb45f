#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

namespace kt = korvane::testsupport;

TEST(LargeFiles, DirectoriesAboveNumber65535AreReached) {
    kt::ScopedFile file("manydirs.lsm");
    // 3 x 10923 = 32769 planes: 65538 directories, the last image directory is number 65536.
    kt::LsmSpec recipe = kt::lsmSpec(2, 1, 3, 1, 10923);
    recipe.previewWidth = 1;
    recipe.previewHeight = 1;
    recipe.previewRgb = false;
    recipe.colorBlock = false;
    kt::writeLsm(file.path(), recipe);

    DorudURIVuruda reader;
    reader.open(file.path());
    blitz::Array<int, 3> planes;
    reader.readArray(planes, 10922, 0, 0, 0, 0, 0, 0, 0);  // directories 65532, 65534 and 65536
    ASSERT_EQ(planes.extent(0), 3);
    for (int z = 0; z < 3; ++z)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(planes(z, 0, x), kt::expectedSample(recipe, 10922, 0, z, 0, x)) << z << " " << x;
    blitz::Array<int, 1> row;
    reader.readArray(row, 10922, 0, 2, 1, 0, 1, 1, 1);  // selected directly as the first plane
    EXPECT_EQ(row(0), kt::expectedSample(recipe, 10922, 0, 2, 0, 1));
    EXPECT_TRUE(reader.isOpen());
}

TEST(LargeFiles, PlanesBeyondFourGiBReadBackThroughWrappedOffsets) {
    const std::string folder = kt::tempDirectory();
    if (!kt::fileSystemSupportsSparseFiles(folder))
        GTEST_SKIP() << "the file system of " << folder << " cannot hold sparse files";
    kt::ScopedFile file("huge.lsm");
    // Two 64 MiB channels per plane: the reader's per-directory estimate tracks the real layout.
    kt::LsmSpec recipe = kt::lsmSpec(8192, 8192, 34, 2, 1, {1, 1});
    recipe.sparsePixelData = true;
    const kt::LsmLayoutInfo info = kt::writeLsmWithInfo(file.path(), recipe);
    ASSERT_GT(info.fileSize, 4294967296ull);
    const kt::StripLayout& wrapped = info.images[33].strips[1];
    ASSERT_GT(wrapped.position, 4294967296ull);
    ASSERT_EQ(wrapped.storedOffset, uint32_t(wrapped.position));

    DorudURIVuruda reader;
    reader.open(file.path());
    const int rows[] = {0, 1, 4096, 8190,
                        8191};  // first and last rows of a strip hold data, the rest are holes
    blitz::Array<unsigned char, 2> plane;
    const auto start = std::chrono::steady_clock::now();
    for (const int z : {32, 33})
        for (const int c : {0, 1}) {
            reader.readArray(plane, 0, c, z, 1, 0, 0, 0, 0);
            ASSERT_EQ(plane.extent(0), 8192);
            for (const int y : rows)
                for (int x = 0; x < 8192; ++x)
                    ASSERT_EQ(plane(y, x), kt::expectedSample(recipe, 0, c, z, y, x))
                        << "z " << z << " c " << c << " y " << y << " x " << x;
        }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("secondsFor4Planes", std::to_string(seconds));
    blitz::Array<float, 3> window;  // across the 4 GiB mark, starting below it
    reader.readArray(window, 0, 1, 31, 0, 8190, 2, 8000, 5);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(window(k, j, i), kt::expectedSample(recipe, 0, 1, 31 + k, 8190 + j, 8000 + i));
    EXPECT_TRUE(reader.isOpen());
}
