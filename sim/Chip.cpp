#include "Chip.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "target/ProfileReader.h"
#include "target/TrgFile.h"

namespace korvo {
namespace {

constexpr uint8_t kErased = 0xFF;

uint32_t hexKey(const vestra::target::ProfileReader& profile, const char* key) {
    return vestra::target::readHexValue(profile.getString("KORVO", key, "0H"));
}

// The reserved tail of the last block is left out of the declared areas but
// is flash on the chip, so the highest area grows to its block's end.
void addReservedTail(std::vector<FlashRange>& flash, uint32_t blockSize, uint32_t reservedSize) {
    if (flash.empty() || reservedSize == 0) {
        return;
    }
    FlashRange& last = flash.back();
    const uint64_t tailEnd = uint64_t{last.end} + reservedSize;
    if ((tailEnd + 1) % blockSize == 0 && tailEnd <= UINT32_MAX) {
        last.end = static_cast<uint32_t>(tailEnd);
    }
}

uint64_t flashBytes(const std::vector<FlashRange>& flash) {
    uint64_t total = 0;
    for (const FlashRange& range : flash) {
        total += uint64_t{range.end} - range.start + 1;
    }
    return total;
}

}  // namespace

std::string chipNameFromPath(const std::string& path) {
    const std::string stem = std::filesystem::path(path).stem().string();
    std::string digits;
    std::copy_if(stem.begin(), stem.end(), std::back_inserter(digits),
                 [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    return digits;
}

bool describeChipFromTrg(const std::string& path, ChipDescription& chip, std::string& error) {
    vestra::target::ProfileReader profile;
    if (!profile.load(path)) {
        error = "cannot read TRG file " + path;
        return false;
    }
    chip.productId = {hexKey(profile, "TARGETID00"), hexKey(profile, "TARGETID32"), hexKey(profile, "TARGETID64"),
                      hexKey(profile, "TARGETID96")};
    const auto geometry = vestra::target::decodeGeometry(chip.productId[0], chip.productId[1], chip.productId[2]);
    chip.blockSize = geometry.blockSize;
    chip.eraseOnlyBySecurityId = ((chip.productId[1] >> 23) & 1u) != 0;
    chip.chipName = chipNameFromPath(path);
    chip.flash.clear();
    for (const CTargetArea& area :
         vestra::target::computeFlashRanges(vestra::target::readFlashAreas(profile, nullptr), {})) {
        chip.flash.push_back({area.startAdrs, area.endAdrs});
    }
    addReservedTail(chip.flash, chip.blockSize, geometry.reservedSize2);
    if (chip.flash.empty()) {
        error = "TRG file " + path + " declares no flash area";
        return false;
    }
    if (flashBytes(chip.flash) > Chip::kMaxFlashBytes) {
        error = "TRG file " + path + " declares more flash than the simulator holds";
        return false;
    }
    return true;
}

Chip::Chip(ChipDescription description) : description_(std::move(description)) {
    for (const FlashRange& range : description_.flash) {
        banks_.push_back({range, std::vector<uint8_t>(size_t{range.end} - range.start + 1, kErased)});
    }
}

template <typename Banks, typename Visit>
void Chip::forEachOverlap(Banks& banks, uint32_t address, uint32_t length, Visit visit) {
    if (length == 0) {
        return;
    }
    const uint64_t last = uint64_t{address} + length - 1;
    for (auto& bank : banks) {
        const uint64_t from = std::max<uint64_t>(address, bank.range.start);
        const uint64_t to = std::min<uint64_t>(last, bank.range.end);
        if (from <= to) {
            visit(bank, static_cast<size_t>(from - bank.range.start), static_cast<size_t>(from - address),
                  static_cast<size_t>(to - from + 1));
        }
    }
}

bool Chip::isFlash(uint32_t address, uint32_t length) const {
    uint64_t covered = 0;
    forEachOverlap(banks_, address, length, [&](const Bank&, size_t, size_t, size_t count) { covered += count; });
    return covered == length;
}

bool Chip::touchesFlash(uint32_t address, uint32_t length) const {
    bool touched = false;
    forEachOverlap(banks_, address, length, [&](const Bank&, size_t, size_t, size_t) { touched = true; });
    return touched;
}

void Chip::read(uint32_t address, uint32_t length, uint8_t* out) const {
    std::fill_n(out, length, kErased);
    forEachOverlap(banks_, address, length, [&](const Bank& bank, size_t inBank, size_t inRequest, size_t count) {
        std::copy_n(bank.bytes.begin() + static_cast<ptrdiff_t>(inBank), count, out + inRequest);
    });
}

void Chip::program(uint32_t address, const uint8_t* data, uint32_t length) {
    forEachOverlap(banks_, address, length, [&](Bank& bank, size_t inBank, size_t inRequest, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            bank.bytes[inBank + i] &= data[inRequest + i];
        }
    });
}

void Chip::erase(uint32_t address, uint32_t length) {
    forEachOverlap(banks_, address, length, [&](Bank& bank, size_t inBank, size_t, size_t count) {
        std::fill_n(bank.bytes.begin() + static_cast<ptrdiff_t>(inBank), count, kErased);
    });
}

void Chip::eraseAll() {
    for (Bank& bank : banks_) {
        std::fill(bank.bytes.begin(), bank.bytes.end(), kErased);
    }
}

void Chip::loadImage(const std::vector<uint8_t>& image) {
    const auto length = static_cast<uint32_t>(std::min<size_t>(image.size(), UINT32_MAX));
    forEachOverlap(banks_, 0, length, [&](Bank& bank, size_t inBank, size_t inRequest, size_t count) {
        std::copy_n(image.begin() + static_cast<ptrdiff_t>(inRequest), count,
                    bank.bytes.begin() + static_cast<ptrdiff_t>(inBank));
    });
}

void Chip::writeDump(std::ostream& out) const {
    static const std::vector<uint8_t> erasedRun(64 * 1024, kErased);
    uint64_t written = 0;
    for (const Bank& bank : banks_) {
        for (uint64_t gap = bank.range.start - written; gap > 0;) {
            const auto part = static_cast<std::streamsize>(std::min<uint64_t>(gap, erasedRun.size()));
            out.write(reinterpret_cast<const char*>(erasedRun.data()), part);
            gap -= static_cast<uint64_t>(part);
        }
        out.write(reinterpret_cast<const char*>(bank.bytes.data()), static_cast<std::streamsize>(bank.bytes.size()));
        written = uint64_t{bank.range.end} + 1;
    }
}

void Chip::protect(std::vector<uint16_t> securityId) {
    securityId_ = std::move(securityId);
    protected_ = true;
}

void Chip::unlock(const std::vector<uint16_t>& words) {
    if (words == securityId_) {
        protected_ = false;
    }
}

bool Chip::chipErase() {
    if (protected_ && description_.eraseOnlyBySecurityId) {
        return false;
    }
    eraseAll();
    protected_ = false;
    return true;
}

}  // namespace korvo
