#include <gtest/gtest.h>

#include <regex>

#include "BlitzBioReader.h"

namespace {

// A reader whose answers the tests set directly; it has one channel type per entry of `types`.
class FakeReader : public BlitzBioReader {
  public:
    bool opened = true;
    std::vector<int> types{TYPE_UINT8};
    FloatVector3 elementSize{0.5f, 0.1f, 0.1f};

    bool reservedQueryA() override { return false; }
    bool isOpen() override { return opened; }
    bool reservedQueryB() override { return true; }
    std::string getVersion() override { return "v"; }
    std::string getInterfaceVersion() override { return "v"; }
    FloatVector3 getElementSize(int, int, int) override { return elementSize; }
    FloatVector3 getStagePosition(int, int, int) override { return FloatVector3(0.f, -1.25f, 1e7f); }
    void close() override { opened = false; }
    std::string getCurrentFile() override { return "/data/a.lsm"; }
    void getMetaData(MetaDataMap& aMetaData) override { aMetaData.clear(); }
    std::string getMetaDataValue(const std::string&) override { return ""; }
    std::string getFormat() override { return "Fake Format"; }
    int getPixelType(int aChannel) override {
        if (aChannel < 0 || aChannel >= static_cast<int>(types.size()))
            KORVANE_THROW("FakeReader", "No such channel.");
        return types[aChannel];
    }
    int getSeriesCount() override { return 1; }
    int getSizeC() override { return static_cast<int>(types.size()); }
    int getSizeT() override { return 4; }
    int getSizeX() override { return 512; }
    int getSizeY() override { return 256; }
    int getSizeZ() override { return 3; }
    std::vector<std::string> getSuffixes() override { return {"fake"}; }
    int getThumbSizeX() override { return 64; }
    int getThumbSizeY() override { return 32; }
    void open(const std::string&) override { opened = true; }
    void setSeries(int) override {}
};

const std::regex kClosedMessage("No file opened\\. BlitzBioImageReader:[0-9]+\\.\n");

TEST(PixelDataTypeNames, AllValuesAndOutOfRange) {
    const char* expected[] = {"TYPE_INT8",  "TYPE_UINT8",  "TYPE_INT16", "TYPE_UINT16",
                              "TYPE_INT32", "TYPE_UINT32", "TYPE_FLOAT", "TYPE_DOUBLE"};
    FakeReader reader;
    reader.types = {0, 1, 2, 3, 4, 5, 6, 7, 8, -1, 1 << 30};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(reader.getPixelTypeName(c), expected[c]);
    EXPECT_EQ(reader.getPixelTypeName(8), "TYPE_NONE");
    EXPECT_EQ(reader.getPixelTypeName(9), "TYPE_NONE");
    EXPECT_EQ(reader.getPixelTypeName(10), "TYPE_NONE");
}

TEST(PixelDataTypeNames, ClosedReaderAndChannelErrors) {
    FakeReader reader;
    EXPECT_THROW(reader.getPixelTypeName(5),
                 BlitzFileIOException);  // the reader's own channel error passes through
    reader.opened = false;
    try {
        reader.getPixelTypeName(0);
        FAIL() << "no exception";
    } catch (const BlitzFileIOException& e) {
        EXPECT_TRUE(std::regex_match(std::string(e.what()), kClosedMessage)) << e.what();
    }
}

TEST(Properties, KeysValuesAndFormatting) {
    FakeReader reader;
    PropertiesMap props{{"stale", "entry"}};
    reader.getProperties(props, 0, 0, 0);
    const PropertiesMap expected{{"getCurrentFile()", "/data/a.lsm"},
                                 {"getElementSize()", "(0.5,0.1,0.1)"},
                                 {"getFormat()", "Fake Format"},
                                 {"getPixelTypeName()", "TYPE_UINT8"},
                                 {"getSeriesCount()", "1"},
                                 {"getSizeC()", "1"},
                                 {"getSizeT()", "4"},
                                 {"getSizeX()", "512"},
                                 {"getSizeY()", "256"},
                                 {"getSizeZ()", "3"},
                                 {"getStagePosition()", "(0,-1.25,1e+07)"},
                                 {"getThumbSizeX()", "64"},
                                 {"getThumbSizeY()", "32"}};
    EXPECT_EQ(props, expected);
    // Walking the map yields byte order of the keys.
    EXPECT_EQ(props.begin()->first, "getCurrentFile()");
    EXPECT_EQ(std::next(props.begin())->first, "getElementSize()");
}

TEST(Properties, SixSignificantDigits) {
    FakeReader reader;
    reader.elementSize = FloatVector3(1.0f / 3.0f, 123456789.0f, 2e-7f);
    PropertiesMap props;
    reader.getProperties(props, 0, 0, 0);
    EXPECT_EQ(props["getElementSize()"], "(0.333333,1.23457e+08,2e-07)");
}

TEST(Properties, ClosedReaderLeavesMapUntouched) {
    FakeReader reader;
    reader.opened = false;
    PropertiesMap props{{"kept", "value"}};
    try {
        reader.getProperties(props, 0, 0, 0);
        FAIL() << "no exception";
    } catch (const BlitzFileIOException& e) {
        EXPECT_TRUE(std::regex_match(std::string(e.what()), kClosedMessage)) << e.what();
    }
    EXPECT_EQ(props, (PropertiesMap{{"kept", "value"}}));
}

TEST(Properties, ChannelErrorAfterTwoKeys) {
    FakeReader reader;
    PropertiesMap props{{"old", "x"}};
    EXPECT_THROW(reader.getProperties(props, 0, 3, 0), BlitzFileIOException);
    EXPECT_EQ(props, (PropertiesMap{{"getCurrentFile()", "/data/a.lsm"}, {"getFormat()", "Fake Format"}}));
}

TEST(Exception, CarriesItsMessageAndTheThrowMacroAddsClassAndLine) {
    BlitzFileIOException copy("");
    const int line = __LINE__ + 2;
    try {
        KORVANE_THROW("SomeClass", "Value " << 42 << " is bad.");
    } catch (const BlitzFileIOException& e) {
        copy = e;
    }
    EXPECT_EQ(std::string(copy.what()), "Value 42 is bad. SomeClass:" + std::to_string(line) + ".\n");
    const std::exception& base = copy;
    EXPECT_STREQ(base.what(), copy.what());
}

}  // namespace
