/* The stack protector's runtime for the release build, used instead of GCC's libssp.
 *
 * Runs on the UI thread before wWinMain (the guard is set up by a constructor) and on whichever
 * thread finds a smashed stack or an overflowing checked copy (__stack_chk_fail, __chk_fail).
 *
 * Why not libssp: it seeds the guard with CryptAcquireContext/CryptGenRandom, which adds
 * advapi32.dll to the import table and makes the crypto provider load its DLL before wWinMain has
 * limited library loading to the system folder. This seeds the guard the way Windows compilers
 * seed their security cookie, from kernel32 alone, mixed with the addresses ASLR randomises.
 * libssp still supplies the checked copies (__memcpy_chk and its kind) that _FORTIFY_SOURCE uses.
 *
 * Built with -fno-stack-protector: the guard changes under the setup function's own frame. */
#include <windows.h>

#include <stdint.h>

uintptr_t __stack_chk_guard = 0x2B992DDFA232u;

/* Ends the process at once, without unwinding through the corrupted frame or running any handler:
 * a fast fail where Windows has it (8 and later), TerminateProcess otherwise. */
static __attribute__((noreturn)) void fail_fast(unsigned code) {
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ volatile("int $0x29" : : "c"(code) : "memory");
    }
    TerminateProcess(GetCurrentProcess(), 0xC0000409u /* STATUS_STACK_BUFFER_OVERRUN */);
    __builtin_unreachable();
}

__attribute__((noreturn)) void __stack_chk_fail(void) {
    fail_fast(2 /* FAST_FAIL_STACK_COOKIE_CHECK_FAILURE */);
}

__attribute__((noreturn)) void __chk_fail(void) {
    fail_fast(8 /* FAST_FAIL_RANGE_CHECK_FAILURE */);
}

/* Priority 101: before every other constructor, so before any protected function has a frame. */
__attribute__((constructor(101))) static void set_up_stack_guard(void) {
    FILETIME now;
    LARGE_INTEGER counter;
    uintptr_t guard = __stack_chk_guard;

    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    guard ^= ((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime;
    guard ^= (uint64_t)counter.QuadPart << 17;
    guard ^= ((uint64_t)GetCurrentProcessId() << 32) ^ GetCurrentThreadId();
    guard ^= GetTickCount64() << 40;
    guard ^= (uintptr_t)&counter;                  /* stack address */
    guard ^= (uintptr_t)&set_up_stack_guard << 11; /* image address */
    guard *= 0x9E3779B97F4A7C15u;                  /* spread every input over all 64 bits */
    if (guard == 0) {
        guard = 0x2B992DDFA232u;
    }
    __stack_chk_guard = guard;
}
