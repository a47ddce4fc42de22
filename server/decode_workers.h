// The threads that run device decodes, which block for the device's exchanges and while an
// unplugged device is awaited, so that no thread serving the network ever does. A job waits only
// for an idle thread: the pool grows to as many threads as jobs run at once (one per lease that
// decodes), and keeps them for the next ones. A pool made with a bound grows to that many threads
// at most, and its further jobs wait their turn: for work that any number of clients can ask for
// at once, such as the answers from the device pool.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class DecodeWorkers {
  public:
    DecodeWorkers() = default;
    explicit DecodeWorkers(std::size_t maxThreads) : maxThreads_(maxThreads) {}
    // Finishes the jobs queued, then joins every thread.
    ~DecodeWorkers();
    DecodeWorkers(const DecodeWorkers&) = delete;
    DecodeWorkers& operator=(const DecodeWorkers&) = delete;

    void post(std::function<void()> job);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    // 0: as many as jobs run at once.
    std::size_t maxThreads_ = 0;
    bool stopping_ = false;
};
