#include "binding/ApiTable.h"

#include <algorithm>
#include <map>
#include <vector>

namespace quarnel {
namespace {

constexpr uint32_t kTarget1 = 1;
constexpr int kSecurityCheckStatus = 0x2005;

// A text handed out by the library: buffer, size, needed (length + 1).
template <typename Getter>
std::string LibraryText(Getter getter) {
  uint32_t needed = 0;
  std::vector<char> buffer(64);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (getter(buffer.data(), static_cast<uint32_t>(buffer.size()), &needed) && needed <= buffer.size())
      return std::string(buffer.data(), needed > 0 ? needed - 1 : 0);
    if (needed <= buffer.size()) return {};
    buffer.resize(needed);
  }
  return {};
}

}  // namespace

bool BindApiTable(const SymbolLookup& lookup, ApiTable& table, std::string* missing) {
#define QUARNEL_BIND_ENTRY(name)                                      \
  if (void* symbol = lookup(#name)) {                                 \
    table.name = reinterpret_cast<decltype(table.name)>(symbol);      \
  } else {                                                            \
    if (missing) *missing = #name;                                    \
    return false;                                                     \
  }
  QUARNEL_BOUND_EXPORTS(QUARNEL_BIND_ENTRY)
#undef QUARNEL_BIND_ENTRY
  return true;
}

void BindOptionalExports(const SymbolLookup& lookup, ApiTable& table) {
  table.ApiGetConnectFailureText =
      reinterpret_cast<decltype(table.ApiGetConnectFailureText)>(lookup("ApiGetConnectFailureText"));
}

int GuardedApiTable::Connect() { return api_.ApiCreateConnectOne(); }

int GuardedApiTable::Status() {
  int status = 0;
  api_.ApiGetTargetStatus(Device(kTarget1), &status);
  return status;
}

TRGINFO* GuardedApiTable::ReadTargetDescriptions(uint8_t maxIdBits, uint16_t* filesFound) {
  return api_.ApiReadTargetInfoFile(maxIdBits, filesFound);
}

bool GuardedApiTable::Target1Ok() { return Status() == 0; }

bool GuardedApiTable::Target1OkAfterSecurityAnswer() {
  if (Status() == kSecurityCheckStatus) api_.ApiSetTargetStatus(Device(kTarget1), 0);
  return Target1Ok();
}

bool GuardedApiTable::Disconnect() {
  api_.ApiDelConnect();
  return Target1Ok();
}

bool GuardedApiTable::PlugAll(TRGINFO* set, const char* targetName) {
  api_.ApiStartupTargetAll(set, targetName);
  return Target1Ok();
}

bool GuardedApiTable::IsProtected(uint16_t* isProtected) {
  api_.ApiIsTargetProtected(Device(kTarget1), isProtected);
  return Target1OkAfterSecurityAnswer();
}

bool GuardedApiTable::ChipErase() {
  api_.ApiChipEraseAll();
  return Target1Ok();
}

bool GuardedApiTable::EraseBlock(uint32_t address) {
  api_.ApiFlashEraseBlockAll(address);
  return Target1Ok();
}

bool GuardedApiTable::Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) {
  api_.ApiFlashWriteAll(start, end, flashAddress, image);
  return Target1Ok();
}

bool GuardedApiTable::ResetAll() {
  api_.ApiSystemResetAll();
  return Target1Ok();
}

bool GuardedApiTable::SetStatus(int status) {
  api_.ApiSetTargetStatus(Device(kTarget1), status);
  return Target1Ok();
}

bool GuardedApiTable::ReleaseDescriptions(TRGINFO** set) {
  api_.ApiDeleteTargetInfoSet(set);
  return Target1Ok();
}

bool GuardedApiTable::SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* isProtected) {
  api_.ApiSetSecIDEx(Device(kTarget1), wordCount, words, isProtected);
  return Target1OkAfterSecurityAnswer();
}

bool GuardedApiTable::SecurityType(uint16_t* type) {
  api_.ApiGetSecType(Device(kTarget1), type);
  return Target1Ok();
}

bool GuardedApiTable::CheckTargetName(TRGINFO* set, const char* targetName) {
  api_.ApiCheckTargetName(Device(kTarget1), set, targetName);
  return Target1Ok();
}

bool GuardedApiTable::ProductId(uint32_t idBitNum, uint32_t* id) {
  api_.ApiTargetReadProductID(Device(kTarget1), idBitNum, id);
  return Target1Ok();
}

bool GuardedApiTable::FirmwareVersionText(char* buffer, uint32_t bufferSize, uint32_t* needed) {
  api_.ApiGetFirmVersionStr(Device(kTarget1), buffer, bufferSize, needed);
  return Target1Ok();
}

int GuardedApiTable::ConnectAll() { return api_.ApiCreateConnect(); }

