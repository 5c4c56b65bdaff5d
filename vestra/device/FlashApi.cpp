#include "device/FlashApi.h"

#include <algorithm>
#include <cstring>

#include "link/EmuLink.h"

namespace {

constexpr uint32_t kErrorQueryScratch = 12;
static_assert(CFlashApi::kMaxChunk == CEmuLink::kMaxMemoryLength);

// Outputs go straight to the caller, since the link writes them only on
// success; a caller that wants none gets a scratch value instead.
template <typename T>
T& outputOr(T* caller, T& scratch) {
    return caller != nullptr ? *caller : scratch;
}

uint16_t chunkSize(uint64_t remaining) {
    return static_cast<uint16_t>(std::min<uint64_t>(remaining, CFlashApi::kMaxChunk));
}

}  // namespace

CFlashApi::CFlashApi(const char* devicePath) : link_(std::make_unique<CEmuLink>(devicePath)) {
    status_ = link_->isUnreachable() ? FlashErrUnreachable : FlashStatusOk;
}

CFlashApi::~CFlashApi() = default;

FlashStatus CFlashApi::getStatus() const { return status_; }
void CFlashApi::setStatus(FlashStatus status) { status_ = status; }
PlugStatus CFlashApi::getPlugStatus() const { return plugStatus_; }
void CFlashApi::setPlugStatus(PlugStatus plugStatus) { plugStatus_ = plugStatus; }
int CFlashApi::getEnableFlg() const { return enableFlg_; }
void CFlashApi::setEnableFlg(int flag) { enableFlg_ = flag; }
uint32_t CFlashApi::getFirmVer() const { return firmVer_; }
void CFlashApi::setFirmVer(uint32_t version) { firmVer_ = version; }
int CFlashApi::getSecType() const { return static_cast<int>((target_.targetId32 >> 23) & 1u); }
uint8_t CFlashApi::getLastBlockIndex() const { return lastBlockIndex_; }
uint32_t CFlashApi::getFlashSize() const { return flashSize_; }
CTargetInfo* CFlashApi::getTargetInfo() { return &target_; }

void CFlashApi::setTargetInfo(const CTargetInfo& info) {
    const uint32_t areas = std::min<uint32_t>(info.areaNum, VESTRA_MAX_AREAS);
    CTargetInfo copy = info;
    std::fill(std::begin(copy.area) + areas, std::end(copy.area), CTargetArea{});
    copy.areaNum = areas;
    target_ = copy;

    const uint32_t low = (info.targetId32 >> 8) & 0xFu;
    const uint32_t high = info.targetIdBitNum != 64 ? (info.targetId64 >> 4) & 0xFu : 0u;
    // A block count of 0 wraps to 255, as the emulator's firmware expects.
    lastBlockIndex_ = static_cast<uint8_t>(high * 16 + low - 1);
}

void CFlashApi::setSN(const uint8_t* data, uint32_t length) {
    if (data == nullptr) {
        serialNumber_.clear();
        return;
    }
    serialNumber_.assign(data, data + length);
}

void CFlashApi::getSN(uint8_t* buffer, uint32_t size, uint32_t* length) const {
    const auto snLength = static_cast<uint32_t>(serialNumber_.size());
    if (length != nullptr) *length = snLength;
    if (buffer != nullptr && snLength <= size) std::copy(serialNumber_.begin(), serialNumber_.end(), buffer);
}

// A description without a block size has no usable flash geometry: all of its
// ranges are treated as absent, so no address check passes and nothing
// divides by the block size.
uint32_t CFlashApi::flashRangeCount() const { return target_.blockSize == 0 ? 0 : target_.areaNum; }

const CTargetArea* CFlashApi::rangeContaining(uint32_t address) const {
    const uint32_t count = flashRangeCount();
    for (uint32_t i = 0; i < count; ++i) {
        const CTargetArea& range = target_.area[i];
        if (range.startAdrs <= address && address <= range.endAdrs) return &range;
    }
    return nullptr;
}

