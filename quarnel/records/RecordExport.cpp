// RecordsCsv and RecordsJson: the records as a user takes them away.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "records/RecordFields.h"
#include "records/RecordStore.h"

namespace quarnel::records {
namespace {

std::string CrcText(Crc32Value crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", crc.value);
  return text;
}

void AppendCrc(Crc32Value crc, std::string* out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out->push_back(kDigits[(crc.value >> shift) & 0xF]);
}

// A number in the shortest text that reads back as the same value.
template <typename T>
void AppendNumber(T value, std::string* out) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  if (error == std::errc()) out->append(text, end);
}

bool NeedsQuotes(std::string_view text) {
  // One pass over the text; find_first_of looks each character up in the set.
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
}

void AppendCsvText(std::string_view text, std::string* out) {
  if (!NeedsQuotes(text)) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (char c : text) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

void AppendCsvField(const FieldValue& value, std::string* out) {
  std::visit(
      [out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string_view>) {
          AppendCsvText(v, out);
        } else if constexpr (std::is_same_v<T, Crc32Value>) {
          AppendCrc(v, out);
        } else if constexpr (!std::is_same_v<T, std::monostate>) {
          AppendNumber(v, out);
        }
      },
      value);
}

QJsonValue JsonValue(const FieldValue& value) {
  return std::visit(
      [](const auto& v) -> QJsonValue {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return QJsonValue::Null;
        } else if constexpr (std::is_same_v<T, std::string_view>) {
          return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
        } else if constexpr (std::is_same_v<T, Crc32Value>) {
          return QString::fromStdString(CrcText(v));
        } else if constexpr (std::is_same_v<T, uint64_t>) {
          // Beyond qint64 a JSON number can only be a double.
          if (v > uint64_t(std::numeric_limits<qint64>::max())) return static_cast<double>(v);
          return static_cast<qint64>(v);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return static_cast<qint64>(v);
        } else {
          return v;
        }
      },
      value);
}

}  // namespace

std::string RecordsCsv(const std::vector<BoardRecord>& records) {
  std::string out;
  for (const char* column : ColumnNames()) {
    if (!out.empty()) out.push_back(',');
    out.append(column);
  }
  out.push_back('\n');
  out.reserve(out.size() + records.size() * 256);
  for (const BoardRecord& record : records) {
    bool first = true;
    for (const Field& field : Fields(record)) {
      if (!first) out.push_back(',');
      first = false;
      AppendCsvField(field.value, &out);
    }
    out.push_back('\n');
  }
  return out;
}

std::string RecordsJson(const std::vector<BoardRecord>& records) {
  QJsonArray array;
  for (const BoardRecord& record : records) {
    QJsonObject object;
    for (const Field& field : Fields(record)) object.insert(QLatin1String(field.column), JsonValue(field.value));
    array.append(object);
  }
  return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
}

}  // namespace quarnel::records
