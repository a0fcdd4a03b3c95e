#pragma once
// ParallelFor over threads that outlive one loop: for short loops run many
// times in a row (one per optimisation pass), where starting threads for
// each loop would cost as much as the loop itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace merkanix {

class WorkerPool {
public:
    // `jobs` threads in all, the calling thread of Run being one of them.
    explicit WorkerPool(unsigned jobs) {
        for (unsigned t = 1; t < std::max(1u, jobs); ++t)
            threads_.emplace_back([this] { Serve(); });
    }
    ~WorkerPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned Jobs() const { return static_cast<unsigned>(threads_.size()) + 1; }

    // body(i) for i in [0, count), each once, by whichever thread takes it
    // next. body must not throw. The calling thread does not wait for a
    // helper that has not woken yet: on a busy machine it simply does more
    // of the items itself.
    void Run(std::size_t count, const std::function<void(std::size_t)>& body) {
        if (threads_.empty() || count < 2) {
            for (std::size_t i = 0; i < count; ++i)
                body(i);
            return;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A helper that woke late for the last loop is still looking at it.
            idle_.wait(lock, [this] { return active_ == 0; });
            body_ = &body;
            count_ = count;
            next_ = 0;
            finished_ = 0;
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        Take();
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return finished_ == count_ && active_ == 0; });
        body_ = nullptr;
    }

private:
    void Take() {
        for (std::size_t i = next_++; i < count_; i = next_++) {
            (*body_)(i);
            if (++finished_ == count_) {
                std::lock_guard<std::mutex> lock(mutex_);
                idle_.notify_all();
            }
        }
    }

    void Serve() {
        std::size_t seen = 0;
        for (;;) {
            // Loops run back to back (a pass every tenth of a millisecond)
            // would each cost a sleeping thread's wake-up, which is as long
            // as the loop: look for the next one for a while before sleeping.
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(500);
            while (generation_.load(std::memory_order_acquire) == seen &&
                   std::chrono::steady_clock::now() < until) {
            }
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_.load() != seen; });
                if (stop_) return;
                seen = generation_.load();
                if (body_ == nullptr) continue; // that loop is over
                ++active_;
            }
            Take();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                --active_;
            }
            idle_.notify_all();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    const std::function<void(std::size_t)>* body_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0}, finished_{0};
    std::size_t active_ = 0;
    std::atomic<std::size_t> generation_{0};
    bool stop_ = false;
};

} // namespace merkanix
