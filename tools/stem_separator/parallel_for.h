#pragma once

#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace fotivela::stem_separator {

// Splits [0, count) into `workers` contiguous ranges and runs body(worker, begin, end)
// for each on its own thread (the first on the caller's). An exception of any
// worker is rethrown once all have finished.
inline void parallelFor(int workers, int count, const std::function<void(int, int, int)>& body)
{
    if (workers <= 1 || count <= 1) {
        body(0, 0, count);
        return;
    }
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(workers));
    auto run = [&](int worker) {
        try {
            body(worker, count * worker / workers, count * (worker + 1) / workers);
        } catch (...) {
            errors[static_cast<std::size_t>(worker)] = std::current_exception();
        }
    };
    std::vector<std::jthread> threads;
    threads.reserve(static_cast<std::size_t>(workers - 1));
    for (int worker = 1; worker < workers; ++worker)
        threads.emplace_back(run, worker);
    run(0);
    threads.clear();
    for (const std::exception_ptr& error : errors)
        if (error)
            std::rethrow_exception(error);
}

} // namespace fotivela::stem_separator
