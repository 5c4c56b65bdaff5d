// The library's operation layer over the connection set. The one instance is
// the exported global ApiObj; the exported Api* functions call it.
//
// Devices are addressed by their target number n (1 ... number of device
// objects). Every operation returns 1 when carried out and 0 when not (no
// connection set, n out of range, or a plug status that does not allow it);
// what happened to each device is left in that device's sticky status word.
// Out-parameters are cleared before anything else, even when the result is 0.
#pragma once

#include <cstdint>

#include "vestra.h"

class CFlashApi;
class CTrgConnectCtrl;

class VESTRA_API CMWKorvoApi {
public:
    CMWKorvoApi() = default;

    // The connection set, null while none exists. Not owned here: the
    // exported connect and disconnect functions create and destroy it.
    CTrgConnectCtrl* GetTrgConnect() const { return trgConnect_; }
    void SetTrgConnect(CTrgConnectCtrl* trgConnect) { trgConnect_ = trgConnect; }

    // Finds and reads every TRG file. filesFound receives the number of files
    // found, skipped ones included. The caller owns the set and returns it
    // through DeleteTargetInfoSet; null when no file was found or accepted.
    TRGINFO* ReadTargetInfoFile(uint8_t maxIdBits, uint16_t* filesFound);
    // 1 after freeing the set and nulling *set; 0 (nothing changed) for a
    // null pointer or a set without an array.
    int DeleteTargetInfoSet(TRGINFO** set);

    // Identification. CheckTargetName and CheckFirm pass over a disabled
    // device or one whose status is already non-zero, so the first failure
    // stays visible. On a match CheckTargetName gives the device its copy of
    // the description; CheckFirm compares against that copy.
    int CheckTargetName(uint32_t n, const TRGINFO* set, const char* targetName);
    int CheckFirm(uint32_t n);
    // "%d.%02d" of the firmware number; 0 unless plugged and the firmware read.
    int GetFirmVerStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed);
    // id holds 2 words when idBitNum is 64, else 4. 1 whenever n is valid.
    int TargetReadProductID(uint32_t n, uint32_t idBitNum, uint32_t* id);

    // Operations over every eligible device, in lock-step: each step is sent
    // to all of them before any answer is collected.
    int ChipEraseAll();
    int FlashEraseBlockAll(uint32_t address);
    // Writes image[start ... end] from flashAddress on. The count end - start + 1
    // is taken in 32 bits: a count of 0 (0 ... 0xFFFFFFFF) or end < start
    // writes nothing.
    int FlashWriteAll(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image);
    // As FlashWriteAll, each device's serial-number bytes replacing the image
    // from snAddress on (in a copy; the image is not changed).
    int FlashWriteAllWithSN(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image,
                            uint32_t snAddress);

    // Reads of one device at plug status 3; `buffer` holds at least `size`
    // bytes (FlashRead) or one block (FlashReadBlock). Without a buffer, or
    // (SetSecID) without the words it counts, the call is refused with 0 and
    // the device's status 0x5001.
    int FlashRead(uint32_t n, uint32_t size, uint32_t* got, uint8_t* buffer);
    int FlashReadBlock(uint32_t n, uint32_t address, uint32_t& got, uint8_t* buffer);

    // Security, at plug status 2 or 3. `isProtected` is 1 unless the
    // protection word was read as 0.
    int IsTargetProtected(uint32_t n, uint16_t* isProtected);
    int SetSecID(uint32_t n, uint8_t wordCount, const uint16_t* idWords, uint16_t* isProtected);
    int GetSecType(uint32_t n, uint16_t* type);

    int SysResetPlug(uint32_t n);
    int SysReset(uint32_t n);
    int SysResetAll();

    int UpdateErrorTargetLED(uint32_t n);
    int ErrorTargetLED(uint32_t n);

    int GetEnableFlg(uint32_t n, int* flag);
    int SetEnableFlg(uint32_t n, int flag);
    int GetTargetStatus(uint32_t n, int* status);
    int SetTargetStatus(uint32_t n, int status);
    int GetTargetPlugSuccess(uint32_t n, int* success);
    int GetTargetPlugStatus(uint32_t n, PlugStatus* plugStatus);
    int SetTargetPlugStatus(uint32_t n, PlugStatus plugStatus);
    // Up to kMaxSerialNumber bytes per device; 0 for none or more.
    int SetSerialNumber(uint32_t n, const uint8_t* bytes, uint32_t length);
    int GetSerialNumber(uint32_t n, uint8_t* buffer, uint32_t bufferSize, uint32_t* length);

    static constexpr uint32_t kMaxSerialNumber = 256;

private:
    // 1 when text is a valid address (value set); 0 otherwise.
    int AdrsToNum(const char* text, uint32_t& value);
    uint32_t Calc2BitShift(uint32_t value, uint8_t code, int bits);

    // Device n of the connection set; null without a set or for n out of range.
    CFlashApi* deviceAt(uint32_t n) const;
    int writeAll(uint32_t start, uint32_t end, uint32_t flashAddress, const uint8_t* image, const uint32_t* snAddress);

    CTrgConnectCtrl* trgConnect_ = nullptr;
};

// The library's one operation object.
extern VESTRA_API CMWKorvoApi ApiObj;
