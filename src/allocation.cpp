// The module's own allocations: running out of memory ends the process with the size that
// failed. There is no recovery path, so nothing above has to handle one.
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void allocation_failed(std::size_t size) noexcept {
    std::fprintf(stderr, "memory allocation of %zu bytes failed\n", size);
    std::fflush(stderr);
    std::abort();
}

void* allocate(std::size_t size) noexcept {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) allocation_failed(size);
    return block;
}

}  // namespace

// Freed by the standard operator delete, which calls free().
void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
