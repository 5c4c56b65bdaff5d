// The simulator backend against a running korvo-sim: enumeration, exclusive
// open, one message per transfer, time-outs, bus reset and lost connections.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "SimProcess.h"
#include "usb/UsbBackend.h"

namespace vestra::usb {
namespace {

using korvo::testing::SimProcess;
using Bytes = std::vector<uint8_t>;

const Bytes kEraseChipSeq5 = {0x43, 0x48, 0x52, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x12, 0x10};
const Bytes kEraseChipAnswer = {0x43, 0x48, 0x50, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00,
                                0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kReadMemorySeq2A = {0x43, 0x48, 0x52, 0x4D, 0x01, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0B, 0x00,
                                0x00, 0x00, 0x05, 0x10, 0x30, 0x2B, 0x00, 0x01, 0xF8, 0x00, 0x01, 0x00, 0x02};

constexpr uint32_t kShortTimeoutMs = 200;

TransferResult write(UsbDevice& device, Bytes frame) {
    return device.bulkTransfer(kPipeOut, frame.data(), static_cast<uint32_t>(frame.size()), kShortTimeoutMs);
}

TransferResult read(UsbDevice& device, Bytes& buffer, uint32_t timeoutMs = kShortTimeoutMs) {
    buffer.assign(4096, 0);
    const TransferResult result = device.bulkTransfer(kPipeIn, buffer.data(), 4096, timeoutMs);
    buffer.resize(result.count);
    return result;
}

class SimBackendTest : public ::testing::Test {
protected:
    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--trg", SimProcess::sampleTrg("KT51456")};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(arguments);
        ASSERT_TRUE(sim_->start());
        backend_ = createSimSocketBackend(sim_->dir());
    }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<UsbBackend> backend_;
};

TEST_F(SimBackendTest, EnumeratesTheEmulatorSocketsInNameOrder) {
    start({"--emulators", "12"});
    std::ofstream(sim_->dir() + "/korvo-99");  // not a socket
    std::ofstream(sim_->dir() + "/notes.txt");
    std::vector<DeviceEntry> devices;
    ASSERT_TRUE(backend_->enumerate(devices));
    ASSERT_EQ(devices.size(), 12u);
    for (unsigned k = 0; k < devices.size(); ++k) {
        EXPECT_EQ(devices[k].path, sim_->socketPath(k));
        EXPECT_TRUE(devices[k].readable);
    }
    std::vector<DeviceEntry> none;
    EXPECT_FALSE(createSimSocketBackend(sim_->dir() + "/missing")->enumerate(none));
}

TEST_F(SimBackendTest, CarriesTheGoldenFramesOneMessagePerTransfer) {
    start();
    auto device = backend_->open(sim_->socketPath(0));
    ASSERT_TRUE(device);
    const TransferResult sent = write(*device, kEraseChipSeq5);
    EXPECT_EQ(sent.status, TransferStatus::Completed);
    EXPECT_EQ(sent.count, kEraseChipSeq5.size());
    Bytes answer;
    ASSERT_EQ(read(*device, answer, 2000).status, TransferStatus::Completed);
    EXPECT_EQ(answer, kEraseChipAnswer);

    write(*device, kReadMemorySeq2A);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // A read shorter than the message takes its head at once; the rest stays
    // for the next read, as on a bulk endpoint.
    Bytes head(64);
    const TransferResult first = device->bulkTransfer(kPipeIn, head.data(), 64, kShortTimeoutMs);
    EXPECT_EQ(first.status, TransferStatus::Completed);
    EXPECT_EQ(first.count, 64u);
    EXPECT_TRUE(first.completedAtOnce);
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 16),
              (Bytes{0x43, 0x48, 0x50, 0x4D, 0x01, 0x2A, 0, 0, 0, 0, 0, 1, 0x04, 0x01, 0, 0}));
    Bytes rest;
    EXPECT_EQ(read(*device, rest).count, 16u + 0x104 - 64);
    EXPECT_EQ(read(*device, rest).status, TransferStatus::TimedOut);
}

TEST_F(SimBackendTest, SecondOpenOfABusyEmulatorFailsUntilTheFirstCloses) {
    start();
    auto first = backend_->open(sim_->socketPath(0));
    ASSERT_TRUE(first);
    EXPECT_FALSE(backend_->open(sim_->socketPath(0)));
    EXPECT_TRUE(first->resetDevice());  // the holder itself may reconnect
    EXPECT_FALSE(backend_->open(sim_->socketPath(0)));
    first.reset();
    EXPECT_TRUE(backend_->open(sim_->socketPath(0)));
    EXPECT_FALSE(backend_->open(sim_->dir() + "/korvo-07"));
}

TEST_F(SimBackendTest, BusResetDiscardsAnswersNotYetRead) {
    start();
    auto device = backend_->open(sim_->socketPath(0));
    ASSERT_TRUE(device);
    write(*device, kEraseChipSeq5);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(device->resetDevice());
    Bytes answer;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(read(*device, answer).status, TransferStatus::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(kShortTimeoutMs - 10));
    write(*device, kEraseChipSeq5);
    EXPECT_EQ(read(*device, answer, 2000).status, TransferStatus::Completed);
}

TEST_F(SimBackendTest, DroppedConnectionIsNoDeviceAndControlRequestsAreRefused) {
    start({"--emulator", "0:fault=disconnect-after:1"});
    auto device = backend_->open(sim_->socketPath(0));
    ASSERT_TRUE(device);
    uint16_t transferred = 7;
    uint8_t data[8] = {};
    EXPECT_FALSE(device->controlTransfer({0xC0, 1, 0, 0}, data, sizeof data, &transferred, 100));
    EXPECT_EQ(transferred, 0);
    write(*device, kEraseChipSeq5);
    Bytes answer;
    EXPECT_EQ(read(*device, answer, 2000).status, TransferStatus::Completed);
    EXPECT_EQ(read(*device, answer, 2000).status, TransferStatus::NoDevice);
    EXPECT_EQ(write(*device, kEraseChipSeq5).status, TransferStatus::NoDevice);
    EXPECT_FALSE(device->resetDevice());  // the emulator refuses new connections
    EXPECT_FALSE(device->clearHalt(kPipeIn));
    EXPECT_EQ(read(*device, answer).status, TransferStatus::NoDevice);
}

TEST_F(SimBackendTest, KilledSimulatorIsNoDeviceAndARestartIsReachable) {
    start({"--chip-erase-us", "3000000"});
    auto device = backend_->open(sim_->socketPath(0));
    ASSERT_TRUE(device);
    write(*device, kEraseChipSeq5);
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sim_->kill();
    });
    Bytes answer;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(read(*device, answer, 5000).status, TransferStatus::NoDevice);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2500));
    killer.join();
    EXPECT_FALSE(device->resetDevice());
    ASSERT_TRUE(sim_->start());  // same directory, stale sockets replaced
    EXPECT_TRUE(device->resetDevice());
    write(*device, kReadMemorySeq2A);
    EXPECT_EQ(read(*device, answer, 2000).status, TransferStatus::Completed);
}

}  // namespace
}  // namespace vestra::usb
