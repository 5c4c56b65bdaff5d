#include "records/StoreLocation.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <charconv>
#include <chrono>
#include <string_view>
#include <thread>

#include "records/RecordStore.h"
#include "records/SqliteLog.h"
#include "records/Transaction.h"

namespace quarnel::records {
namespace {

// How long a write transaction waits for those of other processes. Each
// takes milliseconds; the rest is margin for a slow disk or a checkpoint.
constexpr int kSqliteBusyMilliseconds = 30000;

QString Decoded(std::string_view text) {
  return QUrl::fromPercentEncoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

StoreLocation SqliteLocation(const std::string& path) {
  StoreLocation location;
  location.driver = QStringLiteral("QSQLITE");
  location.databaseName = QString::fromStdString(path);
  location.shown = path;
  return location;
}

std::optional<int> PortNumber(std::string_view text) {
  int port = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) return std::nullopt;
  return port;
}

// HOST, [HOST] or either with :PORT; a socket folder arrives URL-encoded,
// so a colon outside brackets always starts the port. Empty on success,
// else what is wrong.
std::string SplitHostPort(std::string_view hostPort, StoreLocation* location) {
  size_t hostEnd = hostPort.size();
  std::string_view host = hostPort;
  if (hostPort.starts_with('[')) {
    hostEnd = hostPort.find(']');
    if (hostEnd == std::string_view::npos) return "no closing ] after the host";
    host = hostPort.substr(1, hostEnd - 1);
    ++hostEnd;
  } else {
    hostEnd = std::min(hostPort.rfind(':'), hostPort.size());
    host = hostPort.substr(0, hostEnd);
  }
  location->host = Decoded(host);
  if (hostEnd == hostPort.size()) return {};
  const std::string portText(hostPort.substr(hostEnd + 1));
  std::optional<int> port = PortNumber(portText);
  if (!port) return "\"" + portText + "\" is not a port number";
  location->port = *port;
  return {};
}

std::optional<StoreLocation> ParsePostgresUrl(const std::string& url, std::string* error) {
  const size_t schemeEnd = url.find("://") + 3;
  std::string_view rest = std::string_view(url).substr(schemeEnd);
  StoreLocation location;
  location.driver = QStringLiteral("QPSQL");

  if (size_t question = rest.find('?'); question != std::string_view::npos) {
    location.options = Decoded(rest.substr(question + 1)).replace(QLatin1Char('&'), QLatin1Char(';'));
    rest = rest.substr(0, question);
  }
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash + 1 == rest.size()) {
    *error = "no database name at the end of " + url;
    return std::nullopt;
  }
  location.databaseName = Decoded(rest.substr(slash + 1));

  const std::string_view authority = rest.substr(0, slash);
  const size_t at = authority.rfind('@');
  std::string_view userInfo = at == std::string_view::npos ? std::string_view() : authority.substr(0, at);
  const std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
  if (size_t colon = userInfo.find(':'); colon != std::string_view::npos) {
    location.password = Decoded(userInfo.substr(colon + 1));
    userInfo = userInfo.substr(0, colon);
  }
  location.user = Decoded(userInfo);
  if (std::string hostError = SplitHostPort(hostPort, &location); !hostError.empty()) {
    *error = hostError + " in " + url;
    return std::nullopt;
  }
  location.shown = url.substr(0, schemeEnd) + (userInfo.empty() ? "" : std::string(userInfo) + "@") +
                   std::string(hostPort) + "/" + std::string(rest.substr(slash + 1));
  return location;
}

QString JournalMode(QSqlQuery& query, const char* statement) {
  return query.exec(QLatin1String(statement)) && query.next() ? query.value(0).toString() : QString();
}

// The journal in WAL mode lets readers go on while one process writes; the
// mode stays with the file. Switching needs the file to itself, and SQLite
// answers "database is locked" at once instead of waiting while other
// processes open it too, so this waits for its turn itself.
std::string UseWriteAheadLog(QSqlDatabase& db) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSqliteBusyMilliseconds);
  QSqlQuery query(db);
  while (true) {
    if (JournalMode(query, "PRAGMA journal_mode") == QLatin1String("wal") ||
        JournalMode(query, "PRAGMA journal_mode=WAL") == QLatin1String("wal"))
      return {};
    if (query.lastError().nativeErrorCode() != QLatin1String("5") || std::chrono::steady_clock::now() > giveUp)
      return query.lastError().isValid() ? Reason(query.lastError()) : "it cannot keep a write-ahead log";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// synchronous=NORMAL syncs at checkpoints instead of at every commit: a
// commit survives a crash of the program at once, a power cut may lose the
// commits since the last checkpoint but never damages the file.
std::string SetUpSqlite(QSqlDatabase& db, const StoreLocation& location) {
  std::string error = UseWriteAheadLog(db);
  QSqlQuery pragma(db);
  if (error.empty() && !pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) error = Reason(pragma.lastError());
  if (error.empty()) error = KeepLogOnClose(db);
  return error.empty() ? error : "cannot use the record store " + location.shown + ": " + error;
}

}  // namespace

std::optional<StoreLocation> ParseLocation(const std::string& text, std::string* error) {
  if (text.empty()) return SqliteLocation(RecordStore::DefaultLocation());
  if (text.starts_with("postgresql://") || text.starts_with("postgres://")) return ParsePostgresUrl(text, error);
  if (text.starts_with("sqlite:")) {
    std::string path = text.substr(7);
    if (path.starts_with("//")) path.erase(0, 2);
    if (path.empty()) {
      *error = "no file name after sqlite:";
      return std::nullopt;
    }
    return SqliteLocation(path);
  }
  if (text.find("://") != std::string::npos) {
    *error = text + " is no record store location (postgresql://, sqlite: or a file)";
    return std::nullopt;
  }
  return SqliteLocation(text);
}

std::string Connect(const StoreLocation& location, const QString& connectionName) {
  if (!QSqlDatabase::isDriverAvailable(location.driver)) {
    const char* package = location.Sqlite() ? "libqt6sql6-sqlite" : "libqt6sql6-psql";
    return "the Qt SQL driver " + location.driver.toStdString() + " is not installed (package " + package +
           "), so the record store " + location.shown + " cannot be opened";
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(location.driver, connectionName);
  db.setDatabaseName(location.databaseName);
  if (location.Sqlite()) {
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyMilliseconds));
  } else {
    db.setHostName(location.host);
    db.setPort(location.port);
    db.setUserName(location.user);
    db.setPassword(location.password);
    db.setConnectOptions(location.options);
  }
  if (!db.open()) return "cannot open the record store " + location.shown + ": " + Reason(db.lastError());
  return location.Sqlite() ? SetUpSqlite(db, location) : std::string();
}

}  // namespace quarnel::records
