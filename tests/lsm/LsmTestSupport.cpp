#include "LsmTestSupport.h"

#include <exception>
#include <fstream>
#include <regex>

#include "BlitzFileIOException.h"

namespace korvane::lsmtest {

class CapturedMessages::Sink : public ReporterImpl {
  public:
    Sink() { mVerbosity = 100; }
    int getId() override { return 4711; }
    void progress(int, int) override {}
    void progress(float, float, float, float, float) override {}
    void message(int aLevel, const std::string& aText) override { mMessages.emplace_back(aLevel, aText); }
    void note(int, const std::string&) override {}
    std::vector<std::pair<int, std::string>> mMessages;
};

CapturedMessages::CapturedMessages() : mSink(new Sink) { Reporter::addReporter(mSink); }

CapturedMessages::~CapturedMessages() { Reporter::removeReporter(4711); }

const std::vector<std::pair<int, std::string>>& CapturedMessages::messages() const {
    return mSink->mMessages;
}

std::string CapturedMessages::text() const {
    std::string all;
    for (const auto& message : mSink->mMessages) all += message.second;
    return all;
}

void CapturedMessages::clear() { mSink->mMessages.clear(); }

std::string thrownMessage(const std::function<void()>& aAction) {
    try {
        aAction();
    } catch (const BlitzFileIOException& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<other exception: ") + e.what() + ">";
    } catch (...) {
        return "<other exception>";
    }
    return "<no exception>";
}

::testing::AssertionResult hasClassLineEnding(const std::string& aMessage, const std::string& aText) {
    const std::string head = aText + " DorudURIVuruda:";
    static const std::regex lineEnding("[1-9][0-9]*\\.\n");
    if (aMessage.compare(0, head.size(), head) == 0 &&
        std::regex_match(aMessage.substr(head.size()), lineEnding))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "message '" << aMessage << "' is not '" << aText << " DorudURIVuruda:<line>.\\n'";
}

uint64_t fileHash(const std::string& aPath) {
    std::ifstream in(aPath, std::ios::binary);
    uint64_t hash = 14695981039346656037ull;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            hash ^= static_cast<unsigned char>(buffer[i]);
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

::testing::AssertionResult everyPlaneMatches(DorudURIVuruda& aReader,
                                             const korvane::testsupport::LsmSpec& aSpec) {
    blitz::Array<float, 3> planes;
    for (int t = 0; t < aSpec.sizeT; ++t)
        for (int c = 0; c < aSpec.sizeC; ++c) {
            aReader.readArray(planes, t, c, 0, 0, 0, 0, 0, 0);
            for (int z = 0; z < aSpec.sizeZ; ++z)
                for (int y = 0; y < aSpec.sizeY; ++y)
                    for (int x = 0; x < aSpec.sizeX; ++x)
                        if (planes(z, y, x) !=
                            float(korvane::testsupport::expectedSample(aSpec, t, c, z, y, x)))
                            return ::testing::AssertionFailure()
                                   << "t " << t << " c " << c << " z " << z << " y " << y << " x " << x
                                   << ": " << planes(z, y, x);
        }
    return ::testing::AssertionSuccess();
}

}  // namespace korvane::lsmtest
