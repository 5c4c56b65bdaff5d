// Public interface of libvestra.so: the target description records that the
// library hands out and its callers read in place, and the 39 functions
// exported under plain names. A client either links against the library or
// loads it by name and binds every function listed in VESTRA_EXPORTS.
#pragma once

#include <cstdint>

#if defined(VESTRA_BUILDING_LIBRARY)
#define VESTRA_API __attribute__((visibility("default")))
#else
#define VESTRA_API
#endif

// One flash range, both ends inclusive.
struct CTargetArea {
    uint32_t startAdrs;
    uint32_t endAdrs;
};

enum : uint32_t { VESTRA_MAX_AREAS = 256 };

// One target description (chip type), read from a TRG file. Both the library
// and its callers use this one declaration: callers index the array of a
// TRGINFO set and read the fields in place.
struct CTargetInfo {
    char targetName[256];
    uint32_t targetId32;
    uint32_t targetId00;
    uint32_t areaNum;
    CTargetArea area[VESTRA_MAX_AREAS];
    uint32_t blockSize;
    uint32_t edit;
    uint32_t memoryType;
    uint32_t romWinStart;
    uint32_t romWinEnd;
    uint32_t brkPointVal;
    uint32_t targetIdBitNum;
    uint32_t targetId96;
    uint32_t targetId64;
    uint32_t reservedSize1;
    uint32_t reservedSize2;
    uint32_t testAreaStart;
    char version[10];
};

// A set of target descriptions. Allocated by ApiReadTargetInfoFile, owned by
// the caller, returned through ApiDeleteTargetInfoSet.
struct TRGINFO {
    int32_t count;
    CTargetInfo* array;
};

// Plug state of one target.
enum PlugStatus : uint32_t {
    PlugNone = 0,        // not plugged
    PlugInProgress = 1,  // plugging under way
    PlugProtected = 2,   // identified, flash not yet accessible
    PlugSuccess = 3,     // flash accessible
};

extern "C" {

// Connection set and start-up.
VESTRA_API int ApiCreateConnect(void);
VESTRA_API int ApiCreateConnectOne(void);
VESTRA_API int ApiDelConnect(void);
VESTRA_API int ApiGetTargetNum(uint32_t* count);
VESTRA_API int ApiStartupTargetAll(TRGINFO* set, const char* targetName);
VESTRA_API int ApiSystemResetAll(void);
VESTRA_API int ApiSystemResetAllSimple(void);
VESTRA_API int ApiSystemReset(uint32_t n);
VESTRA_API int ApiGetDevicePathStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed);

// Target descriptions and identification.
VESTRA_API TRGINFO* ApiReadTargetInfoFile(uint8_t maxIdBits, uint16_t* filesFound);
VESTRA_API int ApiDeleteTargetInfoSet(TRGINFO** set);
VESTRA_API int ApiCheckTargetName(uint32_t n, TRGINFO* set, const char* targetName);
VESTRA_API int ApiCheckFirm(uint32_t n);
VESTRA_API int ApiGetFirmVersionStr(uint32_t n, char* buffer, uint32_t bufferSize, uint32_t* needed);
VESTRA_API int ApiTargetReadProductID(uint32_t n, uint32_t idBitNum, uint32_t* id);

// Resets.
VESTRA_API int ApiSysResetPlug(uint32_t n);
VESTRA_API int ApiSysReset(uint32_t n);

// Flash operations over all eligible targets, and reads of one target.
VESTRA_API int ApiChipEraseAll(void);
VESTRA_API int ApiFlashEraseBlockAll(uint32_t address);
VESTRA_API int ApiFlashWriteAll(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image);
VESTRA_API int ApiFlashWriteAllWithSN(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image,
                                      uint32_t snAddress);
VESTRA_API int ApiFlashRead(uint32_t n, uint32_t size, uint32_t* got, uint8_t* buffer);
VESTRA_API int ApiFlashReadBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer);

