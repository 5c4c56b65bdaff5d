// The operations over the connection set: which devices take part, the order
// in which commands go out, and how the per-device states change.
#include <algorithm>
#include <vector>

#include "api/AnswerCollectors.h"
#include "api/MWKorvoApi.h"
#include "device/FlashApi.h"
#include "device/TrgConnectCtrl.h"

namespace {

constexpr uint32_t kStatusProtected = 0x2005;
// Answer status of a system reset refused while the target is held in its
// power-on state.
constexpr FlashStatus kStatusPowerOn = static_cast<FlashStatus>(1);
constexpr uint8_t kResetModePlug = 0;
constexpr uint8_t kResetModeRun = 1;
constexpr uint8_t kResetDone = 0x03;  // both low bits of the result byte

bool enabledAndClear(const CFlashApi& device) { return device.getEnableFlg() == 1 && device.getStatus() == 0; }

// Plugged with its flash accessible, enabled, no pending failure.
bool isReady(const CFlashApi& device) { return device.getPlugStatus() == PlugSuccess && enabledAndClear(device); }

// A read-protected chip of security type 0 may be made accessible by erasing it.
bool isErasableWhileProtected(const CFlashApi& device) {
    return device.getPlugStatus() == PlugProtected && enabledAndClear(device) && device.getSecType() == 0;
}

bool takesChipErase(const CFlashApi& device) { return isReady(device) || isErasableWhileProtected(device); }

// A request whose data or buffer is missing is refused before anything is
// sent, with the link's code for a frame refused unsent.
int refuseUnsent(CFlashApi& device) {
    device.setStatus(FlashErrFrameWrite);
    return 0;
}

bool isIdentified(const CFlashApi& device) {
    return device.getPlugStatus() == PlugProtected || device.getPlugStatus() == PlugSuccess;
}

template <typename Visit>
void forEachDevice(const CTrgConnectCtrl& set, Visit visit) {
    for (auto position = set.GetHeadPositionDevObj(); position != CTrgConnectCtrl::kNoPosition;) {
        visit(*set.GetNextDevObj(position));
    }
}

template <typename Accept>
std::vector<CFlashApi*> devicesWhere(const CTrgConnectCtrl& set, Accept accept) {
    std::vector<CFlashApi*> devices;
    forEachDevice(set, [&](CFlashApi& device) {
        if (accept(device)) devices.push_back(&device);
    });
    return devices;
}

// One pool for every operation; its threads end when the library is unloaded.
AnswerCollectors& collectors() {
    static AnswerCollectors pool;
    return pool;
}

// Collects the answers of all `devices` at once, so that k emulators that
// answer late cost one link time-out and not k. A collect touches only its
// own device and link.
template <typename Collect>
void collectTogether(const std::vector<CFlashApi*>& devices, Collect collect) {
    collectors().run(devices.size(), [&](size_t i) { collect(*devices[i]); });
}

// One lock-step step: `send` to every device that `eligible` accepts, in
// connection-set order, then `collect` from every device it still accepts
// (a failed send has set the status, which takes the device out), all at
// once.
template <typename Eligible, typename Send, typename Collect>
void lockStep(const CTrgConnectCtrl& set, Eligible eligible, Send send, Collect collect) {
    forEachDevice(set, [&](CFlashApi& device) {
        if (eligible(device)) send(device);
    });
    collectTogether(devicesWhere(set, eligible), collect);
}

// Protection word 0 opens the flash; anything else leaves it protected.
void applyProtection(CFlashApi& device, uint16_t word) {
    if (word == 0) {
        device.setPlugStatus(PlugSuccess);
        return;
    }
    device.setPlugStatus(PlugProtected);
    device.setStatus(static_cast<FlashStatus>(kStatusProtected));
}

void readProtection(CFlashApi& device, uint16_t* isProtected) {
    uint16_t word = 1;
    if (!device.FlashReadProtect(&word)) return;
    if (isProtected != nullptr) *isProtected = word;
    applyProtection(device, word);
}

}  // namespace

CFlashApi* CMWKorvoApi::deviceAt(uint32_t n) const {
    return trgConnect_ != nullptr ? trgConnect_->GetIndexDevObj(n) : nullptr;
}

