#include "server/wav_header.h"

#include <algorithm>

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((value >> shift) & 0xFF);
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(value & 0xFF);
    out.push_back((value >> 8) & 0xFF);
}

void putTag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

}  // namespace

std::vector<uint8_t> wavHeader(std::size_t speechBytes) {
    constexpr uint32_t sampleRate = 8000;
    constexpr uint16_t channels = 1;
    constexpr uint16_t bitsPerSample = 16;
    constexpr uint16_t blockAlign = channels * bitsPerSample / 8;
    std::vector<uint8_t> out;
    out.reserve(WAV_HEADER_SIZE);
    putTag(out, "RIFF");
    put32(out, static_cast<uint32_t>(36 + speechBytes + WAV_COMMENT_CHUNK_SIZE));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, channels);
    put32(out, sampleRate);
    put32(out, sampleRate * blockAlign);
    put16(out, blockAlign);
    put16(out, bitsPerSample);
    putTag(out, "data");
    put32(out, static_cast<uint32_t>(speechBytes));
    return out;
}

std::vector<uint8_t> wavCommentChunk(const std::string& text) {
    std::vector<uint8_t> out;
    out.reserve(WAV_COMMENT_CHUNK_SIZE);
    putTag(out, "LIST");
    put32(out, static_cast<uint32_t>(WAV_COMMENT_CHUNK_SIZE - 8));
    putTag(out, "INFO");
    putTag(out, "ICMT");
    put32(out, static_cast<uint32_t>(WAV_COMMENT_CAPACITY));
    std::size_t length = std::min(text.size(), WAV_COMMENT_CAPACITY - 1);
    out.insert(out.end(), text.begin(), text.begin() + length);
    out.resize(WAV_COMMENT_CHUNK_SIZE, 0);
    return out;
}
