#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "usb/UsbPipe.h"
#include "usb/tests/FakeUsbBackend.h"

namespace vestra::usb {
namespace {

using testing::Bytes;
using testing::FakeEvent;
using testing::FakeTransfer;
using testing::FakeUsbBackend;
using testing::FakeUsbDevice;
using Kind = FakeEvent::Kind;

constexpr const char* kPath = "usb:1-4.2";

Bytes sequentialBytes(size_t size) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

std::vector<uint32_t> transferLengths(const FakeUsbDevice& device, Kind kind) {
    std::vector<uint32_t> lengths;
    for (const FakeEvent& event : device.events(kind)) {
        lengths.push_back(event.length);
    }
    return lengths;
}

class UsbPipeTest : public ::testing::Test {
protected:
    // An open device with the given pipe open and the event log cleared.
    void openPipe(int pipeIndex, uint32_t maximumTransferSize = 16) {
        pipe.SetMaximumTransferSize(maximumTransferSize);
        ASSERT_EQ(pipe.OpenDevice(kPath), 1);
        ASSERT_EQ(pipe.OpenPipe(pipeIndex, 0), 1);
        device.clearEvents();
    }

    FakeUsbBackend backend;
    FakeUsbDevice& device = backend.addDevice(kPath);
    CUsbPipe pipe{kKorvoInterfaceGuid, 16384};
};

TEST(UsbPipeFields, ConstructorsAndAccessors) {
    CUsbPipe plain;
    EXPECT_EQ(plain.GetMaximumTransferSize(), 4096u);
    EXPECT_EQ(plain.GetMaxPacketSize(), 512u);
    EXPECT_STREQ(plain.GetCompleteDeviceName(), "");
    EXPECT_STREQ(plain.GetCompletePipeName(), "");

    CUsbPipe link(kKorvoInterfaceGuid, 16384);
    EXPECT_EQ(link.GetCurrentGuid(), kKorvoInterfaceGuid);
    EXPECT_EQ(link.SetMaximumTransferSize(512), 16384u);
    EXPECT_EQ(link.SetMaximumTransferSize(64), 512u);

    const UsbGuid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(plain.SetGuid(other), other);
    EXPECT_EQ(plain.GetCurrentGuid(), other);
}

TEST_F(UsbPipeTest, OpenDeviceResetsTheBusAndKeepsTheName) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    EXPECT_STREQ(pipe.GetCompleteDeviceName(), kPath);
    const auto events = device.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Open);
    EXPECT_EQ(events[1].kind, Kind::Reset);
}

TEST_F(UsbPipeTest, FailedOpenLeavesDeviceClosed) {
    device.failOpens(1);
    EXPECT_EQ(pipe.OpenDevice(kPath), 0);
    EXPECT_FALSE(pipe.isDeviceOpen());
    EXPECT_TRUE(device.events(Kind::Reset).empty());
    EXPECT_EQ(pipe.OpenDevice("usb:9-9"), 0);
}

TEST_F(UsbPipeTest, OverlongDeviceNameIsCutTo255Characters) {
    const std::string longName(300, 'x');
    pipe.OpenDevice(longName.c_str());
    EXPECT_EQ(std::strlen(pipe.GetCompleteDeviceName()), 255u);
}

TEST_F(UsbPipeTest, WriteOfExactMultipleSendsOnlyFullChunks) {
    openPipe(kPipeOut);
    const Bytes data = sequentialBytes(32);
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(data.data(), 32, &written), 1);
    EXPECT_EQ(written, 32u);
    EXPECT_EQ(transferLengths(device, Kind::Write), (std::vector<uint32_t>{16, 16}));
}

TEST_F(UsbPipeTest, WriteSendsChunksInOrderThenRemainder) {
    openPipe(kPipeOut);
    const Bytes data = sequentialBytes(40);
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(data.data(), 40, &written), 1);
    EXPECT_EQ(written, 40u);
    const auto writes = device.events(Kind::Write);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[2].length, 8u);
    Bytes joined;
    for (const auto& write : writes) {
        joined.insert(joined.end(), write.data.begin(), write.data.end());
        EXPECT_EQ(write.timeoutMs, kWriteTimeoutMs);
    }
    EXPECT_EQ(joined, data);
}

