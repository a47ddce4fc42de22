#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "<prefix>61 00 03 ... \n": each byte as two lowercase hex digits and a space, then a line feed.
std::string hexDump(const char* prefix, const uint8_t* bytes, std::size_t count);

// One byte as two lowercase hex digits: "7f".
std::string hexByte(uint8_t byte);
