// The library under faults it cannot prevent: many write and verify rounds on
// four simulated emulators with faults injected at random request numbers,
// and a simulator killed in the middle of a write. The library is linked in
// rather than loaded by name, so that the pipe time-outs can be shortened: a
// silent or late emulator then costs a quarter of a second, not ten.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"
#include "target/TrgReader.h"
#include "usb/UsbBackend.h"
#include "usb/UsbPipe.h"
#include "vestra.h"

namespace {

namespace fs = std::filesystem;
using korvo::testing::SimProcess;
using Bytes = std::vector<uint8_t>;

constexpr const char* kTarget = "KT430735";
constexpr uint8_t kMaxIdBits = 93;
constexpr uint32_t kBlockSize = 0x8000;
constexpr uint32_t kWriteTimeoutMs = 250;
constexpr uint32_t kReadTimeoutMs = 250;

bool isLinkStatus(int status) { return status >= 0x5000 && status <= 0x5005; }

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Starts and restarts korvo-sim in one directory of its own, with the
// library's backend on that directory and short pipe time-outs.
class LinkedLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "vestra-soak-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        backend_ = vestra::usb::createSimSocketBackend(dir_);
        vestra::usb::setBackendForTesting(backend_.get());
        vestra::usb::setPipeTimeoutsForTesting(kWriteTimeoutMs, kReadTimeoutMs);
        set_ = vestra::target::readTargetInfoSet({SimProcess::sampleTrg(kTarget)}, kMaxIdBits, nullptr);
        ASSERT_NE(set_, nullptr);
    }

    void TearDown() override {
        ApiDelConnect();
        if (set_ != nullptr) vestra::target::deleteTargetInfoSet(&set_);
        sim_.reset();
        vestra::usb::setBackendForTesting(nullptr);
        vestra::usb::resetPipeTimeoutsForTesting();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // A new simulator with `emulators` emulators and the extra arguments,
    // its dumps from an earlier run removed first.
    void startSim(unsigned emulators, const std::vector<std::string>& extra) {
        sim_.reset();
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry.path());
        std::vector<std::string> arguments = {"--trg",  SimProcess::sampleTrg(kTarget), "--emulators",
                                              std::to_string(emulators), "--dir", dir_, "--dump"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(std::move(arguments));
        ASSERT_TRUE(sim_->start());
    }

    // Connects afresh and plugs every emulator; true when all of them are plugged.
    bool connectAndPlug(unsigned emulators) {
        ApiDelConnect();
        uint32_t count = 0;
        if (ApiCreateConnect() != 1 || ApiGetTargetNum(&count) != 1 || count != emulators) return false;
        if (ApiStartupTargetAll(set_, kTarget) != 1) return false;
        for (uint32_t n = 1; n <= count; ++n) {
            uint16_t isProtected = 1;
            ApiIsTargetProtected(n, &isProtected);
            if (plugStatus(n) != PlugSuccess) return false;
        }
        return true;
    }

    // Disconnects and stops the simulator, which writes its dumps.
    void disconnectAndStop() {
        ApiDelConnect();
        if (sim_ != nullptr) sim_->stop();
    }

    Bytes dump(unsigned k) const {
        char name[32];
        std::snprintf(name, sizeof name, "/korvo-%02u.bin", k);
        return readFile(dir_ + name);
    }

    static int status(uint32_t n) {
        int value = -1;
        ApiGetTargetStatus(n, &value);
        return value;
    }

    static PlugStatus plugStatus(uint32_t n) {
        PlugStatus value = PlugNone;
        ApiGetTargetPlugStatus(n, &value);
        return value;
    }

    std::string dir_;
    std::unique_ptr<SimProcess> sim_;
    TRGINFO* set_ = nullptr;

private:
    std::unique_ptr<vestra::usb::UsbBackend> backend_;
};

// ---------------------------------------------------------------------------
// Soak under faults

constexpr unsigned kEmulators = 4;
constexpr unsigned kRounds = 100;
constexpr uint32_t kImageSize = 0x4000;  // 17 write commands
constexpr uint32_t kSerialLength = 4;
constexpr uint32_t kLateInTimeMs = 20;
constexpr uint32_t kLateTooLateMs = 2 * kReadTimeoutMs;
constexpr unsigned kFaultPercent = 60;

