// The 44-byte header of a WAV file of 8 kHz mono 16-bit speech, whose size is known before the
// speech is: a streamed POST /v1/decode knows it from the body's length. The file ends with a
// comment chunk of a fixed size (LIST/INFO/ICMT) after the speech, so that a text known only at
// the end (the number of concealed frames) has its room counted in the header's sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t WAV_HEADER_SIZE = 44;
// The comment's text, padded with NULs to this many bytes (a NUL always ends it).
constexpr std::size_t WAV_COMMENT_CAPACITY = 48;
// "LIST", its size, "INFO", "ICMT", its size, the padded text.
constexpr std::size_t WAV_COMMENT_CHUNK_SIZE = 20 + WAV_COMMENT_CAPACITY;

std::vector<uint8_t> wavHeader(std::size_t speechBytes);
// The chunk that ends the file: `text` cut to WAV_COMMENT_CAPACITY - 1 bytes.
std::vector<uint8_t> wavCommentChunk(const std::string& text);
