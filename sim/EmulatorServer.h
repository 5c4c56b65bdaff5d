// Serves one emulator on its Unix SOCK_SEQPACKET socket, on a thread and a
// clock of its own.
//
// Connections: one at a time. The connection taken on is greeted with the
// single byte kGreeting; a connection that arrives while another is alive,
// or after a disconnect fault, is closed without a word (the host's open
// fails). A host that closes and reconnects (a bus reset) is taken on at
// once; requests it left unread are discarded with the old connection.
//
// Answers: a command is carried out when its request is read; its answer
// leaves when the command's duration (and any late fault) has passed. Until
// then the next request stays unread, as on a busy emulator. An answer due
// after a reconnect goes to the new connection; one due while no host is
// connected is lost.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"

namespace korvo {

constexpr uint8_t kGreeting = 0x4B;

class EmulatorServer {
public:
    EmulatorServer(Emulator& emulator, std::string socketPath, LogSink log = {});
    ~EmulatorServer();
    EmulatorServer(const EmulatorServer&) = delete;
    EmulatorServer& operator=(const EmulatorServer&) = delete;

    // Creates the listening socket. A stale socket file left by a killed
    // simulator is replaced; a live one is an error.
    bool listen(std::string& error);
    // Serves until `stopFd` becomes readable.
    void start(int stopFd);
    void join();
    // Closes the listening socket and removes its file.
    void removeSocket();

private:
    using Clock = std::chrono::steady_clock;
    struct PendingAnswer {
        std::vector<uint8_t> frame;
        Clock::time_point due;
        bool dropConnection;
    };

    void run(int stopFd);
    int pollTimeoutMs() const;
    void takeRequest();
    void deliverDueAnswer();
    void send(const std::vector<uint8_t>& frame, bool dropConnection);
    void acceptConnection();
    bool connectionAlive() const;
    void closeConnection();
    void log(const std::string& line) const;

    Emulator& emulator_;
    std::string socketPath_;
    LogSink log_;
    int listenFd_ = -1;
    int connectionFd_ = -1;
    std::optional<PendingAnswer> pending_;
    std::vector<uint8_t> requestBuffer_;
    std::thread thread_;
};

}  // namespace korvo
