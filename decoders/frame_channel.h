// Where a decode's VCW frames come from and where their speech goes, a chunk at a time: Java's
// arrays for the library's native methods, plain memory for usb3k-server.
#pragma once

#include <cstddef>
#include <cstdint>

class FrameChannel {
  public:
    // Whether the first `frames` frames and their speech are in range.
    virtual bool holds(int64_t frames) const = 0;
    // Copies `count` frames from frame `first` on into `vcw` (7 bytes each).
    virtual void readFrames(std::size_t first, std::size_t count, uint8_t* vcw) = 0;
    // Stores the speech of `count` frames from frame `first` on (320 bytes each, every 16-bit
    // sample low byte first).
    virtual void writeSpeech(std::size_t first, std::size_t count, const uint8_t* speech) = 0;

  protected:
    ~FrameChannel() = default;
};

// Frames and speech in the caller's memory.
class MemoryFrames final : public FrameChannel {
  public:
    MemoryFrames(const uint8_t* vcw, std::size_t frames, uint8_t* pcm)
        : vcw_(vcw), frames_(frames), pcm_(pcm) {}

    bool holds(int64_t frames) const override;
    void readFrames(std::size_t first, std::size_t count, uint8_t* vcw) override;
    void writeSpeech(std::size_t first, std::size_t count, const uint8_t* speech) override;

  private:
    const uint8_t* vcw_;
    std::size_t frames_;
    uint8_t* pcm_;
};
