#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "AcquisitionBlocks.h"
#include "DorudURIVuruda.h"
#include "LsmTestSupport.h"
#include "LsmWriter.h"

using korvane::lsmtest::CapturedMessages;
namespace kt = korvane::testsupport;
namespace rec = kt::lsmrecord;

namespace {

// Values read by hand from each real file. The channel checked is the last one, through the
// data channel -> track -> detection channel link.
struct RealAcquisition {
    const char* file;
    const char* objective;
    const char* laser;  // the first
    double laserPower_mW;
    int channel, track, detectionChannel;
    double detectorGain_V, excitation_nm;
    const char* startTime;
    size_t timeStamps;
    double firstStamp_s, secondStamp_s;  // as many as there are
    size_t timers, markers, wavelengths;
    double firstWavelengthStart_m;
    const char* microscope;
};

void PrintTo(const RealAcquisition& aFile, std::ostream* aStream) { *aStream << aFile.file; }

const RealAcquisition kRealAcquisitions[] = {
    {"sample01_3ch_512_u8.lsm", "Plan-Apochromat 40x/1.3 Oil DIC M27", "HeNe543", 1.2, 2, 2, 0,
     510.37707471253697, 543, "2017-06-02T15:37:43", 1, 6596.37546660606, 0, 0, 0, 3, 4.100000000000003e-07,
     "LSM 710, AxioObserver"},
    {"sample02_spectral32ch_256_u8.lsm", "LD LCI Plan-Apochromat 25x/0.8 Imm Korr DIC M27",
     "Titanium:Sapphire", 50, 31, 0, 0, 750, 740, "2019-10-01T13:41:12", 1, 13276.177222404001, 0, 0, 0, 32,
     4.102449120000001e-07, "LSM 880, AxioObserver"},
    {"sample03_spectral31ch_256_u8.lsm", "Plan-Apochromat 20x/0.8 M27", "Titanium:Sapphire", 50, 30, 0, 0,
     750, 740, "2019-04-08T17:51:17", 1, 21344.662859404, 0, 0, 0, 31, 4.1024491200000014e-07,
     "LSM 880, AxioObserver"},
    {"sample04_1ch_512_u16.lsm", "EC Plan-Neofluar 40x/1.30 Oil DIC M27", "DPSS 561-10", 20, 0, 0, 0,
     764.4112392398895, 561, "2014-04-03T15:44:37", 1, 175054.89724751515, 0, 0, 0, 1, 5.71727496e-07,
     "LSM 710, Axio Imager"},
    {"sample05_3ch_512_u8.lsm", "Plan-Apochromat 100x/1.4 Oil Ph3", "Argon/2", 18, 2, 1, 0, 828, 543,
     "2004-10-20T21:33:53", 1, 0.0, 0, 6, 7, 3, 0.0, ""},
    {"sample06_2ch_1024_u8.lsm", "Plan-Neofluar 10x/0.3", "Argon/2", 25.5, 1, 1, 9, 812, 488,
     "2005-05-19T11:09:32", 0, 0, 0, 6, 7, 0, 0.0, ""},
    {"sample07_xyt_128_t50_u8.lsm", "C-Apochromat 40x/1.20 W Korr UV-VIS-IR M27", "Argon/2",
     14.400000000000002, 0, 0, 0, 0, 488, "2022-10-17T18:39:54", 50, 19639.415952484847, 19639.51446109091, 6,
     7, 1, -1.0, "LSM 510, AxioObserver"},
    {"sample08_linescan_1024x1000_u8.lsm", "C-Apochromat 40x/1.20 W Korr UV-VIS-IR M27", "Argon/2",
     14.400000000000002, 0, 0, 0, 0, 488, "2022-08-04T13:58:28", 1000, 9450.683111757575, 9450.696206545454,
     6, 7, 1, -1.0, "LSM 510, AxioObserver"},
};

class RealAcquisitionRecord : public ::testing::TestWithParam<RealAcquisition> {};

// Writes one file per test with blocks added to a 4 x 4 single-channel stack.
struct WrittenFile {
    kt::ScopedFile file{"acquisition.lsm"};
    CapturedMessages messages;
    DorudURIVuruda reader;

