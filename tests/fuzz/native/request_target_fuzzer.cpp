// libFuzzer harness: ComposeRequestTarget and PrepareUrlForCracking against the hand split, for
// any text of UTF-16 units. The platform's splitter is not part of a native build.
#include <cstdint>
#include <string>

#include <winhttp.h>

#include "download/url_target.h"
#include "tests/fuzz/models.h"
#include "tests/fuzz/native/harness.h"

// AcceptUrl is linked but never called here; its splitter refuses everything.
BOOL WinHttpCrackUrl(LPCWSTR, DWORD, DWORD, URL_COMPONENTS*) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = native::UnitsOf(data, size);
    const std::wstring target = ComposeRequestTarget(text);
    const std::wstring expectedTarget = model::RequestTarget(text);
    if (target != expectedTarget) {
        native::Disagree(text, "target program " + fuzz::Escape(target) + ", model " +
                                   fuzz::Escape(expectedTarget));
    }
    const std::wstring prepared = PrepareUrlForCracking(text);
    const std::wstring expectedPrepared = model::PreparedForCracking(text);
    if (prepared != expectedPrepared) {
        native::Disagree(text, "prepared program " + fuzz::Escape(prepared) + ", model " +
                                   fuzz::Escape(expectedPrepared));
    }
    // The split model must hold up on any text too: it is what the Wine test trusts.
    (void)model::SplitUrl(text);
    return 0;
}
