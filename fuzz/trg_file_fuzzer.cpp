// One input as a TRG file's content: the profile reader and the TRG reader
// on it, and QUARNEL's geometry from applying the description that the
// reader accepts. The content is parsed from memory, as loading a file does
// after reading it, so that no system call is spent per input.
#include <cstring>
#include <string_view>

#include "FuzzSupport.h"
#include "target/TargetSetup.h"
#include "target/TrgReader.h"

namespace {

// As wide as the widest product ID a program asks for.
constexpr uint8_t kMaxIdBits = 128;
// The erase block table has one entry per block up to flash high by design,
// so a description may rightly ask for gigabytes; the fuzzer applies only
// those whose table stays within this many entries.
constexpr uint64_t kMaxEraseBlocksApplied = 1u << 16;

void CheckDescription(const CTargetInfo& info) {
    FUZZ_CHECK(std::memchr(info.targetName, '\0', sizeof info.targetName) != nullptr);
    FUZZ_CHECK(std::memchr(info.version, '\0', sizeof info.version) != nullptr);
    FUZZ_CHECK(info.areaNum <= VESTRA_MAX_AREAS);
    for (uint32_t i = 0; i < info.areaNum; ++i) {
        FUZZ_CHECK(info.area[i].startAdrs <= info.area[i].endAdrs);
        // Ranges ascend and neither overlap nor touch.
        if (i > 0) FUZZ_CHECK(info.area[i].startAdrs > uint64_t{info.area[i - 1].endAdrs} + 1);
    }
}

void CheckApplied(const CTargetInfo& info) {
    quarnel::AppliedTarget target;
    if (info.areaNum == 0 || info.blockSize == 0) {
        quarnel::ApplyTarget(info, target);
        return;
    }
    const uint32_t flashHigh = info.area[info.areaNum - 1].endAdrs;
    const uint64_t blocks = uint64_t{flashHigh} / info.blockSize + 1;
    if (blocks > kMaxEraseBlocksApplied) return;
    quarnel::ApplyTarget(info, target);
    const quarnel::TargetGeometry& geometry = target.geometry;
    FUZZ_CHECK(geometry.flashLow == info.area[0].startAdrs && geometry.flashHigh == flashHigh);
    FUZZ_CHECK(target.eraseBlocks.size() == blocks);
    const auto& last = target.eraseBlocks.back();
    FUZZ_CHECK(last.start <= flashHigh && last.end >= last.start);
    FUZZ_CHECK(quarnel::WriteImageSize(geometry) > flashHigh);
    quarnel::FlashContentSize(geometry);
    geometry.IsFlash(flashHigh);
    geometry.OccupancyTop();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vestra::target::ProfileReader profile;
    profile.parse(std::string_view(reinterpret_cast<const char*>(data), size));
    CTargetInfo info;
    if (!vestra::target::readTargetInfo(profile, "FUZZ", kMaxIdBits, info)) return 0;
    CheckDescription(info);
    CheckApplied(info);
    return 0;
}
