// Two emulators behind the fake backend, connected through ApiCreateConnect,
// with every bulk transfer logged across both.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "api/MWKorvoApi.h"
#include "device/FlashApi.h"
#include "device/TrgConnectCtrl.h"
#include "usb/tests/ChipEmulator.h"

namespace api_testing {

using vestra::usb::testing::ChipEmulator;
using vestra::usb::testing::RecordingBackend;
using vestra::usb::testing::Request;
using vestra::usb::testing::Transfer;

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

class TwoEmulators : public ::testing::Test {
protected:
    void SetUp() override {
        chip1.productId[0] = chip2.productId[0] = sampleTarget().targetId00;
        chip1.productId[1] = chip2.productId[1] = sampleTarget().targetId32;
        ASSERT_EQ(ApiObj.GetTrgConnect(), nullptr);
        ASSERT_EQ(ApiCreateConnect(), 1);
        chip1.clearRequests();
        chip2.clearRequests();
        recording.transfers().clear();
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

    vestra::usb::testing::FakeUsbBackend backend;
    vestra::usb::testing::FakeUsbDevice& usb1 = backend.addDevice(kPath1);
    vestra::usb::testing::FakeUsbDevice& usb2 = backend.addDevice(kPath2);
    ChipEmulator chip1{usb1};
    ChipEmulator chip2{usb2};
    RecordingBackend recording{backend};
};

}  // namespace api_testing
