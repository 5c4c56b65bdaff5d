#include "records/SqliteLog.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QVariant>

namespace quarnel::records {
namespace {

// About 40 runs that add one record each (3 pages a run). Shorter makes
// the runs sync more often, longer gives the first connection of each run
// more log to read. This hook takes the place of SQLite's own checkpoint at
// 1,000 pages, which leaves the log file as long as it was.
constexpr int kLogPagesBeforeCheckpoint = 128;

// A checkpoint that cannot finish (another process still reads the log
// after the busy timeout) is left to a later commit; this one has happened
// either way, so its result stays SQLITE_OK.
int CheckpointLongLog(void*, sqlite3* connection, const char* database, int pages) {
  if (pages >= kLogPagesBeforeCheckpoint)
    sqlite3_wal_checkpoint_v2(connection, database, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  return SQLITE_OK;
}

// Qt's driver hands out the connection of the SQLite library it uses: the
// shared library that this links as well.
sqlite3* Connection(const QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(handle.constData());
}

}  // namespace

std::string KeepLogOnClose(const QSqlDatabase& db) {
  sqlite3* connection = Connection(db);
  if (!connection || sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr) != SQLITE_OK)
    return "its SQLite connection cannot be set up";
  sqlite3_wal_hook(connection, CheckpointLongLog, nullptr);
  return {};
}

}  // namespace quarnel::records
