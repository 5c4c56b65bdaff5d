#include "target/TrgFile.h"

#include <algorithm>

namespace vestra::target {

namespace {

constexpr uint32_t kBasicBlockUnit = 2048;
constexpr uint32_t kBasicDefaultBlockSize = 16384;
constexpr uint32_t kBasicReservedSize = 512;
constexpr uint32_t kGmapAreaLimit = 0x80000;
constexpr uint32_t kMaxSegment = 0xFF;
constexpr uint32_t kMaxOffset = 0xFFFFFF;

uint32_t bits(uint32_t word, int low, int count) { return (word >> low) & ((1u << count) - 1u); }

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isHexSuffix(char c) { return c == 'H' || c == 'h'; }

// One part of an address: cut at the first "H" when it ends in "H", then
// hexadecimal throughout (empty reads as 0) and at most `limit`.
bool parseAddressPart(std::string_view part, uint32_t limit, uint32_t& value) {
    if (!part.empty() && isHexSuffix(part.back())) part = part.substr(0, part.find_first_of("Hh"));
    uint64_t number = 0;
    for (char c : part) {
        const int digit = hexDigitValue(c);
        if (digit < 0) return false;
        number = number * 16 + static_cast<uint64_t>(digit);
        if (number > limit) return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

// The text without surrounding blanks and without a leading "0x".
std::string_view normalisedAddressText(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    return text;
}

bool isAddressCharacter(char c) { return hexDigitValue(c) >= 0 || c == ':' || isHexSuffix(c); }

// The entry numbers n in 1..number for which the section has a key named
// prefix + n (prefix lower-case), ascending.
std::vector<uint32_t> presentEntries(const ProfileReader& profile, std::string_view section,
                                     std::string_view prefix, uint32_t number) {
    std::vector<uint32_t> entries;
    for (const std::string& key : profile.keys(section)) {
        if (key.rfind(prefix, 0) != 0) continue;
        const std::string_view digits = std::string_view(key).substr(prefix.size());
        // Only the spelling std::to_string gives names entry n ("DEFAULT01" does not).
        if (digits.empty() || digits.size() > 5 || digits.front() == '0' ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        uint32_t n = 0;
        for (char c : digits) n = n * 10 + static_cast<uint32_t>(c - '0');
        if (n <= number) entries.push_back(n);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Reads entries 1..NUMBER of a map section and hands each one's kind to visit,
// in entry order. An entry without its DEFAULTn key is of kind "NONE", which
// no reader takes, so only the entries the file has are visited: the work
// follows the file's size, not the NUMBER it claims.
template <typename Visit>
void forEachEntry(const ProfileReader& profile, std::string_view section, Visit visit) {
    const uint32_t number = std::min(profile.getInt(section, "NUMBER", 0), kMaxEntryNumber);
    constexpr std::string_view kKind = "default";
    for (const uint32_t n : presentEntries(profile, section, kKind, number)) {
        if (!visit(n, profile.getString(section, std::string(kKind) + std::to_string(n), "NONE"))) return;
    }
}

uint32_t readAddress(const ProfileReader& profile, std::string_view section, const std::string& key) {
    uint32_t value = 0;
    AdrsToNumText(profile.getString(section, key, "0H"), value);
    return value;
}

CTargetArea readArea(const ProfileReader& profile, std::string_view section, uint32_t n) {
    const std::string suffix = std::to_string(n);
    return {readAddress(profile, section, "STARTADRS" + suffix), readAddress(profile, section, "ENDADRS" + suffix)};
}

bool isMmapFlashKind(const std::string& kind) {
    return kind == "SC" || kind == "UC" || kind == "SCT" || kind == "UCT" || kind == "MO";
}

bool isGmapFlashKind(const std::string& kind) { return isMmapFlashKind(kind) || kind == "SCD" || kind == "UCD"; }

// Sorted, merged runs of the well-formed areas (touching runs merge too).
std::vector<CTargetArea> mergedAreas(const std::vector<CTargetArea>& areas) {
    std::vector<CTargetArea> sorted;
    std::copy_if(areas.begin(), areas.end(), std::back_inserter(sorted),
                 [](const CTargetArea& a) { return a.startAdrs <= a.endAdrs; });
    std::sort(sorted.begin(), sorted.end(),
              [](const CTargetArea& a, const CTargetArea& b) { return a.startAdrs < b.startAdrs; });
    std::vector<CTargetArea> merged;
    for (const CTargetArea& area : sorted) {
        // 64-bit so that a run ending at 0xFFFFFFFF does not wrap when asking "touches".
        if (!merged.empty() && area.startAdrs <= uint64_t{merged.back().endAdrs} + 1) {
            merged.back().endAdrs = std::max(merged.back().endAdrs, area.endAdrs);
        } else {
            merged.push_back(area);
        }
    }
    return merged;
}

}  // namespace

bool isExtendedIdFormat(uint32_t targetId00) { return bits(targetId00, 30, 1) != 0; }

uint32_t Calc2BitShift(uint32_t value, uint8_t code, int bits) {
    if (bits < 2 || bits > 4) return 0;
    const int raw = code & ((1 << bits) - 1);
    const int exponent = raw >= (1 << (bits - 1)) ? raw - (1 << bits) : raw;
    return exponent >= 0 ? value << exponent : value >> -exponent;
}

uint32_t reservedSizeFromCode(uint32_t code) {
    return code == 3 ? 0u : Calc2BitShift(kBasicReservedSize, static_cast<uint8_t>(code), 3);
}

TrgGeometry decodeGeometry(uint32_t targetId00, uint32_t targetId32, uint32_t targetId64) {
    const uint32_t sizeCode = bits(targetId32, 16, 4);
    if (!isExtendedIdFormat(targetId00)) {
        const uint32_t blockSize = sizeCode != 0 ? sizeCode * kBasicBlockUnit : kBasicDefaultBlockSize;
        return {blockSize, kBasicReservedSize, kBasicReservedSize};
    }
    return {Calc2BitShift(kBasicBlockUnit, static_cast<uint8_t>(sizeCode), 4),
            reservedSizeFromCode(bits(targetId64, 10, 3)), reservedSizeFromCode(bits(targetId64, 13, 3))};
}

uint32_t readHexValue(const std::string& text) {
    uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0) break;
        value = value * 16u + static_cast<uint32_t>(digit);
    }
    return value;
}

bool AdrsToNumText(std::string_view text, uint32_t& value) {
    value = 0;
    if (text.empty()) return false;
    const std::string_view address = normalisedAddressText(text);
    if (!std::all_of(address.begin(), address.end(), isAddressCharacter)) return false;
    uint32_t segment = 0;
    std::string_view offsetText = address;
    const size_t colon = address.find(':');
    if (colon != std::string_view::npos) {
        if (!parseAddressPart(address.substr(0, colon), kMaxSegment, segment)) return false;
        value = segment << 16;
        offsetText = address.substr(colon + 1);
    }
    uint32_t offset = 0;
    if (!parseAddressPart(offsetText, kMaxOffset, offset)) return false;
    value = (segment << 16) + offset;
    return true;
}

std::vector<CTargetArea> readFlashAreas(const ProfileReader& profile, uint32_t* testAreaStart) {
    std::vector<CTargetArea> areas;
    uint32_t testStart = 0;
    forEachEntry(profile, "MMAP", [&](uint32_t n, const std::string& kind) {
        if (isMmapFlashKind(kind)) areas.push_back(readArea(profile, "MMAP", n));
        if (kind == "TEST") testStart = readAddress(profile, "MMAP", "STARTADRS" + std::to_string(n));
        return true;
    });
    forEachEntry(profile, "GMAP", [&](uint32_t n, const std::string& kind) {
        if (!isGmapFlashKind(kind)) return true;
        const CTargetArea area = readArea(profile, "GMAP", n);
        if (area.startAdrs < kGmapAreaLimit) areas.push_back(area);
        return true;
    });
    if (testAreaStart != nullptr) *testAreaStart = testStart;
    return areas;
}

CTargetArea readRomWindow(const ProfileReader& profile) {
    CTargetArea window{0, 0};
    forEachEntry(profile, "PMAP", [&](uint32_t n, const std::string& kind) {
        if (kind != "ROMWIN") return true;
        window = readArea(profile, "PMAP", n);
        return false;
    });
    return window;
}

std::vector<CTargetArea> readReadOnlyAreas(const ProfileReader& profile) {
    constexpr std::string_view kSection = "KORVO_READONLY_AREA";
    const uint32_t number = profile.getInt(kSection, "NUMBER", 0) & 0xFFFFu;
    const uint32_t read = std::min<uint32_t>(number, kMaxReadOnlyAreasRead);
    // A missing address reads as 0H, so only the addresses the file has are
    // looked up: the work follows the file's size, not the NUMBER it claims.
    std::vector<CTargetArea> areas(read, CTargetArea{0, 0});
    const auto readPresent = [&](std::string_view name, uint32_t CTargetArea::*address) {
        for (const uint32_t n : presentEntries(profile, kSection, name, read)) {
            areas[n - 1].*address = readAddress(profile, kSection, std::string(name) + std::to_string(n));
        }
    };
    readPresent("startadrs", &CTargetArea::startAdrs);
    readPresent("endadrs", &CTargetArea::endAdrs);
    return areas;
}

std::vector<CTargetArea> computeFlashRanges(const std::vector<CTargetArea>& flashAreas,
                                            const std::vector<CTargetArea>& readOnlyAreas) {
    const std::vector<CTargetArea> holes = mergedAreas(readOnlyAreas);
    std::vector<CTargetArea> ranges;
    for (const CTargetArea& run : mergedAreas(flashAreas)) {
        // Walk the holes (ascending, disjoint) and keep what lies between them.
        uint64_t next = run.startAdrs;
        for (const CTargetArea& hole : holes) {
            if (hole.endAdrs < next || hole.startAdrs > run.endAdrs) continue;
            if (hole.startAdrs > next) ranges.push_back({static_cast<uint32_t>(next), hole.startAdrs - 1});
            next = uint64_t{hole.endAdrs} + 1;
        }
        if (next <= run.endAdrs) ranges.push_back({static_cast<uint32_t>(next), run.endAdrs});
    }
    return ranges;
}

}  // namespace vestra::target