CFlashApi::Block CFlashApi::blockOf(uint32_t address) const {
    const uint32_t index = address / target_.blockSize;
    const uint32_t start = index * target_.blockSize;
    return Block{index, start, start + target_.blockSize - 1};
}

// The ranges leave out reservedSize2 bytes at the end of the chip's last
// block; block-level operations take those bytes back.
bool CFlashApi::endsAtReservedTail(uint32_t rangeEnd, const Block& block) const {
    return block.index == lastBlockIndex_ && rangeEnd >= block.start &&
           rangeEnd == block.end - target_.reservedSize2;
}

int CFlashApi::checkSingleAddress(uint32_t address) const { return rangeContaining(address) != nullptr ? 1 : 0; }

// The reserved tail is written back with its block: a write may start there.
int CFlashApi::checkWriteAddress(uint32_t address) const {
    if (checkSingleAddress(address)) return 1;
    if (target_.blockSize == 0) return 0;
    const Block block = blockOf(address);
    const uint32_t count = flashRangeCount();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t rangeEnd = target_.area[i].endAdrs;
        if (endsAtReservedTail(rangeEnd, block) && address > rangeEnd) return 1;
    }
    return 0;
}

int CFlashApi::getEndAddrBlock(uint32_t address, uint32_t& end) const {
    const CTargetArea* range = rangeContaining(address);
    if (range == nullptr) return 0;
    const Block block = blockOf(address);
    const bool runsToBlockEnd = range->endAdrs >= block.end || endsAtReservedTail(range->endAdrs, block);
    end = runsToBlockEnd ? block.end : range->endAdrs;
    return 1;
}

int CFlashApi::checkFlashSize(uint32_t size) {
    uint64_t largestEnd = 0;
    bool anyRange = false;
    const uint32_t count = flashRangeCount();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t rangeEnd = target_.area[i].endAdrs;
        const Block endBlock = blockOf(rangeEnd);
        const uint32_t effectiveEnd = endBlock.index == lastBlockIndex_ ? endBlock.end : rangeEnd;
        largestEnd = std::max<uint64_t>(largestEnd, effectiveEnd);
        anyRange = true;
    }
    if (!anyRange) {
        flashSize_ = 0;
    } else {
        const uint64_t blockSize = target_.blockSize;
        const uint64_t bytes = (largestEnd / blockSize + 1) * blockSize;
        flashSize_ = static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
    }
    return size <= flashSize_ ? 1 : 0;
}

int CFlashApi::startChecked(bool addressValid, FlashStatus failure) {
    status_ = addressValid ? FlashStatusOk : failure;
    return addressValid ? 1 : 0;
}

int CFlashApi::linkResult(int result) {
    if (result == 0) status_ = static_cast<FlashStatus>(link_->getLastError());
    return result != 0 ? 1 : 0;
}

int CFlashApi::FlashWrite(uint32_t start, uint32_t end, uint32_t address, const uint8_t* data) {
    if (!startChecked(checkWriteAddress(address), FlashErrWriteAddress)) return 0;
    // The length is taken in 32 bits, so 0 .. 0xFFFFFFFF is empty; so is any
    // end below start (end = start - 1 included).
    const uint32_t length = end >= start ? end - start + 1 : 0;
    for (uint32_t offset = 0; offset < length;) {
        const uint16_t chunk = chunkSize(length - offset);
        const uint32_t chunkAddress = address + offset;
        if (!linkResult(link_->WriteMemory(chunkAddress, data + start + offset, chunk))) return 0;
        offset += chunk;
    }
    return 1;
}

int CFlashApi::FlashWrite_trans(uint32_t address, uint32_t length, const uint8_t* data, uint32_t* sent) {
    if (!startChecked(checkWriteAddress(address), FlashErrWriteAddress)) return 0;
    const uint16_t chunk = chunkSize(length);
    if (!linkResult(link_->WriteMemory_trans(address, data, chunk))) return 0;
    if (sent != nullptr) *sent = chunk;
    return 1;
}

