// One korvo-sim per test, always in the same socket directory, which the
// library takes from KORVO_SIM_DIR at each connect. The fixture loads the library,
// starts the simulator, and tears both down in the order a program would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "VestraClient.h"

namespace system_testing {

// Width of the widest product ID the writer program supports.
constexpr uint8_t kMaxIdBits = 93;

class SystemTest : public ::testing::Test {
public:
    // The socket directory shared by every simulator of this process.
    static std::string simDir();

protected:
    void SetUp() override;
    void TearDown() override;

    // Starts korvo-sim with `arguments` (plus the shared --dir and --dump).
    void startSim(std::vector<std::string> arguments);
    // ApiCreateConnect, expecting `devices` emulators.
    void connect(uint32_t devices);
    // Reads the sample descriptions; the fixture returns the set.
    TRGINFO* targets();
    // Plugs every device for `targetName` and checks its protection, as the
    // writer program does at start-up.
    void plugAll(const char* targetName);
    // Disconnects and stops the simulator, which writes its memory dumps.
    void disconnectAndStop();
    // Emulator k's memory from address 0, as dumped at the simulator's exit.
    std::vector<uint8_t> dump(unsigned k) const;

    int status(uint32_t n) const;
    PlugStatus plugStatus(uint32_t n) const;

    VestraClient* api = nullptr;

private:
    std::unique_ptr<korvo::testing::SimProcess> sim_;
    TRGINFO* set_ = nullptr;
};

}  // namespace system_testing
