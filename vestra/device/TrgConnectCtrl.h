// CTrgConnectCtrl: the connection set. It lists the attached KORVO emulators
// through the USB seam, keeps their paths in enumeration order and owns one
// CFlashApi per path. Target number n (1 ... GetSizeDevObj()) designates the
// n-th device object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/FlashApi.h"
#include "usb/UsbBackend.h"
#include "vestra.h"

class VESTRA_API CTrgConnectCtrl {
public:
    // A walking position over the device list: the target number of the next
    // object to hand out, kNoPosition once the list is exhausted.
    using Position = uint32_t;
    static constexpr Position kNoPosition = 0;

    // At most this many interfaces are enumerated; finding them all is an
    // error, since the system serves at most kMaxDevices emulators.
    static constexpr uint32_t kEnumerationLimit = 33;
    static constexpr uint32_t kMaxDevices = 32;

    CTrgConnectCtrl();
    // Destroys every device object still owned, which closes its emulator.
    ~CTrgConnectCtrl();
    CTrgConnectCtrl(const CTrgConnectCtrl&) = delete;
    CTrgConnectCtrl& operator=(const CTrgConnectCtrl&) = delete;

    // Appends the paths of the attached emulators. 1, 0 when no device list
    // could be obtained, -1 when kEnumerationLimit interfaces were found (the
    // paths are listed all the same).
    int GetUsbDevice();
    // The same for the first two interfaces only. 1, or 0 without a device list.
    int GetUsbDeviceOne();
    // Reads the path of one enumerated interface. 0 when it is unreadable.
    int GetOneDevice(const vestra::usb::DeviceEntry& entry, std::string* path);
    // One device object per listed path, in order; a device that cannot be
    // opened still gets its object (status 0x5005). 0 when no path is listed.
    int CreateFlashApi();
    // Stores length + 1 through `needed` and copies the path (with its zero)
    // only when `buffer` holds that many bytes; 1 even when it does not.
    // 0 for a number outside 1 ... number of paths.
    int GetDevicePathStr(uint32_t targetNumber, char* buffer, uint32_t size, uint32_t* needed) const;

    // Number of interface indices the last enumeration went through.
    int GetDevNum() const;
    // Throws std::invalid_argument when the list is empty; never let it
    // escape through an exported C function.
    CFlashApi* GetHeadDevObj() const;
    Position GetHeadPositionDevObj() const;
    // Returns the object at `position` and advances it.
    CFlashApi* GetNextDevObj(Position& position) const;
    uint32_t GetSizeDevObj() const;
    // nullptr for a number outside 1 ... GetSizeDevObj().
    CFlashApi* GetIndexDevObj(uint32_t targetNumber) const;
    // Empties the list without destroying the objects: the caller, who must
    // have taken their pointers first, becomes their owner.
    void RemoveAllDevObj();

private:
    int enumerate(uint32_t limit);

    std::vector<std::string> paths_;
    int devNum_ = 0;
    std::vector<std::unique_ptr<CFlashApi>> devices_;
};
