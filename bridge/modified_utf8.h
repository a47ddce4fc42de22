#pragma once

#include <string>

// Java's NewStringUTF takes modified UTF-8 only. The stored error text holds 8-bit characters,
// some of them from the device (its serial number), so each byte is read as a Latin-1 character:
// 0x01 to 0x7F stay as they are, 0x80 to 0xFF become two bytes, and 0x00 becomes C0 80 as
// modified UTF-8 requires.
std::string latin1ToModifiedUtf8(const std::string& latin1);
