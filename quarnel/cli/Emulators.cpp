#include "cli/Emulators.h"

#include <string>

#include "cli/ReadBack.h"
#include "image/AddressSyntax.h"
#include "target/TargetSetup.h"

namespace quarnel::cli {
namespace {

std::optional<RunFailure> ConnectFailure(const Plugging& plugging) {
  switch (plugging.LastConnectFailure()) {
    case Plugging::ConnectFailure::LockBusy:
      return RunFailure{kNotPlugged, "another program is using the emulators: the KORVO access lock " +
                                         plugging.KorvoLock().Path() + " was not obtained within " +
                                         std::to_string(kKorvoLockWait.count()) + " ms"};
    case Plugging::ConnectFailure::LockUnusable:
      return RunFailure{kNotPlugged, plugging.KorvoLock().Error()};
    default:
      return RunFailure{kNotPlugged, "no emulator plugged"};
  }
}

RunFailure MissingSlots(const CliApiTable& api, const SlotMap* slots) {
  std::string missing;
  for (const std::string& path : api.MissingPaths()) {
    const std::optional<int> slot = slots ? slots->SlotOf(path) : std::nullopt;
    missing += (missing.empty() ? "" : ", ") + (slot ? "slot " + std::to_string(*slot) + " (" + path + ")" : path);
  }
  return {kNotPlugged, "no emulator at " + missing + "; nothing was written"};
}

void ListMissingSlots(CliApiTable& api, const SlotMap& slots, std::FILE* out) {
  for (const auto& [slot, path] : slots.paths) {
    bool attached = false;
    for (uint32_t n = 1; n <= api.TargetCount(); ++n) attached = attached || api.DevicePath(n) == path;
    if (!attached) std::fprintf(out, "  -  slot %d  %s  no emulator\n", slot, path.c_str());
  }
}

void ListDescriptions(const TRGINFO& set, std::FILE* out) {
  std::fprintf(out, "Target descriptions:\n");
  for (int32_t k = 0; k < set.count; ++k) {
    AppliedTarget applied;
    ApplyTarget(set.array[k], applied);
    std::fprintf(out, "  %-12s  flash %s - %s  block %XH\n", TargetNameOf(set.array[k]).c_str(),
                 HexAddressText(applied.geometry.flashLow).c_str(), HexAddressText(applied.geometry.flashHigh).c_str(),
                 static_cast<unsigned>(set.array[k].blockSize));
  }
}

}  // namespace

std::optional<RunFailure> ConnectEmulators(WriterSession& session, CliApiTable& api, const Options& options,
                                           const SlotMap* slots) {
  Plugging& plugging = session.Plug();
  if (!plugging.Connect(Plugging::Variant::StartUp)) return ConnectFailure(plugging);
  if (!api.MissingPaths().empty()) {
    session.Leave();
    return MissingSlots(api, slots);
  }
  const uint32_t count = api.TargetCount();
  const uint32_t expected = options.allEmulators ? 1 : options.emulators;
  if (!slots && count < expected)
    return RunFailure{kNotPlugged, "found " + std::to_string(count) + " emulators, expected " + std::to_string(expected)};
  return std::nullopt;
}

TargetReport DescribeTarget(CliApiTable& api, uint32_t n, const SlotMap* slots) {
  TargetReport target;
  target.number = n;
  target.devicePath = api.DevicePath(n);
  if (slots) target.slot = slots->SlotOf(target.devicePath);
  return target;
}

std::vector<TargetReport> ListEmulators(WriterSession& session, CliApiTable& api, const SlotMap* slots,
                                        std::FILE* out) {
  std::vector<TargetReport> targets;
  std::fprintf(out, "Emulators:\n");
  for (uint32_t n = 1; n <= api.TargetCount(); ++n) {
    TargetReport target = DescribeTarget(api, n, slots);
    target.firmware = api.ProbeFirmware(n);
    target.passed = true;
    const std::string slot = target.slot ? "slot " + std::to_string(*target.slot) + "  " : "";
    std::fprintf(out, "  %u  %s%s  firmware %s  chip %s\n", n, slot.c_str(), target.devicePath.c_str(),
                 target.firmware.empty() ? "?" : target.firmware.c_str(),
                 ChipNameFromProductId(api.TargetProductIdWord(n)).c_str());
    targets.push_back(std::move(target));
  }
  if (slots) ListMissingSlots(api, *slots, out);
  ListDescriptions(*session.Descriptions(), out);
  std::fflush(out);
  return targets;
}

std::optional<RunFailure> ListSlots(CliApiTable& api, const Options& options, std::FILE* out, std::FILE* err) {
  std::vector<std::string> paths;
  for (uint32_t n = 1; n <= api.TargetCount(); ++n) paths.push_back(api.DevicePath(n));
  const std::string text = SlotMapText(paths);
  std::fputs(text.c_str(), out);
  if (options.saveSlotsPath.empty()) return std::nullopt;
  if (const std::string why = SaveFile(options.saveSlotsPath, text); !why.empty())
    return RunFailure{kBadInput, "cannot write the slot map " + options.saveSlotsPath + ": " + why};
  std::fprintf(err, "quarnel-cli: saved %zu slots in %s\n", paths.size(), options.saveSlotsPath.c_str());
  return std::nullopt;
}

}  // namespace quarnel::cli
