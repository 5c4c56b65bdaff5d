#include "EmulatorServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvo {
namespace {

// Largest request the emulator takes: a 1000-byte write frame is 1027 bytes,
// so this leaves room for malformed ones to be seen whole.
constexpr size_t kMaxRequestSize = 64 * 1024;
constexpr int kListenBacklog = 8;

bool makeAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when something accepts connections on `address`.
bool socketInUse(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    return live;
}

}  // namespace

EmulatorServer::EmulatorServer(Emulator& emulator, std::string socketPath, LogSink log)
    : emulator_(emulator), socketPath_(std::move(socketPath)), log_(std::move(log)) {}

EmulatorServer::~EmulatorServer() {
    join();
    closeConnection();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

bool EmulatorServer::listen(std::string& error) {
    sockaddr_un address;
    if (!makeAddress(socketPath_, address)) {
        error = "socket path too long: " + socketPath_;
        return false;
    }
    if (socketInUse(address)) {
        error = "socket " + socketPath_ + " is in use by another simulator";
        return false;
    }
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_, kListenBacklog) != 0) {
        error = "cannot listen on " + socketPath_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void EmulatorServer::start(int stopFd) {
    thread_ = std::thread([this, stopFd] { run(stopFd); });
}

void EmulatorServer::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EmulatorServer::removeSocket() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(socketPath_.c_str());
    }
}

void EmulatorServer::run(int stopFd) {
    for (;;) {
        // While an answer is pending the emulator is busy: it watches the
        // connection only for hang-up (reported even with no events asked).
        pollfd fds[3] = {{stopFd, POLLIN, 0},
                         {listenFd_, POLLIN, 0},
                         {connectionFd_, static_cast<short>(pending_ ? 0 : POLLIN), 0}};
        const int ready = ::poll(fds, connectionFd_ >= 0 ? 3 : 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            log(emulator_.name() + ": poll failed: " + std::strerror(errno));
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }
        deliverDueAnswer();
        if (connectionFd_ >= 0 && (fds[2].revents & (POLLHUP | POLLERR)) != 0) {
            log(emulator_.name() + ": host closed the connection");
            closeConnection();
        } else if (connectionFd_ >= 0 && (fds[2].revents & POLLIN) != 0) {
            takeRequest();
        }
        if ((fds[1].revents & POLLIN) != 0) {
            acceptConnection();
        }
    }
}

int EmulatorServer::pollTimeoutMs() const {
    if (!pending_) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(pending_->due - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void EmulatorServer::takeRequest() {
    requestBuffer_.resize(kMaxRequestSize);
    const ssize_t size = ::recv(connectionFd_, requestBuffer_.data(), requestBuffer_.size(), MSG_DONTWAIT);
    if (size == 0) {
        closeConnection();
        return;
    }
    if (size < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            closeConnection();
        }
        return;
    }
    Outcome outcome = emulator_.handleFrame(requestBuffer_.data(), static_cast<size_t>(size));
    if (!outcome.answer) {
        return;
    }
    if (outcome.delay.count() == 0) {
        send(*outcome.answer, outcome.dropConnection);
    } else {
        pending_ = PendingAnswer{std::move(*outcome.answer), Clock::now() + outcome.delay, outcome.dropConnection};
    }
}

void EmulatorServer::deliverDueAnswer() {
    if (pending_ && Clock::now() >= pending_->due) {
        const PendingAnswer answer = std::move(*pending_);
        pending_.reset();
        send(answer.frame, answer.dropConnection);
    }
}

void EmulatorServer::send(const std::vector<uint8_t>& frame, bool dropConnection) {
    if (connectionFd_ < 0) {
        log(emulator_.name() + ": answer lost, no host connected");
        return;
    }
    if (::send(connectionFd_, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
        log(emulator_.name() + ": answer lost: " + std::strerror(errno));
    }
    if (dropConnection) {
        log(emulator_.name() + ": dropping the connection");
        closeConnection();
    }
}

void EmulatorServer::acceptConnection() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (emulator_.refusesConnections() || connectionAlive()) {
        log(emulator_.name() + (emulator_.refusesConnections() ? ": connection refused (disconnected)"
                                                                : ": connection refused (busy)"));
        ::close(fd);
        return;
    }
    closeConnection();
    connectionFd_ = fd;
    if (::send(fd, &kGreeting, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
        closeConnection();
        return;
    }
    log(emulator_.name() + ": host connected");
    emulator_.connectionOpened();
}

bool EmulatorServer::connectionAlive() const {
    if (connectionFd_ < 0) {
        return false;
    }
    pollfd p{connectionFd_, 0, 0};
    return ::poll(&p, 1, 0) == 0;
}

void EmulatorServer::closeConnection() {
    if (connectionFd_ >= 0) {
        ::close(connectionFd_);
        connectionFd_ = -1;
    }
}

void EmulatorServer::log(const std::string& line) const {
    if (log_) {
        log_(line);
    }
}

}  // namespace korvo
