// The session list line for a completed download, as UTF-16 for the list box: the core builds it
// from the path in UTF-8. Runs on the UI thread; keeps no state.
#include "history/session_entry.h"

#include "core/session_entry.h"
#include "download/download_state.h"
#include "text/text_edge.h"

std::wstring FileNameOfPath(const std::wstring& path) {
    return WideFromUtf8(core::FileNameOfPath(Utf8FromWide(path)));
}

std::wstring FormatSessionEntry(const std::wstring& path, std::uint64_t byteCount) {
    return WideFromUtf8(
        core::FormatSessionEntry(Utf8FromWide(path), byteCount, appGlobals.russianUi));
}

std::wstring FormatSessionListLine(const std::wstring& path, std::uint64_t byteCount) {
    return WideFromUtf8(
        core::FormatSessionListLine(Utf8FromWide(path), byteCount, appGlobals.russianUi));
}
