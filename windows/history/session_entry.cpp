// Builds the session list line for a completed download. Runs on the UI thread; keeps no state.
#include "history/session_entry.h"

#include "download/download_state.h"
#include "text/decimal_text.h"
#include "text/texts.h"

namespace {

constexpr const wchar_t* pathSeparators = L"\\/";
constexpr std::size_t maxExtensionUnits = 24;

std::wstring FileExtension(const std::wstring& path) {
    std::size_t separator = path.find_last_of(pathSeparators);
    std::size_t dot = path.find_last_of(L'.');
    // A dot that belongs to a folder name is no extension of the file.
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) {
        return TextNoExtension;
    }
    return path.substr(dot, maxExtensionUnits);
}

const wchar_t* SizeBucket(std::uint64_t byteCount) {
    if (byteCount < 0x100000) {
        return Text(TextBucketUnder1Mib);
    }
    if (byteCount < 0x6400000) {
        return Text(TextBucket1To100Mib);
    }
    return Text(TextBucket100MibAndOver);
}

} // namespace

std::wstring FileNameOfPath(const std::wstring& path) {
    std::size_t separator = path.find_last_of(pathSeparators);
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring FormatSessionEntry(const std::wstring& path, std::uint64_t byteCount) {
    std::wstring entry = FileExtension(path);
    entry += TextEntrySeparator;
    entry += SizeBucket(byteCount);
    entry += TextEntrySeparator;
    entry += DecimalText(byteCount);
    entry += Text(TextBytesUnit);
    return entry;
}

std::wstring FormatSessionListLine(const std::wstring& path, std::uint64_t byteCount) {
    return FileNameOfPath(path) + TextNameSeparator + FormatSessionEntry(path, byteCount);
}
