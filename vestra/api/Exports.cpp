// The exported functions: each works on ApiObj and its connection set. No
// exception leaves the library: a failure inside one ends that call with its
// "not carried out" result.
#include <cstring>
#include <memory>
#include <string>

#include "api/MWKorvoApi.h"
#include "device/FlashApi.h"
#include "device/TrgConnectCtrl.h"
#include "usb/UsbBackend.h"

CMWKorvoApi ApiObj;

namespace {

template <typename Result, typename Body>
Result guarded(Result notCarriedOut, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return notCarriedOut;
    }
}

template <typename Body>
int guarded(Body body) noexcept {
    return guarded(0, body);
}

enum class Enumeration { All, FirstTwo };

// What ApiGetConnectFailureText hands out: set by every connect that
// enumerated.
std::string& connectFailureText() {
    static std::string text;
    return text;
}

std::string emptyListingReason() {
    const std::string reason = vestra::usb::currentBackend().emptyListingReason();
    return reason.empty() ? "No emulator is attached." : reason;
}

// One line for each listed emulator that could not be opened.
std::string unopenedDevicesReason(const CTrgConnectCtrl& set) {
    std::string text;
    for (uint32_t n = 1; n <= set.GetSizeDevObj(); ++n) {
        if (set.GetIndexDevObj(n)->getStatus() != FlashErrUnreachable) continue;
        char path[256] = {};
        uint32_t needed = 0;
        set.GetDevicePathStr(n, path, sizeof path, &needed);
        std::string reason = vestra::usb::currentBackend().openFailureReason(path);
        if (reason.empty()) reason = std::string("The emulator at ") + path + " could not be opened.";
        text += (text.empty() ? "" : "\n") + reason;
    }
    return text;
}

int createConnect(Enumeration enumeration) {
    if (ApiObj.GetTrgConnect() != nullptr) return 0;
    auto set = std::make_unique<CTrgConnectCtrl>();
    const int listed = enumeration == Enumeration::All ? set->GetUsbDevice() : set->GetUsbDeviceOne();
    connectFailureText().clear();
    if (listed == 0) connectFailureText() = emptyListingReason();
    if (listed != 1) return listed;
    if (!set->CreateFlashApi()) {
        connectFailureText() = emptyListingReason();
        return 0;
    }
    connectFailureText() = unopenedDevicesReason(*set);
    ApiObj.SetTrgConnect(set.release());
    return 1;
}

uint32_t deviceCount() {
    const CTrgConnectCtrl* set = ApiObj.GetTrgConnect();
    return set != nullptr ? set->GetSizeDevObj() : 0;
}

int status(uint32_t n) {
    int value = 0;
    ApiObj.GetTargetStatus(n, &value);
    return value;
}

void plugOne(uint32_t n, const TRGINFO* set, const char* targetName) {
    ApiObj.SetTargetPlugStatus(n, PlugInProgress);
    ApiObj.SysResetPlug(n);
    if (status(n) != 0) {
        ApiObj.UpdateErrorTargetLED(n);
        return;
    }
    ApiObj.CheckTargetName(n, set, targetName);
    if (status(n) == 0) ApiObj.SetTargetPlugStatus(n, PlugProtected);
    ApiObj.UpdateErrorTargetLED(n);
    ApiObj.CheckFirm(n);
    if (status(n) != 0) ApiObj.UpdateErrorTargetLED(n);
}

void unplug(uint32_t n) { ApiObj.SetTargetPlugStatus(n, PlugNone); }

}  // namespace

extern "C" {

int ApiCreateConnect(void) { return guarded([] { return createConnect(Enumeration::All); }); }

int ApiCreateConnectOne(void) { return guarded([] { return createConnect(Enumeration::FirstTwo); }); }

int ApiDelConnect(void) {
    return guarded([] {
        CTrgConnectCtrl* set = ApiObj.GetTrgConnect();
        if (set == nullptr) return 0;
        ApiObj.SetTrgConnect(nullptr);
        delete set;
        return 1;
    });
}

int ApiGetTargetNum(uint32_t* count) {
    return guarded([count] {
        if (count != nullptr) *count = 0;
        if (ApiObj.GetTrgConnect() == nullptr) return 0;
        if (count != nullptr) *count = deviceCount();
        return 1;
    });
}

int ApiStartupTargetAll(TRGINFO* set, const char* targetName) {
    return guarded([set, targetName] {
        if (set == nullptr || ApiObj.GetTrgConnect() == nullptr) return 0;
        const uint32_t count = deviceCount();
        for (uint32_t n = 1; n <= count; ++n) plugOne(n, set, targetName);
        return 1;
    });
}

int ApiSystemResetAll(void) {
    return guarded([] {
        if (ApiObj.GetTrgConnect() == nullptr) return 0;
        ApiObj.SysResetAll();
        const uint32_t count = deviceCount();
        for (uint32_t n = 1; n <= count; ++n) unplug(n);
        return 1;
    });
}

int ApiSystemResetAllSimple(void) {
    return guarded([] {
        if (ApiObj.GetTrgConnect() == nullptr) return 0;
        ApiObj.SysResetAll();
        return 1;
    });
}

int ApiSystemReset(uint32_t n) {
    return guarded([n] {
        if (ApiObj.GetTrgConnect() == nullptr) return 0;
        ApiObj.SysReset(n);
        unplug(n);
        return 1;
    });
}

int ApiGetDevicePathStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed) {
    return guarded([=] {
        const CTrgConnectCtrl* set = ApiObj.GetTrgConnect();
        if (set == nullptr) return 0;
        return set->GetDevicePathStr(n, buffer, bufferSize, needed);
    });
}

