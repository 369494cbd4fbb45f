// The Characteristics block: a length and CR/LF text of "Key = value" lines between BEGIN and END,
// the only place an LSM file names the microscope.
#include <string>

#include "LSMAcquisitionBlocks.h"
#include "LSMText.h"
#include "LittleEndian.h"

namespace {

using korvane::lsm::littleEndian32;

constexpr int32_t kMaxTextBytes = 1 << 20;

std::string trimmed(const std::string& aText) {
    const char* const kBlanks = " \t\r\n";
    const size_t first = aText.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    return aText.substr(first, aText.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

void readCharacteristics(LSMBlockFile& aFile, uint64_t aOffset, std::string& aMicroscopeModel,
                         std::vector<std::pair<std::string, std::string>>& aEntries) {
    const char* const kBlock = "Characteristics block";
    if (!aFile.present(kBlock, aOffset)) return;
    std::vector<unsigned char> bytes;
    if (!aFile.read(aOffset, 4, bytes))
        return aFile.warn(kBlock, aOffset, "is cut off by the end of the file");
    const int32_t length = int32_t(littleEndian32(&bytes[0]));
    if (length < 0 || length > kMaxTextBytes)
        return aFile.warn(kBlock, aOffset,
                          "declares " + std::to_string(length) + " byte of text; it is ignored");
    bytes.clear();
    if (!aFile.read(aOffset + 4, uint64_t(length), bytes))
        return aFile.warn(
            kBlock, aOffset,
            "of " + std::to_string(length) + " byte runs past the end of the file; it is ignored");
    const std::string text = decodeLSMText(bytes.data(), bytes.size());
    std::vector<std::pair<std::string, std::string>> entries;
    std::string model;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;  // "ANSI", "BEGIN ...", "END"
        const std::string key = trimmed(line.substr(0, equals));
        const std::string rawValue = trimmed(line.substr(equals + 1));
        // Values carry the same placeholders as the other texts ("\r\n" for an empty note).
        const std::string value =
            decodeLSMText(reinterpret_cast<const unsigned char*>(rawValue.data()), rawValue.size());
        if (key.empty()) continue;
        if (key == "Device" && model.empty()) model = value;
        entries.emplace_back(key, value);
    }
    aMicroscopeModel = model;
    aEntries.swap(entries);
}
