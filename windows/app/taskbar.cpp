// The window's taskbar button: the running download's progress on it (the shell's
// ITaskbarList3), and a flash when an outcome arrives while the user works in another window.
// UI thread only: the progress timer and the outcome handler drive it, reading the worker's
// counters as the status line does; the worker does nothing for the button.
#include <shobjidl.h>

#include "app/main_window.h"
#include "core/desktop_progress.h"
#include "download/download_state.h"

namespace {

// The shell's taskbar object and its interface, spelled out here: taken from libuuid they would
// bring the object file holding the GUIDs of the whole shell, some 40 KB of the executable.
constexpr CLSID taskbarListClass = {
    0x56fdf344, 0xfd6d, 0x11d0, {0x95, 0x8a, 0x00, 0x60, 0x97, 0xc9, 0xa0, 0x90}};
constexpr IID taskbarList3Interface = {
    0xea1afb91, 0x9e28, 0x4b86, {0x90, 0xe9, 0x9e, 0x9f, 0x8a, 0x5e, 0xef, 0xaf}};

// The shell's object for the button, or null: until the shell says the button exists, and
// wherever no shell or no COM offers one. The button then simply shows nothing.
ITaskbarList3* taskbar = nullptr;
// What the button shows now, so that a tick calls the shell only when something changed.
core::DesktopProgress shown;
// The last download that ended failed; its red mark stays until another one starts.
bool lastFailed = false;

UINT ButtonCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

TBPFLAG ButtonState(core::DesktopProgressState state) {
    switch (state) {
    case core::DesktopProgressState::Normal:
        return TBPF_NORMAL;
    case core::DesktopProgressState::Indeterminate:
        return TBPF_INDETERMINATE;
    case core::DesktopProgressState::Error:
        return TBPF_ERROR;
    case core::DesktopProgressState::None:
        break;
    }
    return TBPF_NOPROGRESS;
}

core::DesktopProgress CurrentProgress() {
    // The same order of loads as the status line: the total only once it is known.
    std::uint64_t received = appGlobals.bytesReceived.load();
    bool totalKnown = appGlobals.totalKnown.load();
    std::uint64_t total = totalKnown ? appGlobals.contentLength.load() : 0;
    return core::ComputeDesktopProgress(appGlobals.busy, lastFailed, totalKnown, received, total);
}

void ShowOnButton(const core::DesktopProgress& progress) {
    if (taskbar == nullptr) {
        return;
    }
    HWND window = appGlobals.mainWindow;
    bool stateChanged = progress.state != shown.state;
    if (stateChanged) {
        // Stated every time: a value alone would not take the button out of its red mark.
        taskbar->SetProgressState(window, ButtonState(progress.state));
    }
    if (progress.state == core::DesktopProgressState::Normal &&
        (stateChanged || progress.completed != shown.completed || progress.total != shown.total)) {
        taskbar->SetProgressValue(window, progress.completed, progress.total);
    } else if (progress.state == core::DesktopProgressState::Error && stateChanged) {
        // Red at the full length, so that a failure before any progress shows as well.
        taskbar->SetProgressValue(window, 1, 1);
    }
    shown = progress;
}

} // namespace

void PrepareTaskbarButton(HWND window) {
    // Run as administrator, the program would otherwise never hear from the shell, which runs
    // with less privilege.
    ChangeWindowMessageFilterEx(window, ButtonCreatedMessage(), MSGFLT_ALLOW, nullptr);
}

bool IsTaskbarButtonCreated(UINT message) {
    return message != 0 && message == ButtonCreatedMessage();
}

// The shell says so when the button first appears and again when Explorer has restarted, each
// time with a new button that shows nothing, so the object is made afresh and told the state.
void OnTaskbarButtonCreated() {
    if (taskbar != nullptr) {
        taskbar->Release();
        taskbar = nullptr;
    }
    if (!EnsureComApartment()) {
        return;
    }
    ITaskbarList3* created = nullptr;
    if (FAILED(CoCreateInstance(taskbarListClass, nullptr, CLSCTX_INPROC_SERVER,
                                taskbarList3Interface, reinterpret_cast<void**>(&created)))) {
        return;
    }
    if (FAILED(created->HrInit())) {
        created->Release();
        return;
    }
    taskbar = created;
    shown = core::DesktopProgress{};
    ShowOnButton(CurrentProgress());
}

void UpdateTaskbarButton() {
    ShowOnButton(CurrentProgress());
}

void ShowOutcomeOnTaskbar(bool failed) {
    lastFailed = failed;
    ShowOnButton(CurrentProgress());

    // Never while the user looks at the window (or at a box of its own).
    HWND window = appGlobals.mainWindow;
    HWND foreground = GetForegroundWindow();
    if (foreground != nullptr && GetAncestor(foreground, GA_ROOTOWNER) == window) {
        return;
    }
    // The count is the user's own setting for a program that asks for attention; the button stays
    // marked until the window comes forward.
    UINT count = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDFLASHCOUNT, 0, &count, 0);
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    flash.uCount = count;
    flash.dwTimeout = 0;
    FlashWindowEx(&flash);
}
