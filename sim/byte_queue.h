// Bytes waiting at the host side of a link, oldest first: appended at the back and taken from the
// front in block copies, reusing its storage once drained, as every exchange of a decode drains
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class ByteQueue {
  public:
    std::size_t size() const { return bytes.size() - front; }
    void append(const uint8_t* data, std::size_t count);
    // Moves the first `count` bytes (at most size()) to `out`.
    void take(uint8_t* out, std::size_t count);
    void clear();

  private:
    std::vector<uint8_t> bytes;
    // Where the unread bytes start in `bytes`.
    std::size_t front = 0;
};

}  // namespace sim
