// CEmuLink's answer handling: the first input byte picks a command, the
// second sizes the caller's buffer where the command takes one, and the rest
// is the answer frame the scripted emulator sends back. Caller buffers are
// allocated at their exact size, so AddressSanitizer sees any write past them.
#include <cstring>
#include <functional>
#include <vector>

#include "FuzzSupport.h"
#include "link/EmuLink.h"
#include "usb/tests/FakeUsbBackend.h"

namespace {

using vestra::usb::testing::Bytes;

constexpr const char* kPath = "usb:fuzz";
constexpr uint32_t kHighAddress = 0x1F800;

int WriteAndReceive(CEmuLink& link) {
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    return link.WriteMemory_trans(kHighAddress, data, sizeof data) == 1 ? link.WriteMemory_receive() : 0;
}

int ReadIntoExactBuffer(CEmuLink& link, uint8_t length) {
    std::vector<uint8_t> buffer(length == 0 ? 1 : length);
    return link.ReadMemory(kHighAddress, length == 0 ? 1 : length, buffer.data());
}

int QueryIntoExactBuffer(CEmuLink& link, uint8_t size) {
    std::vector<char> text(size_t{size} + 1);
    const int result = link.QueryInfo(CEmuLink::kInfoFirmVersion, text.data(), static_cast<uint32_t>(text.size()));
    if (result == 1) FUZZ_CHECK(std::memchr(text.data(), '\0', text.size()) != nullptr);
    return result;
}

using Command = std::function<int(CEmuLink&, uint8_t)>;

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        [](CEmuLink& link, uint8_t) {
            const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
            return link.WriteMemory(0x100, data, sizeof data);
        },
        [](CEmuLink& link, uint8_t) { return WriteAndReceive(link); },
        [](CEmuLink& link, uint8_t size) { return ReadIntoExactBuffer(link, size); },
        [](CEmuLink& link, uint8_t) {
            uint16_t word = 0;
            return link.ReadWord(0x200, word);
        },
        [](CEmuLink& link, uint8_t) { return link.EraseChip(); },
        [](CEmuLink& link, uint8_t) { return link.EraseChip_trans() == 1 ? link.EraseChip_receive() : 0; },
        [](CEmuLink& link, uint8_t) { return link.EraseBlock(0x400); },
        [](CEmuLink& link, uint8_t) { return link.EraseBlock_trans(0x10000) == 1 ? link.EraseBlock_receive() : 0; },
        [](CEmuLink& link, uint8_t) {
            const uint16_t words[5] = {0x1122, 0x3344, 0x5566, 0x7788, 0x99AA};
            return link.UnlockProtect(5, words);
        },
        [](CEmuLink& link, uint8_t) {
            uint16_t word = 0;
            return link.ReadProtect(word);
        },
        [](CEmuLink& link, uint8_t) { return link.ChipReset(); },
        [](CEmuLink& link, uint8_t mode) {
            uint8_t result = 0;
            return link.SystemReset(mode & 1, result);
        },
        [](CEmuLink& link, uint8_t mode) {
            uint8_t result = 0;
            return link.SystemReset_trans(mode & 1) == 1 ? link.SystemReset_receive(result) : 0;
        },
        [](CEmuLink& link, uint8_t) {
            uint32_t id[2] = {};
            return link.ReadProductId(id);
        },
        [](CEmuLink& link, uint8_t) {
            uint32_t id[4] = {};
            return link.ReadProductId128(id);
        },
        [](CEmuLink& link, uint8_t) { return link.SetTargetInfo(0x0000, 0x7FFF, 0x1000); },
        [](CEmuLink& link, uint8_t) {
            uint8_t result = 0;
            return link.RemovePowerOnState(result);
        },
        [](CEmuLink& link, uint8_t size) { return QueryIntoExactBuffer(link, size); },
    };
    return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    vestra::usb::testing::FakeUsbBackend backend;
    auto& emulator = backend.addDevice(kPath);
    emulator.queueAnswer(Bytes(data + 2, data + size));
    CEmuLink link(kPath);
    FUZZ_CHECK(!link.isUnreachable());

    const auto& commands = Commands();
    const int result = commands[data[0] % commands.size()](link, data[1]);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0) FUZZ_CHECK(link.getLastError() != 0);
    return 0;
}
