// The ScanInformation block: a flat run of (id, type, size, payload) entries that opens and closes
// sub-blocks, walked once into the typed model.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "LSMAcquisitionBlocks.h"
#include "LSMText.h"
#include "LittleEndian.h"

namespace {

using korvane::lsm::littleEndian32;
using korvane::lsm::littleEndianDouble;

const char* const kBlock = "ScanInformation block";
constexpr uint32_t kRecordId = 0x10000000;
constexpr uint32_t kCloseId = 0xFFFFFFFF;
constexpr uint32_t kTypeMarker = 0, kTypeText = 2, kTypeInt32 = 4, kTypeDouble = 5;
// Real files nest 5 deep, hold entries of a few dozen bytes and blocks of a few dozen KiB.
constexpr size_t kMaxDepth = 16;
constexpr uint32_t kMaxPayload = 1u << 20;
constexpr uint64_t kMaxBlockBytes = uint64_t(16) << 20;
constexpr uint64_t kFirstRead = 32 * 1024;

enum class Node {
    Recording,
    Lasers,
    Laser,
    Tracks,
    Track,
    DetectionChannels,
    DetectionChannel,
    IlluminationChannels,
    IlluminationChannel,
    BeamSplitters,
    BeamSplitter,
    DataChannels,
    DataChannel,
    Timers,
    Timer,
    Markers,
    Marker,
    Other,  // a sub-block this reader does not know, and everything inside it
};

struct Child {
    Node parent;
    uint32_t id;
    Node node;
};
constexpr Child kChildren[] = {
    {Node::Recording, 0x30000000, Node::Lasers},
    {Node::Recording, 0x20000000, Node::Tracks},
    {Node::Recording, 0x11000000, Node::Timers},
    {Node::Recording, 0x13000000, Node::Markers},
    {Node::Lasers, 0x50000000, Node::Laser},
    {Node::Tracks, 0x40000000, Node::Track},
    {Node::Track, 0x60000000, Node::DetectionChannels},
    {Node::Track, 0x80000000, Node::IlluminationChannels},
    {Node::Track, 0xA0000000, Node::BeamSplitters},
    {Node::Track, 0xC0000000, Node::DataChannels},
    {Node::DetectionChannels, 0x70000000, Node::DetectionChannel},
    {Node::IlluminationChannels, 0x90000000, Node::IlluminationChannel},
    {Node::BeamSplitters, 0xB0000000, Node::BeamSplitter},
    {Node::DataChannels, 0xD0000000, Node::DataChannel},
    {Node::Timers, 0x12000000, Node::Timer},
    {Node::Markers, 0x14000000, Node::Marker},
};

Node childOf(Node aParent, uint32_t aId) {
    for (const Child& child : kChildren)
        if (child.parent == aParent && child.id == aId) return child.node;
    return Node::Other;
}

// One attribute entry, decoded by the type it is stored with: an id's type is not fixed, real files
// hold one id with two types.
struct Entry {
    uint32_t id;
    uint32_t type;
    const unsigned char* payload;
    uint32_t size;

