// Backend of the USB seam that reaches korvo-sim's emulators over Unix
// SOCK_SEQPACKET sockets named korvo-NN in one directory.
//
// Mapping onto the USB model:
//   - device path = socket path; opening = connecting;
//   - one message written on pipe 0 = one request; each message the emulator
//     sends is what one read of pipe 1 returns (a message longer than the
//     read keeps its rest for the next read, as a bulk endpoint would);
//   - bus reset = close and reconnect, which discards answers not yet read;
//   - a dropped connection is NoDevice, a wait that runs out is TimedOut.
//
// Open handshake: an emulator serves one connection at a time. It greets the
// connection it takes on with the single byte kSimGreeting and closes any
// other connection without a word, so a client that sees the connection
// end (or any other first message) knows the emulator is busy or refusing.
//
// Control requests: the simulated emulators have none; controlTransfer is
// refused (false, nothing transferred).
#include "usb/UsbBackend.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

namespace vestra::usb {
namespace {

constexpr uint8_t kSimGreeting = 0x4B;
constexpr int kGreetingTimeoutMs = 3000;
// Larger than any frame an emulator sends (a 4096-byte answer buffer plus
// the header); a longer message is a transfer error.
constexpr size_t kMaxMessageSize = 65536;

using Clock = std::chrono::steady_clock;

bool isSimSocketName(const char* name) {
    constexpr std::string_view prefix = "korvo-";
    std::string_view text(name);
    if (text.size() <= prefix.size() || text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    return std::all_of(text.begin() + prefix.size(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The system's text for `error`; unlike strerror safe on several threads,
// as opens may run at once.
std::string errorText(int error) {
    return std::generic_category().message(error);
}

std::string connectErrorReason(const std::string& path, int error) {
    if (error == EACCES || error == EPERM) {
        return "No permission to connect to the emulator socket " + path + ".";
    }
    if (error == ECONNREFUSED || error == ENOENT) {
        return "No simulator answers at " + path + ".";
    }
    return "Could not connect to the emulator socket " + path + ": " + errorText(error) + ".";
}

// Waits for `events` on `fd` for at most `timeoutMs`, restarting after
// signals with the time that is left. Returns the revents, or 0 on time-out.
short waitFor(int fd, short events, uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (rc > 0) {
            return p.revents;
        }
        if (rc == 0 || errno != EINTR) {
            return 0;
        }
    }
}

// Connects to an emulator socket and waits for its greeting; -1 when the
// socket is absent, the emulator busy or refusing, with the reason in
// `failure` when given.
int connectToEmulator(const std::string& path, std::string* failure) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) {
        if (failure != nullptr) *failure = "The emulator socket path " + path + " is too long.";
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Non-blocking, so that a stopped simulator with a full backlog refuses
    // at once instead of holding the caller in connect().
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        if (failure != nullptr) *failure = std::string("No socket for the emulator: ") + errorText(errno) + ".";
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if (failure != nullptr) *failure = connectErrorReason(path, errno);
        ::close(fd);
        return -1;
    }
    uint8_t greeting = 0;
    const bool accepted = (waitFor(fd, POLLIN, kGreetingTimeoutMs) & POLLIN) != 0 &&
                          ::recv(fd, &greeting, 1, MSG_DONTWAIT) == 1 && greeting == kSimGreeting;
    if (!accepted) {
        if (failure != nullptr) *failure = "The emulator at " + path + " is in use by another program.";
        ::close(fd);
        return -1;
    }
    return fd;
}

class SimSocketDevice final : public UsbDevice {
public:
    SimSocketDevice(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~SimSocketDevice() override { disconnect(); }

    TransferResult bulkTransfer(int pipe, uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        if (pipe == kPipeOut) {
            return writeMessage(data, length, timeoutMs);
        }
        if (pipe == kPipeIn) {
            return readMessage(data, length, timeoutMs);
        }
        return {};
    }

    bool controlTransfer(const ControlSetup&, uint8_t*, uint16_t, uint16_t* transferred, uint32_t) override {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        return false;
    }

    bool resetDevice() override {
        disconnect();
        fd_ = connectToEmulator(path_, nullptr);
        return fd_ >= 0;
    }

    // A socket has no halt feature to clear; it succeeds while connected.
    bool clearHalt(int) override { return fd_ >= 0; }

private:
    void disconnect() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        pending_.clear();
    }

    TransferResult writeMessage(const uint8_t* data, uint32_t length, uint32_t timeoutMs) {
        if (fd_ < 0) {
            return {TransferStatus::NoDevice};
        }
        if (length == 0) {
            return {TransferStatus::Completed, 0, true};
        }
        bool atOnce = true;
        for (;;) {
            const ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent >= 0) {
                return {TransferStatus::Completed, static_cast<uint32_t>(sent), atOnce};
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return {connectionLost(errno) ? TransferStatus::NoDevice : TransferStatus::Failed};
            }
            atOnce = false;
            const short revents = waitFor(fd_, POLLOUT, timeoutMs);
            if (revents == 0) {
                return {TransferStatus::TimedOut};
            }
            if ((revents & (POLLHUP | POLLERR)) != 0) {
                return {TransferStatus::NoDevice};
            }
        }
    }

    TransferResult readMessage(uint8_t* data, uint32_t length, uint32_t timeoutMs) {
        if (fd_ < 0) {
            return {TransferStatus::NoDevice};
        }
        bool atOnce = true;
        if (pending_.empty()) {
            // Try first, wait only when nothing is there yet: one system
            // call for an answer that has already arrived.
            TransferStatus status = receiveIntoPending();
            if (status == TransferStatus::TimedOut) {
                atOnce = false;
                if (waitFor(fd_, POLLIN, timeoutMs) == 0) {
                    return {TransferStatus::TimedOut};
                }
                status = receiveIntoPending();
            }
            if (status != TransferStatus::Completed) {
                return {status == TransferStatus::TimedOut ? TransferStatus::Failed : status};
            }
        }
        const uint32_t count = std::min<uint32_t>(length, static_cast<uint32_t>(pending_.size()));
        std::copy_n(pending_.begin(), count, data);
        pending_.erase(pending_.begin(), pending_.begin() + count);
        return {TransferStatus::Completed, count, atOnce};
    }

    // Takes the next whole message off the socket without waiting; TimedOut
    // when none is there.
    TransferStatus receiveIntoPending() {
        ssize_t size;
        do {
            size = ::recv(fd_, scratch_.data(), scratch_.size(), MSG_DONTWAIT | MSG_TRUNC);
        } while (size < 0 && errno == EINTR);
        if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return TransferStatus::TimedOut;
        }
        if (size <= 0) {
            // End of stream: the emulator dropped the connection.
            return size == 0 || connectionLost(errno) ? TransferStatus::NoDevice : TransferStatus::Failed;
        }
        if (static_cast<size_t>(size) > scratch_.size()) {
            return TransferStatus::Failed;  // larger than any emulator message
        }
        pending_.assign(scratch_.begin(), scratch_.begin() + size);
        return TransferStatus::Completed;
    }

