// The module's own allocation operators: running out of memory ends the process after writing
// the size that failed, so nothing above has to handle it. The module exports none of these
// symbols, so they serve its own code only.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) noexcept {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        std::fprintf(stderr, "memory allocation of %zu bytes failed\n", size);
        std::fflush(stderr);
        std::abort();
    }
    return block;
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