    std::string text() const { return type == kTypeText ? decodeLSMText(payload, size) : std::string(); }
    std::optional<double> number() const {
        if (type == kTypeInt32 && size >= 4) return double(int32_t(littleEndian32(payload)));
        if (type != kTypeDouble || size < 8) return std::nullopt;
        const double value = littleEndianDouble(payload);
        if (!std::isfinite(value) || std::fabs(value) > 1e15) return std::nullopt;
        return value;
    }
    std::optional<int32_t> integer() const {
        if (type == kTypeInt32 && size >= 4) return int32_t(littleEndian32(payload));
        const std::optional<double> value = number();
        if (!value || *value != std::floor(*value) || *value < -2147483648.0 || *value > 2147483647.0)
            return std::nullopt;
        return int32_t(*value);
    }
    // Older files write -1 for yes, newer ones 1.
    std::optional<bool> flag() const {
        const std::optional<int32_t> value = integer();
        if (!value) return std::nullopt;
        return *value != 0;
    }
};

void setRecording(LSMRecording& r, const Entry& e) {
    switch (e.id) {
        case 0x10000001:
            r.name = e.text();
            break;
        case 0x10000002:
            r.description = e.text();
            break;
        case 0x10000003:
            r.notes = e.text();
            break;
        case 0x10000004:
            r.objective = e.text();
            break;
        case 0x10000006:
            r.specialScanMode = e.text();
            break;
        case 0x10000008:
            r.scanMode = e.text();
            break;
        case 0x1000000A:
            r.linesPerPlane = e.integer();
            break;
        case 0x1000000B:
            r.samplesPerLine = e.integer();
            break;
        case 0x1000000C:
            r.planesPerVolume = e.integer();
            break;
        case 0x10000013:
            r.bidirectional = e.flag();
            break;
        case 0x10000016:
            r.zoomX = e.number();
            break;
        case 0x10000017:
            r.zoomY = e.number();
            break;
        case 0x10000018:
            r.zoomZ = e.number();
            break;
        case 0x1000001C:
            r.sampleSpacing_um = e.number();
            break;
        case 0x1000001D:
            r.lineSpacing_um = e.number();
            break;
        case 0x1000001E:
            r.planeSpacing_um = e.number();
            break;
        case 0x10000036:
            r.startTime_days = e.number();
            r.startTime = r.startTime_days ? lsmDateTimeFromDays(*r.startTime_days) : std::nullopt;
            break;
        case 0x10000047:
            r.user = e.text();
            break;
    }
}

void setLaser(LSMLaser& l, const Entry& e) {
    switch (e.id) {
        case 0x50000001:
            l.name = e.text();
            break;
        case 0x50000002:
            l.acquired = e.flag();
            break;
        case 0x50000003:
            l.power_mW = e.number();
            break;
    }
}

void setTrack(LSMTrack& t, const Entry& e) {
    switch (e.id) {
        case 0x40000001:
            t.multiplexType = e.integer();
            break;
        case 0x40000003:
            t.samplingMode = e.integer();
            break;
        case 0x40000005:
            t.samplingNumber = e.integer();
            break;
        case 0x40000006:
            t.acquired = e.flag();
            break;
        case 0x4000000B:
            t.timeBetweenStacks_s = e.number();
            break;
        case 0x4000000C:
            t.name = e.text();
            break;
        case 0x40000019:
            t.pixelTime_us = e.number();
            break;
    }
}

void setDetectionChannel(LSMDetectionChannel& d, const Entry& e) {
    switch (e.id) {
        case 0x70000003:
            d.detectorGain_V = e.number();
            break;
        case 0x70000005:
            d.amplifierGain = e.number();
            break;
        case 0x70000007:
            d.amplifierOffset = e.number();
            break;
        case 0x70000009:
            d.pinholeDiameter_um = e.number();
            break;
        case 0x7000000B:
            d.acquired = e.flag();
            break;
        case 0x7000000C:
            d.detectorName = e.text();
            break;
        case 0x70000010:
            d.filterName = e.text();
            break;
        case 0x70000014:
            d.name = e.text();
            break;
        case 0x70000022:
            d.spectralStart_nm = e.number();
            break;
        case 0x70000023:
            d.spectralStop_nm = e.number();
            break;
        case 0x70000026:
            d.dyeName = e.text();
            break;
    }
}

void setIlluminationChannel(LSMIlluminationChannel& i, const Entry& e) {
    switch (e.id) {
        case 0x90000001:
            i.name = e.text();
            break;
        case 0x90000002:
            i.power_percent = e.number();
            break;
        case 0x90000003:
            i.wavelength_nm = e.number();
            break;
        case 0x90000004:
            i.acquired = e.flag();
            break;
    }
}

void setBeamSplitter(LSMBeamSplitter& b, const Entry& e) {
    switch (e.id) {
        case 0xB0000001:
            b.slot = e.text();
            break;
        case 0xB0000002:
            b.filter = e.text();
            break;
        case 0xB0000003:
            b.name = e.text();
            break;
    }
}

void setDataChannel(LSMDataChannel& d, const Entry& e) {
    switch (e.id) {
        case 0xD0000001:
            d.name = e.text();
            break;
        case 0xD0000003:
            d.imageChannel = e.integer();
            break;
        case 0xD0000004:
            if (const std::optional<int32_t> color = e.integer()) d.color = uint32_t(*color) & 0xFFFFFF;
            break;
        case 0xD0000006:
            d.bitsPerSample = e.integer();
            break;
        case 0xD0000014:
            d.dyeName = e.text();
            break;
        case 0xD0000017:
            d.acquired = e.flag();
            break;
    }
}

void setTimer(LSMTimer& t, const Entry& e) {
    switch (e.id) {
        case 0x12000001:
            t.name = e.text();
            break;
        case 0x12000002:
            t.description = e.text();
            break;
        case 0x12000003:
            t.interval_s = e.number();
            break;
        case 0x12000004:
            t.triggerIn = e.text();
            break;
        case 0x12000005:
            t.triggerOut = e.text();
            break;
    }
}

void setMarker(LSMMarker& m, const Entry& e) {
    switch (e.id) {
        case 0x14000001:
            m.name = e.text();
            break;
        case 0x14000002:
            m.description = e.text();
            break;
        case 0x14000003:
            m.triggerIn = e.text();
            break;
        case 0x14000004:
            m.triggerOut = e.text();
            break;
    }
}

// Builds the model while the entries are walked: an item node appends its element when it opens,
// and every attribute goes to the element of the innermost open node.
class TreeBuilder {
  public:
    explicit TreeBuilder(LSMAcquisition& aAcquisition) : mAcq(aAcquisition) {}

    size_t depth() const { return mStack.size(); }

