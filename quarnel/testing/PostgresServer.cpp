#include "testing/PostgresServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quarnel::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServerUser = "nobody";

// The bin folder of the newest PostgreSQL under /usr/lib/postgresql, or
// empty.
std::string NewestBinFolder() {
  std::error_code error;
  std::string newest;
  int newestVersion = -1;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > newestVersion && fs::exists(entry.path() / "bin/initdb") && fs::exists(entry.path() / "bin/pg_ctl")) {
      newestVersion = version;
      newest = (entry.path() / "bin").string();
    }
  }
  return newest;
}

// A TCP port nobody listens on now. The server listens on no TCP port, but
// the number names its socket file and is kept apart from other servers'.
int FreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 5432;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(probe);
  return port;
}

std::string PercentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

std::string FileText(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

PostgresServer::PostgresServer() : error_(Start()) {}

PostgresServer::~PostgresServer() {
  // Also a server that started but did not answer in time.
  if (!folder_.empty() && fs::exists(folder_ + "/data/postmaster.pid"))
    Run({binFolder_ + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "stop"}, true);
  if (!folder_.empty()) fs::remove_all(folder_);
}

std::string PostgresServer::Start() {
  binFolder_ = NewestBinFolder();
  if (binFolder_.empty())
    return "PostgreSQL is not installed: no initdb and pg_ctl under /usr/lib/postgresql/*/bin "
           "(install the package postgresql)";
  char pattern[] = "/tmp/quarnel-pg-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return "cannot create a folder for the PostgreSQL server";
  folder_ = pattern;
  if (geteuid() == 0) {
    const passwd* user = getpwnam(kServerUser);
    if (user == nullptr || chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0)
      return std::string("cannot hand the server's folder to the user ") + kServerUser;
  }
  port_ = FreePort();
  if (std::string error = Run({binFolder_ + "/initdb", "-D", folder_ + "/data", "-U", "quarnel", "--auth=trust",
                               "--encoding=UTF8", "--locale=C", "--no-sync"},
                              true);
      !error.empty())
    return error;
  // fsync=off: a test server need not survive a power cut.
  const std::string options =
      "-k " + folder_ + " -c listen_addresses='' -p " + std::to_string(port_) + " -c fsync=off";
  if (std::string error = Run({binFolder_ + "/pg_ctl", "-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w",
                               "-t", "60", "-o", options, "start"},
                              true);
      !error.empty())
    return error + FileText(folder_ + "/server.log");
  return {};
}

std::string PostgresServer::Url(const std::string& database) const {
  return "postgresql://quarnel@" + PercentEncoded(folder_) + ":" + std::to_string(port_) + "/" + database;
}

std::string PostgresServer::CreateDatabase(const std::string& name) const {
  return Run({binFolder_ + "/createdb", "-h", folder_, "-p", std::to_string(port_), "-U", "quarnel", name}, false);
}

std::string PostgresServer::Run(std::vector<std::string> command, bool asServerUser) const {
  if (asServerUser && geteuid() == 0) command.insert(command.begin(), {"runuser", "-u", kServerUser, "--"});
  const std::string logPath = folder_ + "/commands.log";
  fs::remove(logPath);
  const pid_t child = fork();
  if (child == 0) {
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return "cannot run " + command[0];
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  std::string line;
  for (const std::string& word : command) line += word + " ";
  return line + "failed:\n" + FileText(logPath);
}

}  // namespace quarnel::testing
