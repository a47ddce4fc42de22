#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

// What a call left behind on the stack. A __stdcall function removes its own arguments before it
// returns; a cdecl one leaves them for the caller. A JVM on 32-bit Windows calls native methods
// as __stdcall and usb3k.dll calls ftd2xx.dll the same way: a function built with the other
// convention unbalances the caller's stack, which may only show up much later as a crash.
struct ProbedCall {
    uint32_t result;       // EAX after the call
    uint32_t poppedBytes;  // bytes of arguments the callee removed from the stack
};

// Calls `function` with the given 32-bit argument words, pushed last to first as both conventions
// do, and measures the stack pointer on return. The caller's stack is restored either way.
ProbedCall probeCall(const void* function, const std::vector<uint32_t>& arguments);
inline ProbedCall probeCall(const void* function, std::initializer_list<uint32_t> arguments) {
    return probeCall(function, std::vector<uint32_t>(arguments));
}

// A pointer as the 32-bit word that carries it in an argument.
template <typename T>
uint32_t word(T* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
