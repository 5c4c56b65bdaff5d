#include "api/MWKorvoApi.h"

#include "target/TrgFile.h"
#include "target/TrgReader.h"

TRGINFO* CMWKorvoApi::ReadTargetInfoFile(uint8_t maxIdBits, uint16_t* filesFound) {
    return vestra::target::readTargetInfoFiles(maxIdBits, filesFound);
}

int CMWKorvoApi::DeleteTargetInfoSet(TRGINFO** set) { return vestra::target::deleteTargetInfoSet(set); }

int CMWKorvoApi::AdrsToNum(const char* text, uint32_t& value) {
    return vestra::target::AdrsToNumText(text != nullptr ? text : "", value) ? 1 : 0;
}

uint32_t CMWKorvoApi::Calc2BitShift(uint32_t value, uint8_t code, int bits) {
    return vestra::target::Calc2BitShift(value, code, bits);
}
