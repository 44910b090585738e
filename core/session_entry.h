// One line of the list of downloads completed during this run: the file name, then its raw
// extension, a coarse size bucket and the exact byte count. Pure text on UTF-8 paths; nothing is
// stored. The UI thread builds it when a download has succeeded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The part of a path after its last '\' or '/', or the whole path when it has neither.
std::string FileNameOfPath(std::string_view path);

// The extension of the file a path names: from its last '.' on, at most 24 UTF-16 code units long
// (the measure both editions share); "(no extension)" when the file name has no '.'.
std::string FileExtension(std::string_view path);

// Extension, bucket and count, joined with " · ".
std::string FormatSessionEntry(std::string_view path, std::uint64_t byteCount, bool russian);

// The whole list line: file name, "  —  ", then the entry.
std::string FormatSessionListLine(std::string_view path, std::uint64_t byteCount, bool russian);

} // namespace core