    void open(uint32_t aId) {
        const Node node = mStack.empty() ? Node::Recording : childOf(mStack.back().node, aId);
        switch (node) {
            case Node::Laser:
                mAcq.lasers.emplace_back();
                break;
            case Node::Track:
                mAcq.tracks.emplace_back();
                break;
            case Node::DetectionChannel:
                mAcq.tracks.back().detectionChannels.emplace_back();
                break;
            case Node::IlluminationChannel:
                mAcq.tracks.back().illuminationChannels.emplace_back();
                break;
            case Node::BeamSplitter:
                mAcq.tracks.back().beamSplitters.emplace_back();
                break;
            case Node::DataChannel:
                mAcq.tracks.back().dataChannels.emplace_back();
                break;
            case Node::Timer:
                mAcq.timers.emplace_back();
                break;
            case Node::Marker:
                mAcq.markers.emplace_back();
                break;
            default:
                break;
        }
        mStack.push_back({node, mSeen.size()});
    }

    void close() {
        mSeen.resize(mStack.back().firstSeen);
        mStack.pop_back();
    }

    void set(const Entry& aEntry) {
        const Frame& frame = mStack.back();
        if (frame.node == Node::Other) return;
        // A repeated id keeps its first value: real files repeat some with a different second value.
        if (std::find(mSeen.begin() + std::ptrdiff_t(frame.firstSeen), mSeen.end(), aEntry.id) != mSeen.end())
            return;
        mSeen.push_back(aEntry.id);
        switch (frame.node) {
            case Node::Recording:
                setRecording(mAcq.recording, aEntry);
                break;
            case Node::Laser:
                setLaser(mAcq.lasers.back(), aEntry);
                break;
            case Node::Track:
                setTrack(mAcq.tracks.back(), aEntry);
                break;
            case Node::DetectionChannel:
                setDetectionChannel(mAcq.tracks.back().detectionChannels.back(), aEntry);
                break;
            case Node::IlluminationChannel:
                setIlluminationChannel(mAcq.tracks.back().illuminationChannels.back(), aEntry);
                break;
            case Node::BeamSplitter:
                setBeamSplitter(mAcq.tracks.back().beamSplitters.back(), aEntry);
                break;
            case Node::DataChannel:
                setDataChannel(mAcq.tracks.back().dataChannels.back(), aEntry);
                break;
            case Node::Timer:
                setTimer(mAcq.timers.back(), aEntry);
                break;
            case Node::Marker:
                setMarker(mAcq.markers.back(), aEntry);
                break;
            default:
                break;
        }
    }

  private:
    struct Frame {
        Node node;
        size_t firstSeen;  // where the ids set in this node start in mSeen
    };
    LSMAcquisition& mAcq;
    std::vector<Frame> mStack;
    std::vector<uint32_t> mSeen;  // ids set in the open nodes, innermost last
};

std::string hex(uint32_t aId) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << aId;
    return text.str();
}

}  // namespace

void readScanInformation(LSMBlockFile& aFile, uint64_t aOffset, LSMAcquisition& aAcquisition) {
    if (!aFile.present(kBlock, aOffset)) return;
    const uint64_t available = std::min(aFile.size() - aOffset, kMaxBlockBytes);
    // The block has no size of its own: it is read in growing pieces, each byte once, as the walk
    // needs them.
    std::vector<unsigned char> bytes;
    auto have = [&](uint64_t aEnd) {
        if (aEnd <= bytes.size()) return true;
        if (aEnd > available) return false;
        const uint64_t want = std::min(available, std::max({aEnd, kFirstRead, 2 * uint64_t(bytes.size())}));
        return aFile.read(aOffset + bytes.size(), want - bytes.size(), bytes);
    };
    if (!have(12) || littleEndian32(&bytes[0]) != kRecordId || littleEndian32(&bytes[4]) != kTypeMarker) {
        aFile.warn(kBlock, aOffset, "does not start with a recording; it is ignored");
        return;
    }

    TreeBuilder tree(aAcquisition);
    const char* const kKept = "; the entries before it are kept";
    uint64_t position = 0;
    for (;;) {
        if (!have(position + 12)) {
            aFile.warn(kBlock, aOffset,
                       (available < aFile.size() - aOffset ? "is larger than 16 MiB" : "ends with the file") +
                           std::string(" before its recording closes") + kKept);
            return;
        }
        const unsigned char* header = &bytes[size_t(position)];
        const uint32_t id = littleEndian32(header), type = littleEndian32(header + 4);
        const uint32_t size = littleEndian32(header + 8);
        if (size > kMaxPayload || !have(position + 12 + size)) {
            aFile.warn(kBlock, aOffset,
                       "has entry " + hex(id) + " at block byte " + std::to_string(position) + " of " +
                           std::to_string(size) + " byte, " +
                           (size > kMaxPayload ? "more than 1 MiB" : "running past the end of the file") +
                           kKept);
            return;
        }
        const Entry current{id, type, &bytes[size_t(position)] + 12, size};  // the read may have moved bytes
        position += 12 + uint64_t(size);
        if (current.id == kCloseId) {
            tree.close();
            if (tree.depth() == 0) return;  // the recording closed: the block ends here
        } else if (current.type == kTypeMarker) {
            if (tree.depth() == kMaxDepth) {
                aFile.warn(kBlock, aOffset,
                           "nests deeper than " + std::to_string(kMaxDepth) + " levels at block byte " +
                               std::to_string(position - 12 - current.size) + kKept);
                return;
            }
            tree.open(current.id);
        } else {
            tree.set(current);
        }
    }
}