    const LSMAcquisition& open(std::vector<kt::LsmBlock> aBlocks,
                               std::vector<std::pair<int, uint32_t>> aWords = {}) {
        kt::LsmSpec recipe = kt::lsmSpec(4, 4, 1, 1, 1);
        recipe.blocks = std::move(aBlocks);
        recipe.recordWords = std::move(aWords);
        kt::writeLsm(file.path(), recipe);
        reader.open(file.path());
        return reader.getAcquisition();
    }
};

}  // namespace

TEST_P(RealAcquisitionRecord, BlocksHoldWhatTheFileRecords) {
    const RealAcquisition& x = GetParam();
    const std::string path = std::string(KORVANE_REALDATA_DIR) + "/" + x.file;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) GTEST_SKIP() << "real LSM file " << path << " is not available";
    CapturedMessages messages;
    DorudURIVuruda reader;
    reader.open(path);
    const LSMAcquisition& a = reader.getAcquisition();
    EXPECT_EQ(messages.text(), "");  // real files are not damaged
    EXPECT_EQ(a.recording.objective, x.objective);
    ASSERT_FALSE(a.lasers.empty());
    EXPECT_EQ(a.lasers[0].name, x.laser);
    EXPECT_NEAR(a.lasers[0].power_mW.value_or(NAN), x.laserPower_mW, 1e-9);
    const LSMChannelHardware link = lsmChannelHardware(a, x.channel);
    ASSERT_EQ(link.track, x.track);
    ASSERT_EQ(link.detectionChannel, x.detectionChannel);
    const LSMTrack& track = a.tracks[size_t(link.track)];
    EXPECT_NEAR(track.detectionChannels[size_t(link.detectionChannel)].detectorGain_V.value_or(NAN),
                x.detectorGain_V, 1e-9);
    ASSERT_EQ(link.illuminationChannels.size(), 1u);
    EXPECT_NEAR(track.illuminationChannels[size_t(link.illuminationChannels[0])].wavelength_nm.value_or(NAN),
                x.excitation_nm, 1e-9);
    ASSERT_TRUE(a.recording.startTime);
    EXPECT_EQ(lsmIso8601(*a.recording.startTime), x.startTime);
    ASSERT_EQ(a.timeStamps_s.size(), x.timeStamps);
    const std::vector<double> first(a.timeStamps_s.begin(),
                                    a.timeStamps_s.begin() + std::min<size_t>(2, x.timeStamps));
    const std::vector<double> expected = {x.firstStamp_s, x.secondStamp_s};
    EXPECT_EQ(first,
              std::vector<double>(expected.begin(), expected.begin() + std::min<size_t>(2, x.timeStamps)));
    EXPECT_EQ(a.timers.size(), x.timers);
    EXPECT_EQ(a.markers.size(), x.markers);
    for (const LSMTimer& timer : a.timers) EXPECT_EQ(timer.name.substr(0, 5), "Timer");  // first of two names
    ASSERT_EQ(a.channelWavelengths.size(), x.wavelengths);
    if (x.wavelengths > 0) {
        EXPECT_EQ(a.channelWavelengths[0].start_m, x.firstWavelengthStart_m);
    }
    EXPECT_EQ(a.microscopeModel, x.microscope);
    EXPECT_EQ(reader.getMetaDataValue("Recording/Objective"), x.objective);
}

INSTANTIATE_TEST_SUITE_P(MicroscopeFiles, RealAcquisitionRecord, ::testing::ValuesIn(kRealAcquisitions),
                         [](const ::testing::TestParamInfo<RealAcquisition>& aInfo) {
                             return std::string(aInfo.param.file).substr(0, 8);
                         });

