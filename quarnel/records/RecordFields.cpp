#include "records/RecordFields.h"

#include <QDateTime>
#include <QTimeZone>

namespace quarnel::records {
namespace {

template <typename T>
FieldValue Optional(const std::optional<T>& value) {
  if (!value) return std::monostate();
  if constexpr (std::is_same_v<T, uint32_t>) {
    return Crc32Value{*value};
  } else if constexpr (std::is_same_v<T, uint64_t>) {
    return *value;
  } else {
    return int64_t{*value};
  }
}

std::string UtcText(const QDateTime& time) { return time.toUTC().toString(Qt::ISODateWithMs).toStdString(); }

}  // namespace

std::array<Field, kFieldCount> Fields(const BoardRecord& r) {
  return {{
      {"run_id", r.runId},
      {"attempt", int64_t{r.attempt}},
      {"utc_time", r.utcTime},
      {"station", r.station},
      {"version", r.version},
      {"operation", r.operation},
      {"target_description", r.targetDescription},
      {"slot", Optional(r.slot)},
      {"target_number", int64_t{r.targetNumber}},
      {"device_path", r.devicePath},
      {"firmware", r.firmware},
      {"chip_name", r.chipName},
      {"image_sha256", r.imageSha256},
      {"crc32", Optional(r.crc32)},
      {"serial_number", Optional(r.serialNumber)},
      {"bytes_written", r.bytesWritten},
      {"duration_seconds", r.durationSeconds},
      {"rate_kibps", r.rateKiBps},
      {"result", r.result},
      {"status", int64_t{r.status}},
      {"status_text", r.statusText},
  }};
}

std::array<const char*, kFieldCount> ColumnNames() {
  const BoardRecord empty;
  std::array<const char*, kFieldCount> names{};
  const std::array<Field, kFieldCount> fields = Fields(empty);
  for (size_t i = 0; i < kFieldCount; ++i) names[i] = fields[i].column;
  return names;
}

std::optional<std::string> NormalisedUtcTime(const std::string& text) {
  QDateTime time = QDateTime::fromString(QString::fromStdString(text).trimmed(), Qt::ISODateWithMs);
  if (!time.isValid()) return std::nullopt;
  if (time.timeSpec() == Qt::LocalTime) time.setTimeZone(QTimeZone::utc());
  return UtcText(time);
}

std::string UtcNow() { return UtcText(QDateTime::currentDateTimeUtc()); }

}  // namespace quarnel::records
