#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "records/RecordStore.h"

namespace quarnel::records {

// A CRC-32, written as 8 upper-case hex digits wherever it is shown.
struct Crc32Value {
  uint32_t value;
};

using FieldValue = std::variant<std::monostate, std::string_view, int64_t, uint64_t, double, Crc32Value>;

// One field of a record under its column name. std::monostate stands for an
// absent optional.
struct Field {
  const char* column;
  FieldValue value;
};

constexpr size_t kFieldCount = 21;

// The fields of `record` in the order of BoardRecord's members, which is
// also the order of the columns in the table, CSV and JSON. The views
// point into `record`.
std::array<Field, kFieldCount> Fields(const BoardRecord& record);

// The column names of Fields(), in its order.
std::array<const char*, kFieldCount> ColumnNames();

// `text` (ISO 8601; a time without a zone is UTC) as
// "YYYY-MM-DDTHH:MM:SS.zzzZ", the form the store keeps, in which text order
// is time order. Nothing when it is no time.
std::optional<std::string> NormalisedUtcTime(const std::string& text);

// The current time in that form.
std::string UtcNow();

}  // namespace quarnel::records
