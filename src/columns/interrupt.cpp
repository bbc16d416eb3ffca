#include "columns/interrupt.hpp"

#include <atomic>

namespace zentrova::columns {
namespace {

std::atomic<InterruptCheck> installed{nullptr};

}  // namespace

void set_interrupt_check(InterruptCheck check) noexcept { installed.store(check, std::memory_order_release); }

void poll_interrupt() {
    const InterruptCheck check = installed.load(std::memory_order_acquire);
    if (check != nullptr && check()) throw Interrupted{};
}

}  // namespace zentrova::columns
