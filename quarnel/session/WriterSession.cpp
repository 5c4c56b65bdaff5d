#include "session/WriterSession.h"

#include "base/TextIds.h"
#include "plug/TargetSetup.h"

namespace quarnel {
namespace {

// The widest product ID any description may name, in bits.
constexpr uint8_t kWidestProductIdBits = 93;

}  // namespace

WriterSession::WriterSession(ApiCalls& api, SettingsStore& settings, PlugWindow& face)
    : api_(api),
      face_(face),
      plugging_(api, settings, face),
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

OperationOutcome WriterSession::Write(const WriteSettings& settings, bool* requiredRangeMissed) {
  OperationContext context = Context();
  WriteOperation write(context);
  const OperationOutcome outcome = write.Run(settings);
  if (requiredRangeMissed != nullptr) *requiredRangeMissed = write.RequiredRangeMissed();
  return outcome;
}

OperationOutcome WriterSession::Verify(const VerifySettings& settings, std::vector<uint64_t>* differences) {
  OperationContext context = Context();
  VerifyOperation verify(context);
  const OperationOutcome outcome = verify.Run(settings);
  if (differences != nullptr) *differences = verify.DifferencesByTarget();
  return outcome;
}

OperationOutcome WriterSession::Erase() {
  OperationContext context = Context();
  return EraseOperation(context).Run();
}

}  // namespace quarnel
