#include "session/WriterSession.h"

#include <algorithm>
#include <cstdio>

#include "base/StatusMessages.h"
#include "base/TextIds.h"
#include "objfile/ObjectFileWriter.h"
#include "session/TargetResults.h"
#include "target/TargetSetup.h"

namespace quarnel {
namespace {

// The widest product ID any description may name, in bits.
constexpr uint8_t kWidestProductIdBits = 93;

}  // namespace

WriterSession::WriterSession(ApiCalls& api, SettingsStore& settings, PlugWindow& face)
    : api_(api),
      settings_(settings),
      face_(face),
      plugging_(api, settings, face, [this] { buffers_.Rebuild(scanner_); }),
      scanner_(plugging_.Target().geometry, face),
      files_(plugging_.Target().geometry, scanner_, face),
      buffers_(plugging_.Target().geometry) {}

WriterSession::~WriterSession() {
  Leave();
  ReleaseDescriptions();
}

DescriptionsRead WriterSession::ReadDescriptions() {
  ReleaseDescriptions();
  uint16_t filesFound = 0;
  descriptions_ = api_.ReadTargetDescriptions(kWidestProductIdBits, &filesFound);
  if (descriptions_ == nullptr) return {filesFound == 0 ? text::kNoTrgFiles : text::kNoTrgRead, false};
  plugging_.SetDescriptions(descriptions_);
  return {0, filesFound != descriptions_->count};
}

std::vector<std::string> WriterSession::DescriptionNames() const {
  std::vector<std::string> names;
  for (int32_t k = 0; descriptions_ != nullptr && k < descriptions_->count; ++k)
    names.push_back(TargetNameOf(descriptions_->array[k]));
  return names;
}

int32_t WriterSession::FindDescription(const std::string& name) const {
  const std::vector<std::string> names = DescriptionNames();
  for (size_t k = 0; k < names.size(); ++k)
    if (names[k] == name) return static_cast<int32_t>(k);
  return -1;
}

PlugResult WriterSession::PlugFor(const std::string& targetName,
                                  const std::optional<std::vector<uint16_t>>& securityId) {
  settings_.WriteText(kTargetNameKey, targetName);
  if (securityId) RememberSecurityId(settings_, *securityId);
  if (plugging_.RunStartUpPlugLoop()) return PlugResult::NotPlugged;
  switch (plugging_.RunSecurityCheck()) {
    case SecurityCheckResult::Passed:
      return PlugResult::Plugged;
    case SecurityCheckResult::Failed:
      return PlugResult::SecurityCheckFailed;
    case SecurityCheckResult::ExitRequested:
      break;
  }
  return PlugResult::StillProtected;
}

StartUpPlug WriterSession::PlugAtStartUp(bool connected) {
  StartUpPlug plug{connected, false};
  if (connected) {
    plug.aborted = plugging_.RunStartUpPlugLoop();
    face_.Report(SessionEvent::Selected(plugging_.SelectedTarget()));
  }
  plugging_.ApplySelectedTarget();
  if (!connected || plug.aborted) return plug;
  switch (plugging_.RunSecurityCheck()) {
    case SecurityCheckResult::Failed:
      face_.ReportStatus(api_.Status());
      plug.connected = false;
      break;
    case SecurityCheckResult::ExitRequested:
      plugging_.Quit();
      plug.aborted = true;
      break;
    case SecurityCheckResult::Passed:
      break;
  }
  return plug;
}

void WriterSession::FinishStartUp(const StartUpPlug& plug) {
  if (!plug.connected)
    plugging_.GoUnplugged(!IsLinkStatus(api_.Status()));
  else if (!plug.aborted)
    plugging_.AllocateWriteImageBuffers();
  else if (!plugging_.Quitting())
    plugging_.Quit();
}

WriterSession::Applied WriterSession::ApplyDescription(const std::string& name) {
  const int32_t index = FindDescription(name);
  if (index < 0) return Applied::UnknownName;
  if (ApplyTarget(descriptions_->array[index], Target()) == ApplyOutcome::NoFlashAreas) return Applied::NoFlash;
  buffers_.Rebuild(scanner_);
  return Applied::Applied;
}

void WriterSession::LeaveAfter(int fatalStatus) {
  if (fatalStatus != 0)
    plugging_.GoUnplugged(!IsLinkStatus(fatalStatus));
  else
    Leave();
}

// Only a session that holds the emulators has anything to leave; without
// the lock it is not connected (going unplugged disconnects).
void WriterSession::Leave() {
  if (!plugging_.KorvoLock().Held()) return;
  if (plugging_.Plugged()) plugging_.ResetOnLeaving();
  plugging_.ReleaseKorvoLock();
}

void WriterSession::ReleaseDescriptions() {
  plugging_.SetDescriptions(nullptr);
  if (descriptions_ != nullptr) api_.ReleaseDescriptions(&descriptions_);
  descriptions_ = nullptr;
}

OperationContext WriterSession::Context() { return {api_, face_, plugging_.Target(), buffers_, scanner_, files_}; }

std::string FiguresLine(const RunFigures& figures) {
  char line[160];
  std::snprintf(line, sizeof line, "Time: %.2f s  Bytes: %llu  Rate: %.1f KiB/s", figures.seconds,
                static_cast<unsigned long long>(figures.bytes), figures.KiBPerSecond());
  return line;
}

// Every target is judged as the operation ends, before anything can reset
// its status, by its verdict as well when it has one, and reported.
void WriterSession::Finish(std::chrono::steady_clock::time_point start,
                           std::span<const std::optional<FlashVerdict>> verdicts) {
  lastRun_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (lastRun_.outcome == OperationOutcome::NotStarted) return;
  face_.AddLogLine(SessionEvent::kNormalLine, FiguresLine(lastRun_));
  lastRun_.targets = JudgeTargets(api_, lastRun_);
  for (TargetOutcome& target : lastRun_.targets) {
    if (target.target <= verdicts.size() && verdicts[target.target - 1]) {
      const FlashVerdict& verdict = *verdicts[target.target - 1];
      target.passed = target.passed && verdict.passed;
      target.crc32 = verdict.crc32;
    }
    face_.Report(SessionEvent::Result(static_cast<int32_t>(target.target), target.status, target.passed));
  }
}

OperationOutcome WriterSession::Write(const WriteSettings& settings) {
  const auto start = std::chrono::steady_clock::now();
  OperationContext context = Context();
  WriteOperation write(context);
  lastRun_ = {};
  lastRun_.outcome = write.Run(settings);
  lastRun_.bytes = write.BytesWritten();
  lastRun_.plannedImage = write.TakePlannedImage();
  lastRun_.requiredRangeMissed = write.RequiredRangeMissed();
  lastRun_.refusal = write.Refusal();
  Finish(start);
  return lastRun_.outcome;
}

OperationOutcome WriterSession::Verify(const VerifySettings& settings) {
  const auto start = std::chrono::steady_clock::now();
  OperationContext context = Context();
  VerifyOperation verify(context);
  lastRun_ = {};
  lastRun_.outcome = verify.Run(settings);
  lastRun_.bytes = verify.BytesCompared();
  lastRun_.differences = verify.DifferencesByTarget();
  lastRun_.refusal = verify.Refusal();
  Finish(start);
  return lastRun_.outcome;
}

OperationOutcome WriterSession::Erase() {
  const auto start = std::chrono::steady_clock::now();
  OperationContext context = Context();
  lastRun_ = {};
  lastRun_.outcome = EraseOperation(context).Run();
  Finish(start);
  return lastRun_.outcome;
}

ReadOutcome WriterSession::ReadFlash(uint32_t n, std::vector<uint8_t>& image) {
  OperationContext context = Context();
  image.assign(buffers_.WriteImage().size(), 0xFF);
  const TargetGeometry& geometry = buffers_.Geometry();
  if (image.empty() || geometry.flashLow > geometry.flashHigh) return ReadOutcome::Read;
  const uint32_t last = std::min<uint32_t>(FlashTop(geometry), static_cast<uint32_t>(image.size() - 1));
  FlashBlockReader reader(context, kReadingPhase);
  reader.Expect(reader.BlocksToRead(geometry.flashLow, last));
  return reader.Read(n, geometry.flashLow, last, image);
}

OperationOutcome WriterSession::ReadTargets(const FlashJudge& judge) {
  const auto start = std::chrono::steady_clock::now();
  lastRun_ = {};
  lastRun_.outcome = OperationOutcome::Completed;
  face_.ClearCancelRequest();
  std::vector<std::optional<FlashVerdict>> verdicts(api_.TargetCount());
  std::vector<uint8_t> image;
  for (uint32_t n = 1; n <= verdicts.size(); ++n) {
    const ReadOutcome read = ReadFlash(n, image);
    if (read == ReadOutcome::Cancelled) {
      lastRun_.outcome = OperationOutcome::Cancelled;
      break;
    }
    if (read == ReadOutcome::Failed) {
      verdicts[n - 1] = judge(n, std::nullopt);
      continue;
    }
    lastRun_.bytes = FlashContentSize(plugging_.Target().geometry);
    verdicts[n - 1] = judge(n, image);
  }
  face_.ShowProgress({}, 0, 0);
  Finish(start, verdicts);
  return lastRun_.outcome;
}

}  // namespace quarnel
