// The library's Intel HEX reader. Stricter than the format in one place (the
// end record must read exactly ":00000001FF", in either case) and looser in
// another (extra characters after a record's checksum are not examined).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "vestra.h"

namespace {

constexpr std::string_view kEndRecord = ":00000001FF";
constexpr size_t kHeaderLength = 9;   // ':' count(2) address(4) type(2)
constexpr size_t kBaseValueLength = 4;

enum RecordType : uint8_t { kData = 0, kEndOfFile = 1, kSegmentBase = 2, kLinearBase = 4 };

// A character that is not a hexadecimal digit counts as 0.
uint32_t digitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    return 0;
}

// The value of `digits` hexadecimal digits from `pos`; the caller has checked
// that the line holds them.
uint32_t hexField(std::string_view line, size_t pos, size_t digits) {
    uint32_t value = 0;
    for (size_t i = 0; i < digits; ++i) value = value * 16u + digitValue(line[pos + i]);
    return value;
}

// Every whole pair after the ':' (the checksum included) adds up to 0.
bool checksumMatches(std::string_view line) {
    uint32_t sum = 0;
    for (size_t pos = 1; pos + 2 <= line.size(); pos += 2) sum += hexField(line, pos, 2);
    return (sum & 0xFFu) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

class HexLoader {
public:
    HexLoader(uint8_t* image, uint32_t maxAddress) : image_(image), maxAddress_(maxAddress) {}

    // False when the line makes the file invalid or ends the reading.
    bool takeLine(std::string_view line) {
        if (line.empty() || line.front() != ':' || !checksumMatches(line)) return fail();
        if (line.size() < kHeaderLength + 2) return fail();
        const uint32_t count = hexField(line, 1, 2);
        const uint32_t address = hexField(line, 3, 4);
        switch (hexField(line, 7, 2)) {
            case kEndOfFile:
                endSeen_ = true;
                return equalsIgnoringCase(line, kEndRecord) ? false : fail();
            case kSegmentBase:
            case kLinearBase:
                return takeBase(line);
            case kData:
                return takeData(line, count, address);
            default:
                return fail();
        }
    }

    bool succeeded() const { return valid_ && dataSeen_ && endSeen_; }
    uint32_t lowestAddress() const { return lowest_; }
    uint32_t highestAddress() const { return highest_; }

private:
    bool fail() {
        valid_ = false;
        return false;
    }

    bool takeBase(std::string_view line) {
        if (line.size() < kHeaderLength + kBaseValueLength + 2) return fail();
        const uint64_t value = hexField(line, kHeaderLength, kBaseValueLength);
        if (hexField(line, 7, 2) == kSegmentBase) {
            segmentBase_ = value * 16;
        } else {
            linearBase_ = value * 65536;
        }
        return true;
    }

    // Addresses are summed in 64 bits: a record whose bases carry it past
    // 4 GiB is out of range rather than wrapped onto low addresses.
    bool takeData(std::string_view line, uint32_t count, uint32_t address) {
        if (line.size() < kHeaderLength + 2 * size_t{count} + 2) return fail();
        const uint64_t start = address + segmentBase_ + linearBase_;
        lowest_ = static_cast<uint32_t>(std::min<uint64_t>(lowest_, start));
        dataSeen_ = true;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t target = start + i;
            if (target > maxAddress_) return fail();
            image_[target] = static_cast<uint8_t>(hexField(line, kHeaderLength + 2 * size_t{i}, 2));
            highest_ = std::max(highest_, static_cast<uint32_t>(target));
        }
        return true;
    }

    uint8_t* image_;
    uint32_t maxAddress_;
    uint64_t segmentBase_ = 0;
    uint64_t linearBase_ = 0;
    uint32_t lowest_ = 0xFFFFFFFFu;
    uint32_t highest_ = 0;
    bool valid_ = true;
    bool dataSeen_ = false;
    bool endSeen_ = false;
};

}  // namespace

extern "C" VESTRA_API int ReadHEX(const char* path, uint8_t* image, uint32_t maxAddress, uint32_t* lowestAddress,
                                  uint32_t* highestAddress) {
    if (path == nullptr || image == nullptr || lowestAddress == nullptr || highestAddress == nullptr) return 0;
    *lowestAddress = 0xFFFFFFFFu;
    std::ifstream file(path, std::ios::binary);
    if (!file) return 0;
    HexLoader loader(image, maxAddress);
    std::string line;
    while (std::getline(file, line)) {
        // Lines may end in CRLF; the reader compares whole lines.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!loader.takeLine(line)) break;
    }
    *lowestAddress = loader.lowestAddress();
    *highestAddress = loader.highestAddress();
    return loader.succeeded() ? 1 : 0;
}
