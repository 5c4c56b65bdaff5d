// Host overhead of VESTRA's emulator link:
//  1. exchanges per second through CFlashApi with the in-process scripted
//     fake backend answering at once (target >= 100 000/s), against the same
//     two bulk transfers per exchange made on the fake backend directly;
//  2. MB/s written through one korvo-sim socket with zero programming time
//     (target >= 20 MB/s), against the same write frames sent on the socket
//     directly.
// The ratios are the share of the raw rate the library keeps.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "device/FlashApi.h"
#include "usb/UsbBackend.h"
#include "usb/tests/FakeUsbBackend.h"

namespace {

using Clock = std::chrono::steady_clock;
using vestra::usb::testing::Bytes;

constexpr uint32_t kExchanges = 200000;
constexpr uint32_t kWriteSize = 512 * 1024;  // the flash of the bench target
constexpr int kWriteRounds = 8;
constexpr int kSocketRuns = 3;
constexpr uint32_t kChunk = CFlashApi::kMaxChunk;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One request frame around `payload`, with sequence number `sequence`.
Bytes requestFrame(const Bytes& payload, uint8_t sequence) {
    Bytes frame{'C', 'H', 'R', 'M', 0x01, sequence, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<uint8_t>(payload.size() >> shift));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

// Write memory of `length` bytes at `address`.
Bytes writePayload(uint32_t address, uint16_t length) {
    Bytes payload{0x05, 0x00, 0x30, static_cast<uint8_t>(address >= 0x10000 ? 0x2B : 0x27)};
    for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(static_cast<uint8_t>(address >> shift));
    payload.insert(payload.end(), {0x02, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    payload.resize(payload.size() + length, 0x5A);
    return payload;
}

// Answer to read protection: status 0, protection word 0.
void answerReadProtection(vestra::usb::testing::FakeUsbDevice& device) {
    device.setResponder([](const Bytes& frame) {
        Bytes answer{'C', 'H', 'P', 'M', 0x01, frame[5], 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 4, 0, 0, 0, 0, 0, 0, 0};
        return std::vector<Bytes>{answer};
    });
}

double rawFakeExchangesPerSecond() {
    vestra::usb::testing::FakeUsbBackend backend;
    answerReadProtection(backend.addDevice("usb:bench"));
    auto device = backend.open("usb:bench");
    Bytes request = requestFrame({0x12, 0x32}, 0);
    std::vector<uint8_t> answer(4096);
    const auto start = Clock::now();
    for (uint32_t i = 0; i < kExchanges; ++i) {
        device->bulkTransfer(vestra::usb::kPipeOut, request.data(), static_cast<uint32_t>(request.size()), 5000);
        device->bulkTransfer(vestra::usb::kPipeIn, answer.data(), static_cast<uint32_t>(answer.size()), 10000);
    }
    return kExchanges / secondsSince(start);
}

double flashApiExchangesPerSecond(bool& ok) {
    vestra::usb::testing::FakeUsbBackend backend;
    answerReadProtection(backend.addDevice("usb:bench"));
    CFlashApi flash("usb:bench");
    uint16_t word = 0;
    ok = true;
    const auto start = Clock::now();
    for (uint32_t i = 0; i < kExchanges; ++i) ok = flash.FlashReadProtect(&word) && ok;
    return kExchanges / secondsSince(start);
}

CTargetInfo benchTarget() {
    CTargetInfo info{};
    std::strcpy(info.targetName, "KT430735");
    info.targetIdBitNum = 93;
    info.areaNum = 1;
    info.area[0] = {0, kWriteSize - 1};
    info.blockSize = 0x8000;
    return info;
}

double rawSocketMegabytesPerSecond(const std::string& path) {
    auto backend = vestra::usb::createSimSocketBackend(std::filesystem::path(path).parent_path().string());
    auto device = backend->open(path);
    if (device == nullptr) return 0;
    std::vector<Bytes> frames;
    for (uint32_t offset = 0; offset < kWriteSize; offset += kChunk) {
        const auto length = static_cast<uint16_t>(std::min(kChunk, kWriteSize - offset));
        frames.push_back(requestFrame(writePayload(offset, length), static_cast<uint8_t>(frames.size())));
    }
    std::vector<uint8_t> answer(4096);
    const auto start = Clock::now();
    for (int round = 0; round < kWriteRounds; ++round) {
        for (Bytes& frame : frames) {
            device->bulkTransfer(vestra::usb::kPipeOut, frame.data(), static_cast<uint32_t>(frame.size()), 5000);
            device->bulkTransfer(vestra::usb::kPipeIn, answer.data(), static_cast<uint32_t>(answer.size()), 10000);
        }
    }
    return double{kWriteSize} * kWriteRounds / secondsSince(start) / 1e6;
}

double flashApiMegabytesPerSecond(const std::string& path, bool& ok) {
    vestra::usb::setBackendForTesting(nullptr);
    auto backend = vestra::usb::createSimSocketBackend(std::filesystem::path(path).parent_path().string());
    vestra::usb::setBackendForTesting(backend.get());
    double rate = 0;
    {
        CFlashApi flash(path.c_str());
        flash.setTargetInfo(benchTarget());
        std::vector<uint8_t> image(kWriteSize, 0xA5);
        ok = true;
        const auto start = Clock::now();
        for (int round = 0; round < kWriteRounds; ++round) ok = flash.FlashWrite(0, kWriteSize - 1, 0, image.data()) && ok;
        rate = double{kWriteSize} * kWriteRounds / secondsSince(start) / 1e6;
    }
    vestra::usb::setBackendForTesting(nullptr);
    return rate;
}

void printRow(const char* what, double library, double raw, const char* unit, double target) {
    std::printf("%-34s %12.1f %12.1f %8.3f   (target >= %.0f %s)\n", what, library, raw, raw > 0 ? library / raw : 0.0,
                target, unit);
}

}  // namespace

int main() {
    bool fakeOk = false;
    const double raw = rawFakeExchangesPerSecond();
    const double library = flashApiExchangesPerSecond(fakeOk);

    using korvo::testing::SimProcess;
    const std::string dir = (std::filesystem::temp_directory_path() /
                             ("vestra-overhead-bench-" + std::to_string(::getpid()))).string();
    SimProcess sim({"--trg", SimProcess::sampleTrg("KT430735"), "--dir", dir});
    if (!sim.start()) {
        std::fprintf(stderr, "korvo-sim did not start\n");
        return 1;
    }
    // Best of a few alternating runs: the simulator shares the machine.
    bool socketOk = true;
    double rawSocket = 0, librarySocket = 0;
    for (int run = 0; run < kSocketRuns; ++run) {
        bool ok = false;
        rawSocket = std::max(rawSocket, rawSocketMegabytesPerSecond(sim.socketPath(0)));
        librarySocket = std::max(librarySocket, flashApiMegabytesPerSecond(sim.socketPath(0), ok));
        socketOk = socketOk && ok;
    }
    sim.stop();
    std::filesystem::remove_all(dir);

    std::printf("%-34s %12s %12s %8s\n", "", "library", "raw", "ratio");
    printRow("fake backend, exchanges/s", library, raw, "/s", 100000);
    printRow("korvo-sim socket, write MB/s", librarySocket, rawSocket, "MB/s", 20);
    if (!fakeOk || !socketOk) {
        std::fprintf(stderr, "an exchange failed during the measurement\n");
        return 1;
    }
    return 0;
}
