#include "api/AnswerCollectors.h"

#include <pthread.h>
#include <signal.h>

#include <utility>

namespace {

// How long the watching thread stays awake after the last collect taken, so
// that a write's steps, one close behind the other, need no call to watch.
constexpr std::chrono::milliseconds kKeepWatching{250};

}  // namespace

AnswerCollectors::AnswerCollectors(std::chrono::microseconds grace) : grace_(grace) {}

AnswerCollectors::~AnswerCollectors() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    parked_.notify_all();
    watcher_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

size_t AnswerCollectors::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

void AnswerCollectors::run(size_t count, const Collect& collect) {
    if (count == 0) return;
    std::lock_guard step(stepLock_);
    std::unique_lock lock(mutex_);
    failure_ = nullptr;
    active_ = true;
    count_ = count;
    next_ = 0;
    finished_ = 0;
    collect_ = &collect;
    lastTaken_ = Clock::now();
    if (count > 1) callWatcher();
    takeCollects(lock);
    allDone_.wait(lock, [this] { return finished_ == count_; });
    active_ = false;
    collect_ = nullptr;
    const std::exception_ptr failure = std::exchange(failure_, nullptr);
    lock.unlock();
    if (failure) std::rethrow_exception(failure);
}

void AnswerCollectors::takeCollects(std::unique_lock<std::mutex>& lock) {
    while (untaken()) {
        const size_t index = next_++;
        lastTaken_ = Clock::now();
        const Collect& collect = *collect_;  // stays valid until this call has finished
        lock.unlock();
        std::exception_ptr failure;
        try {
            collect(index);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && (!failure_ || index < failureIndex_)) {
            failure_ = failure;
            failureIndex_ = index;
        }
        if (++finished_ == count_) allDone_.notify_all();
    }
}

// Without a thread to be had, nobody watches: the collects are then taken
// one after another.
void AnswerCollectors::callWatcher() {
    if (watching_ || ending_) return;
    watching_ = true;
    ++calls_;
    if (parkedCount_ >= calls_) {
        parked_.notify_one();
        return;
    }
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);  // the new thread starts with every signal blocked
    try {
        threads_.emplace_back(&AnswerCollectors::pooledThread, this);
    } catch (...) {
        --calls_;
        watching_ = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void AnswerCollectors::pooledThread() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++parkedCount_;
        parked_.wait(lock, [this] { return ending_ || calls_ > 0; });
        --parkedCount_;
        if (ending_) return;
        --calls_;
        watch(lock);
    }
}

void AnswerCollectors::watch(std::unique_lock<std::mutex>& lock) {
    while (!ending_) {
        const Clock::time_point now = Clock::now();
        if (untaken() && now - lastTaken_ >= grace_) {
            // The step has not moved on: leave the stuck collect waiting and
            // take the next one here, with another thread watching.
            watching_ = false;
            if (next_ + 1 < count_) callWatcher();
            takeCollects(lock);
            return;
        }
        if (!untaken() && now - lastTaken_ >= kKeepWatching) break;
        watcher_.wait_until(lock, (untaken() ? lastTaken_ : now) + grace_);
    }
    watching_ = false;
}
