// Error code to text: WinHTTP's own message table for its codes, then the system message table,
// with a short English fallback. Called by the worker thread at the end of a failed job.
#include "download/system_error.h"

#include <windows.h>

#include "text/decimal_text.h"
#include "text/texts.h"

namespace {

// The text FormatMessageW finds for the code in one table, or nothing.
bool LookUp(DWORD source, HMODULE module, std::uint32_t code, std::wstring& text) {
    wchar_t* buffer = nullptr;
    const DWORD count =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source,
                       module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const bool found = count != 0 && buffer != nullptr;
    if (found) {
        text.assign(buffer, count);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return found;
}

// Windows keeps the texts of WinHTTP's codes in winhttp.dll, not in the system's table.
bool IsWinHttpCode(std::uint32_t code) {
    return code >= 12000 && code <= 12999;
}

} // namespace

std::wstring FormatErrorFrom(std::uint32_t code, void* winhttpModule) {
    std::wstring text;
    if (IsWinHttpCode(code) && winhttpModule != nullptr &&
        LookUp(FORMAT_MESSAGE_FROM_HMODULE, static_cast<HMODULE>(winhttpModule), code, text)) {
        return text;
    }
    if (LookUp(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, text)) {
        return text;
    }
    return TextErrorPrefix + DecimalText(code);
}

std::wstring FormatSystemError(std::uint32_t code) {
    // Only the copy the job itself used, which is loaded by now: asking for it by name never
    // loads a winhttp.dll from anywhere. Without one, the system's table and the fallback remain.
    // Only for its own codes: the module lookup is not free, and a long run of failures asks often.
    return FormatErrorFrom(code, IsWinHttpCode(code) ? GetModuleHandleW(L"winhttp.dll") : nullptr);
}
