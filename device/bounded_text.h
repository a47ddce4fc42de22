#pragma once

#include <cstddef>
#include <cstring>
#include <string>

// A text in a fixed-size field: its characters up to the first zero byte, or the whole field
// when no zero ends it (a D2XX serial number that fills its 16 bytes, a device's text cut off by
// the packet's end).
inline std::string boundedText(const char* text, std::size_t capacity) {
    if (text == nullptr) {
        return std::string();
    }
    const void* zero = std::memchr(text, 0, capacity);
    const std::size_t size = zero != nullptr
                                 ? static_cast<std::size_t>(static_cast<const char*>(zero) - text)
                                 : capacity;
    return std::string(text, size);
}
