#include "tests/heap_tracker.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Each block carries its size in front, so delete knows what it gives back. 16 bytes keep the
// block as aligned as malloc's.
constexpr std::size_t HEADER = 16;

std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> peakInUse{0};
std::atomic<std::size_t> count{0};

void* allocate(std::size_t size) {
    void* block = std::malloc(size + HEADER);
    if (block == nullptr) {
        return nullptr;
    }
    *static_cast<std::size_t*>(block) = size;
    const std::size_t now = inUse += size;
    std::size_t peak = peakInUse.load();
    while (now > peak && !peakInUse.compare_exchange_weak(peak, now)) {
    }
    ++count;
    return static_cast<char*>(block) + HEADER;
}

void release(void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    void* block = static_cast<char*>(pointer) - HEADER;
    inUse -= *static_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace

HeapUse heapUse() {
    return {inUse.load(), peakInUse.load(), count.load()};
}

void resetHeapPeak() {
    peakInUse = inUse.load();
    count = 0;
}

void* operator new(std::size_t size) {
    void* pointer = allocate(size);
    if (pointer == nullptr) {
        throw std::bad_alloc();
    }
    return pointer;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void operator delete(void* pointer) noexcept {
    release(pointer);
}

void operator delete[](void* pointer) noexcept {
    release(pointer);
}

void operator delete(void* pointer, std::size_t) noexcept {
    release(pointer);
}

void operator delete[](void* pointer, std::size_t) noexcept {
    release(pointer);
}
