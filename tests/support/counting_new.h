// SPDX-License-Identifier: GPL-3.0-or-later
// Counts every allocation of the program, so that a benchmark can report the
// allocations per processing cycle and a test can check that a routine
// allocates nothing. Include it in exactly one file of a program: it replaces
// the global operator new and delete.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace miral::testing {
inline std::atomic<long> allocations{0};
// Called (when set) for every allocation, e.g. to show where one comes from.
inline void (*onAllocation)(std::size_t size) = nullptr;
}  // namespace miral::testing

void* operator new(std::size_t size) {
    miral::testing::allocations.fetch_add(1, std::memory_order_relaxed);
    if (miral::testing::onAllocation) miral::testing::onAllocation(size);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void* operator new(std::size_t size, std::align_val_t align) {
    miral::testing::allocations.fetch_add(1, std::memory_order_relaxed);
    if (miral::testing::onAllocation) miral::testing::onAllocation(size);
    const std::size_t a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return operator new(size, align);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
