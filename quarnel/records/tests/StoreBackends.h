#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <string>

namespace quarnel::records::test {

enum class Backend { kSqlite, kPostgres };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// The location of a new, empty store on `backend`: a file in `folder`, or a
// new database on the test run's PostgreSQL server (started on first use).
// Fails the test when there is none.
std::string NewStoreUrl(Backend backend, const std::string& folder);

// How store messages name the location `url`.
std::string Shown(const std::string& url);

// A connection of its own to a store's database, for looking at its tables
// and changing them behind the store's back.
class RawConnection {
 public:
  explicit RawConnection(const std::string& url);
  ~RawConnection();
  // Runs `sql`; fails the test when the database refuses it.
  void Exec(const std::string& sql);
  QSqlDatabase& Db() { return db_; }

 private:
  QString name_;
  QSqlDatabase db_;
};

// The store tests, run on each backend, each with a temporary folder of its own.
class StoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string NewUrl() { return NewStoreUrl(GetParam(), folder_); }
  std::string folder_;
};

}  // namespace quarnel::records::test
