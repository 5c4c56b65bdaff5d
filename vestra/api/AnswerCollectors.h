// AnswerCollectors: collects the answers of one lock-step step from several
// emulators at once.
//
// The calling thread takes the step's collects one after another. A collect
// that keeps the step from moving on for longer than a grace period (an
// answer that is late, or never comes) is left to wait where it is, and a
// pooled thread takes the next collect, and so on: k emulators that do not
// answer cost one link time-out plus k grace periods, not k time-outs, while
// answers that come at once cost no hand-over between threads at all.
//
// One pooled thread at a time watches a step for collects that are stuck; it
// sleeps until the grace period after the last collect taken has run out, and
// then takes the next collect itself after calling another thread to watch.
// Pooled threads are started when first needed, are kept parked between
// steps, block every signal (they leave signals to the program's threads)
// and end with the object.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class AnswerCollectors {
public:
    using Collect = std::function<void(size_t index)>;
    static constexpr std::chrono::milliseconds kDefaultGrace{20};

    explicit AnswerCollectors(std::chrono::microseconds grace = kDefaultGrace);
    ~AnswerCollectors();
    AnswerCollectors(const AnswerCollectors&) = delete;
    AnswerCollectors& operator=(const AnswerCollectors&) = delete;

    // Calls collect(i) once for every i < count and returns when all calls
    // have returned. An exception thrown by a call is passed on (that of the
    // lowest index) once all calls have ended. Steps of several callers run
    // one after another.
    void run(size_t count, const Collect& collect);

    // Pooled threads started so far.
    size_t threadCount() const;

private:
    using Clock = std::chrono::steady_clock;

    void pooledThread();
    // The following run with mutex_ held by `lock`.
    void takeCollects(std::unique_lock<std::mutex>& lock);
    void watch(std::unique_lock<std::mutex>& lock);
    void callWatcher();
    bool untaken() const { return active_ && next_ < count_; }

    const std::chrono::microseconds grace_;
    std::mutex stepLock_;  // one step at a time
    mutable std::mutex mutex_;
    std::condition_variable parked_;   // parked pooled threads: a call to watch, or the end
    std::condition_variable watcher_;  // the watching thread: the end
    std::condition_variable allDone_;  // the caller of run: every collect has returned

    // The current step.
    bool active_ = false;
    size_t count_ = 0;
    size_t next_ = 0;      // the first collect not yet taken
    size_t finished_ = 0;  // collects that have returned
    const Collect* collect_ = nullptr;
    std::exception_ptr failure_;  // that of the lowest index
    size_t failureIndex_ = 0;
    Clock::time_point lastTaken_;

    bool watching_ = false;  // a pooled thread watches, or has been called to
    size_t calls_ = 0;       // calls to watch not yet taken up by a pooled thread
    size_t parkedCount_ = 0;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};
