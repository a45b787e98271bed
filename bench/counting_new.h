// Counts every allocation of the program, so that a benchmark can report the
// allocations per processing cycle. Include it in exactly one file of a
// benchmark program: it replaces the global operator new and delete.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace miral::bench {
inline std::atomic<long> allocations{0};
}  // namespace miral::bench

void* operator new(std::size_t size) {
    miral::bench::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
