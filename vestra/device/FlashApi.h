// CFlashApi: one connected KORVO emulator and the target chip behind it.
// It owns the emulator link, holds a copy of the selected target description
// and the per-device state (sticky status, plug status, enable flag, firmware
// version, serial number) that the multi-target layer reads and sets.
//
// Every operation returns nonzero when carried out and 0 otherwise, with the
// reason left in the status. Operations clear the status when they start,
// except ErrorFunction and the receive halves FlashWrite_receive,
// FlashEraseBlock_receive and TargetSystemReset_receive, which keep what their
// send half left. Outputs are meaningful only when the operation succeeded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vestra.h"

class CEmuLink;

enum FlashStatus : uint32_t {
    FlashStatusOk = 0,
    FlashErrWriteAddress = 0x4000,    // write address lies in no flash range
    FlashErrReadSize = 0x4001,        // read size exceeds what the flash ranges supply
    FlashErrEraseAddress = 0x4003,    // erase address lies in no flash range
    FlashErrWordAddress = 0x4004,     // word-read address lies in no flash range
    FlashErrTargetInfoArgs = 0x4005,  // set-target-info address or window invalid
    FlashErrAnswerRead = 0x5000,
    FlashErrFrameWrite = 0x5001,
    FlashErrEmptyAnswer = 0x5002,
    FlashErrBadAnswer = 0x5003,
    FlashErrSequence = 0x5004,
    FlashErrUnreachable = 0x5005,  // also: the device could not be opened at construction
};

class VESTRA_API CFlashApi {
public:
    // Largest data count of one write or read memory command.
    static constexpr uint32_t kMaxChunk = 1000;

    explicit CFlashApi(const char* devicePath);
    ~CFlashApi();
    CFlashApi(const CFlashApi&) = delete;
    CFlashApi& operator=(const CFlashApi&) = delete;

    FlashStatus getStatus() const;
    void setStatus(FlashStatus status);
    PlugStatus getPlugStatus() const;
    void setPlugStatus(PlugStatus plugStatus);
    int getEnableFlg() const;
    void setEnableFlg(int flag);
    uint32_t getFirmVer() const;
    void setFirmVer(uint32_t version);
    int getSecType() const;
    uint8_t getLastBlockIndex() const;
    uint32_t getFlashSize() const;  // as last computed by checkFlashSize

    CTargetInfo* getTargetInfo();
    // Copies the description (of `area` only the first areaNum entries, at
    // most 256) and derives the index of the chip's last flash block.
    void setTargetInfo(const CTargetInfo& info);

    void setSN(const uint8_t* data, uint32_t length);
    // Stores the length; copies only when `buffer` is given and large enough.
    void getSN(uint8_t* buffer, uint32_t size, uint32_t* length) const;

    // Checks against the flash ranges; no emulator traffic.
    int checkSingleAddress(uint32_t address) const;
    // As checkSingleAddress, and also accepts the reserved tail of the last
    // block, which block reads deliver and block writes give back.
    int checkWriteAddress(uint32_t address) const;
    // `end` = last address, within the address's block, of the writable run
    // that starts at `address`.
    int getEndAddrBlock(uint32_t address, uint32_t& end) const;
    // Computes and stores the flash size; 1 if `size` does not exceed it.
    int checkFlashSize(uint32_t size);

    // Writes data[start..end] to flash from `address` on, waiting for each
    // chunk's answer. end = start - 1 writes nothing.
    int FlashWrite(uint32_t start, uint32_t end, uint32_t address, const uint8_t* data);
    // Sends one chunk of min(length, kMaxChunk) bytes without waiting;
    // `sent` receives its size. Pair with FlashWrite_receive.
    int FlashWrite_trans(uint32_t address, uint32_t length, const uint8_t* data, uint32_t* sent);
    // As FlashWrite_trans, with the serial number overlaid on a copy of the
    // chunk where it overlaps [snAddress, snAddress + length of the SN).
    int FlashWrite_trans_WithSN(uint32_t address, uint32_t length, const uint8_t* data, uint32_t* sent,
                                uint32_t snAddress);
    int FlashWrite_receive();

    // Reads the whole block that holds `address` and appends to `buffer` only
    // the bytes that belong to flash ranges; `buffer` must hold a block.
    // Fails with 0x4001 when the description has no block size.
    int FlashReadBlock(uint32_t address, uint32_t& count, uint8_t* buffer);
    // Reads the in-range bytes of blocks 0, 1, ... within the flash size until
    // `size` bytes are gathered; never stores more than `size` bytes.
    int FlashReadCont(uint32_t size, uint32_t* count, uint8_t* buffer);
    int FlashReadRand(uint32_t address, uint16_t& word);

    int FlashEraseChip();
    int FlashEraseChip_trans();
    int FlashEraseChip_receive();
    // Erases the block that holds `address`.
    int FlashEraseBlock(uint32_t address);
    int FlashEraseBlock_trans(uint32_t address);
    int FlashEraseBlock_receive();

    int FlashUnlockProtect(uint8_t count, const uint16_t* words);
    int FlashReadProtect(uint16_t* word);  // 0: not protected

    int TargetChipReset();
    int TargetSystemReset(uint8_t mode, uint8_t* result);
    int TargetSystemReset_trans(uint8_t mode);
    int TargetSystemReset_receive(uint8_t* result);
    int TargetReadProductID(uint32_t* id);     // 2 words
    int TargetReadProductID128(uint32_t* id);  // 4 words

    // `address` must be 0 or in a flash range, and first <= second.
    int KorvoSetTargetInfo(uint16_t first, uint16_t second, uint32_t address);
    int KorvoRemovePowerOnState(uint8_t* result);
    int GetFirmVersion(uint8_t* text, uint32_t size);
    int GetChipName(uint8_t* text, uint32_t size);
    // Shows the error indication on the emulator; leaves the status alone.
    int ErrorFunction();

private:
    struct Block {
        uint32_t index;
        uint32_t start;
        uint32_t end;
    };

    const CTargetArea* rangeContaining(uint32_t address) const;
    uint32_t flashRangeCount() const;
    Block blockOf(uint32_t address) const;
    bool endsAtReservedTail(uint32_t rangeEnd, const Block& block) const;
    // Reads the whole block and packs its in-range bytes into `out`.
    bool readBlockRanges(const Block& block, uint8_t* out, uint32_t& count);
    int startChecked(bool addressValid, FlashStatus failure);
    int linkResult(int result);

    std::unique_ptr<CEmuLink> link_;
    CTargetInfo target_{};
    uint32_t flashSize_ = 0;
    uint8_t lastBlockIndex_ = 0;
    FlashStatus status_ = FlashStatusOk;
    PlugStatus plugStatus_ = PlugNone;
    int enableFlg_ = 1;
    std::vector<uint8_t> serialNumber_;
    uint32_t firmVer_ = 0;
};