int ApiGetConnectFailureText(char* buffer, uint32_t bufferSize, uint32_t* needed) {
    return guarded([=] {
        const std::string& text = connectFailureText();
        const auto required = static_cast<uint32_t>(text.size() + 1);
        if (needed != nullptr) *needed = required;
        if (buffer != nullptr && bufferSize >= required) std::memcpy(buffer, text.c_str(), required);
        return 1;
    });
}

TRGINFO* ApiReadTargetInfoFile(uint8_t maxIdBits, uint16_t* filesFound) {
    return guarded<TRGINFO*>(nullptr, [=] { return ApiObj.ReadTargetInfoFile(maxIdBits, filesFound); });
}

int ApiDeleteTargetInfoSet(TRGINFO** set) {
    return guarded([set] { return ApiObj.DeleteTargetInfoSet(set); });
}

int ApiCheckTargetName(uint32_t n, TRGINFO* set, const char* targetName) {
    return guarded([=] { return ApiObj.CheckTargetName(n, set, targetName); });
}

int ApiCheckFirm(uint32_t n) {
    return guarded([n] { return ApiObj.CheckFirm(n); });
}

int ApiGetFirmVersionStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed) {
    return guarded([=] { return ApiObj.GetFirmVerStr(n, buffer, bufferSize, needed); });
}

int ApiTargetReadProductID(uint32_t n, uint32_t idBitNum, uint32_t* id) {
    return guarded([=] { return ApiObj.TargetReadProductID(n, idBitNum, id); });
}

int ApiSysResetPlug(uint32_t n) {
    return guarded([n] { return ApiObj.SysResetPlug(n); });
}

int ApiSysReset(uint32_t n) {
    return guarded([n] { return ApiObj.SysReset(n); });
}

int ApiChipEraseAll(void) {
    return guarded([] { return ApiObj.ChipEraseAll(); });
}

int ApiFlashEraseBlockAll(uint32_t address) {
    return guarded([address] { return ApiObj.FlashEraseBlockAll(address); });
}

int ApiFlashWriteAll(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) {
    return guarded([=] { return ApiObj.FlashWriteAll(start, end, flashAddress, image); });
}

int ApiFlashWriteAllWithSN(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image, uint32_t snAddress) {
    return guarded([=] { return ApiObj.FlashWriteAllWithSN(start, end, flashAddress, image, snAddress); });
}

int ApiFlashRead(uint32_t n, uint32_t size, uint32_t* got, uint8_t* buffer) {
    return guarded([=] { return ApiObj.FlashRead(n, size, got, buffer); });
}

int ApiFlashReadBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) {
    return guarded([=] {
        uint32_t count = 0;
        const int result = ApiObj.FlashReadBlock(n, address, count, buffer);
        if (got != nullptr) *got = count;
        return result;
    });
}

int ApiIsTargetProtected(uint32_t n, uint16_t* isProtected) {
    return guarded([=] { return ApiObj.IsTargetProtected(n, isProtected); });
}

// The 32-bit ID goes out as two words, upper half first.
int ApiSetSecID(uint32_t n, uint32_t id, uint16_t* isProtected) {
    return guarded([=] {
        const uint16_t words[2] = {static_cast<uint16_t>(id >> 16), static_cast<uint16_t>(id & 0xFFFFu)};
        return ApiObj.SetSecID(n, 2, words, isProtected);
    });
}

int ApiSetSecIDEx(uint32_t n, uint8_t wordCount, uint16_t* idWords, uint16_t* isProtected) {
    return guarded([=] { return ApiObj.SetSecID(n, wordCount, idWords, isProtected); });
}

int ApiGetSecType(uint32_t n, uint16_t* type) {
    return guarded([=] { return ApiObj.GetSecType(n, type); });
}

int ApiGetEnableFlg(uint32_t n, int* flag) {
    return guarded([=] { return ApiObj.GetEnableFlg(n, flag); });
}

int ApiSetEnableFlg(uint32_t n, int flag) {
    return guarded([=] { return ApiObj.SetEnableFlg(n, flag); });
}

int ApiGetTargetStatus(uint32_t n, int* statusOut) {
    return guarded([=] { return ApiObj.GetTargetStatus(n, statusOut); });
}

int ApiSetTargetStatus(uint32_t n, int statusIn) {
    return guarded([=] { return ApiObj.SetTargetStatus(n, statusIn); });
}

int ApiIsTargetPlugSuccess(uint32_t n, int* success) {
    return guarded([=] { return ApiObj.GetTargetPlugSuccess(n, success); });
}

int ApiGetTargetPlugStatus(uint32_t n, PlugStatus* plugStatus) {
    return guarded([=] { return ApiObj.GetTargetPlugStatus(n, plugStatus); });
}

int ApiSetTargetPlugStatus(uint32_t n, PlugStatus plugStatus) {
    return guarded([=] { return ApiObj.SetTargetPlugStatus(n, plugStatus); });
}

int ApiGetSerialNumber(uint32_t n, uint8_t* buffer, uint32_t bufferSize, uint32_t* length) {
    return guarded([=] { return ApiObj.GetSerialNumber(n, buffer, bufferSize, length); });
}

int ApiSetSerialNumber(uint32_t n, uint8_t* bytes, uint32_t length) {
    return guarded([=] { return ApiObj.SetSerialNumber(n, bytes, length); });
}

int ApiUpdateErrorTargetLED(uint32_t n) {
    return guarded([n] { return ApiObj.UpdateErrorTargetLED(n); });
}

int ApiErrorTargetLED(uint32_t n) {
    return guarded([n] { return ApiObj.ErrorTargetLED(n); });
}

}  // extern "C"
