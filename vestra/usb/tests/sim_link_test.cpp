// CEmuLink through the simulator backend against a running korvo-sim: every
// command, the golden frames as the simulator sees them, the link errors that
// the simulator's faults provoke, and the chip's memory semantics.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "SimProcess.h"
#include "link/EmuLink.h"
#include "usb/UsbBackend.h"
#include "usb/UsbPipe.h"

namespace {

using korvo::testing::SimProcess;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class SimLinkTest : public ::testing::Test {
protected:
    void TearDown() override {
        vestra::usb::setBackendForTesting(nullptr);
        vestra::usb::resetPipeTimeoutsForTesting();
    }

    void start(const std::string& trg, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--trg", SimProcess::sampleTrg(trg), "-v"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(arguments);
        logPath_ = ::testing::TempDir() + "korvo_sim_link_test.log";
        sim_->setStderrFile(logPath_);
        ASSERT_TRUE(sim_->start());
        backend_ = vestra::usb::createSimSocketBackend(sim_->dir());
        vestra::usb::setBackendForTesting(backend_.get());
    }

    std::unique_ptr<CEmuLink> link(unsigned k = 0) {
        return std::make_unique<CEmuLink>(sim_->socketPath(k).c_str());
    }

    std::string simLog() const {
        std::ifstream in(logPath_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<vestra::usb::UsbBackend> backend_;
    std::string logPath_;
};

TEST_F(SimLinkTest, EveryCommandWorksAgainstTheSimulator) {
    start("KT51456", {"--firmware", "1.23"});
    auto emu = link();
    ASSERT_EQ(emu->isUnreachable(), 0);

    uint32_t id[2] = {};
    ASSERT_EQ(emu->ReadProductId(id), 1);
    EXPECT_EQ(id[0], 0x01004560u);
    EXPECT_EQ(id[1], 0x00040800u);
    uint32_t id128[4] = {};
    ASSERT_EQ(emu->ReadProductId128(id128), 1);
    EXPECT_EQ(id128[0], 0x01004560u);
    EXPECT_EQ(id128[3], 0u);
    char text[64] = {};
    ASSERT_EQ(emu->QueryInfo(CEmuLink::kInfoChipName, text, sizeof text), 1);
    EXPECT_STREQ(text, "51456");
    ASSERT_EQ(emu->QueryInfo(CEmuLink::kInfoFirmVersion, text, sizeof text), 1);
    EXPECT_STREQ(text, "1.23");
    EXPECT_EQ(emu->QueryInfo(CEmuLink::kInfoErrorIndication, text, sizeof text), 1);
    EXPECT_EQ(emu->SetTargetInfo(0x8000, 0xFFFF, 0xFDF0), 1);

    uint8_t result = 0;
    ASSERT_EQ(emu->SystemReset(0, result), 1);
    EXPECT_EQ(result, 0x01);
    ASSERT_EQ(emu->SystemReset_trans(1), 1);
    ASSERT_EQ(emu->SystemReset_receive(result), 1);
    EXPECT_EQ(result, 0x03);
    result = 0;
    ASSERT_EQ(emu->RemovePowerOnState(result), 1);
    EXPECT_EQ(result, 0x03);
    EXPECT_EQ(emu->ChipReset(), 1);

    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(emu->WriteMemory(0x2000, data.data(), 1000), 1);
    Bytes back(1000);
    ASSERT_EQ(emu->ReadMemory(0x2000, 1000, back.data()), 1);
    EXPECT_EQ(back, data);
    uint16_t word = 0;
    ASSERT_EQ(emu->ReadWord(0x2002, word), 1);
    EXPECT_EQ(word, (data[2] << 8) | data[3]);
    ASSERT_EQ(emu->WriteMemory_trans(0x4000, data.data(), 4), 1);
    ASSERT_EQ(emu->WriteMemory_receive(), 1);
    ASSERT_EQ(emu->EraseBlock(0x2000), 1);
    ASSERT_EQ(emu->ReadMemory(0x2000, 4, back.data()), 1);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 4), Bytes(4, 0xFF));
    ASSERT_EQ(emu->EraseBlock_trans(0x4000), 1);
    ASSERT_EQ(emu->EraseBlock_receive(), 1);
    ASSERT_EQ(emu->EraseChip(), 1);
    ASSERT_EQ(emu->EraseChip_trans(), 1);
    ASSERT_EQ(emu->EraseChip_receive(), 1);
    const uint16_t words[2] = {1, 2};
    EXPECT_EQ(emu->UnlockProtect(2, words), 1);
    uint16_t protection = 0xFFFF;
    ASSERT_EQ(emu->ReadProtect(protection), 1);
    EXPECT_EQ(protection, 0);

    sim_->stop();  // flushes the log
    const std::string log = simLog();
    EXPECT_NE(log.find("ROM window 8000-FFFF, flash address 0000FDF0"), std::string::npos);
    EXPECT_NE(log.find("error indication no. 1"), std::string::npos);
}

TEST_F(SimLinkTest, TheLinksGoldenFramesAreWhatTheSimulatorReads) {
    start("KT430735");
    auto emu = link();
    while (emu->getSequence() != 5) ASSERT_EQ(emu->ChipReset(), 1);
    ASSERT_EQ(emu->EraseChip(), 1);
    while (emu->getSequence() != 0x2A) ASSERT_EQ(emu->ChipReset(), 1);
    Bytes buffer(0x100);
    // Success also shows that the simulator found address-space byte 2B.
    ASSERT_EQ(emu->ReadMemory(0x1F800, 0x100, buffer.data()), 1);
    sim_->stop();
    const std::string log = simLog();
    EXPECT_NE(log.find("korvo-00 #6 > CHRM seq=05 len=2: erase chip"), std::string::npos) << log;
    EXPECT_NE(log.find("korvo-00 #43 > CHRM seq=2A len=11: read memory at 0001F800, 256 bytes"), std::string::npos);
    EXPECT_NE(log.find("korvo-00 #43 < CHPM seq=2A len=260: status 0000"), std::string::npos);
}

TEST_F(SimLinkTest, SilentEmulatorTimesOutAndAnswersAfterTheReconnect) {
    start("KT51456", {"--emulator", "0:fault=silent-after:2"});
    vestra::usb::setPipeTimeoutsForTesting(300, 300);
    auto emu = link();
    EXPECT_EQ(emu->ChipReset(), 1);
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(emu->ChipReset(), 1);
    EXPECT_EQ(emu->getSequence(), 3);
}

TEST_F(SimLinkTest, LateAnswerFailsTheFollowingExchangeWithASequenceError) {
    start("KT51456", {"--emulator", "0:fault=late:2:500"});
    vestra::usb::setPipeTimeoutsForTesting(300, 300);
    auto emu = link();
    EXPECT_EQ(emu->ChipReset(), 1);
    EXPECT_EQ(emu->ChipReset(), 0);  // times out at 300 ms
    EXPECT_EQ(emu->getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(emu->ChipReset(), 0);  // gets the late answer at 500 ms
    EXPECT_EQ(emu->getLastError(), LinkErrSequence);
    EXPECT_EQ(emu->ChipReset(), 1);
}

TEST_F(SimLinkTest, BrokenAnswersGiveTheirLinkErrorsAndStatusesPassThrough) {
    start("KT51456", {"--emulator", "0:fault=bad-signature:1,bad-seq:2,oversize:3,status:4:6300"});
    auto emu = link();
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrBadAnswer);
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrSequence);
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrAnswerRead);
    uint32_t id[2] = {0xAAAA, 0xBBBB};
    EXPECT_EQ(emu->ReadProductId(id), 0);
    EXPECT_EQ(emu->getLastError(), 0x6300u);
    EXPECT_EQ(id[0], 0xAAAAu);
    EXPECT_EQ(emu->ReadProductId(id), 1);
    EXPECT_EQ(id[0], 0x01004560u);
}

