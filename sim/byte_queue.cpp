#include "sim/byte_queue.h"

#include <cstring>

namespace sim {

void ByteQueue::append(const uint8_t* data, std::size_t count) {
    if (front > 0 && front >= size()) {
        // Read bytes would otherwise pile up in front of a queue that is never drained; moving
        // the unread ones is cheap once they are at most half.
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(front));
        front = 0;
    }
    bytes.insert(bytes.end(), data, data + count);
}

void ByteQueue::take(uint8_t* out, std::size_t count) {
    if (count == 0) {
        return;
    }
    std::memcpy(out, bytes.data() + front, count);
    front += count;
    if (front == bytes.size()) {
        clear();
    }
}

void ByteQueue::clear() {
    bytes.clear();
    front = 0;
}

}  // namespace sim
