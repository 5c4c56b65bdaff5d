// CEmuLink: the framed command protocol spoken with one KORVO emulator.
// Each command is one "CHRM" request frame written to pipe 0 and one "CHPM"
// answer frame read from pipe 1, under the process-wide CommandLock and the
// link's own pipe lock.
//
// Every command returns 1 on success and 0 on failure; the reason is then in
// getLastError(): a link error (LinkError) or the emulator's own non-zero
// answer status, passed through unchanged. Outputs are written only on
// success. The sequence number advances with every exchange whatever its
// outcome, except that a successful send-only half leaves it for its
// receive-only half: pair every successful *_trans with one *_receive of the
// same command on the same link before anything else runs on that link.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "usb/UsbPipe.h"

// Orders the traffic with all emulators of the process. Whole exchanges and
// send-only halves hold it exclusively, so they run one at a time and never
// between other transfers; receive-only halves hold it shared, together with
// their link's pipe lock, so that the answers of several emulators are
// awaited at once while no exchange or send interleaves with them. Not held
// between a send-only half and its receive-only half.
std::shared_mutex& CommandLock();

// The unpacked form of one frame. For a request, `payload` holds the command
// bytes and `length` their count; for an answer, `payload` is the caller's
// buffer, `length` its capacity on input and the answer's payload length on
// output.
struct EmuFrame {
    uint8_t headerByte = 0x00;
    uint16_t headerWord1 = 0x0000;
    uint16_t headerWord2 = 0x0100;
    uint32_t length = 0;
    uint8_t* payload = nullptr;
};

enum LinkError : uint32_t {
    LinkErrAnswerRead = 0x5000,   // answer unreadable, longer than allowed, truncated, or too short for its fields
    LinkErrFrameWrite = 0x5001,   // request not written, or refused before sending
    LinkErrEmptyAnswer = 0x5002,  // the answer read returned no bytes
    LinkErrBadAnswer = 0x5003,    // no "CHPM" signature with version 0x01
    LinkErrSequence = 0x5004,     // answer to another exchange
    LinkErrUnreachable = 0x5005,  // pipe 0 or pipe 1 could not be opened
};

class CEmuLink {
public:
    // Information query codes.
    static constexpr uint16_t kInfoChipName = 0x3F01;
    static constexpr uint16_t kInfoFirmVersion = 0x3F02;
    static constexpr uint16_t kInfoErrorIndication = 0x7FFF;

    static constexpr uint16_t kMaxMemoryLength = 1000;  // data bytes of one write or read memory command
    static constexpr uint8_t kMaxUnlockWords = 127;
    static constexpr uint32_t kMaximumTransferSize = 16384;
    static constexpr uint32_t kReceiveBufferSize = 4096;

    // Opens the device (with a bus reset); isUnreachable() tells whether that failed.
    explicit CEmuLink(const char* devicePath);
    ~CEmuLink();
    CEmuLink(const CEmuLink&) = delete;
    CEmuLink& operator=(const CEmuLink&) = delete;

    int isUnreachable() const;
    uint32_t getLastError() const;
    uint8_t getSequence() const;

    // At most kMaxMemoryLength bytes; longer requests are refused unsent (LinkErrFrameWrite).
    int WriteMemory(uint32_t address, const uint8_t* data, uint16_t length);
    int WriteMemory_trans(uint32_t address, const uint8_t* data, uint16_t length);
    int WriteMemory_receive();
    // Succeeds only when the answer carries all `length` bytes; a shorter
    // answer fails with LinkErrAnswerRead and copies nothing.
    int ReadMemory(uint32_t address, uint16_t length, uint8_t* buffer);
    int ReadWord(uint32_t address, uint16_t& word);
    int EraseChip();
    int EraseChip_trans();
    int EraseChip_receive();
    int EraseBlock(uint32_t blockAddress);
    int EraseBlock_trans(uint32_t blockAddress);
    int EraseBlock_receive();
    // At most kMaxUnlockWords words; more are refused unsent (LinkErrFrameWrite).
    int UnlockProtect(uint8_t count, const uint16_t* words);
    int ReadProtect(uint16_t& word);
    int ChipReset();
    int SystemReset(uint8_t mode, uint8_t& result);
    int SystemReset_trans(uint8_t mode);
    int SystemReset_receive(uint8_t& result);
    int ReadProductId(uint32_t id[2]);     // id[1] = answer bytes 2-5, id[0] = bytes 6-9
    int ReadProductId128(uint32_t id[4]);  // id[3] = bytes 2-5 ... id[0] = bytes 14-17
    int SetTargetInfo(uint16_t first, uint16_t second, uint32_t address);
    int RemovePowerOnState(uint8_t& result);
    // Zero-terminated text of at most size - 1 characters; size >= 1.
    int QueryInfo(uint16_t code, char* text, uint32_t size);

    // One request frame with the given sequence number on pipe 0.
    int SendFrame(const EmuFrame& frame, uint8_t sequence);
    // One answer frame from pipe 1 into frame.payload (capacity frame.length).
    int ReceiveFrame(EmuFrame& frame, uint8_t& sequence);

    // What a command expects back: the payload capacity and how many leading
    // bytes its outputs read (status included).
    struct AnswerShape {
        uint32_t capacity;
        uint32_t fields;
    };
    // One command: its request payload and the shape of its answer.
    struct Command {
        std::vector<uint8_t> request;
        AnswerShape answer;
    };

    // Takes a command's outputs from an answer whose status is 0 and whose
    // fixed fields are present; false when a counted part is missing.
    using AnswerReader = std::function<bool(const std::vector<uint8_t>& answer)>;

private:
    int exchange(const Command& command, const AnswerReader& read = nullptr);
    int sendOnly(const Command& command);
    int receiveOnly(const AnswerShape& shape, const AnswerReader& read = nullptr);
    bool sendRequest(const std::vector<uint8_t>& request);
    int receiveAnswer(const AnswerShape& shape, const AnswerReader& read);
    int takeAnswer(const AnswerShape& shape, std::vector<uint8_t>& answer);
    int fail(uint32_t error);

    std::mutex pipeLock_;  // one transfer at a time on this link's pipe, after CommandLock
    CUsbPipe pipe_;
    uint8_t sequence_ = 0;
    int unreachable_ = 0;
    uint32_t lastError_ = 0;
};