TEST_F(SimLinkTest, SecondLinkToABusyEmulatorIsUnreachable) {
    start("KT51456");
    auto first = link();
    ASSERT_EQ(first->isUnreachable(), 0);
    auto second = link();
    EXPECT_EQ(second->isUnreachable(), 1);
    EXPECT_EQ(second->ChipReset(), 0);
    EXPECT_EQ(second->getLastError(), LinkErrUnreachable);
    EXPECT_EQ(first->ChipReset(), 1);
    first.reset();
    EXPECT_EQ(second->ChipReset(), 1);
}

TEST_F(SimLinkTest, KilledSimulatorGivesALinkErrorAndARestartIsReachable) {
    start("KT51456", {"--chip-erase-us", "4000000"});
    vestra::usb::setPipeTimeoutsForTesting(5000, 5000);
    auto emu = link();
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sim_->kill();
    });
    const auto before = Clock::now();
    EXPECT_EQ(emu->EraseChip(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrAnswerRead);
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(3000));  // the kill, not the time-out
    killer.join();
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrUnreachable);
    ASSERT_TRUE(sim_->start());
    EXPECT_EQ(emu->ChipReset(), 1);
}

TEST_F(SimLinkTest, DisconnectedEmulatorStaysUnreachable) {
    start("KT51456", {"--emulator", "0:fault=disconnect-after:1"});
    auto emu = link();
    EXPECT_EQ(emu->ChipReset(), 1);
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_GE(emu->getLastError(), LinkErrAnswerRead);
    EXPECT_LE(emu->getLastError(), LinkErrUnreachable);
    EXPECT_EQ(emu->ChipReset(), 0);
    EXPECT_EQ(emu->getLastError(), LinkErrUnreachable);
}

