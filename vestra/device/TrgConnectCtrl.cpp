#include "device/TrgConnectCtrl.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr uint32_t kFirstTwoInterfaces = 2;

}  // namespace

CTrgConnectCtrl::CTrgConnectCtrl() = default;

CTrgConnectCtrl::~CTrgConnectCtrl() = default;

int CTrgConnectCtrl::enumerate(uint32_t limit) {
    std::vector<vestra::usb::DeviceEntry> entries;
    vestra::usb::chooseBackend();
    if (!vestra::usb::currentBackend().enumerate(entries)) return 0;

    // The interface list ends after its last entry ("no more items"); an
    // unreadable entry adds no path, so no emulator is opened twice.
    const auto tried = static_cast<uint32_t>(std::min<size_t>(entries.size(), limit));
    for (uint32_t index = 0; index < tried; ++index) {
        std::string path;
        if (GetOneDevice(entries[index], &path)) paths_.push_back(std::move(path));
    }
    devNum_ = static_cast<int>(tried);
    return tried > kMaxDevices ? -1 : 1;
}

int CTrgConnectCtrl::GetUsbDevice() { return enumerate(kEnumerationLimit); }

int CTrgConnectCtrl::GetUsbDeviceOne() { return enumerate(kFirstTwoInterfaces); }

int CTrgConnectCtrl::GetOneDevice(const vestra::usb::DeviceEntry& entry, std::string* path) {
    if (!entry.readable || entry.path.empty() || path == nullptr) return 0;
    *path = entry.path;
    return 1;
}

int CTrgConnectCtrl::CreateFlashApi() {
    if (paths_.empty()) return 0;
    for (const std::string& path : paths_) devices_.push_back(std::make_unique<CFlashApi>(path.c_str()));
    return 1;
}

int CTrgConnectCtrl::GetDevicePathStr(uint32_t targetNumber, char* buffer, uint32_t size, uint32_t* needed) const {
    if (targetNumber == 0 || targetNumber > paths_.size()) return 0;
    const std::string& path = paths_[targetNumber - 1];
    const auto required = static_cast<uint32_t>(path.size() + 1);
    if (needed != nullptr) *needed = required;
    if (buffer != nullptr && size >= required) std::memcpy(buffer, path.c_str(), required);
    return 1;
}

int CTrgConnectCtrl::GetDevNum() const { return devNum_; }

CFlashApi* CTrgConnectCtrl::GetHeadDevObj() const {
    if (devices_.empty()) throw std::invalid_argument("connection set has no device object");
    return devices_.front().get();
}

CTrgConnectCtrl::Position CTrgConnectCtrl::GetHeadPositionDevObj() const {
    return devices_.empty() ? kNoPosition : 1;
}

CFlashApi* CTrgConnectCtrl::GetNextDevObj(Position& position) const {
    CFlashApi* device = GetIndexDevObj(position);
    position = (device != nullptr && position < devices_.size()) ? position + 1 : kNoPosition;
    return device;
}

uint32_t CTrgConnectCtrl::GetSizeDevObj() const { return static_cast<uint32_t>(devices_.size()); }

CFlashApi* CTrgConnectCtrl::GetIndexDevObj(uint32_t targetNumber) const {
    if (targetNumber == 0 || targetNumber > devices_.size()) return nullptr;
    return devices_[targetNumber - 1].get();
}

void CTrgConnectCtrl::RemoveAllDevObj() {
    for (auto& device : devices_) static_cast<void>(device.release());
    devices_.clear();
}
