#include "columns/interrupt.hpp"

#include <atomic>
#include <utility>

namespace zentrova::columns {
namespace {

std::atomic<InterruptCheck> installed{nullptr};
thread_local std::atomic<bool>* shared_stop = nullptr;
thread_local bool is_caller = true;

}  // namespace

void set_interrupt_check(InterruptCheck check) noexcept { installed.store(check, std::memory_order_release); }

void poll_interrupt() {
    if (shared_stop != nullptr) {
        if (shared_stop->load(std::memory_order_relaxed)) throw Interrupted{};
        if (!is_caller) return;
    }
    const InterruptCheck check = installed.load(std::memory_order_acquire);
    if (check != nullptr && check()) throw Interrupted{};
}

SharedStopScope::SharedStopScope(std::atomic<bool>& stop, bool caller) noexcept
    : previous_(std::exchange(shared_stop, &stop)), previous_caller_(std::exchange(is_caller, caller)) {}

SharedStopScope::~SharedStopScope() {
    shared_stop = previous_;
    is_caller = previous_caller_;
}

}  // namespace zentrova::columns
