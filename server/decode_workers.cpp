#include "server/decode_workers.h"

DecodeWorkers::~DecodeWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void DecodeWorkers::post(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ >= jobs_.size() || (maxThreads_ != 0 && threads_.size() >= maxThreads_)) {
        wake_.notify_one();
    } else {
        threads_.emplace_back([this] { run(); });
    }
}

void DecodeWorkers::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        --idle_;
        if (jobs_.empty())
            return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
