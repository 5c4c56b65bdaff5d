#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace korvo::testing {
namespace {

constexpr char kDirPrefix[] = "KORVO_SIM_DIR=";
// Generous: under the sanitizers start-up is slow on a busy machine.
constexpr auto kStartTimeout = std::chrono::seconds(30);

// Reads one line from `fd`, waiting until `deadline`; false on end of file
// or time-out.
bool readLine(int fd, std::chrono::steady_clock::time_point deadline, std::string& line) {
    line.clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line += c;
    }
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

SimProcess::~SimProcess() {
    stop();
    if (ownsDir_) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void SimProcess::setStderrFile(std::string path) { stderrFile_ = std::move(path); }

std::string SimProcess::programPath() { return KORVO_SIM_PATH; }

std::string SimProcess::sampleTrg(const std::string& baseName) {
    return std::string(KORVO_SIM_TRG_DIR) + "/" + baseName + ".TRG";
}

std::string SimProcess::socketPath(unsigned k) const {
    char name[32];
    std::snprintf(name, sizeof name, "/korvo-%02u", k);
    return dir_ + name;
}

bool SimProcess::hasDirArgument() const {
    return std::any_of(arguments_.begin(), arguments_.end(),
                       [](const std::string& a) { return a == "--dir" || a.rfind("--dir=", 0) == 0; });
}

std::vector<std::string> SimProcess::commandLine() const {
    std::vector<std::string> line{programPath()};
    line.insert(line.end(), arguments_.begin(), arguments_.end());
    if (!hasDirArgument() && !dir_.empty()) {
        line.insert(line.end(), {"--dir", dir_});
    }
    return line;
}

bool SimProcess::start() {
    if (running()) {
        return false;
    }
    const std::vector<std::string> line = commandLine();
    std::vector<char*> argv;
    for (const std::string& argument : line) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        if (!stderrFile_.empty()) {
            const int err = ::open(stderrFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (err >= 0) {
                ::dup2(err, STDERR_FILENO);
            }
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        return false;
    }
    std::string text;
    const bool announced = readLine(out[0], std::chrono::steady_clock::now() + kStartTimeout, text) &&
                           text.rfind(kDirPrefix, 0) == 0;
    ::close(out[0]);
    if (!announced) {
        kill();
        return false;
    }
    if (dir_.empty()) {
        dir_ = text.substr(sizeof(kDirPrefix) - 1);
        ownsDir_ = !hasDirArgument();
    }
    return true;
}

int SimProcess::stop() {
    if (!running()) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    const int status = waitForExit(pid_);
    pid_ = -1;
    return status;
}

void SimProcess::kill() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        waitForExit(pid_);
        pid_ = -1;
    }
}

}  // namespace korvo::testing
