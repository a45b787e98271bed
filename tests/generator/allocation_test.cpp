// A rebuild runs inside a knob's mouse handler: once the sine grid is set up
// for the table length, it must not allocate.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "generator/table_builder.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace miral::generator {
namespace {

TEST(TableBuilderAllocation, SteadyRebuildsAllocateNothing) {
  GeneratorControls c;
  c.genon1 = c.gensin1 = c.gentri1 = c.gensqr1 = c.gennoise1 = true;
  c.genon2 = c.gensin2 = c.gentri2 = c.gensqr2 = true;
  c.dacRate = 192000;
  GeneratorState state;
  std::vector<float> a(kMaxTableLength), b(kMaxTableLength);
  buildTables(c, state, a.data(), b.data());

  const long before = allocations.load();
  for (int mode = kModeAdd; mode <= kModeDual; ++mode) {
    c.modulationMode = mode;
    c.gensweep1 = mode == kModeAdd;
    c.genfreq += 7;
    const GeneratorResult r = buildTables(c, state, a.data(), b.data());
    EXPECT_EQ(r.rateLabel(), " ");
  }
  // A new length refills the grid in place.
  c.dacRate = 44100;
  buildTables(c, state, a.data(), b.data());
  EXPECT_EQ(allocations.load() - before, 0);

  // The counter does see allocations.
  auto probe = std::make_unique<int>(1);
  EXPECT_EQ(allocations.load() - before, 1);
}

}  // namespace
}  // namespace miral::generator