    static bool connectionLost(int error) {
        return error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == EBADF;
    }

    std::string path_;
    int fd_;
    std::vector<uint8_t> pending_;  // rest of a message longer than the last read
    std::vector<uint8_t> scratch_ = std::vector<uint8_t>(kMaxMessageSize);
};

class SimSocketBackend final : public UsbBackend {
public:
    explicit SimSocketBackend(std::string directory) : directory_(std::move(directory)) {}

    bool enumerate(std::vector<DeviceEntry>& devices) override {
        DIR* dir = ::opendir(directory_.c_str());
        if (dir == nullptr) {
            emptyListingReason_ = "The emulator socket directory " + directory_ +
                                  " (KORVO_SIM_DIR) cannot be read: " + errorText(errno) + ".";
            return false;
        }
        std::vector<std::string> paths;
        while (const dirent* entry = ::readdir(dir)) {
            if (!isSimSocketName(entry->d_name)) {
                continue;
            }
            std::string path = directory_ + "/" + entry->d_name;
            struct stat info{};
            if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
                paths.push_back(std::move(path));
            }
        }
        ::closedir(dir);
        std::sort(paths.begin(), paths.end());
        emptyListingReason_ =
            paths.empty() ? "No emulator sockets (korvo-NN) in " + directory_ + " (KORVO_SIM_DIR)." : "";
        for (auto& path : paths) {
            devices.push_back({std::move(path), true});
        }
        return true;
    }

    std::unique_ptr<UsbDevice> open(const std::string& path) override {
        std::string failure;
        const int fd = connectToEmulator(path, &failure);
        if (fd < 0) {
            failures_.record(path, std::move(failure));
            return nullptr;
        }
        failures_.forget(path);
        return std::make_unique<SimSocketDevice>(path, fd);
    }

    std::string emptyListingReason() const override { return emptyListingReason_; }

    std::string openFailureReason(const std::string& path) const override { return failures_.reasonFor(path); }

private:
    std::string directory_;
    std::string emptyListingReason_;
    OpenFailures failures_;
};

}  // namespace

std::unique_ptr<UsbBackend> createSimSocketBackend(const std::string& directory) {
    return std::make_unique<SimSocketBackend>(directory);
}

}  // namespace vestra::usb