TEST_F(UsbPipeTest, ZeroMaximumTransferSizeFailsWithoutTransferring) {
    openPipe(kPipeOut, 0);
    const Bytes data(8);
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(data.data(), 8, &written), 0);
    EXPECT_TRUE(device.events(Kind::Write).empty());
}

TEST_F(UsbPipeTest, ShortWriteFailsOnlyWhenItCompletesAtOnce) {
    openPipe(kPipeOut);
    const Bytes data = sequentialBytes(40);
    uint32_t written = 0;
    device.queueWrite(FakeTransfer::accept(10, /*atOnce=*/true));
    EXPECT_EQ(pipe.WritePipe(data.data(), 40, &written), 0);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(device.events(Kind::Write).size(), 1u);

    device.clearEvents();
    device.queueWrite(FakeTransfer::accept(10, /*atOnce=*/false));
    EXPECT_EQ(pipe.WritePipe(data.data(), 40, &written), 1);
    EXPECT_EQ(written, 34u);
}

TEST_F(UsbPipeTest, ShortReadCompletingAtOnceEndsTheRead) {
    openPipe(kPipeIn);
    device.queueAnswer(sequentialBytes(16), true);
    device.queueAnswer(sequentialBytes(5), true);
    device.queueAnswer(sequentialBytes(16), true);  // must stay unread
    Bytes buffer(64);
    uint32_t read = 0;
    EXPECT_EQ(pipe.ReadPipe(buffer.data(), 64, &read), 1);
    EXPECT_EQ(read, 21u);
    EXPECT_EQ(device.queuedAnswers(), 1u);
    EXPECT_EQ(buffer[16], 0);
    EXPECT_EQ(buffer[20], 4);
}

TEST_F(UsbPipeTest, ShortReadAfterWaitingDoesNotEndTheRead) {
    openPipe(kPipeIn);
    device.queueAnswer(sequentialBytes(5), false);
    device.queueAnswer(sequentialBytes(16), false);
    device.queueAnswer(sequentialBytes(3), false);
    Bytes buffer(40);
    uint32_t read = 0;
    EXPECT_EQ(pipe.ReadPipe(buffer.data(), 40, &read), 1);
    EXPECT_EQ(read, 24u);
    EXPECT_EQ(transferLengths(device, Kind::Read), (std::vector<uint32_t>{16, 16, 8}));
    for (const auto& event : device.events(Kind::Read)) {
        EXPECT_EQ(event.timeoutMs, kReadTimeoutMs);
    }
}

TEST_F(UsbPipeTest, ImmediateAndWaitedReadsCountAlike) {
    openPipe(kPipeIn, 16384);
    for (bool atOnce : {true, false}) {
        device.queueAnswer(sequentialBytes(20), atOnce);
        Bytes buffer(4096);
        uint32_t read = 0;
        EXPECT_EQ(pipe.ReadPipe(buffer.data(), 4096, &read), 1);
        EXPECT_EQ(read, 20u) << "atOnce=" << atOnce;
    }
}

TEST_F(UsbPipeTest, TimedOutTransferFailsButKeepsTheDevice) {
    testing::ScopedPipeTimeouts shortTimeouts(7, 9);
    openPipe(kPipeIn, 16384);
    Bytes buffer(64);
    uint32_t read = 99;
    EXPECT_EQ(pipe.ReadPipe(buffer.data(), 64, &read), 0);  // nothing queued: the emulator is silent
    EXPECT_EQ(read, 0u);
    ASSERT_EQ(device.events(Kind::Read).size(), 1u);
    EXPECT_EQ(device.events(Kind::Read)[0].timeoutMs, 9u);
    EXPECT_EQ(device.events(Kind::Read)[0].status, TransferStatus::TimedOut);
    EXPECT_TRUE(pipe.isDeviceOpen());

    ASSERT_EQ(pipe.OpenPipe(kPipeOut, 0), 1);
    device.queueWrite(FakeTransfer::timeout());
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(buffer.data(), 64, &written), 0);
    EXPECT_EQ(device.events(Kind::Write)[0].timeoutMs, 7u);
}

