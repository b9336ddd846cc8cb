#include "allocation.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace qorv_chemical_engineering_py {

namespace {

constexpr std::size_t kArenaBytes = 16 * 1024;
constexpr std::size_t kAlignment = alignof(std::max_align_t);

struct Arena {
    alignas(kAlignment) unsigned char block[kArenaBytes];
    std::size_t top = 0;  // bytes handed out
    unsigned open = 0;    // arenas open
};

Arena arena;

[[noreturn]] void allocation_failed(std::size_t size) noexcept {
    std::fprintf(stderr, "memory allocation of %zu bytes failed\n", size);
    std::fflush(stderr);
    std::abort();
}

void* allocate(std::size_t size) noexcept {
    Arena& a = arena;
    if (a.open != 0) {
        const std::size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
        if (rounded <= kArenaBytes - a.top && rounded != 0) {
            void* block = a.block + a.top;
            a.top += rounded;
            return block;
        }
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) allocation_failed(size);
    return block;
}

void release(void* block) noexcept {
    const Arena& a = arena;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const auto first = reinterpret_cast<std::uintptr_t>(a.block);
    if (address - first < kArenaBytes) return;  // given back when its arena closes
    std::free(block);
}

}  // namespace

CallArena::CallArena() noexcept : mark_(arena.top) {
    ++arena.open;
}

CallArena::~CallArena() {
    arena.top = mark_;
    --arena.open;
}

}  // namespace qorv_chemical_engineering_py

// The module's own operators: running out of memory ends the process with the size that failed,
// so nothing above has to handle it. The module exports none of these symbols.
void* operator new(std::size_t size) {
    return qorv_chemical_engineering_py::allocate(size);
}
void* operator new[](std::size_t size) {
    return qorv_chemical_engineering_py::allocate(size);
}
void operator delete(void* block) noexcept {
    qorv_chemical_engineering_py::release(block);
}
void operator delete[](void* block) noexcept {
    qorv_chemical_engineering_py::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    qorv_chemical_engineering_py::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    qorv_chemical_engineering_py::release(block);
}
