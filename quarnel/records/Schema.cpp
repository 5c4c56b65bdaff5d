#include "records/Schema.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>
#include <optional>
#include <vector>

#include "records/Transaction.h"

namespace quarnel::records {
namespace {

// Entry N brings a database from version N to N + 1. Released entries are
// never edited, only new ones appended. "{key}" is the driver's
// self-numbering key column, which keeps records in the order they came.
const std::vector<std::vector<const char*>> kMigrations = {
    {
        "CREATE TABLE board_records ("
        " id {key},"
        " run_id TEXT NOT NULL,"
        " attempt INTEGER NOT NULL,"
        " utc_time TEXT NOT NULL,"
        " station TEXT NOT NULL,"
        " version TEXT NOT NULL,"
        " operation TEXT NOT NULL,"
        " target_description TEXT NOT NULL,"
        " slot INTEGER,"
        " target_number BIGINT NOT NULL,"
        " device_path TEXT NOT NULL,"
        " firmware TEXT NOT NULL,"
        " chip_name TEXT NOT NULL,"
        " image_sha256 TEXT NOT NULL,"
        " crc32 BIGINT,"
        " serial_number BIGINT,"
        " bytes_written BIGINT NOT NULL,"
        " duration_seconds DOUBLE PRECISION NOT NULL,"
        " rate_kibps DOUBLE PRECISION NOT NULL,"
        " result TEXT NOT NULL,"
        " status INTEGER NOT NULL,"
        " status_text TEXT NOT NULL)",
        "CREATE INDEX board_records_utc_time ON board_records (utc_time)",
        "CREATE INDEX board_records_serial_number ON board_records (serial_number)",
        "CREATE TABLE serial_sequences ("
        " name TEXT PRIMARY KEY,"
        " next_value BIGINT NOT NULL)",
        "CREATE TABLE serial_allocations ("
        " sequence_name TEXT NOT NULL,"
        " number BIGINT NOT NULL,"
        " station TEXT NOT NULL,"
        " utc_time TEXT NOT NULL,"
        " state TEXT NOT NULL CHECK (state IN ('allocated', 'used', 'spoiled')),"
        " UNIQUE (sequence_name, number))",
    },
};

QString ForDriver(const char* statement, const StoreLocation& location) {
  // SQLite numbers an INTEGER PRIMARY KEY by itself (it is the row id).
  return QString::fromLatin1(statement).replace(
      QLatin1String("{key}"), QLatin1String(location.Sqlite() ? "INTEGER PRIMARY KEY" : "BIGSERIAL PRIMARY KEY"));
}

// The version the database has, 0 for a schema_version table without rows;
// nothing when the table cannot be read (none yet).
std::optional<int> StoredVersion(QSqlDatabase& db) {
  QSqlQuery query(db);
  if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) return std::nullopt;
  return query.value(0).isNull() ? 0 : query.value(0).toInt();
}

std::string NewerSchema(const StoreLocation& location, int version) {
  return "the record store " + location.shown + " was written by a newer QUARNEL (schema version " +
         std::to_string(version) + ", this one knows up to " + std::to_string(LatestSchemaVersion()) +
         "); use that version or a newer one";
}

Step Migrate(QSqlDatabase& db, const StoreLocation& location, const std::string& doing,
             TransactionQueries& queries) {
  QSqlQuery& query = queries.New();
  if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version ("
                                 " version INTEGER PRIMARY KEY, applied_utc TEXT NOT NULL)")))
    return Failed(doing, query.lastError());
  const std::optional<int> stored = StoredVersion(db);
  if (!stored) return {"could not " + doing + ": its schema_version table cannot be read"};
  if (*stored > LatestSchemaVersion()) return {NewerSchema(location, *stored)};
  for (int version = *stored; version < LatestSchemaVersion(); ++version) {
    for (const char* statement : kMigrations[version]) {
      if (!query.exec(ForDriver(statement, location))) return Failed(doing, query.lastError());
    }
    query.prepare(QStringLiteral("INSERT INTO schema_version (version, applied_utc) VALUES (?, ?)"));
    query.addBindValue(version + 1);
    query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    if (!query.exec()) return Failed(doing, query.lastError());
  }
  return {};
}

}  // namespace

int LatestSchemaVersion() { return static_cast<int>(kMigrations.size()); }

std::string PrepareSchema(QSqlDatabase& db, const StoreLocation& location) {
  const std::optional<int> stored = StoredVersion(db);
  if (stored == LatestSchemaVersion()) return {};
  if (stored > LatestSchemaVersion()) return NewerSchema(location, *stored);
  const std::string doing = "set up the record store " + location.shown;
  const std::string error = InWriteTransaction(db, location.Sqlite(), doing, [&](TransactionQueries& queries) {
    return Migrate(db, location, doing, queries);
  });
  // Two processes that find a new PostgreSQL database empty both create
  // the tables; the later one fails on the names, and finds them ready.
  if (!error.empty() && StoredVersion(db) == LatestSchemaVersion()) return {};
  return error;
}

}  // namespace quarnel::records