// Security.
VESTRA_API int ApiIsTargetProtected(uint32_t n, uint16_t* isProtected);
VESTRA_API int ApiSetSecID(uint32_t n, uint32_t id, uint16_t* isProtected);
VESTRA_API int ApiSetSecIDEx(uint32_t n, uint8_t wordCount, uint16_t* idWords, uint16_t* isProtected);
VESTRA_API int ApiGetSecType(uint32_t n, uint16_t* type);

// Per-target state.
VESTRA_API int ApiGetEnableFlg(uint32_t n, int* flag);
VESTRA_API int ApiSetEnableFlg(uint32_t n, int flag);
VESTRA_API int ApiGetTargetStatus(uint32_t n, int* status);
VESTRA_API int ApiSetTargetStatus(uint32_t n, int status);
VESTRA_API int ApiIsTargetPlugSuccess(uint32_t n, int* success);
VESTRA_API int ApiGetTargetPlugStatus(uint32_t n, PlugStatus* plugStatus);
VESTRA_API int ApiSetTargetPlugStatus(uint32_t n, PlugStatus plugStatus);
VESTRA_API int ApiGetSerialNumber(uint32_t n, uint8_t* buffer, uint32_t bufferSize, uint32_t* length);
VESTRA_API int ApiSetSerialNumber(uint32_t n, uint8_t* bytes, uint32_t length);
VESTRA_API int ApiUpdateErrorTargetLED(uint32_t n);
VESTRA_API int ApiErrorTargetLED(uint32_t n);

// Why the last ApiCreateConnect or ApiCreateConnectOne found no emulator
// (no USB IDs configured, and in which file; nothing attached; the socket
// directory of korvo-sim empty), or, one line each, why emulators it listed
// could not be opened (no permission on the device node, in use by another
// program). Empty after a connect that opened every emulator it listed.
// Stores length + 1 through `needed` and copies the text with its zero only
// when `buffer` holds that many bytes; returns 1. Not one of the 39: clients
// look it up by name and do without it when it is missing.
VESTRA_API int ApiGetConnectFailureText(char* buffer, uint32_t bufferSize, uint32_t* needed);

// Intel HEX reader.
VESTRA_API int ReadHEX(const char* path, uint8_t* image, uint32_t maxAddress, uint32_t* lowestAddress,
                       uint32_t* highestAddress);

}  // extern "C"

// The 39 exported functions, for clients that bind them by name:
// VESTRA_EXPORTS(X) expands X(name) once for each.
#define VESTRA_EXPORTS(X)                                                                                  \
    X(ApiCreateConnect) X(ApiCreateConnectOne) X(ApiDelConnect) X(ApiGetTargetNum) X(ApiStartupTargetAll) \
    X(ApiSystemResetAll) X(ApiSystemResetAllSimple) X(ApiSystemReset) X(ApiGetDevicePathStr)               \
    X(ApiReadTargetInfoFile) X(ApiDeleteTargetInfoSet) X(ApiCheckTargetName) X(ApiCheckFirm)               \
    X(ApiGetFirmVersionStr) X(ApiTargetReadProductID) X(ApiSysResetPlug) X(ApiSysReset) X(ApiChipEraseAll) \
    X(ApiFlashEraseBlockAll) X(ApiFlashWriteAll) X(ApiFlashWriteAllWithSN) X(ApiFlashRead)                 \
    X(ApiFlashReadBlock) X(ApiIsTargetProtected) X(ApiSetSecID) X(ApiSetSecIDEx) X(ApiGetSecType)          \
    X(ApiGetEnableFlg) X(ApiSetEnableFlg) X(ApiGetTargetStatus) X(ApiSetTargetStatus)                      \
    X(ApiIsTargetPlugSuccess) X(ApiGetTargetPlugStatus) X(ApiSetTargetPlugStatus) X(ApiGetSerialNumber)    \
    X(ApiSetSerialNumber) X(ApiUpdateErrorTargetLED) X(ApiErrorTargetLED) X(ReadHEX)
