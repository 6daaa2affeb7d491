// How the program calls the network library's functions: through a thunk that
// works whichever calling convention the library was built with.
//
// The client's library documents its ten functions by name and arguments but
// names no calling convention, and a library built standard-call under the
// same plain names pops its own arguments. A C call beside it leaves the
// stack pointer off by the arguments' size after every call: the caller's
// frame, its saved registers and its answer to the client are then read from
// the wrong place. The thunk copies the arguments below the stack pointer as
// a C call does, keeps the stack pointer in a register that both conventions
// preserve, and restores it after the call, so that it does not matter who
// popped. Results come back in EAX under both conventions.
#pragma once

#include <windows.h>

#include <cstring>
#include <type_traits>

namespace nubra_call {

// Bytes of the stack an argument takes: whole 32-bit words.
template <typename T>
constexpr DWORD SlotBytes()
{
    return (sizeof(T) + 3) / 4 * 4;
}

// What a call leaves in EAX alone: nothing, or an integer of up to 32 bits.
template <typename R>
constexpr bool ReturnsInEax()
{
    if constexpr (std::is_void<R>::value)
        return true;
    else
        return std::is_integral<R>::value && sizeof(R) <= 4;
}

// Calls pfn with the nWords 32-bit words at pdwWords as its arguments, first
// word at the lowest address, and returns EDX:EAX as it left them. Never
// inlined: the compiler then keeps nothing of the caller's in registers the
// call may use, and the x87 stack is empty as both conventions require.
__attribute__((noinline)) inline unsigned long long CallWithWords(const void* pfn, const DWORD* pdwWords, DWORD nWords)
{
    unsigned long long ullResult;
    DWORD dwSavedEsp;
    void* pCopyEnd;
    asm volatile(
        "movl %%esp, %[saved]\n\t"
        "leal (,%%ecx,4), %%edx\n\t"
        "subl %%edx, %%esp\n\t"
        "andl $-16, %%esp\n\t"
        "movl %%esp, %%edi\n\t"
        "cld\n\t"
        "rep movsl\n\t"
        "call *%%eax\n\t"
        "movl %[saved], %%esp"
        : "=A"(ullResult), [saved] "=&b"(dwSavedEsp), "+S"(pdwWords), "+c"(nWords), "=&D"(pCopyEnd)
        : "a"(pfn)
        : "memory", "cc");
    (void)dwSavedEsp;
    (void)pCopyEnd;
    return ullResult;
}

// pfn(args...) through CallWithWords. The arguments are copied as they lie
// in a C call's frame: each in whole words, 64-bit ones low word first.
template <typename R, typename... A>
R Call(R (*pfn)(A...), A... args)
{
    static_assert(ReturnsInEax<R>(), "the thunk returns what EAX holds");
    constexpr DWORD cbArgs = (0 + ... + SlotBytes<A>());
    DWORD adwWords[cbArgs / 4 + 1] = {};  // one more: an array is never empty
    BYTE* pbNext = reinterpret_cast<BYTE*>(adwWords);
    ((std::memcpy(pbNext, &args, sizeof(A)), pbNext += SlotBytes<A>()), ...);
    (void)pbNext;
    const unsigned long long ullResult = CallWithWords(reinterpret_cast<const void*>(pfn), adwWords, cbArgs / 4);
    if constexpr (!std::is_void<R>::value)
        return static_cast<R>(static_cast<DWORD>(ullResult));
    else
        (void)ullResult;
}

}  // namespace nubra_call
