#pragma once

#include <QSqlDatabase>
#include <string>

namespace quarnel::records {

// Makes closing the open SQLite connection `db` cheap: the last connection
// to close a database checkpoints its write-ahead log, syncing the log and
// the file, which would cost a run that adds one record nearly all its
// time. The log stays instead, holding the commits, and a commit that
// leaves it longer than a few runs' worth checkpoints and empties it, so
// that the next process, which reads the whole log when it opens the
// database first, has little to read. Empty on success, else why not.
std::string KeepLogOnClose(const QSqlDatabase& db);

}  // namespace quarnel::records
