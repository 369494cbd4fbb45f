#include "LzwEncoder.h"

namespace korvane::testsupport {
namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
// The decoder's table would overflow one entry later; clearing here keeps
// every emitted code within 12 bits.
constexpr uint32_t kTableFull = 4094;
constexpr int kMinWidth = 9;

class MsbBitWriter {
  public:
    void put(uint32_t code, int width) {
        accumulator_ = (accumulator_ << width) | code;
        bits_ += width;
        while (bits_ >= 8) {
            bits_ -= 8;
            out_.push_back(static_cast<uint8_t>(accumulator_ >> bits_));
        }
        accumulator_ &= (uint64_t{1} << bits_) - 1;
    }

    std::vector<uint8_t> finish() {
        if (bits_ > 0) out_.push_back(static_cast<uint8_t>(accumulator_ << (8 - bits_)));
        bits_ = 0;
        accumulator_ = 0;
        return std::move(out_);
    }

  private:
    uint64_t accumulator_ = 0;
    int bits_ = 0;
    std::vector<uint8_t> out_;
};

// Open-addressing map from (prefix code, next byte) to code. Clearing bumps a
// generation number instead of touching every slot, since long strips clear
// the table every few thousand bytes.
class StringTable {
  public:
    StringTable() : slots_(kSlots) {}

    // Returns the slot for `key`; it is either holding `key` or free.
    size_t find(uint32_t key) const {
        size_t i = (key * 2654435761u) >> (32 - kBits);
        while (slots_[i].generation == generation_ && slots_[i].key != key) i = (i + 1) & (kSlots - 1);
        return i;
    }
    bool holds(size_t slot) const { return slots_[slot].generation == generation_; }
    uint16_t code(size_t slot) const { return slots_[slot].code; }
    void insert(size_t slot, uint32_t key, uint16_t code) { slots_[slot] = {key, code, generation_}; }

    void clear() {
        if (++generation_ == 0) {
            for (Slot& s : slots_) s.generation = 0;
            generation_ = 1;
        }
    }

  private:
    static constexpr int kBits = 13;  // 8192 slots keep 4094 entries at half load
    static constexpr size_t kSlots = size_t{1} << kBits;
    struct Slot {
        uint32_t key = 0;
        uint16_t code = 0;
        uint16_t generation = 0;
    };
    std::vector<Slot> slots_;
    uint16_t generation_ = 1;
};

}  // namespace

std::vector<uint8_t> encodeTiffLzw(const uint8_t* data, size_t size) {
    MsbBitWriter out;
    int width = kMinWidth;
    out.put(kClearCode, width);
    if (size == 0) {
        out.put(kEndCode, width);
        return out.finish();
    }

    StringTable table;
    uint32_t nextCode = kFirstFreeCode;

    // The decoder adds its table entry one code later than we do, so widening
    // once our next code exceeds the current maximum matches its early change
    // at 511, 1023 and 2047.
    auto afterEntryAdded = [&]() {
        if (nextCode == kTableFull) {
            out.put(kClearCode, width);
            table.clear();
            nextCode = kFirstFreeCode;
            width = kMinWidth;
        } else if (nextCode > (1u << width) - 1) {
            ++width;
        }
    };

    uint32_t prefix = data[0];
    for (size_t i = 1; i < size; ++i) {
        const uint32_t key = (prefix << 8) | data[i];
        const size_t slot = table.find(key);
        if (table.holds(slot)) {
            prefix = table.code(slot);
            continue;
        }
        out.put(prefix, width);
        table.insert(slot, key, static_cast<uint16_t>(nextCode++));
        afterEntryAdded();
        prefix = data[i];
    }
    out.put(prefix, width);
    // Reading that last code makes the decoder add one more entry, which may
    // widen the code holding EndOfInformation.
    ++nextCode;
    afterEntryAdded();
    out.put(kEndCode, width);
    return out.finish();
}

std::vector<uint8_t> encodeTiffLzw(const std::vector<uint8_t>& data) {
    return encodeTiffLzw(data.data(), data.size());
}

}  // namespace korvane::testsupport