TEST_F(UsbPipeTest, HardErrorInRemainderClosesPipeAndDevice) {
    openPipe(kPipeOut);
    const Bytes data = sequentialBytes(20);
    device.queueWrite(FakeTransfer::accept());
    device.queueWrite(FakeTransfer::stall());
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(data.data(), 20, &written), 0);
    EXPECT_EQ(written, 16u);
    EXPECT_FALSE(pipe.isPipeOpen());
    EXPECT_FALSE(pipe.isDeviceOpen());
    EXPECT_FALSE(device.isOpen());
}

TEST_F(UsbPipeTest, HardErrorInFullChunkKeepsPipeAndDevice) {
    openPipe(kPipeOut);
    const Bytes data = sequentialBytes(20);
    device.queueWrite(FakeTransfer::error());
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(data.data(), 20, &written), 0);
    EXPECT_EQ(device.events(Kind::Write).size(), 1u);
    EXPECT_TRUE(pipe.isPipeOpen());
    EXPECT_TRUE(pipe.isDeviceOpen());
}

TEST_F(UsbPipeTest, OpenPipeReopensAClosedDeviceWithBusReset) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    pipe.CloseDevice();
    device.clearEvents();
    ASSERT_EQ(pipe.OpenPipe(kPipeIn, 0), 1);
    EXPECT_STREQ(pipe.GetCompletePipeName(), "usb:1-4.2\\PIPE01");
    const auto events = device.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::Open);
    EXPECT_EQ(events[1].kind, Kind::Reset);
}

TEST_F(UsbPipeTest, OpenPipeFailsWhenTheDeviceCannotBeReopened) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    pipe.CloseDevice();
    device.failOpens(-1);
    EXPECT_EQ(pipe.OpenPipe(kPipeOut, 0), 0);
    EXPECT_FALSE(pipe.isPipeOpen());
    uint32_t written = 0;
    const Bytes data(4);
    EXPECT_EQ(pipe.WritePipe(data.data(), 4, &written), 0);
}

TEST_F(UsbPipeTest, PipeIndexWithoutEndpointIsRefused) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    EXPECT_EQ(pipe.OpenPipe(2, 0), 0);
    EXPECT_FALSE(pipe.isDeviceOpen());
}

TEST_F(UsbPipeTest, ClrFeatureClearsTheHaltOfThePipesEndpoint) {
    openPipe(kPipeIn);
    EXPECT_EQ(pipe.ClrFeature(kPipeIn), 1);
    const auto controls = device.events(Kind::Control);
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].setup.requestType, 0x02);  // standard, to an endpoint
    EXPECT_EQ(controls[0].setup.request, 0x01);      // CLEAR_FEATURE
    EXPECT_EQ(controls[0].setup.index, 0x82);
    ASSERT_EQ(device.events(Kind::ClearHalt).size(), 1u);
    EXPECT_EQ(device.events(Kind::ClearHalt)[0].pipe, kPipeIn);

    device.clearEvents();
    EXPECT_EQ(pipe.resetPipe(kPipeOut), 1);
    EXPECT_TRUE(device.events(Kind::Control).empty());
    EXPECT_EQ(device.events(Kind::ClearHalt)[0].pipe, kPipeOut);
}

TEST_F(UsbPipeTest, PipeResetNeedsAnOpenPipe) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    EXPECT_EQ(pipe.resetPipe(kPipeOut), 0);
    EXPECT_TRUE(device.events(Kind::ClearHalt).empty());
}

TEST_F(UsbPipeTest, ControlOperationsReopenTheDevice) {
    EXPECT_EQ(pipe.BusReset(), 0);  // no name stored yet
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    pipe.CloseDevice();
    device.clearEvents();
    EXPECT_EQ(pipe.BusReset(), 1);
    EXPECT_TRUE(pipe.isDeviceOpen());
    EXPECT_EQ(device.events(Kind::Reset).size(), 2u);  // one from the reopen, one asked for
}