enum class FaultKind { SilentAfter, BadSequence, BadSignature, Oversize, Status, DisconnectAfter, LateInTime, LateTooLate };
constexpr int kFaultKinds = 8;

struct Fault {
    FaultKind kind;
    uint32_t frame;       // request number on its emulator, from 1
    uint16_t code = 0;    // answered status of a status fault

    std::string option() const {
        const std::string n = std::to_string(frame);
        switch (kind) {
            case FaultKind::SilentAfter: return "silent-after:" + n;
            case FaultKind::BadSequence: return "bad-seq:" + n;
            case FaultKind::BadSignature: return "bad-signature:" + n;
            case FaultKind::Oversize: return "oversize:" + n;
            case FaultKind::Status: {
                char codeText[8];
                std::snprintf(codeText, sizeof codeText, "%04X", code);
                return "status:" + n + ":" + codeText;
            }
            case FaultKind::DisconnectAfter: return "disconnect-after:" + n;
            case FaultKind::LateInTime: return "late:" + n + ":" + std::to_string(kLateInTimeMs);
            case FaultKind::LateTooLate: return "late:" + n + ":" + std::to_string(kLateTooLateMs);
        }
        return {};
    }

    // The statuses the library may report for this fault; 0 alone when the
    // fault must not fail the target.
    std::set<int> statuses() const {
        switch (kind) {
            case FaultKind::SilentAfter: return {0x5000};
            case FaultKind::BadSequence: return {0x5004};
            case FaultKind::BadSignature: return {0x5003};
            case FaultKind::Oversize: return {0x5000};
            case FaultKind::Status: return {code};
            // The answer to the last frame still arrives; whether the next
            // request or its answer finds the connection gone is a race.
            case FaultKind::DisconnectAfter: return {0x5000, 0x5001, 0x5002};
            case FaultKind::LateInTime: return {0};
            case FaultKind::LateTooLate: return {0x5000};
        }
        return {};
    }

    // Whether the emulator stays unusable until it is connected anew.
    bool persists() const { return kind == FaultKind::SilentAfter || kind == FaultKind::DisconnectAfter; }
};

struct SoakCounts {
    unsigned rounds = 0;
    unsigned faults = 0;
    unsigned passed = 0;
    unsigned failedCorrectly = 0;
    unsigned verified = 0;
    unsigned reconnected = 0;
    unsigned wrong = 0;
};

