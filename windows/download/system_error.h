// The text of a Windows or WinHTTP error code for the error box. Any thread; here the worker's.
#pragma once

#include <cstdint>
#include <string>

// For a WinHTTP code (12000 to 12999), the text of the already-loaded winhttp.dll's message table
// when it has one; otherwise the system's message for the code, whole (with its closing CR LF), in
// the language the system picks; "Error " and the code in unsigned decimal when neither has text.
std::wstring FormatSystemError(std::uint32_t code);

// The same, with the module whose message table holds WinHTTP's texts given (an HMODULE, or null
// for none).
std::wstring FormatErrorFrom(std::uint32_t code, void* winhttpModule);
