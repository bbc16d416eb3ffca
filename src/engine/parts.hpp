// A large batch added on several threads at once: its rows are cut into
// consecutive parts, each added to a fresh core of its own, and the parts are
// merged into the core in order. Counts are integers and sums exact, so the
// core ends as one update of all rows would leave it, bit for bit.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "columns/interrupt.hpp"

namespace zentrova::engine {

// The fewest rows worth a thread of their own.
inline constexpr std::size_t part_rows_minimum = std::size_t{1} << 16;
// The most threads one update starts, whatever it is asked for: more would
// only crowd the machine.
inline constexpr std::size_t parts_maximum = 256;

// How many parts `rows` rows make on at most `threads` threads.
constexpr std::size_t part_count(std::size_t rows, std::size_t threads) noexcept {
    return std::max<std::size_t>(1, std::min({threads, rows / part_rows_minimum, parts_maximum}));
}

// The first row of part `index` of `parts` (`rows` for index == parts): equal
// shares, every start but the first a multiple of 4096 rows.
constexpr std::size_t part_start(std::size_t rows, std::size_t parts, std::size_t index) noexcept {
    if (index >= parts) return rows;
    return index * (rows / parts) / 4096 * 4096;
}

// Adds rows [0, rows) to `core` in `parts` parts: `add(part_core, start,
// count, last)` adds one part's rows to the fresh core it is given (`last`
// for the final part). The caller's thread runs the first part; a thread that
// cannot be started leaves its part to the caller too. When a part fails, the
// others stop at their next poll and the first failure is thrown; `core` is
// then unchanged.
template <class Core, class Add>
void update_in_parts(Core& core, std::size_t rows, std::size_t parts, Add&& add) {
    if (parts <= 1) {
        add(core, 0, rows, true);
        return;
    }
    // Each part's core on cache lines of its own: no thread writes next to another's.
    struct alignas(128) Slot {
        Core core;
    };
    std::vector<Slot> cores(parts, Slot{core.fresh()});
    std::vector<std::exception_ptr> failures(parts);
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> first_failure{parts};
    auto run = [&](std::size_t index, bool caller) {
        columns::SharedStopScope scope(stop, caller);
        const std::size_t start = part_start(rows, parts, index);
        try {
            add(cores[index].core, start, part_start(rows, parts, index + 1) - start, index + 1 == parts);
        } catch (...) {
            failures[index] = std::current_exception();
            // The first part to fail stops the others; their own failures
            // (a stop seen at a poll) come after it and are not reported.
            std::size_t none = parts;
            if (first_failure.compare_exchange_strong(none, index)) stop.store(true, std::memory_order_relaxed);
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(parts - 1);
    std::size_t started = 1;
    try {
        for (; started < parts; ++started) threads.emplace_back(run, started, false);
    } catch (const std::system_error&) {
        // No more threads to be had: the caller runs the remaining parts.
    }
    run(0, true);
    for (std::size_t index = started; index < parts; ++index) run(index, true);
    for (std::thread& thread : threads) thread.join();
    const std::size_t failed = first_failure.load();
    if (failed < parts) std::rethrow_exception(failures[failed]);
    Core merged = core;
    for (const Slot& part : cores) merged.merge(part.core);
    core = std::move(merged);
}

}  // namespace zentrova::engine
