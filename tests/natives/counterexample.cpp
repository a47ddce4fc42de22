// A library as the compiler links one by default: libstdc++ and libgcc as shared libraries, and
// a function of its own exported.
#include <stdexcept>

extern "C" __attribute__((visibility("default"))) int usb3k_counterexample(int value) {
    if (value < 0) {
        throw std::invalid_argument("negative");
    }
    return value + 1;
}
