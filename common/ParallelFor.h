#pragma once
// Runs the items of a loop on several threads; each item is done once, by
// whichever thread takes it next, so the results must not depend on which.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace merkanix {

// Runs body(i) for i in [0, count) on `jobs` threads, the calling thread
// being one of them; no more threads than items.
template <typename Body> void ParallelFor(std::size_t count, unsigned jobs, const Body& body) {
    jobs = std::max(
        1u, std::min<unsigned>(jobs, static_cast<unsigned>(std::max<std::size_t>(count, 1))));
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++)
            body(i);
    };
    if (jobs == 1) {
        worker();
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(jobs - 1);
    for (unsigned t = 1; t < jobs; ++t)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
}

} // namespace merkanix
