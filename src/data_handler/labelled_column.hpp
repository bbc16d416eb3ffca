#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace zentrova::data_handler {

// Allocates without zero-filling: every labelled value is written once anyway.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// One 0/1 value per input row, in input order.
using LabelledColumn = std::vector<std::int16_t, UninitialisedAllocator<std::int16_t>>;

}  // namespace zentrova::data_handler
