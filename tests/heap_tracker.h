// Counts what the program allocates with operator new while it runs: the bytes in use now and the
// most in use at once since the last reset. Linked into a test program, it replaces the global
// operator new and delete of everything the program runs, the library's code included.
#pragma once

#include <cstddef>

struct HeapUse {
    std::size_t now;
    std::size_t peak;
    std::size_t allocations;
};

HeapUse heapUse();
// Starts a new peak from what is in use now, and a new count of allocations.
void resetHeapPeak();
