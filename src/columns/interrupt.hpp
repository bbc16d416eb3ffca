// Long loops ask now and then whether the caller wants them to stop; the
// Python layer installs the question (a look at pending signals).
#pragma once

#include <atomic>
#include <cstddef>

#include "common/errors.hpp"

namespace zentrova::columns {

// Returns true when the loop must stop; the answer's cause is kept by whoever
// installed the check.
using InterruptCheck = bool (*)();

void set_interrupt_check(InterruptCheck check) noexcept;

// Rows between two looks: a few milliseconds of the slowest loop.
inline constexpr std::size_t interrupt_rows = std::size_t{1} << 22;

// Throws Interrupted when the installed check says to stop.
void poll_interrupt();

// One batch split into parts that run on several threads at once: while a
// scope lives, this thread's polls first look at the shared `stop`, and a
// worker (any thread but the caller's) looks at nothing else, since only the
// caller may run the installed check. Whoever runs the parts raises `stop`
// when one of them fails, so the others end soon after.
class SharedStopScope {
public:
    SharedStopScope(std::atomic<bool>& stop, bool caller) noexcept;
    ~SharedStopScope();
    SharedStopScope(const SharedStopScope&) = delete;
    SharedStopScope& operator=(const SharedStopScope&) = delete;

private:
    std::atomic<bool>* previous_;
    bool previous_caller_;
};

// Counts rows and polls every interrupt_rows of them.
class InterruptPoller {
public:
    void advance(std::size_t rows) {
        pending_ += rows;
        if (pending_ >= interrupt_rows) {
            pending_ = 0;
            poll_interrupt();
        }
    }

private:
    std::size_t pending_ = 0;
};

}  // namespace zentrova::columns