class FaultSoakTest : public LinkedLibraryTest {
protected:
    // Request frames one emulator receives while connecting and plugging.
    uint32_t plugFrames() {
        const std::string log = dir_ + ".log";
        sim_.reset();
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry.path());
        sim_ = std::make_unique<SimProcess>(std::vector<std::string>{
            "--trg", SimProcess::sampleTrg(kTarget), "--emulators", std::to_string(kEmulators), "--dir", dir_, "-v"});
        sim_->setStderrFile(log);
        EXPECT_TRUE(sim_->start());
        EXPECT_TRUE(connectAndPlug(kEmulators));
        disconnectAndStop();
        const Bytes bytes = readFile(log);
        const std::string text(bytes.begin(), bytes.end());
        uint32_t frames = 0;
        for (size_t at = text.find("korvo-00 #"); at != std::string::npos; at = text.find("korvo-00 #", at + 1)) {
            frames = std::max<uint32_t>(frames, static_cast<uint32_t>(std::strtoul(text.c_str() + at + 10, nullptr, 10)));
        }
        std::error_code ignored;
        fs::remove(log, ignored);
        return frames;
    }

    Fault randomFault(uint32_t firstWriteFrame, uint32_t writeFrames) {
        Fault fault{static_cast<FaultKind>(rng_() % kFaultKinds), firstWriteFrame + static_cast<uint32_t>(rng_() % writeFrames)};
        fault.code = static_cast<uint16_t>(0x6100 + rng_() % 0x100);
        return fault;
    }

    Bytes roundImage() {
        Bytes image(kImageSize);
        for (uint8_t& byte : image) byte = static_cast<uint8_t>(rng_());
        return image;
    }

    // Checks one target after the write, from its status and its dump.
    void judge(unsigned k, int written, const Bytes& expected, const std::optional<Fault>& fault, SoakCounts& counts) {
        const Bytes memory = dump(k);
        const bool holds = memory.size() >= expected.size() && std::equal(expected.begin(), expected.end(), memory.begin());
        const std::set<int> allowed = fault ? fault->statuses() : std::set<int>{0};
        if (written == 0 && holds) {
            ++counts.passed;
        } else if (written != 0 && allowed.count(written) != 0) {
            ++counts.failedCorrectly;
        } else {
            ++counts.wrong;
            ADD_FAILURE() << "round " << counts.rounds << ", emulator " << k << ": status " << std::hex << written
                          << ", image " << (holds ? "held" : "wrong") << ", fault "
                          << (fault ? fault->option() : std::string("none"));
        }
    }

    // Reads block 0 back through the library from every target that passed
    // the write: the bytes must be the image, or the read must fail with a
    // link status on an emulator whose fault outlasts the write.
    void verify(const std::vector<int>& written, const std::vector<Bytes>& expected,
                const std::vector<std::optional<Fault>>& faults, SoakCounts& counts) {
        Bytes block(kBlockSize);
        for (unsigned k = 0; k < kEmulators; ++k) {
            if (written[k] != 0) continue;
            uint32_t got = 0;
            ApiFlashReadBlock(k + 1, 0, &got, block.data());
            const int read = status(k + 1);
            if (read == 0 && got == kBlockSize && std::equal(expected[k].begin(), expected[k].end(), block.begin())) {
                ++counts.verified;
            } else if (read != 0 && isLinkStatus(read) && faults[k] && faults[k]->persists()) {
                ++counts.failedCorrectly;
            } else {
                ++counts.wrong;
                ADD_FAILURE() << "round " << counts.rounds << ", emulator " << k << ": read back with status "
                              << std::hex << read << ", " << std::dec << got << " bytes";
            }
        }
    }

    // Connects anew to the same simulator: every emulator plugs again,
    // except one that dropped its connection, which refuses new ones. An
    // emulator stays busy until its late answer is out (the answer then goes
    // to whichever host is connected), so the reconnect waits for that.
    void reconnect(const std::vector<std::optional<Fault>>& faults, SoakCounts& counts) {
        ApiDelConnect();
        if (std::any_of(faults.begin(), faults.end(),
                        [](const auto& fault) { return fault && fault->kind == FaultKind::LateTooLate; })) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kLateTooLateMs));
        }
        uint32_t count = 0;
        ASSERT_EQ(ApiCreateConnect(), 1);
        ASSERT_EQ(ApiGetTargetNum(&count), 1);
        ASSERT_EQ(count, kEmulators);
        ApiStartupTargetAll(set_, kTarget);
        for (unsigned k = 0; k < kEmulators; ++k) {
            uint16_t isProtected = 1;
            ApiIsTargetProtected(k + 1, &isProtected);
            const bool refuses = faults[k] && faults[k]->kind == FaultKind::DisconnectAfter;
            const bool plugged = plugStatus(k + 1) == PlugSuccess;
            if (plugged != refuses && (plugged || isLinkStatus(status(k + 1)))) {
                counts.reconnected += plugged ? 1 : 0;
                continue;
            }
            ++counts.wrong;
            ADD_FAILURE() << "round " << counts.rounds << ", emulator " << k << ": after a reconnect plug status "
                          << plugStatus(k + 1) << ", status " << std::hex << status(k + 1) << ", fault "
                          << (faults[k] ? faults[k]->option() : std::string("none"));
        }
    }

    std::mt19937 rng_{20261208u};
};

