#include "records/Transaction.h"

#include <QSqlQuery>
#include <chrono>
#include <thread>

namespace quarnel::records {
namespace {

constexpr int kTransactionAttempts = 5;

bool IsRetryable(const QSqlError& error) {
  const QString code = error.nativeErrorCode();
  // PostgreSQL: serialization_failure, deadlock_detected.
  // SQLite: SQLITE_BUSY, SQLITE_LOCKED.
  return code == QLatin1String("40001") || code == QLatin1String("40P01") || code == QLatin1String("5") ||
         code == QLatin1String("6");
}

Step RunOnce(QSqlDatabase& db, bool sqlite, const std::string& doing, const TransactionBody& body) {
  QSqlQuery control(db);
  if (!control.exec(QLatin1String(sqlite ? "BEGIN IMMEDIATE" : "BEGIN"))) return Failed(doing, control.lastError());
  TransactionQueries queries(db);
  Step step = body(queries);
  queries.FinishAll();
  if (step.error.empty()) {
    if (control.exec(QStringLiteral("COMMIT"))) return step;
    step = Failed(doing, control.lastError());
  }
  control.exec(QStringLiteral("ROLLBACK"));
  return step;
}

}  // namespace

std::string Reason(const QSqlError& error) {
  QString text = error.databaseText().trimmed();
  if (text.isEmpty()) text = error.driverText().trimmed();
  text = text.section(QLatin1Char('\n'), 0, 0);
  if (text.startsWith(QLatin1String("ERROR:"))) text = text.mid(6).trimmed();
  return text.toStdString();
}

Step Failed(const std::string& doing, const QSqlError& error) {
  return {"could not " + doing + ": " + Reason(error), IsRetryable(error)};
}

std::string InWriteTransaction(QSqlDatabase& db, bool sqlite, const std::string& doing,
                               const TransactionBody& body) {
  for (int attempt = 1;; ++attempt) {
    Step step = RunOnce(db, sqlite, doing, body);
    if (step.error.empty() || !step.retryable || attempt == kTransactionAttempts) return step.error;
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
  }
}

}  // namespace quarnel::records