TEST(AcquisitionRecord, QuirksOfRealFilesDecodeAsTheMicroscopeMeantThem) {
    WrittenFile w;
    const std::string characteristics =
        "ANSI\r\nBEGIN Characteristics 10001\r\n\tNotes = \\r\\n\r\n\tDevice = LSM 880, "
        "AxioObserver\r\nEND\r\n";
    const LSMAcquisition& a =
        w.open({{rec::kOffsetScanInformation, kt::quirkyScanInformation()},
                {rec::kOffsetPositions, kt::LeBytes().u32(1).f64(1e-6).f64(-2e-6).f64(NAN).bytes},
                {rec::kOffsetCharacteristics,
                 kt::LeBytes().u32(uint32_t(characteristics.size())).chars(characteristics).bytes}});
    EXPECT_EQ(w.messages.text(), "");
    const LSMRecording& r = a.recording;
    EXPECT_EQ(r.name, "Bead");
    EXPECT_EQ(r.description + r.notes + r.user, "");
    EXPECT_EQ(r.objective, "Plan 63x/1.4 \xc3\x96l");
    EXPECT_EQ(lsmIso8601(r.startTime.value()), "2017-06-02T15:37:43");
    EXPECT_EQ(r.zoomX, 2.0);
    ASSERT_EQ(a.lasers.size(), 1u);
    EXPECT_EQ(a.lasers[0].acquired, true);
    EXPECT_EQ(a.lasers[0].power_mW, 1.5);
    ASSERT_EQ(a.timers.size(), 1u);
    EXPECT_EQ(a.timers[0].name, "Timer1");
    const LSMChannelHardware link = lsmChannelHardware(a, 0);
    EXPECT_EQ(link.track, 0);
    EXPECT_EQ(link.dataChannel, 0);
    EXPECT_EQ(link.detectionChannel, 1);
    EXPECT_EQ(link.illuminationChannels, std::vector<int>{0});
    EXPECT_EQ(lsmChannelHardware(a, 1).track, -1);
    EXPECT_EQ(a.microscopeModel, "LSM 880, AxioObserver");
    const std::vector<std::pair<std::string, std::string>> entries = {{"Notes", ""},
                                                                      {"Device", "LSM 880, AxioObserver"}};
    EXPECT_EQ(a.characteristics, entries);
    ASSERT_EQ(a.positions.size(), 1u);
    EXPECT_EQ(a.positions[0].y_m, -2e-6);
    EXPECT_EQ(a.positions[0].z_m, 0.0);  // not a number: unset
}

