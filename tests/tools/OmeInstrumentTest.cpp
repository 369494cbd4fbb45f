#include <gtest/gtest.h>

#include "ObjectiveText.h"
#include "OmeInstrument.h"

using namespace korvane::tools;

namespace {

TEST(OmeInstrument, ObjectiveLabelsGiveMagnificationApertureImmersionAndCorrection) {
    const struct {
        const char* label;
        std::optional<double> magnification, lensNA;
        const char* immersion;
        const char* correction;
    } cases[] = {
        {"Plan-Apochromat 40x/1.3 Oil DIC M27", 40, 1.3, "Oil", "PlanApo"},
        {"LD LCI Plan-Apochromat 25x/0.8 Imm Korr DIC M27", 25, 0.8, "Multi", "PlanApo"},
        {"C-Apochromat 40x/1.20 W Korr UV-VIS-IR M27", 40, 1.2, "Water", "Apo"},
        {"EC Plan-Neofluar 63x/1,25 Oel", 63, 1.25, "Oil", "PlanNeofluar"},
        {"Fluar 10x/0.5 M27", 10, 0.5, "", "Fluar"},
        {"Objective W N-Achroplan", std::nullopt, std::nullopt, "Water", "Achromat"},
    };
    for (const auto& c : cases) {
        const ObjectiveText text = parseObjective(c.label);
        EXPECT_EQ(text.magnification, c.magnification) << c.label;
        EXPECT_EQ(text.lensNA, c.lensNA) << c.label;
        EXPECT_EQ(text.immersion, c.immersion) << c.label;
        EXPECT_EQ(text.correction, c.correction) << c.label;
    }
}

LSMTrack track(const std::string& aChannel, const std::string& aDetector, std::vector<double> aLines) {
    LSMTrack track;
    LSMDetectionChannel detection;
    detection.name = aChannel;
    detection.detectorName = aDetector;
    detection.filterName = "BP 505-530";
    track.detectionChannels = {detection};
    for (const double line : aLines) {
        LSMIlluminationChannel illumination;
        illumination.name = std::to_string(int(line));
        illumination.acquired = true;
        illumination.wavelength_nm = line + 6e-14;  // as files store them
        track.illuminationChannels.push_back(illumination);
    }
    LSMDataChannel data;
    data.name = aChannel;
    track.dataChannels = {data};
    return track;
}

// Lines find their laser by the wavelength in its name, else by its kind; a line no laser explains
// becomes a laser of its own, and hardware no written channel reached is left out.
TEST(OmeInstrument, ChannelsLinkTheLasersDetectorsAndFiltersTheyUsed) {
    LSMAcquisition acquisition;
    for (const char* name : {"HeNe633", "Argon/2", "Titanium:Sapphire", "DPSS 561-10"}) {
        acquisition.lasers.emplace_back();
        acquisition.lasers.back().name = name;
    }
    acquisition.tracks = {track("Ch1", "Pmt1", {488}), track("ChD", "PmtD", {633}),
                          track("Ch2", "Pmt2", {405}), track("Ch3", "Pmt3", {800, 633}),
                          track("Ch4", "Pmt4", {458})};
    const OmeInstrument instrument = omeInstrument(acquisition, {0, 1, 2, 3});
    const struct {
        int laser;
        double excitation;
        const char* illumination;
        const char* contrast;
    } expected[] = {{0, 488, "Epifluorescence", "Fluorescence"},
                    {1, 633, "Transmitted", ""},
                    {2, 405, "Epifluorescence", "Fluorescence"},
                    {3, 800, "NonLinear", "Fluorescence"}};
    ASSERT_EQ(instrument.channels.size(), 4u);
    for (int c = 0; c < 4; ++c) {
        const OmeChannelSettings& settings = instrument.channels[size_t(c)];
        EXPECT_EQ(settings.laser, expected[c].laser) << c;
        EXPECT_EQ(settings.excitation_nm, expected[c].excitation) << c;
        EXPECT_EQ(settings.detector, c) << c;
        EXPECT_EQ(settings.filter, 0) << c;
        EXPECT_EQ(settings.illuminationType, expected[c].illumination) << c;
        EXPECT_EQ(settings.contrastMethod, expected[c].contrast) << c;
    }
    ASSERT_EQ(instrument.lasers.size(), 4u);
    const std::pair<std::string, std::optional<double>> lasers[] = {
        {"Argon/2", 488}, {"HeNe633", 633}, {"", 405}, {"Titanium:Sapphire", 800}};
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(std::make_pair(instrument.lasers[k].model, instrument.lasers[k].wavelength_nm), lasers[k])
            << k;
    EXPECT_EQ(instrument.filters.size(), 1u);
    EXPECT_EQ(instrument.detectors.size(), 4u);
}

}  // namespace