int CFlashApi::FlashWrite_trans_WithSN(uint32_t address, uint32_t length, const uint8_t* data, uint32_t* sent,
                                       uint32_t snAddress) {
    const uint16_t chunk = chunkSize(length);
    if (serialNumber_.empty() || chunk == 0 || data == nullptr) return FlashWrite_trans(address, length, data, sent);

    const uint64_t chunkLast = uint64_t{address} + chunk - 1;
    const uint64_t snLast = uint64_t{snAddress} + serialNumber_.size() - 1;
    const uint64_t from = std::max<uint64_t>(address, snAddress);
    const uint64_t to = std::min(chunkLast, snLast);
    if (from > to) return FlashWrite_trans(address, length, data, sent);

    // The caller's image stays untouched: the serial number goes on a copy.
    std::vector<uint8_t> overlaid(data, data + chunk);
    for (uint64_t x = from; x <= to; ++x) overlaid[x - address] = serialNumber_[x - snAddress];
    return FlashWrite_trans(address, chunk, overlaid.data(), sent);
}

int CFlashApi::FlashWrite_receive() { return linkResult(link_->WriteMemory_receive()); }

bool CFlashApi::readBlockRanges(const Block& block, uint8_t* out, uint32_t& count) {
    std::vector<uint8_t> whole(target_.blockSize);
    for (uint32_t offset = 0; offset < target_.blockSize;) {
        const uint16_t chunk = chunkSize(target_.blockSize - offset);
        if (!linkResult(link_->ReadMemory(block.start + offset, chunk, whole.data() + offset))) return false;
        offset += chunk;
    }
    count = 0;
    const uint32_t ranges = flashRangeCount();
    for (uint32_t i = 0; i < ranges; ++i) {
        const CTargetArea& range = target_.area[i];
        const uint32_t rangeEnd = endsAtReservedTail(range.endAdrs, block) ? block.end : range.endAdrs;
        const uint32_t from = std::max(range.startAdrs, block.start);
        const uint32_t to = std::min(rangeEnd, block.end);
        if (from > to) continue;
        // Ranges are disjoint, so a block never yields more than its size;
        // the cap keeps overlapping ranges of a damaged description in bounds.
        const uint32_t bytes = std::min(to - from + 1, target_.blockSize - count);
        std::memcpy(out + count, whole.data() + (from - block.start), bytes);
        count += bytes;
    }
    return true;
}

int CFlashApi::FlashReadBlock(uint32_t address, uint32_t& count, uint8_t* buffer) {
    count = 0;
    // Without a block size there is no flash to read: every size exceeds it.
    if (!startChecked(target_.blockSize != 0, FlashErrReadSize)) return 0;
    uint32_t appended = 0;
    if (!readBlockRanges(blockOf(address), buffer, appended)) return 0;
    count = appended;
    return 1;
}

int CFlashApi::FlashReadCont(uint32_t size, uint32_t* count, uint8_t* buffer) {
    if (!startChecked(checkFlashSize(size), FlashErrReadSize)) return 0;
    uint32_t gathered = 0;
    if (count != nullptr) *count = 0;
    if (size == 0) return 1;

    // Only blocks inside the flash size are read, and the last one only as far
    // as the request needs: the caller's buffer holds exactly `size` bytes.
    std::vector<uint8_t> blockBytes(target_.blockSize);
    for (uint64_t blockStart = 0; blockStart < flashSize_; blockStart += target_.blockSize) {
        uint32_t got = 0;
        if (!readBlockRanges(blockOf(static_cast<uint32_t>(blockStart)), blockBytes.data(), got)) return 0;
        const uint32_t take = std::min(got, size - gathered);
        std::memcpy(buffer + gathered, blockBytes.data(), take);
        gathered += take;
        if (count != nullptr) *count = gathered;
        if (gathered == size) return 1;
    }
    status_ = FlashErrReadSize;
    return 0;
}

int CFlashApi::FlashReadRand(uint32_t address, uint16_t& word) {
    if (!startChecked(checkSingleAddress(address), FlashErrWordAddress)) return 0;
    return linkResult(link_->ReadWord(address, word));
}