int CMWKorvoApi::writeAll(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image,
                          const uint32_t* snAddress) {
    if (trgConnect_ == nullptr) return 0;
    // The count is taken in 32 bits: 0 .. 0xFFFFFFFF wraps to 0 and is empty.
    // An end further below start would wrap to a huge count and read far past
    // the image, so it is empty too.
    const uint32_t total = end - start + 1;
    if (total == 0 || end < start) return 1;
    if (image == nullptr) return 0;

    for (uint32_t offset = 0; offset < total;) {
        const uint32_t chunkAddress = flashAddress + offset;
        const uint32_t remaining = total - offset;
        const uint8_t* chunkData = image + start + offset;
        lockStep(
            *trgConnect_, isReady,
            [&](CFlashApi& device) {
                uint32_t sent = 0;
                if (snAddress != nullptr) {
                    device.FlashWrite_trans_WithSN(chunkAddress, remaining, chunkData, &sent, *snAddress);
                } else {
                    device.FlashWrite_trans(chunkAddress, remaining, chunkData, &sent);
                }
            },
            [](CFlashApi& device) { device.FlashWrite_receive(); });
        offset += std::min<uint32_t>(remaining, CFlashApi::kMaxChunk);
    }
    return 1;
}

int CMWKorvoApi::FlashWriteAll(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image) {
    return writeAll(start, end, flashAddress, image, nullptr);
}

int CMWKorvoApi::FlashWriteAllWithSN(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image,
                                     uint32_t snAddress) {
    return writeAll(start, end, flashAddress, image, &snAddress);
}

int CMWKorvoApi::ChipEraseAll() {
    if (trgConnect_ == nullptr) return 0;
    forEachDevice(*trgConnect_, [](CFlashApi& device) {
        if (takesChipErase(device)) device.FlashEraseChip_trans();
    });
    // Each device is collected once, as ready or as protected, decided
    // before its answer: a protected device reaches plug status 3 only by
    // collecting it.
    collectTogether(devicesWhere(*trgConnect_, takesChipErase), [](CFlashApi& device) {
        const bool opening = isErasableWhileProtected(device);
        if (device.FlashEraseChip_receive() && opening && device.getStatus() == 0) device.setPlugStatus(PlugSuccess);
    });
    return 1;
}

int CMWKorvoApi::FlashEraseBlockAll(uint32_t address) {
    if (trgConnect_ == nullptr) return 0;
    lockStep(
        *trgConnect_, isReady, [address](CFlashApi& device) { device.FlashEraseBlock_trans(address); },
        [](CFlashApi& device) { device.FlashEraseBlock_receive(); });
    return 1;
}

int CMWKorvoApi::FlashRead(uint32_t n, uint32_t size, uint32_t* got, uint8_t* buffer) {
    if (got != nullptr) *got = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || device->getPlugStatus() != PlugSuccess) return 0;
    if (!enabledAndClear(*device)) return 1;
    if (buffer == nullptr) return refuseUnsent(*device);
    device->FlashReadCont(size, got, buffer);
    return 1;
}

int CMWKorvoApi::FlashReadBlock(uint32_t n, uint32_t address, uint32_t& got, uint8_t* buffer) {
    got = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || device->getPlugStatus() != PlugSuccess) return 0;
    if (!enabledAndClear(*device)) return 1;
    if (buffer == nullptr) return refuseUnsent(*device);
    device->FlashReadBlock(address, got, buffer);
    return 1;
}

int CMWKorvoApi::IsTargetProtected(uint32_t n, uint16_t* isProtected) {
    if (isProtected != nullptr) *isProtected = 1;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || !isIdentified(*device)) return 0;
    if (enabledAndClear(*device)) readProtection(*device, isProtected);
    return 1;
}

int CMWKorvoApi::SetSecID(uint32_t n, uint8_t wordCount, const uint16_t* idWords, uint16_t* isProtected) {
    if (isProtected != nullptr) *isProtected = 1;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || !isIdentified(*device)) return 0;
    if (!enabledAndClear(*device)) return 1;
    if (wordCount > 0 && idWords == nullptr) return refuseUnsent(*device);
    if (device->FlashUnlockProtect(wordCount, idWords)) readProtection(*device, isProtected);
    return 1;
}

