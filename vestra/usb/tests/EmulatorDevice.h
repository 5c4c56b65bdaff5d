// korvo-sim's in-process Emulator as a device of the fake USB backend
// (library target vestra_test_emulator), for the tests of the device objects
// and of the operations above them. Every frame written to pipe 0 goes to
// the Emulator, and its answer is what the next read of pipe 1 returns; an
// answer it delays comes late against the reads' time-outs, and one it does
// not give leaves them to time out. Opens and bus resets are new connections.
// Dropped connections are left to the system tests against korvo-sim.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Emulator.h"
#include "usb/tests/FakeUsbBackend.h"

namespace vestra::usb::testing {

class EmulatorDevice final : public FakePeer {
public:
    EmulatorDevice(FakeUsbDevice& usb, korvo::ChipDescription chip, std::string firmware);
    ~EmulatorDevice() override;
    EmulatorDevice(const EmulatorDevice&) = delete;
    EmulatorDevice& operator=(const EmulatorDevice&) = delete;

    korvo::Emulator& emulator() { return *emulator_; }
    korvo::Chip& chip() { return emulator_->chip(); }
    Bytes memory(uint32_t address, uint32_t length) const;
    // Another emulator with this chip and firmware takes the device's place.
    void replace(korvo::ChipDescription chip, std::string firmware);

    // Request frame n, counted from now, is answered with `status` and not carried out.
    void refuse(uint32_t n, uint16_t status);
    // No answer from request frame n on, counted from now, until a new connection.
    void fallSilent(uint32_t n);

    // What the emulator read each request frame as, since the last clear
    // ("write memory at 00002000, 1000 bytes"); with a prefix, the ones that begin with it.
    std::vector<std::string> commands(std::string_view prefix = {}) const;

private:
    std::vector<FakeTransfer> frameWritten(const Bytes& frame) override;
    void connected() override { emulator_->connectionOpened(); }
    std::unique_ptr<korvo::Emulator> build(korvo::ChipDescription chip, std::string firmware);

    FakeUsbDevice& usb_;
    std::unique_ptr<korvo::Emulator> emulator_;
    mutable std::mutex mutex_;  // commands_: frames may come on the collectors' threads
    std::vector<std::string> commands_;
};

}  // namespace vestra::usb::testing
