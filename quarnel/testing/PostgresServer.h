#pragma once

#include <string>
#include <vector>

namespace quarnel::testing {

// A PostgreSQL server of its own for a test run: a new cluster in a
// temporary folder, reachable only through a Unix socket in that folder,
// with the superuser "quarnel" and no passwords. Under root it runs as the
// user nobody, since PostgreSQL refuses to run as root. Stopped, and its
// folder removed, with the object.
class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Why the server is not running (with the tools' output); empty when it is.
  const std::string& Error() const { return error_; }

  // postgresql://quarnel@SOCKET-FOLDER:PORT/DATABASE, for RecordStore::Open.
  std::string Url(const std::string& database = "postgres") const;

  // Creates an empty database `name`; empty on success, else why not.
  std::string CreateDatabase(const std::string& name) const;

 private:
  std::string Start();
  // Runs `command` (as nobody when root) with its output going to the
  // folder's command log; empty when it exits with 0, else what it printed.
  std::string Run(std::vector<std::string> command, bool asServerUser) const;

  std::string binFolder_;
  std::string folder_;
  int port_ = 0;
  std::string error_;
};

}  // namespace quarnel::testing