TEST_F(FaultSoakTest, EveryTargetEitherHoldsItsImageOrIsReportedFailedWithItsFaultsStatus) {
    const auto began = std::chrono::steady_clock::now();
    const uint32_t firstWriteFrame = plugFrames() + 1;
    ASSERT_GT(firstWriteFrame, 1u);
    const uint32_t writeFrames = (kImageSize + 999) / 1000;

    SoakCounts counts;
    for (; counts.rounds < kRounds; ++counts.rounds) {
        std::vector<std::optional<Fault>> faults(kEmulators);
        std::vector<std::string> arguments;
        for (unsigned k = 0; k < kEmulators; ++k) {
            if (rng_() % 100 >= kFaultPercent) continue;
            faults[k] = randomFault(firstWriteFrame, writeFrames);
            arguments.insert(arguments.end(), {"--emulator", std::to_string(k) + ":fault=" + faults[k]->option()});
            ++counts.faults;
        }
        startSim(kEmulators, arguments);
        ASSERT_TRUE(connectAndPlug(kEmulators)) << "round " << counts.rounds << ": a reconnect did not bring back every emulator";

        Bytes image = roundImage();
        const uint32_t serialAddress = rng_() % (kImageSize - kSerialLength + 1);
        std::vector<Bytes> expected(kEmulators, image);
        for (unsigned k = 0; k < kEmulators; ++k) {
            Bytes serial = {static_cast<uint8_t>(counts.rounds), static_cast<uint8_t>(k), static_cast<uint8_t>(rng_()),
                            static_cast<uint8_t>(rng_())};
            ASSERT_EQ(ApiSetSerialNumber(k + 1, serial.data(), kSerialLength), 1);
            std::copy(serial.begin(), serial.end(), expected[k].begin() + serialAddress);
        }
        ASSERT_EQ(ApiFlashWriteAllWithSN(0, kImageSize - 1, 0, image.data(), serialAddress), 1);
        std::vector<int> written(kEmulators);
        for (unsigned k = 0; k < kEmulators; ++k) written[k] = status(k + 1);
        verify(written, expected, faults, counts);
        reconnect(faults, counts);

        disconnectAndStop();
        for (unsigned k = 0; k < kEmulators; ++k) judge(k, written[k], expected[k], faults[k], counts);
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("soak: %u rounds, %u faults injected, %u targets passed, %u read back, %u failed correctly, "
                "%u plugged again after a reconnect, %u wrong outcomes (%.1f s)\n",
                counts.rounds, counts.faults, counts.passed, counts.verified, counts.failedCorrectly,
                counts.reconnected, counts.wrong, seconds);
    EXPECT_EQ(counts.wrong, 0u);
    EXPECT_GT(counts.passed, 0u);
    EXPECT_GT(counts.failedCorrectly, 0u);
}

// ---------------------------------------------------------------------------
// Simulator killed mid-write

constexpr unsigned kKilledEmulators = 2;
constexpr uint32_t kLongImageSize = 0x40000;  // 263 write commands of 2 ms each
constexpr const char* kWriteMicroseconds = "2000";
constexpr auto kKillAfter = std::chrono::milliseconds(150);

Bytes longImage() {
    Bytes image(kLongImageSize);
    for (uint32_t i = 0; i < kLongImageSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    return image;
}

using KillRestartTest = LinkedLibraryTest;

TEST_F(KillRestartTest, KilledSimulatorGivesLinkStatusesAndAfterARestartTheNextWriteSucceeds) {
    startSim(kKilledEmulators, {"--write-us", kWriteMicroseconds});
    ASSERT_TRUE(connectAndPlug(kKilledEmulators));
    Bytes image = longImage();

    const auto began = std::chrono::steady_clock::now();
    std::thread killer([this] {
        std::this_thread::sleep_for(kKillAfter);
        sim_->kill();
    });
    ApiFlashWriteAll(0, kLongImageSize - 1, 0, image.data());
    killer.join();
    ASSERT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(2000))
        << "the write was not cut short by the kill";
    for (uint32_t n = 1; n <= kKilledEmulators; ++n) {
        EXPECT_TRUE(isLinkStatus(status(n))) << "target " << n << ": status " << std::hex << status(n);
    }

    ASSERT_TRUE(sim_->start());
    ASSERT_TRUE(connectAndPlug(kKilledEmulators));
    ASSERT_EQ(ApiFlashWriteAll(0, kLongImageSize - 1, 0, image.data()), 1);
    for (uint32_t n = 1; n <= kKilledEmulators; ++n) EXPECT_EQ(status(n), 0) << "target " << n;
    disconnectAndStop();
    for (unsigned k = 0; k < kKilledEmulators; ++k) {
        const Bytes memory = dump(k);
        ASSERT_GE(memory.size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin())) << "emulator " << k;
    }
}

}  // namespace
