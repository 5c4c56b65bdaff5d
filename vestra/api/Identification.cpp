// Matching each device's chip against the selected target description and
// checking its emulator's firmware.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/MWKorvoApi.h"
#include "device/FlashApi.h"
#include "target/TrgFile.h"
#include "target/TrgReader.h"

namespace {

constexpr uint32_t kProductIdMask = 0xFF00FFFF;  // bits 16..23 vary within a chip type
constexpr uint32_t kChipNameBuffer = 64;
constexpr uint32_t kFirmTextBuffer = 11;
constexpr uint32_t kShortProductIdBits = 64;
constexpr uint32_t kFlashAddressMargin = 16;
constexpr uint32_t kBasicBlockUnit = 2048;
constexpr uint32_t kBasicReservedSize = 512;

enum : uint32_t {
    StatusWrongChip = 0x2002,
    StatusFirmText = 0x2003,
    StatusFirmTooOld = 0x2004,
};

bool takesPart(const CFlashApi& device) { return device.getEnableFlg() == 1 && device.getStatus() == 0; }

const CTargetInfo* findDescription(const TRGINFO* set, const char* targetName) {
    if (set == nullptr || set->array == nullptr || targetName == nullptr) return nullptr;
    for (int32_t i = 0; i < set->count; ++i) {
        const CTargetInfo& info = set->array[i];
        if (std::strncmp(info.targetName, targetName, sizeof info.targetName) == 0) return &info;
    }
    return nullptr;
}

int readProductId(CFlashApi& device, uint32_t idBitNum, uint32_t* id) {
    return idBitNum == kShortProductIdBits ? device.TargetReadProductID(id) : device.TargetReadProductID128(id);
}

std::string decimalDigits(const char* text, size_t capacity) {
    std::string digits;
    for (size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i]))) digits += text[i];
    }
    return digits;
}

// Outcome of the comparison; Unknown when the chip name could not be read
// (the device object has put the failure into the status).
enum class Match { Yes, No, Unknown };

Match matchChip(CFlashApi& device, const CTargetInfo& info) {
    uint32_t id[4] = {};
    if (!readProductId(device, info.targetIdBitNum, id)) return Match::Unknown;
    if (info.targetId00 != 0 && info.targetId32 != 0) {
        return ((id[0] ^ info.targetId00) & kProductIdMask) == 0 ? Match::Yes : Match::No;
    }
    // Descriptions without a full ID name the chip by the digits of their name.
    uint8_t chipName[kChipNameBuffer] = {};
    if (!device.GetChipName(chipName, sizeof chipName)) return Match::Unknown;
    const std::string wanted = decimalDigits(info.targetName, sizeof info.targetName);
    return wanted == reinterpret_cast<const char*>(chipName) ? Match::Yes : Match::No;
}

// The address handed to the emulator with the ROM window: the end of the
// chip's flash less the last block's tail and a 16-byte margin. It wraps
// below 0 for a basic-format ID without a block size code; the device object
// then refuses to send it.
uint32_t plugFlashAddress(const CTargetInfo& info) {
    uint32_t blockCount = (info.targetId32 >> 8) & 0xFu;
    uint32_t blockSize = ((info.targetId32 >> 16) & 0xFu) * kBasicBlockUnit;
    uint32_t sizeA = kBasicReservedSize;
    uint32_t sizeB = kBasicReservedSize;
    if (vestra::target::isExtendedIdFormat(info.targetId00)) {
        blockCount |= ((info.targetId64 >> 4) & 0xFu) << 4;
        blockSize = vestra::target::Calc2BitShift(kBasicBlockUnit, static_cast<uint8_t>((info.targetId32 >> 16) & 0xFu), 4);
        sizeA = vestra::target::reservedSizeFromCode((info.targetId64 >> 10) & 0x7u);
        sizeB = vestra::target::reservedSizeFromCode((info.targetId64 >> 13) & 0x7u);
    }
    if (blockCount == 0 || sizeA == 0) return 0;
    return blockCount * blockSize - sizeB - kFlashAddressMargin;
}

// Firmware text "d.dd" as its three digits; false for any other form.
bool firmNumber(const char* text, uint32_t& number) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (std::strlen(text) != 4 || !digit(text[0]) || text[1] != '.' || !digit(text[2]) || !digit(text[3])) {
        return false;
    }
    number = static_cast<uint32_t>((text[0] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0'));
    return true;
}

}  // namespace

int CMWKorvoApi::CheckTargetName(uint32_t n, const TRGINFO* set, const char* targetName) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (!takesPart(*device)) return 1;

    const CTargetInfo* info = findDescription(set, targetName);
    if (info == nullptr) {
        device->setStatus(static_cast<FlashStatus>(StatusWrongChip));
        return 1;
    }
    const Match match = matchChip(*device, *info);
    if (match == Match::Unknown) return 1;
    if (match == Match::No) {
        device->setStatus(static_cast<FlashStatus>(StatusWrongChip));
        return 1;
    }
    device->setTargetInfo(*info);
    device->KorvoSetTargetInfo(static_cast<uint16_t>(info->romWinStart), static_cast<uint16_t>(info->romWinEnd),
                               plugFlashAddress(*info));
    return 1;
}

int CMWKorvoApi::CheckFirm(uint32_t n) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (!takesPart(*device)) return 1;

    uint8_t text[kFirmTextBuffer] = {};
    if (!device->GetFirmVersion(text, sizeof text)) return 1;
    uint32_t firmware = 0;
    if (!firmNumber(reinterpret_cast<const char*>(text), firmware)) {
        device->setStatus(static_cast<FlashStatus>(StatusFirmText));
        return 1;
    }
    device->setFirmVer(firmware);
    const CTargetInfo* info = device->getTargetInfo();
    const std::string required(info->version, strnlen(info->version, sizeof info->version));
    if (firmware < vestra::target::versionNumber(required)) {
        device->setStatus(static_cast<FlashStatus>(StatusFirmTooOld));
    }
    return 1;
}

int CMWKorvoApi::GetFirmVerStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || device->getPlugStatus() == PlugNone || device->getFirmVer() == 0) return 0;

    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d.%02d", static_cast<int>(device->getFirmVer() / 100),
                                     static_cast<int>(device->getFirmVer() % 100));
    const auto required = static_cast<uint32_t>(length + 1);
    if (needed != nullptr) *needed = required;
    if (buffer != nullptr && bufferSize >= required) std::memcpy(buffer, text, required);
    return 1;
}

int CMWKorvoApi::TargetReadProductID(uint32_t n, uint32_t idBitNum, uint32_t* id) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    readProductId(*device, idBitNum, id);
    return 1;
}
