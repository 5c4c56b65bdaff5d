// Two simulated emulators behind the fake backend, connected through
// ApiCreateConnect.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "api/MWKorvoApi.h"
#include "device/FlashApi.h"
#include "device/TrgConnectCtrl.h"
#include "usb/tests/EmulatorDevice.h"

namespace api_testing {

using vestra::usb::testing::EmulatorDevice;
using vestra::usb::testing::FakeEvent;
using Lines = std::vector<std::string>;

constexpr const char* kPath1 = "usb:1-1";
constexpr const char* kPath2 = "usb:1-2";

// A 64 KiB chip in the basic ID format: 8 blocks of 8 KiB, flash 0-0xFDFF,
// security type 0, ROM window 0x8000-0xFFFF, 64-bit product ID.
inline CTargetInfo sampleTarget() {
    CTargetInfo info{};
    std::strcpy(info.targetName, "KT51456");
    info.targetId00 = 0x01004560;
    info.targetId32 = 0x00040800;
    info.targetIdBitNum = 64;
    info.areaNum = 1;
    info.area[0] = {0x0000, 0xFDFF};
    info.blockSize = 0x2000;
    info.reservedSize1 = 0x200;
    info.reservedSize2 = 0x200;
    info.romWinStart = 0x8000;
    info.romWinEnd = 0xFFFF;
    std::strcpy(info.version, "1.10");
    return info;
}

constexpr const char* kSampleFirmware = "1.10";

// The chip that sampleTarget() describes, with the reserved tail as flash.
inline korvo::ChipDescription sampleChip() {
    const CTargetInfo info = sampleTarget();
    korvo::ChipDescription chip;
    chip.flash = {{0x0000, 0xFFFF}};
    chip.blockSize = info.blockSize;
    chip.productId = {info.targetId00, info.targetId32, 0, 0};
    chip.chipName = "51456";
    return chip;
}

class TwoEmulators : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ApiObj.GetTrgConnect(), nullptr);
        ASSERT_EQ(ApiCreateConnect(), 1);
    }
    void TearDown() override { ApiDelConnect(); }

    static CFlashApi& device(uint32_t n) { return *ApiObj.GetTrgConnect()->GetIndexDevObj(n); }

    // Gives device n the sample description and the plug status directly.
    static void plug(uint32_t n, PlugStatus plugStatus, const CTargetInfo& info = sampleTarget()) {
        device(n).setTargetInfo(info);
        device(n).setPlugStatus(plugStatus);
    }

    static int status(uint32_t n) {
        int value = -1;
        ApiGetTargetStatus(n, &value);
        return value;
    }

    // "W path" for a write to pipe 0, "R path" for a read of pipe 1, across
    // both devices in the order they came.
    Lines transfers() const {
        std::vector<std::pair<uint64_t, std::string>> all;
        for (const auto* usb : {&usb1, &usb2}) {
            for (const FakeEvent& event : usb->events()) {
                if (event.kind == FakeEvent::Kind::Write || event.kind == FakeEvent::Kind::Read) {
                    all.emplace_back(event.order, (event.kind == FakeEvent::Kind::Write ? "W " : "R ") + usb->path());
                }
            }
        }
        std::sort(all.begin(), all.end());
        Lines lines;
        for (auto& [order, line] : all) lines.push_back(std::move(line));
        return lines;
    }

    vestra::usb::testing::FakeUsbBackend backend;
    vestra::usb::testing::FakeUsbDevice& usb1 = backend.addDevice(kPath1);
    vestra::usb::testing::FakeUsbDevice& usb2 = backend.addDevice(kPath2);
    EmulatorDevice sim1{usb1, sampleChip(), kSampleFirmware};
    EmulatorDevice sim2{usb2, sampleChip(), kSampleFirmware};
};

}  // namespace api_testing
