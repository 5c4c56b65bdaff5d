#include "usb/tests/EmulatorDevice.h"

#include <gtest/gtest.h>

namespace vestra::usb::testing {

EmulatorDevice::EmulatorDevice(FakeUsbDevice& usb, korvo::ChipDescription chip, std::string firmware)
    : usb_(usb), emulator_(build(std::move(chip), std::move(firmware))) {
    usb_.attach(this);
}

EmulatorDevice::~EmulatorDevice() { usb_.attach(nullptr); }

std::unique_ptr<korvo::Emulator> EmulatorDevice::build(korvo::ChipDescription chip, std::string firmware) {
    // A request's log line reads "<name> #<frame> > <header>: <command>".
    auto keepCommand = [this](const std::string& line) {
        const size_t request = line.find(" > ");
        const size_t command = line.find(": ", request);
        if (request == std::string::npos || command == std::string::npos) return;
        std::lock_guard lock(mutex_);
        commands_.push_back(line.substr(command + 2));
    };
    return std::make_unique<korvo::Emulator>(korvo::EmulatorSetup{usb_.path(), std::move(firmware), {}, {}},
                                             korvo::Chip(std::move(chip)), keepCommand);
}

void EmulatorDevice::replace(korvo::ChipDescription chip, std::string firmware) {
    usb_.attach(nullptr);
    emulator_ = build(std::move(chip), std::move(firmware));
    usb_.attach(this);
}

Bytes EmulatorDevice::memory(uint32_t address, uint32_t length) const {
    Bytes bytes(length);
    emulator_->chip().read(address, length, bytes.data());
    return bytes;
}

void EmulatorDevice::refuse(uint32_t n, uint16_t status) {
    emulator_->faults().statusAt[emulator_->framesReceived() + n] = status;
}

void EmulatorDevice::fallSilent(uint32_t n) { emulator_->faults().silentAfter = emulator_->framesReceived() + n; }

std::vector<std::string> EmulatorDevice::commands(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> matching;
    for (const std::string& command : commands_) {
        if (command.compare(0, prefix.size(), prefix) == 0) matching.push_back(command);
    }
    return matching;
}

std::vector<FakeTransfer> EmulatorDevice::frameWritten(const Bytes& frame) {
    korvo::Outcome outcome = emulator_->handleFrame(frame.data(), frame.size());
    EXPECT_FALSE(outcome.dropConnection) << usb_.path() << ": dropped connections are not modelled here";
    if (!outcome.answer) return {};
    FakeTransfer answer = FakeTransfer::answer(std::move(*outcome.answer));
    answer.lateMs = static_cast<uint32_t>((outcome.delay.count() + 999) / 1000);
    return {std::move(answer)};
}

}  // namespace vestra::usb::testing
