#include "tests/win32/stdcall_probe.h"

static_assert(sizeof(void*) == 4, "the probe speaks the 32-bit x86 calling conventions");

extern "C" uint32_t usb3k_probe_call(const void* function, const uint32_t* arguments,
                                     uint32_t count, uint32_t* poppedBytes);

// The probe is written in assembly because C++ cannot call a function without itself deciding
// who removes the arguments. It keeps the stack pointer of before the pushes in EDI and that of
// after them in EBX (both preserved by either convention), calls, and compares.
asm(R"(
    .text
    .globl _usb3k_probe_call
_usb3k_probe_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl %esp, %ebx
    call *8(%ebp)
    movl %esp, %ecx
    subl %ebx, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

ProbedCall probeCall(const void* function, const std::vector<uint32_t>& arguments) {
    ProbedCall call{};
    call.result = usb3k_probe_call(function, arguments.data(),
                                   static_cast<uint32_t>(arguments.size()), &call.poppedBytes);
    return call;
}
