#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <deque>
#include <functional>
#include <string>

namespace quarnel::records {

// What the body of a write transaction came to: an empty error commits.
struct Step {
  std::string error;
  // The database gave up on this transaction only because of another one
  // (a deadlock, a serialisation failure, a lock held past the busy
  // timeout): the whole transaction may be tried again.
  bool retryable = false;
};

// The queries of one write transaction. They live until it has ended:
// PostgreSQL refuses to free a prepared statement inside a failed
// transaction.
class TransactionQueries {
 public:
  explicit TransactionQueries(const QSqlDatabase& db) : db_(db) {}
  QSqlQuery& New() { return queries_.emplace_back(db_); }
  // Lets go of their results; SQLite commits no transaction while a
  // statement of it is still running.
  void FinishAll() {
    for (QSqlQuery& query : queries_) query.finish();
  }

 private:
  QSqlDatabase db_;
  std::deque<QSqlQuery> queries_;  // a deque keeps the references valid
};

using TransactionBody = std::function<Step(TransactionQueries&)>;

// The database's own reason for `error`, on one line.
std::string Reason(const QSqlError& error);

// "could not DOING: REASON", retryable when the database says so.
Step Failed(const std::string& doing, const QSqlError& error);

// Runs `body` inside one write transaction and commits it, or rolls it back
// and returns the body's error. On SQLite the transaction starts with BEGIN
// IMMEDIATE: it takes the write lock at once and so waits for other writers
// within the busy timeout, where a deferred transaction that read first
// would fail when it comes to write. Retryable failures are tried again a
// few times, with the body run afresh each time.
std::string InWriteTransaction(QSqlDatabase& db, bool sqlite, const std::string& doing,
                               const TransactionBody& body);

}  // namespace quarnel::records
