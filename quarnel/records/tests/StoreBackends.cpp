#include "StoreBackends.h"

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "records/StoreLocation.h"
#include "testing/PostgresServer.h"

namespace quarnel::records::test {
namespace {

// One server for the whole test run: starting one takes seconds.
quarnel::testing::PostgresServer& SharedServer() {
  static quarnel::testing::PostgresServer server;
  return server;
}

int NextStoreNumber() {
  static std::atomic<int> number{0};
  return ++number;
}

}  // namespace

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "SQLite" : "PostgreSQL";
}

std::string NewStoreUrl(Backend backend, const std::string& folder) {
  const std::string name = "records_" + std::to_string(NextStoreNumber());
  if (backend == Backend::kSqlite) return "sqlite:" + folder + "/" + name + ".sqlite";
  const quarnel::testing::PostgresServer& server = SharedServer();
  EXPECT_EQ(server.Error(), "");
  EXPECT_EQ(server.CreateDatabase(name), "");
  return server.Url(name);
}

std::string Shown(const std::string& url) { return url.starts_with("sqlite:") ? url.substr(7) : url; }

RawConnection::RawConnection(const std::string& url) {
  static std::atomic<int> number{0};
  name_ = QStringLiteral("raw-%1").arg(++number);
  std::string error;
  std::optional<StoreLocation> location = ParseLocation(url, &error);
  EXPECT_TRUE(location) << error;
  if (location) {
    EXPECT_EQ(Connect(*location, name_), "");
  }
  db_ = QSqlDatabase::database(name_, false);
}

RawConnection::~RawConnection() {
  db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(name_);
}

void RawConnection::Exec(const std::string& sql) {
  QSqlQuery query(db_);
  EXPECT_TRUE(query.exec(QString::fromStdString(sql))) << sql << ": " << query.lastError().text().toStdString();
}

void StoreTest::SetUp() {
  char pattern[] = "/tmp/quarnel-records-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
}

void StoreTest::TearDown() { std::filesystem::remove_all(folder_); }

}  // namespace quarnel::records::test