TEST_F(SimLinkTest, PowerOnStateFailsSystemResetUntilRemoved) {
    start("KT51456", {"--emulator", "0:fault=power-on"});
    auto emu = link();
    uint8_t result = 0;
    EXPECT_EQ(emu->SystemReset(0, result), 0);
    EXPECT_EQ(emu->getLastError(), 0x0001u);
    ASSERT_EQ(emu->RemovePowerOnState(result), 1);
    EXPECT_EQ(emu->SystemReset(0, result), 1);
}

TEST_F(SimLinkTest, FlashProgramsByAndErasesToFFAndRefusesOutsideFlash) {
    start("KT51456");  // flash 0-FFFF (the last 512 bytes are the reserved tail), 8 KiB blocks
    auto emu = link();
    const uint8_t first[2] = {0x0F, 0x3C};
    const uint8_t second[2] = {0xF0, 0xFF};
    ASSERT_EQ(emu->WriteMemory(0xFFFE, first, 2), 1);
    ASSERT_EQ(emu->WriteMemory(0xFFFE, second, 2), 1);
    uint8_t back[4] = {};
    ASSERT_EQ(emu->ReadMemory(0xFFFE, 4, back), 1);
    EXPECT_EQ(Bytes(back, back + 4), (Bytes{0x00, 0x3C, 0xFF, 0xFF}));  // 10000 on has no memory
    EXPECT_EQ(emu->WriteMemory(0xFFFF, first, 2), 0);
    EXPECT_EQ(emu->getLastError(), 0x6305u);
    EXPECT_EQ(emu->EraseBlock(0x10000), 0);
    EXPECT_EQ(emu->getLastError(), 0x6305u);
    ASSERT_EQ(emu->EraseBlock(0xE000), 1);
    ASSERT_EQ(emu->ReadMemory(0xFFFE, 2, back), 1);
    EXPECT_EQ(Bytes(back, back + 2), (Bytes{0xFF, 0xFF}));
}

TEST_F(SimLinkTest, SecurityTypeOneChipOpensOnlyWithItsId) {
    start("KT430A2B", {"--security-id", "0011002200330044"});
    auto emu = link();
    uint16_t protection = 0;
    ASSERT_EQ(emu->ReadProtect(protection), 1);
    EXPECT_NE(protection, 0);
    uint8_t byte = 0;
    EXPECT_EQ(emu->ReadMemory(0, 1, &byte), 0);
    EXPECT_EQ(emu->getLastError(), 0x6307u);
    EXPECT_EQ(emu->WriteMemory(0, &byte, 1), 0);
    EXPECT_EQ(emu->EraseBlock(0), 0);
    EXPECT_EQ(emu->EraseChip(), 0);
    EXPECT_EQ(emu->getLastError(), 0x6307u);
    const uint16_t wrong[4] = {0x0011, 0x0022, 0x0033, 0x0045};
    ASSERT_EQ(emu->UnlockProtect(4, wrong), 1);
    ASSERT_EQ(emu->ReadProtect(protection), 1);
    EXPECT_NE(protection, 0);
    const uint16_t right[4] = {0x0011, 0x0022, 0x0033, 0x0044};
    ASSERT_EQ(emu->UnlockProtect(4, right), 1);
    ASSERT_EQ(emu->ReadProtect(protection), 1);
    EXPECT_EQ(protection, 0);
    EXPECT_EQ(emu->ReadMemory(0, 1, &byte), 1);
}

TEST_F(SimLinkTest, SecurityTypeZeroChipOpensByChipErase) {
    start("KT51456", {"--security-id", "ABCD"});
    auto emu = link();
    ASSERT_EQ(emu->EraseChip(), 1);
    uint16_t protection = 1;
    ASSERT_EQ(emu->ReadProtect(protection), 1);
    EXPECT_EQ(protection, 0);
}

TEST_F(SimLinkTest, EmulatorsWorkInParallelAndKeepTheirOwnSettings) {
    start("KT51456", {"--emulators", "2", "--write-us", "500000", "--emulator", "1:trg=" +
                      SimProcess::sampleTrg("KT430735"), "--emulator", "1:chip-name=777"});
    auto a = link(0);
    auto b = link(1);
    char name[16] = {};
    ASSERT_EQ(b->QueryInfo(CEmuLink::kInfoChipName, name, sizeof name), 1);
    EXPECT_STREQ(name, "777");
    uint32_t id[2] = {};
    ASSERT_EQ(b->ReadProductId(id), 1);
    EXPECT_EQ(id[0], 0x40007350u);
    const uint8_t data[4] = {1, 2, 3, 4};
    const auto before = Clock::now();
    ASSERT_EQ(a->WriteMemory_trans(0x100, data, 4), 1);
    ASSERT_EQ(b->WriteMemory_trans(0x100, data, 4), 1);
    ASSERT_EQ(a->WriteMemory_receive(), 1);
    ASSERT_EQ(b->WriteMemory_receive(), 1);
    const auto elapsed = Clock::now() - before;
    EXPECT_GE(elapsed, std::chrono::milliseconds(490));
    EXPECT_LT(elapsed, std::chrono::milliseconds(950));  // one after the other would take 1000
}

}  // namespace
