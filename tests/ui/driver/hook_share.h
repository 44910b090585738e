// What qmdriver.exe and qmhook.dll exchange: the driver posts a registered message to a window of
// the program, the hook (running inside the program's UI thread) answers the query into a named
// shared memory block and signals a named event. Some facts, such as a control's font, can only be
// read from inside the process that owns the window.
#pragma once

#include <windows.h>

#include <cstdint>

inline constexpr wchar_t kHookShareName[] = L"Local\\QuillmereTestDriverShare";
inline constexpr wchar_t kHookDoneEventName[] = L"Local\\QuillmereTestDriverDone";
// Manual-reset event that lets a held UI thread go on (see HookQueryHold).
inline constexpr wchar_t kHookReleaseEventName[] = L"Local\\QuillmereTestDriverRelease";
inline constexpr wchar_t kHookQueryMessageName[] = L"QuillmereTestDriverQuery";
inline constexpr char kHookProcName[] = "QmGetMessageHook";
inline constexpr char kRecordProcName[] = "QmCallWndProcHook";

enum HookQueryKind : std::uint32_t {
    HookQueryFonts = 1, // fonts of the direct children of the target window
    HookQueryIcon = 2,  // which standard icon the icon control of a dialog shows
    // Hold the UI thread inside the hook, between two messages, until the release event is set.
    // Unlike SuspendThread this never stops the thread inside a lock (the heap, the loader) that
    // the download worker needs too.
    HookQueryHold = 3,
    // Answer nothing. Posted after other messages, its answer says the UI thread has taken them
    // all from its queue and dispatched them (or is in a modal loop that one of them opened).
    HookQuerySync = 4,
    // From now on, log the program's calls of ShutdownBlockReasonCreate and ...Destroy, and of
    // FlashWindowEx, in the recorder (their imports are redirected through the hook). Answers
    // whether that worked.
    HookQueryWatchReason = 5,
    // The items of the popup menu whose window (class #32768) is the target.
    HookQueryMenu = 6,
};

// Standard icons the icon query can recognise (the values of IDI_*).
enum HookIconKind : std::int32_t {
    HookIconNone = 0,      // no icon control, or one without an icon
    HookIconUnknown = -1,  // an icon that is none of the standard ones
    HookIconError = 32513, // IDI_ERROR / IDI_HAND
    HookIconQuestion = 32514,
    HookIconWarning = 32515,
    HookIconInformation = 32516,
};

struct HookFont {
    std::uint64_t window;
    std::uint64_t font;        // WM_GETFONT's answer (0: the system font)
    std::int32_t isDefaultGui; // font == GetStockObject(DEFAULT_GUI_FONT)
    std::int32_t height;       // LOGFONTW of that font (0 when there is none)
    std::int32_t weight;
    wchar_t face[LF_FACESIZE];
    std::int32_t idealSize; // BCM_GETIDEALSIZE's answer: non-zero from a version 6 button only
};

inline constexpr std::uint32_t kHookMaxWindows = 64;

struct HookMenuItem {
    std::int32_t isDefault; // drawn in bold: what a double-click does
    RECT screen;            // where the item is drawn, in screen coordinates
    wchar_t text[64];
};

inline constexpr std::uint32_t kHookMaxMenuItems = 8;

// The recorder: while it runs, every change the program makes to its main window's controls is
// logged as it is sent (WM_SETTEXT, LB_ADDSTRING, WM_ENABLE, and the main window's WM_DESTROY),
// so that a test also sees states that last shorter than any sampling could catch.
enum RecordKind : std::uint32_t {
    RecordText = 1,      // WM_SETTEXT: text
    RecordAddLine = 2,   // LB_ADDSTRING: text
    RecordEnable = 3,    // WM_ENABLE: enabled
    RecordDestroy = 4,   // WM_DESTROY of the main window
    RecordReason = 5,    // ShutdownBlockReasonCreate: text (after HookQueryWatchReason)
    RecordReasonEnd = 6, // ShutdownBlockReasonDestroy
    RecordTaskbar = 7,   // a call on the stand-in taskbar object: text, e.g. "SetProgressState 2"
    RecordFlash = 8,     // FlashWindowEx (after HookQueryWatchReason): text, the flags
};

inline constexpr std::uint32_t kRecordMaxEvents = 4096;
inline constexpr std::uint32_t kRecordMaxText = 512;

struct RecordEvent {
    std::int64_t counter; // QueryPerformanceCounter
    std::uint64_t window;
    std::uint32_t kind;
    std::int32_t enabled;
    std::uint32_t length; // text length in code units (may exceed what is kept)
    wchar_t text[kRecordMaxText];
};

struct HookShare {
    // Written by the driver before posting the query.
    std::uint32_t kind;
    std::uint32_t sequence;
    std::uint64_t target;
    // Written by the hook.
    std::uint32_t answeredSequence;
    std::uint32_t processId;
    std::uint64_t defaultGuiFont;
    wchar_t commonControls[MAX_PATH]; // the comctl32.dll the controls come from
    std::uint32_t count;
    HookFont fonts[kHookMaxWindows];
    std::uint64_t icon;
    std::int32_t iconKind;
    std::int32_t reasonWatched; // HookQueryWatchReason: both imports are redirected
    std::uint32_t menuCount;    // HookQueryMenu
    HookMenuItem menuItems[kHookMaxMenuItems];
    // The recorder, written by the hook on the program's UI thread; recordCount is published
    // after the event it counts has been written.
    std::uint64_t recordMain; // the main window whose children are watched; 0: off
    volatile LONG recordCount;
    RecordEvent events[kRecordMaxEvents];
};
