// Where the core's UTF-8 meets Windows' UTF-16: the conversion both ways, done once at each call
// into the core. Text from Windows may hold unpaired surrogates (file names do), so the narrow
// side is generalised UTF-8, which gives each unpaired surrogate its own three bytes and brings
// back exactly the units it was given. Pure logic; any thread.
#pragma once

#include <string>
#include <string_view>

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);