int CFlashApi::FlashEraseChip() {
    status_ = FlashStatusOk;
    return linkResult(link_->EraseChip());
}

int CFlashApi::FlashEraseChip_trans() {
    status_ = FlashStatusOk;
    return linkResult(link_->EraseChip_trans());
}

int CFlashApi::FlashEraseChip_receive() {
    status_ = FlashStatusOk;
    return linkResult(link_->EraseChip_receive());
}

int CFlashApi::FlashEraseBlock(uint32_t address) {
    if (!startChecked(checkSingleAddress(address), FlashErrEraseAddress)) return 0;
    return linkResult(link_->EraseBlock(blockOf(address).start));
}

int CFlashApi::FlashEraseBlock_trans(uint32_t address) {
    if (!startChecked(checkSingleAddress(address), FlashErrEraseAddress)) return 0;
    return linkResult(link_->EraseBlock_trans(blockOf(address).start));
}

int CFlashApi::FlashEraseBlock_receive() { return linkResult(link_->EraseBlock_receive()); }

int CFlashApi::FlashUnlockProtect(uint8_t count, const uint16_t* words) {
    status_ = FlashStatusOk;
    return linkResult(link_->UnlockProtect(count, words));
}

int CFlashApi::FlashReadProtect(uint16_t* word) {
    status_ = FlashStatusOk;
    uint16_t scratch = 0;
    return linkResult(link_->ReadProtect(outputOr(word, scratch)));
}

int CFlashApi::TargetChipReset() {
    status_ = FlashStatusOk;
    return linkResult(link_->ChipReset());
}

int CFlashApi::TargetSystemReset(uint8_t mode, uint8_t* result) {
    status_ = FlashStatusOk;
    uint8_t scratch = 0;
    return linkResult(link_->SystemReset(mode, outputOr(result, scratch)));
}

int CFlashApi::TargetSystemReset_trans(uint8_t mode) {
    status_ = FlashStatusOk;
    return linkResult(link_->SystemReset_trans(mode));
}

int CFlashApi::TargetSystemReset_receive(uint8_t* result) {
    uint8_t scratch = 0;
    return linkResult(link_->SystemReset_receive(outputOr(result, scratch)));
}

int CFlashApi::TargetReadProductID(uint32_t* id) {
    status_ = FlashStatusOk;
    uint32_t scratch[2] = {};
    return linkResult(link_->ReadProductId(id != nullptr ? id : scratch));
}

int CFlashApi::TargetReadProductID128(uint32_t* id) {
    status_ = FlashStatusOk;
    uint32_t scratch[4] = {};
    return linkResult(link_->ReadProductId128(id != nullptr ? id : scratch));
}

int CFlashApi::KorvoSetTargetInfo(uint16_t first, uint16_t second, uint32_t address) {
    const bool valid = (address == 0 || checkSingleAddress(address)) && first <= second;
    if (!startChecked(valid, FlashErrTargetInfoArgs)) return 0;
    return linkResult(link_->SetTargetInfo(first, second, address));
}

int CFlashApi::KorvoRemovePowerOnState(uint8_t* result) {
    status_ = FlashStatusOk;
    uint8_t scratch = 0;
    return linkResult(link_->RemovePowerOnState(outputOr(result, scratch)));
}

int CFlashApi::GetFirmVersion(uint8_t* text, uint32_t size) {
    status_ = FlashStatusOk;
    return linkResult(link_->QueryInfo(CEmuLink::kInfoFirmVersion, reinterpret_cast<char*>(text), size));
}

int CFlashApi::GetChipName(uint8_t* text, uint32_t size) {
    status_ = FlashStatusOk;
    return linkResult(link_->QueryInfo(CEmuLink::kInfoChipName, reinterpret_cast<char*>(text), size));
}

int CFlashApi::ErrorFunction() {
    char scratch[kErrorQueryScratch] = {};
    return link_->QueryInfo(CEmuLink::kInfoErrorIndication, scratch, sizeof scratch) != 0 ? 1 : 0;
}
