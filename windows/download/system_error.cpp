// Error code to text from the system message table, with a short English fallback. Called by
// the worker thread at the end of a failed job.
#include "download/system_error.h"

#include <windows.h>

#include "text/decimal_text.h"
#include "text/texts.h"

std::wstring FormatSystemError(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD count = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text;
    if (count != 0 && buffer != nullptr) {
        text.assign(buffer, count);
    } else {
        // WinHTTP's 12xxx codes end up here: the system table has no text for them.
        text = TextErrorPrefix + DecimalText(code);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return text;
}
