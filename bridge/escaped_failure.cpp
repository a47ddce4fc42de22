#include "bridge/escaped_failure.h"

#include <cstdio>
#include <exception>
#include <new>

// Written without building a string: the failure may be that no memory is left.
void reportEscaped(const char* where) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s - out of memory\n", where);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s - internal error: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s - internal error\n", where);
    }
    std::fflush(stderr);
}
