// QUARNEL's plug logic and security check over the guarded call layer,
// bound to libvestra.so by name, against korvo-sim.
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "SystemFixture.h"
#include "binding/ApiTable.h"
#include "testing/LockDirectory.h"
#include "testing/MemorySettings.h"
#include "testing/RecordingWindow.h"

namespace system_testing {
namespace {

using korvo::testing::SimProcess;
using quarnel::Plugging;
using quarnel::SecurityCheckResult;
using quarnel::SecurityEntry;
using quarnel::testing::Events;

constexpr const char* kSecurityId = "0001000200030004";

class QuarnelPlugTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        const quarnel::SymbolLookup lookup = [this](const char* name) { return ::dlsym(api->handle, name); };
        ASSERT_TRUE(quarnel::BindApiTable(lookup, table_));
        quarnel::BindOptionalExports(lookup, table_);
        ASSERT_NE(table_.ApiGetConnectFailureText, nullptr);
        window_.plugging = &plugging_;
        window_.expectTableText = true;
    }
    void TearDown() override {
        if (set_ != nullptr) guarded_.ReleaseDescriptions(&set_);
        SystemTest::TearDown();
    }

    // Connects as the window does at start-up and reads the descriptions.
    void connectAndRead() {
        ASSERT_TRUE(plugging_.Connect(Plugging::Variant::StartUp));
        uint16_t found = 0;
        set_ = guarded_.ReadTargetDescriptions(kMaxIdBits, &found);
        ASSERT_NE(set_, nullptr);
        plugging_.SetDescriptions(set_);
    }
    int32_t indexOf(const std::string& name) const {
        for (int32_t k = 0; k < set_->count; ++k)
            if (name == set_->array[k].targetName) return k;
        return -1;
    }

    quarnel::testing::LockDirectory lockDir_;
    quarnel::ApiTable table_;
    quarnel::GuardedApiTable guarded_{table_};
    quarnel::testing::MemorySettings settings_;
    quarnel::testing::RecordingWindow window_;
    Plugging plugging_{guarded_, settings_, window_};
    TRGINFO* set_ = nullptr;
};

TEST_F(QuarnelPlugTest, RememberedIdUnlocksAProtectedChipWithoutTheDialog) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--security-id", kSecurityId});
    settings_.values = {{"TRGNAME", "KT51456"}, {"SECUREID", kSecurityId}, {"SECUREIDSIZE", "8"}};
    connectAndRead();
    ASSERT_FALSE(plugging_.RunStartUpPlugLoop());
    EXPECT_EQ(plugStatus(1), PlugProtected);

    EXPECT_EQ(plugging_.RunSecurityCheck(), SecurityCheckResult::Passed);
    EXPECT_TRUE(window_.events.empty());
    EXPECT_EQ(plugStatus(1), PlugSuccess);
    EXPECT_EQ(status(1), 0);
}

// The second board opens with the ID of the first; a board that another ID
// protects is left out with the wrong-ID status.
TEST_F(QuarnelPlugTest, FurtherTargetsOpenWithTheIdThatOpenedTarget1) {
    for (const char* secondId : {kSecurityId, "0009000900090009"}) {
        SCOPED_TRACE(secondId);
        startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "2", "--security-id", kSecurityId,
                  "--emulator", std::string("1:security-id=") + secondId});
        settings_.values = {{"TRGNAME", "KT51456"}, {"SECUREID", kSecurityId}, {"SECUREIDSIZE", "8"}};
        connectAndRead();
        ASSERT_FALSE(plugging_.RunStartUpPlugLoop());
        EXPECT_EQ(plugging_.RunSecurityCheck(), SecurityCheckResult::Passed);
        EXPECT_EQ(plugStatus(1), PlugSuccess);
        const bool sameId = std::string(secondId) == kSecurityId;
        EXPECT_EQ(plugStatus(2), sameId ? PlugSuccess : PlugProtected);
        EXPECT_EQ(status(2), sameId ? 0 : 0x2001);
        guarded_.ReleaseDescriptions(&set_);
        disconnectAndStop();
    }
}

TEST_F(QuarnelPlugTest, IdEnteredAfterAWrongOneUnlocksAndIsRemembered) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--security-id", kSecurityId});
    settings_.values = {{"TRGNAME", "KT51456"}, {"SECUREID", "FFFF"}};
    SecurityEntry wrong, right;
    wrong.texts.fill("    ");
    right.texts = wrong.texts;
    wrong.texts[0] = "0001";
    for (size_t k = 0; k < 4; ++k) right.texts[k] = std::string(kSecurityId + 4 * k, 4);
    window_.securityAnswers = {wrong, right};
    connectAndRead();
    ASSERT_FALSE(plugging_.RunStartUpPlugLoop());

    EXPECT_EQ(plugging_.RunSecurityCheck(), SecurityCheckResult::Passed);
    EXPECT_EQ(window_.events, (Events{"security dialog", "report 0x2001", "security dialog"}));
    EXPECT_EQ(plugStatus(1), PlugSuccess);
    EXPECT_EQ(settings_.values["SECUREID"], kSecurityId);
    EXPECT_EQ(settings_.values["SECUREIDSIZE"], "8");
}

TEST_F(QuarnelPlugTest, AnotherChipIsNamedAndTheChosenTargetPlugs) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456")});
    settings_.values = {{"TRGNAME", "KT4351235"}};
    connectAndRead();
    window_.targetChoices = {indexOf("KT51456")};
    ASSERT_FALSE(plugging_.RunStartUpPlugLoop());
    EXPECT_EQ(window_.events, (Events{"report 0x2000 KT51456.", "choose"}));
    EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
    EXPECT_EQ(status(1), 0);
}

TEST_F(QuarnelPlugTest, OldFirmwareIsNamedAndEndsTheStartUp) {
    startSim({"--trg", SimProcess::sampleTrg("KT4351235"), "--firmware", "1.00"});
    settings_.values = {{"TRGNAME", "KT4351235"}};
    connectAndRead();
    window_.targetChoices = {indexOf("KT4351235")};
    EXPECT_TRUE(plugging_.RunStartUpPlugLoop());
    EXPECT_EQ(window_.events, (Events{"report 0x2004 1.00", "choose"}));
}

TEST_F(QuarnelPlugTest, EmptySocketDirectoryIsNamedUnderTheNotConnectedWarning) {
    std::filesystem::create_directories(simDir());
    for (const auto& entry : std::filesystem::directory_iterator(simDir())) std::filesystem::remove(entry.path());
    EXPECT_FALSE(plugging_.Connect(Plugging::Variant::StartUp));
    EXPECT_EQ(window_.events,
              (Events{"warning 193\nNo emulator sockets (korvo-NN) in " + simDir() + " (KORVO_SIM_DIR)."}));
}

// Another host holds the only emulator: the connect lists it, the plug
// cannot reach it, and the report says who has it.
TEST_F(QuarnelPlugTest, EmulatorHeldByAnotherProgramIsNamedWhenThePlugFails) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456")});
    const std::string socketPath = simDir() + "/korvo-00";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const int holder = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    uint8_t greeting = 0;
    ASSERT_EQ(::connect(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::recv(holder, &greeting, 1, 0), 1);

    settings_.values = {{"TRGNAME", "KT51456"}};
    connectAndRead();
    EXPECT_TRUE(plugging_.RunStartUpPlugLoop());
    EXPECT_EQ(window_.events, (Events{"report 0x5005 \nThe emulator at " + socketPath +
                                          " is in use by another program.",
                                      "busy 2", "caption &Plug", "choose"}));
    ::close(holder);
}

}  // namespace
}  // namespace system_testing
