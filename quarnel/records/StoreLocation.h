#pragma once

#include <QString>
#include <optional>
#include <string>

namespace quarnel::records {

// Where a record store lives, taken from the location text given to
// RecordStore::Open.
struct StoreLocation {
  QString driver;        // "QSQLITE" or "QPSQL"
  QString databaseName;  // the SQLite file, or the PostgreSQL database
  QString host;          // PostgreSQL: a host name or a socket folder
  int port = -1;         // -1: the driver's default
  QString user;
  QString password;
  QString options;       // PostgreSQL connection options, "key=value;key=value"
  std::string shown;     // the location for messages, without a password

  bool Sqlite() const { return driver == QLatin1String("QSQLITE"); }
};

// `text` as a location (empty text: the default SQLite file), or nothing
// with the reason in `error`.
std::optional<StoreLocation> ParseLocation(const std::string& text, std::string* error);

// Adds and opens the connection `connectionName` to `location`, set up for
// several processes writing at once. Empty on success, else why not.
std::string Connect(const StoreLocation& location, const QString& connectionName);

}  // namespace quarnel::records
