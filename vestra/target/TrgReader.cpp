#include "target/TrgReader.h"

#include <cstring>
#include <limits>
#include <memory>

#include "target/ProfileReader.h"
#include "target/TrgFile.h"
#include "target/TrgSearch.h"

namespace vestra::target {

uint32_t versionNumber(const std::string& version) {
    uint32_t number = 0;
    for (char c : version) {
        if (c == '.') continue;
        if (c < '0' || c > '9') break;
        number = number * 10u + static_cast<uint32_t>(c - '0');
    }
    return number;
}

namespace {

constexpr const char* kDefaultVersion = "1.10";

std::string baseName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

template <size_t N>
void copyText(char (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool readIdentity(const ProfileReader& profile, const std::string& targetName, uint8_t maxIdBits,
                  CTargetInfo& info) {
    if (profile.getString("KORVO", "KORVODEBUG", "DISABLE") != "ENABLE") return false;
    copyText(info.targetName, targetName);
    info.targetId00 = readHexValue(profile.getString("KORVO", "TARGETID00", "0H"));
    info.targetId32 = readHexValue(profile.getString("KORVO", "TARGETID32", "0H"));
    info.targetId64 = readHexValue(profile.getString("KORVO", "TARGETID64", "0H"));
    info.targetId96 = readHexValue(profile.getString("KORVO", "TARGETID96", "0H"));
    info.targetIdBitNum = profile.getInt("KORVO", "TARGETID_BIT_NUM", 64);
    return info.targetIdBitNum <= maxIdBits;
}

// The version field holds 9 characters; a longer text is outside the format
// and the file is skipped rather than its requirement cut to another number.
bool readVersion(const ProfileReader& profile, CTargetInfo& info) {
    const std::string version = profile.getString("KORVO", "KORVO_VERSION", kDefaultVersion);
    if (version.size() > kMaxVersionLength) return false;
    copyText(info.version, versionNumber(version) == 0 ? kDefaultVersion : version);
    return true;
}

// Too many read-only areas are outside the format; the file is skipped
// rather than a protected area dropped.
bool readFlashRanges(const ProfileReader& profile, CTargetInfo& info) {
    const std::vector<CTargetArea> readOnly = readReadOnlyAreas(profile);
    const std::vector<CTargetArea> flash = readFlashAreas(profile, &info.testAreaStart);
    if (readOnly.size() > VESTRA_MAX_AREAS || flash.size() > VESTRA_MAX_AREAS) return false;
    const std::vector<CTargetArea> ranges = computeFlashRanges(flash, readOnly);
    if (ranges.size() > VESTRA_MAX_AREAS) return false;
    std::copy(ranges.begin(), ranges.end(), info.area);
    info.areaNum = static_cast<uint32_t>(ranges.size());
    return true;
}

}  // namespace

bool readTargetInfo(const std::string& path, uint8_t maxIdBits, CTargetInfo& info) {
    ProfileReader profile;
    profile.load(path);  // an unreadable file reads as all defaults and is skipped as not enabled
    return readTargetInfo(profile, baseName(path), maxIdBits, info);
}

bool readTargetInfo(const ProfileReader& profile, const std::string& targetName, uint8_t maxIdBits,
                    CTargetInfo& info) {
    info = CTargetInfo{};
    if (!readIdentity(profile, targetName, maxIdBits, info) || !readVersion(profile, info)) return false;
    if (info.targetId00 == 0 && info.targetId32 == 0) return false;
    const TrgGeometry geometry = decodeGeometry(info.targetId00, info.targetId32, info.targetId64);
    info.blockSize = geometry.blockSize;
    info.reservedSize1 = geometry.reservedSize1;
    info.reservedSize2 = geometry.reservedSize2;
    info.edit = profile.getInt("KORVO", "EDIT", 1);
    info.memoryType = profile.getInt("KORVO", "MEMORYTYPE", 2);
    info.brkPointVal = profile.getInt("KORVO", "BRKPOINTVAL", 2);
    if (!readFlashRanges(profile, info)) return false;
    const CTargetArea romWindow = readRomWindow(profile);
    info.romWinStart = romWindow.startAdrs;
    info.romWinEnd = romWindow.endAdrs;
    return true;
}

TRGINFO* readTargetInfoSet(const std::vector<std::string>& paths, uint8_t maxIdBits, uint16_t* filesFound) {
    // filesFound is 16 bits wide: files past that many are left out so that the count stays true.
    const size_t fileCount = std::min<size_t>(paths.size(), std::numeric_limits<uint16_t>::max());
    if (filesFound != nullptr) *filesFound = static_cast<uint16_t>(fileCount);
    if (fileCount == 0) return nullptr;
    // Owned here until handed out, so that running out of memory while
    // reading leaves nothing behind.
    std::unique_ptr<CTargetInfo[]> array(new CTargetInfo[fileCount]);
    int32_t accepted = 0;
    for (size_t i = 0; i < fileCount; ++i) {
        if (readTargetInfo(paths[i], maxIdBits, array[accepted])) ++accepted;
    }
    if (accepted == 0) return nullptr;
    auto set = std::make_unique<TRGINFO>(TRGINFO{accepted, nullptr});
    set->array = array.release();
    return set.release();
}

TRGINFO* readTargetInfoFiles(uint8_t maxIdBits, uint16_t* filesFound) {
    return readTargetInfoSet(findTrgFiles(), maxIdBits, filesFound);
}

int deleteTargetInfoSet(TRGINFO** set) {
    if (set == nullptr || *set == nullptr || (*set)->array == nullptr) return 0;
    delete[] (*set)->array;
    delete *set;
    *set = nullptr;
    return 1;
}

}  // namespace vestra::target
