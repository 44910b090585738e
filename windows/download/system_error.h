// The text of a Windows or WinHTTP error code for the error box. Any thread; here the worker's.
#pragma once

#include <cstdint>
#include <string>

// The system's message for the code, whole (with its closing CR LF), in the language the system
// picks; "Error " and the code in unsigned decimal when the system has no text for it.
std::wstring FormatSystemError(std::uint32_t code);
