// The few Windows types url_target.cpp names, so that its portable functions build natively for
// the libFuzzer harnesses. Nothing here is called except the harness's own WinHttpCrackUrl.
#pragma once

#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef std::uint16_t INTERNET_PORT;
