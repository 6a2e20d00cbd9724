// For the tests only, linked into a second build of the module that the page never loads: every
// allocation can be made to fail from a chosen one on, as memory running out does, and the
// module's memory is small enough for a test's text to fill it.

#include <emscripten/emscripten.h>

#include <cstdlib>
#include <new>

namespace {

long allocations_left = -1; // -1: none fails

void *allocate(std::size_t size) {
    if (allocations_left >= 0 && allocations_left-- == 0)
        std::abort(); // what running out of memory does in a module without exceptions
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        std::abort();
    return p;
}

} // namespace

void *operator new(std::size_t size) {
    return allocate(size);
}
void *operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

extern "C" {

// From the count-th allocation on (0: the next), every allocation ends the module.
EMSCRIPTEN_KEEPALIVE void orvane_test_fail_after(long count) {
    allocations_left = count;
}
}