int CMWKorvoApi::GetSecType(uint32_t n, uint16_t* type) {
    if (type != nullptr) *type = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || !isIdentified(*device)) return 0;
    if (enabledAndClear(*device) && type != nullptr) *type = static_cast<uint16_t>(device->getSecType());
    return 1;
}

int CMWKorvoApi::SysResetPlug(uint32_t n) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (device->getStatus() != 0) return 1;

    uint8_t result = 0;
    if (!device->TargetSystemReset(kResetModePlug, &result) && device->getStatus() == kStatusPowerOn) {
        device->KorvoRemovePowerOnState(&result);
    }
    if ((result & kResetDone) != kResetDone && device->getStatus() == 0) {
        device->TargetSystemReset(kResetModeRun, &result);
    }
    return 1;
}

int CMWKorvoApi::SysReset(uint32_t n) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    uint8_t result = 0;
    device->TargetSystemReset(kResetModePlug, &result);
    if (device->getStatus() == kStatusPowerOn) device->setStatus(FlashStatusOk);
    return 1;
}

int CMWKorvoApi::SysResetAll() {
    if (trgConnect_ == nullptr) return 0;
    // Only a device whose reset went out has an answer to wait for; waiting
    // on the others would cost a link time-out and overwrite their failure.
    std::vector<CFlashApi*> sent;
    forEachDevice(*trgConnect_, [&sent](CFlashApi& device) {
        if (device.TargetSystemReset_trans(kResetModePlug)) sent.push_back(&device);
    });
    collectTogether(sent, [](CFlashApi& device) {
        uint8_t result = 0;
        device.TargetSystemReset_receive(&result);
        if (device.getStatus() == kStatusPowerOn) device.setStatus(FlashStatusOk);
    });
    return 1;
}

int CMWKorvoApi::UpdateErrorTargetLED(uint32_t n) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (device->getEnableFlg() == 1 && device->getStatus() != 0) device->ErrorFunction();
    return 1;
}

int CMWKorvoApi::ErrorTargetLED(uint32_t n) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    device->ErrorFunction();
    return 1;
}

int CMWKorvoApi::GetEnableFlg(uint32_t n, int* flag) {
    if (flag != nullptr) *flag = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (flag != nullptr) *flag = device->getEnableFlg() != 0 ? 1 : 0;
    return 1;
}

int CMWKorvoApi::SetEnableFlg(uint32_t n, int flag) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    device->setEnableFlg(flag != 0 ? 1 : 0);
    return 1;
}

int CMWKorvoApi::GetTargetStatus(uint32_t n, int* status) {
    if (status != nullptr) *status = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (status != nullptr) *status = static_cast<int>(device->getStatus());
    return 1;
}

int CMWKorvoApi::SetTargetStatus(uint32_t n, int status) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    device->setStatus(static_cast<FlashStatus>(status));
    return 1;
}

int CMWKorvoApi::GetTargetPlugSuccess(uint32_t n, int* success) {
    if (success != nullptr) *success = 0;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (success != nullptr) *success = device->getPlugStatus() == PlugSuccess ? 1 : 0;
    return 1;
}

int CMWKorvoApi::GetTargetPlugStatus(uint32_t n, PlugStatus* plugStatus) {
    if (plugStatus != nullptr) *plugStatus = PlugNone;
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    if (plugStatus != nullptr) *plugStatus = device->getPlugStatus();
    return 1;
}

int CMWKorvoApi::SetTargetPlugStatus(uint32_t n, PlugStatus plugStatus) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    device->setPlugStatus(plugStatus);
    return 1;
}

int CMWKorvoApi::SetSerialNumber(uint32_t n, const uint8_t* bytes, uint32_t length) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr || bytes == nullptr || length == 0 || length > kMaxSerialNumber) return 0;
    device->setSN(bytes, length);
    return 1;
}

int CMWKorvoApi::GetSerialNumber(uint32_t n, uint8_t* buffer, uint32_t bufferSize, uint32_t* length) {
    CFlashApi* device = deviceAt(n);
    if (device == nullptr) return 0;
    device->getSN(buffer, bufferSize, length);
    return 1;
}
