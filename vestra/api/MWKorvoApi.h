// The library's operation layer over the connection set. The one instance is
// the exported global ApiObj; the exported Api* functions call it.
#pragma once

#include <cstdint>

#include "vestra.h"

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

private:
    // 1 when text is a valid address (value set); 0 otherwise.
    int AdrsToNum(const char* text, uint32_t& value);
    uint32_t Calc2BitShift(uint32_t value, uint8_t code, int bits);

    CTrgConnectCtrl* trgConnect_ = nullptr;
};
