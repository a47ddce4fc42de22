#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether `text` is `prefix`, then each of the `count` bytes as two lowercase hex digits and a
// space, then a line feed: the debugging dump both packet classes give.
bool isHexDumpOf(const std::string& text, const char* prefix, const uint8_t* bytes,
                 std::size_t count);
