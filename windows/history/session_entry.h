// One line of the list of downloads completed during this run: the file name, then its raw
// extension, a coarse size bucket and the exact byte count. Pure text; nothing is stored.
#pragma once

#include <cstdint>
#include <string>

// The part of a path after its last '\' or '/', or the whole path when it has neither.
std::wstring FileNameOfPath(const std::wstring& path);

// Extension, bucket and count, joined with " · ". The language follows appGlobals.russianUi.
std::wstring FormatSessionEntry(const std::wstring& path, std::uint64_t byteCount);

// The whole list line: file name, "  —  ", then the entry.
std::wstring FormatSessionListLine(const std::wstring& path, std::uint64_t byteCount);
