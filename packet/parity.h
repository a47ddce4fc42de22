// The parity byte that ends a packet: the exclusive-or of every byte after the start byte up to
// and including the parity field's identifier 0x2F.
#pragma once

#include <cstddef>
#include <cstdint>

// The exclusive-or of bytes [from, to), a word at a time, since a speech answer's parity covers
// 325 bytes for every frame decoded.
uint8_t parityOf(const uint8_t* bytes, std::size_t from, std::size_t to);