TEST_F(UsbPipeTest, GetDescriptorWritesTheRequestAndReadsTheAnswer) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    device.setControlResult(true, {0x12, 0x01, 0x00, 0x02});
    uint8_t buffer[512];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint16_t returned = 0;
    EXPECT_EQ(pipe.GetDescriptor(0x01, 0x00, 0x0409, buffer, 0x0012, &returned), 1);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{0x12, 0x01, 0x00, 0x02, 0x12, 0x00}));
    const auto control = device.events(Kind::Control).at(0);
    EXPECT_EQ(control.setup.requestType, 0x80);
    EXPECT_EQ(control.setup.request, 0x06);
    EXPECT_EQ(control.setup.value, 0x0100);
    EXPECT_EQ(control.setup.index, 0x0409);
    EXPECT_EQ(control.length, 0x12u);

    device.setControlResult(true, {});
    std::memset(buffer, 0, sizeof buffer);
    pipe.GetDescriptor(0x03, 0x02, 0x0409, buffer, 0x1234, &returned);
    EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{0x03, 0x02, 0x09, 0x04, 0x34, 0x12}));
    EXPECT_EQ(device.events(Kind::Control).at(1).length, 512u);
}

TEST_F(UsbPipeTest, RequestControlBuildsHeaderAndRequestType) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    uint8_t buffer[16] = {0xA1, 0xA2, 0xA3};
    uint16_t returned = 0;
    EXPECT_EQ(pipe.RequestControl(REQ_VENDOR, DIRECT_OUT, DEST_INTERFACE, 0x42, 0x1234, 0x0002, 3, buffer,
                                  &returned),
              1);
    EXPECT_EQ(Bytes(buffer, buffer + 10), (Bytes{0x42, 0x34, 0x12, 0x02, 0x00, 0x03, 0x00, 0xA1, 0xA2, 0xA3}));
    const auto control = device.events(Kind::Control).at(0);
    EXPECT_EQ(control.setup.requestType, 0x41);
    EXPECT_EQ(control.setup.request, 0x42);
    EXPECT_EQ(control.setup.value, 0x1234);
    EXPECT_EQ(control.data, (Bytes{0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(returned, 3u);

    pipe.RequestControl(REQ_CLASS, DIRECT_IN, DEST_DEVICE, 0x01, 0, 0, 0, buffer, &returned);
    EXPECT_EQ(device.events(Kind::Control).at(1).setup.requestType, 0xA0);
}

TEST_F(UsbPipeTest, RequestControlAnswerLandsAtTheBufferStartAndIsAtMostFourBytes) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    device.setControlResult(true, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
    uint8_t buffer[32] = {};
    std::memset(buffer, 0x55, sizeof buffer);
    uint16_t returned = 0;
    ASSERT_EQ(pipe.RequestControl(REQ_VENDOR, DIRECT_IN, DEST_DEVICE, 0x10, 0, 0, 8, buffer, &returned), 1);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
    // Nothing of the answer beyond its four bytes, none behind the header.
    EXPECT_EQ(Bytes(buffer + 7, buffer + 16), Bytes(9, 0x55));
    EXPECT_EQ(device.events(Kind::Control).at(0).length, 4u);
}

TEST_F(UsbPipeTest, RequestControlRefusesUndefinedTypesBeforeSending) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    uint8_t buffer[16] = {0xA1};
    const uint8_t before[16] = {0xA1};
    uint16_t returned = 0;
    EXPECT_EQ(pipe.RequestControl(static_cast<REQ_TYPE>(2), DIRECT_OUT, DEST_DEVICE, 1, 0, 0, 1, buffer, &returned), 0);
    EXPECT_EQ(pipe.RequestControl(REQ_CLASS, static_cast<DIRECT_TYPE>(-1), DEST_DEVICE, 1, 0, 0, 1, buffer, &returned), 0);
    EXPECT_EQ(pipe.RequestControl(REQ_CLASS, DIRECT_OUT, static_cast<DEST_TYPE>(3), 1, 0, 0, 1, buffer, &returned), 0);
    EXPECT_TRUE(device.events(Kind::Control).empty());
    EXPECT_EQ(std::memcmp(buffer, before, sizeof buffer), 0);
    EXPECT_TRUE(pipe.isDeviceOpen());
}

TEST_F(UsbPipeTest, FailedRequestControlClosesTheDevice) {
    ASSERT_EQ(pipe.OpenDevice(kPath), 1);
    device.setControlResult(false);
    uint8_t buffer[8] = {};
    uint16_t returned = 0;
    EXPECT_EQ(pipe.RequestControl(REQ_CLASS, DIRECT_OUT, DEST_DEVICE, 1, 0, 0, 1, buffer, &returned), 0);
    EXPECT_FALSE(pipe.isDeviceOpen());
}

}  // namespace
}  // namespace vestra::usb