TEST(AcquisitionRecord, MetaDataMapReadsAsPathsAndSummarisesLongLists) {
    WrittenFile w;
    std::vector<kt::LsmBlock> blocks = kt::timeBlocks(50000, 30);
    blocks.push_back({rec::kOffsetScanInformation, kt::quirkyScanInformation()});
    const LSMAcquisition& a = w.open(blocks);
    ASSERT_EQ(a.timeStamps_s.size(), 50000u);
    ASSERT_EQ(a.events.size(), 30u);
    EXPECT_EQ(a.events[1].description, "event 1");
    EXPECT_EQ(a.events[2].description, "event 2");
    EXPECT_EQ(a.events[4].type, 4u);
    MetaDataMap map;
    w.reader.getMetaData(map);
    EXPECT_LT(map.size(), 60u);
    const std::map<std::string, std::string> expected = {
        {"Recording/Objective", "Plan 63x/1.4 \xc3\x96l"},
        {"Recording/Start time", "2017-06-02T15:37:43"},
        {"Track 1/Detection channel 2/Pinhole diameter (\xc2\xb5m)", "52.5"},
        {"Track 1/Detection channel 2/Detector gain (V)", "700"},
        {"Image channel 0/Detection channel", "Track 1/Detection channel 2"},
        {"Image channel 0/Excitation (nm)", "488"},
        {"Time stamps/count", "50000"},
        {"Time stamps/first (s)", "100"},
        {"Time stamps/interval (s)", "0.1"},
        {"Events/count", "30"},
        {"Events/last", "129 s, trigger: event 29"},
        {"Track 1/Detection channel 1/Name", ""},  // not acquired
        {"Events/Event 1", ""},                    // listed only in the model
        {"Recording/Description", ""},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(w.reader.getMetaDataValue(key), value) << key;
}

TEST(AcquisitionRecord, DamagedBlockWarnsAndLeavesItsPartEmpty) {
    using Check = std::function<bool(const LSMAcquisition&)>;
    struct Case {
        int field;  // of the record that points to the block; no bytes: it points past the end of the file
        std::vector<uint8_t> bytes;
        const char* warning;
        Check check;
    };
    const Check noStamps = [](const LSMAcquisition& a) { return a.timeStamps_s.empty(); };
    const Check noEvents = [](const LSMAcquisition& a) { return a.events.empty(); };
    // Damage inside the tree keeps what came before it: the recording's name.
    const Check nameOnly = [](const LSMAcquisition& a) {
        return a.recording.name == "kept" && a.recording.objective.empty() && a.lasers.empty();
    };
    kt::LeBytes named;
    named.open(0x10000000).text(0x10000001, "kept");
    kt::LeBytes deep = named;
    for (int i = 0; i < 20; ++i) deep.open(0x30000000);
    const int scanInformation = rec::kOffsetScanInformation;
    const std::vector<Case> cases = {
        {rec::kOffsetTimeStamps, kt::LeBytes().u32(8 + 8 * 100000).u32(100000).f64(1).bytes,
         "of 100000 time stamps runs past the end of the file", noStamps},
        {rec::kOffsetTimeStamps, kt::LeBytes().u32(16).u32(5).f64(1).f64(2).bytes,
         "declares 5 time stamps in 16 byte", noStamps},
        {rec::kOffsetTimeStamps, {}, "TimeStamps block at byte 4294967040 lies beyond the end", noStamps},
        {rec::kOffsetEventList, kt::LeBytes().u32(24).u32(1).u32(8).f64(0).u32(0).bytes,
         "has event 1 of 8 byte", noEvents},
        {rec::kOffsetEventList, kt::LeBytes().u32(8).u32(3).bytes, "declares 3 events", noEvents},
        {rec::kOffsetChannelWavelength, kt::LeBytes().u32(2).f64(4e-7).f64(5e-7).f64(5e-7).f64(6e-7).bytes,
         "declares 2 channel wavelength ranges where at most 1",
         [](const LSMAcquisition& a) { return a.channelWavelengths.empty(); }},
        {rec::kOffsetPositions, kt::LeBytes().u32(2).f64(0).f64(0).f64(0).f64(0).f64(0).f64(0).bytes,
         "declares 2 positions where at most 1", [](const LSMAcquisition& a) { return a.positions.empty(); }},
        {rec::kOffsetCharacteristics, kt::LeBytes().u32(1 << 20).chars("ANSI").bytes,
         "of 1048576 byte runs past the end",
         [](const LSMAcquisition& a) { return a.characteristics.empty(); }},
        {scanInformation, deep.bytes, "nests deeper than 16", nameOnly},
        {scanInformation, kt::LeBytes(named).u32(0x10000004).u32(2).u32(1 << 20).bytes,
         "running past the end of the file", nameOnly},
        {scanInformation, kt::LeBytes(named).u32(0x10000004).u32(2).u32(0x7FFFFFFF).bytes, "more than 1 MiB",
         nameOnly},
        {scanInformation, kt::LeBytes().open(0x30000000).text(0x10000001, "lost").close().bytes,
         "does not start with a recording", [](const LSMAcquisition& a) { return a.recording.name.empty(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warning);
        WrittenFile w;
        const LSMAcquisition& a =
            c.bytes.empty() ? w.open({}, {{c.field, 0xFFFFFF00u}}) : w.open({{c.field, c.bytes}});
        EXPECT_TRUE(w.reader.isOpen());
        EXPECT_NE(w.messages.text().find(c.warning), std::string::npos) << w.messages.text();
        EXPECT_TRUE(c.check(a));
    }
}