uint32_t GuardedApiTable::TargetCount() {
  if (selected_) return static_cast<uint32_t>(selected_->size());
  return LibraryTargetCount();
}

uint32_t GuardedApiTable::LibraryTargetCount() const {
  uint32_t count = 0;
  return api_.ApiGetTargetNum(&count) ? count : 0;
}

uint32_t GuardedApiTable::Device(uint32_t n) const {
  if (!selected_) return n;
  return n >= 1 && n <= selected_->size() ? (*selected_)[n - 1] : 0;
}

std::string GuardedApiTable::LibraryDevicePath(uint32_t device) const {
  return LibraryText([&](char* buffer, uint32_t size, uint32_t* needed) {
    return api_.ApiGetDevicePathStr(device, buffer, size, needed) != 0;
  });
}

std::vector<std::string> GuardedApiTable::SelectDevices(const std::vector<std::string>& paths) {
  std::map<std::string, uint32_t> attached;
  const uint32_t count = LibraryTargetCount();
  for (uint32_t device = 1; device <= count; ++device) attached[LibraryDevicePath(device)] = device;
  std::vector<uint32_t> selected;
  std::vector<std::string> missing;
  for (const std::string& path : paths) {
    const auto found = attached.find(path);
    if (found == attached.end())
      missing.push_back(path);
    else
      selected.push_back(found->second);
  }
  for (uint32_t device = 1; device <= count; ++device)
    api_.ApiSetEnableFlg(device, std::find(selected.begin(), selected.end(), device) != selected.end() ? 1 : 0);
  selected_ = std::move(selected);
  return missing;
}

void GuardedApiTable::SelectEveryDevice() { selected_.reset(); }

int GuardedApiTable::TargetStatus(uint32_t n) {
  int status = 0;
  api_.ApiGetTargetStatus(Device(n), &status);
  return status;
}

int GuardedApiTable::SetTargetStatus(uint32_t n, int status) { return api_.ApiSetTargetStatus(Device(n), status); }

int GuardedApiTable::TargetIsProtected(uint32_t n, uint16_t* isProtected) {
  return api_.ApiIsTargetProtected(Device(n), isProtected);
}

int GuardedApiTable::TargetSendSecurityId(uint32_t n, uint8_t wordCount, uint16_t* words, uint16_t* isProtected) {
  return api_.ApiSetSecIDEx(Device(n), wordCount, words, isProtected);
}

std::string GuardedApiTable::DevicePath(uint32_t n) { return LibraryDevicePath(Device(n)); }

std::string GuardedApiTable::FirmwareVersion(uint32_t n) {
  return LibraryText([&](char* buffer, uint32_t size, uint32_t* needed) {
    return api_.ApiGetFirmVersionStr(Device(n), buffer, size, needed) != 0;
  });
}

int GuardedApiTable::ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) {
  return api_.ApiFlashReadBlock(Device(n), address, got, buffer);
}

bool GuardedApiTable::TargetPlugged(uint32_t n) {
  int success = 0;
  return api_.ApiIsTargetPlugSuccess(Device(n), &success) == 1 && success == 1;
}

bool GuardedApiTable::TargetEnabled(uint32_t n) {
  int flag = 0;
  return api_.ApiGetEnableFlg(Device(n), &flag) == 1 && flag == 1;
}

int GuardedApiTable::SetTargetEnabled(uint32_t n, bool enabled) { return api_.ApiSetEnableFlg(Device(n), enabled ? 1 : 0); }

int GuardedApiTable::SetSerialNumber(uint32_t n, uint8_t* bytes, uint32_t length) {
  return api_.ApiSetSerialNumber(Device(n), bytes, length);
}

int GuardedApiTable::WriteWithSerialNumber(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image,
                                           uint32_t serialAddress) {
  return api_.ApiFlashWriteAllWithSN(start, end, flashAddress, image, serialAddress);
}

int GuardedApiTable::TargetCheckDescription(uint32_t n, TRGINFO* set, const char* targetName) {
  if (api_.ApiCheckTargetName(Device(n), set, targetName) == 0) return 0;
  return api_.ApiCheckFirm(Device(n));
}

uint32_t GuardedApiTable::TargetProductIdWord(uint32_t n) {
  constexpr uint32_t kShortProductIdBits = 64;
  uint32_t id[4] = {};
  api_.ApiTargetReadProductID(Device(n), kShortProductIdBits, id);
  return id[0];
}

std::string GuardedApiTable::NoEmulatorReason() {
  if (api_.ApiGetConnectFailureText == nullptr) return {};
  return LibraryText([&](char* buffer, uint32_t size, uint32_t* needed) {
    return api_.ApiGetConnectFailureText(buffer, size, needed) != 0;
  });
}

}  // namespace quarnel
