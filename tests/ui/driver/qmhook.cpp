// qmhook.dll: a WH_GETMESSAGE hook that qmdriver.exe installs on the program's UI thread. When the
// thread takes the driver's registered query message from its queue (in its own loop or in the
// modal loop of a dialog or message box), the hook answers it from inside the process: the fonts of
// a window's children, the standard icon a message box shows, or nothing but the fact that the
// thread got there. The message itself is swallowed. Registered in the test prefix as the shell's
// taskbar object, it also records the program's calls on that object (see the end).
#include "hook_share.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

UINT QueryMessage() {
    static const UINT message = RegisterWindowMessageW(kHookQueryMessageName);
    return message;
}

void AnswerFonts(HookShare& share, HWND target) {
    HGDIOBJ defaultGui = GetStockObject(DEFAULT_GUI_FONT);
    share.defaultGuiFont = reinterpret_cast<std::uintptr_t>(defaultGui);
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), share.commonControls, MAX_PATH);
    std::uint32_t count = 0;
    for (HWND child = GetWindow(target, GW_CHILD); child && count < kHookMaxWindows;
         child = GetWindow(child, GW_HWNDNEXT)) {
        HookFont& entry = share.fonts[count++];
        entry = HookFont{};
        entry.window = reinterpret_cast<std::uintptr_t>(child);
        auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        entry.font = reinterpret_cast<std::uintptr_t>(font);
        entry.isDefaultGui = font != nullptr && font == defaultGui;
        LOGFONTW logFont{};
        if (font && GetObjectW(font, sizeof logFont, &logFont) == sizeof logFont) {
            entry.height = logFont.lfHeight;
            entry.weight = logFont.lfWeight;
            wcsncpy(entry.face, logFont.lfFaceName, LF_FACESIZE - 1);
        }
        SIZE ideal{};
        entry.idealSize = static_cast<std::int32_t>(
            SendMessageW(child, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)));
    }
    share.count = count;
}

void AnswerIcon(HookShare& share, HWND target) {
    share.icon = 0;
    share.iconKind = HookIconNone;
    for (HWND child = GetWindow(target, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if (_wcsicmp(className, L"Static") != 0 || (style & SS_TYPEMASK) != SS_ICON)
            continue;
        auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        share.icon = reinterpret_cast<std::uintptr_t>(icon);
        if (!icon || !IsWindowVisible(child))
            return;
        share.iconKind = HookIconUnknown;
        const HookIconKind kinds[] = {HookIconError, HookIconQuestion, HookIconWarning,
                                      HookIconInformation};
        for (HookIconKind kind : kinds) {
            if (LoadIconW(nullptr, MAKEINTRESOURCEW(kind)) == icon)
                share.iconKind = kind;
        }
        return;
    }
}

void AnswerMenu(HookShare& share, HWND target) {
    share.menuCount = 0;
    auto menu = reinterpret_cast<HMENU>(SendMessageW(target, MN_GETHMENU, 0, 0));
    int count = menu ? GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count && share.menuCount < kHookMaxMenuItems; ++i) {
        HookMenuItem& item = share.menuItems[share.menuCount++];
        item = HookMenuItem{};
        GetMenuStringW(menu, i, item.text, 64, MF_BYPOSITION);
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        item.isDefault = (info.fState & MFS_DEFAULT) != 0;
        GetMenuItemRect(nullptr, menu, i, &item.screen);
    }
}

bool WatchReason();

void Answer(HWND target, std::uint32_t sequence) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kHookShareName);
    if (!mapping)
        return;
    auto* share = static_cast<HookShare*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    HANDLE release = nullptr;
    if (share && share->sequence == sequence) {
        share->processId = GetCurrentProcessId();
        if (share->kind == HookQueryHold)
            release = OpenEventW(SYNCHRONIZE, FALSE, kHookReleaseEventName);
        if (share->kind == HookQueryFonts)
            AnswerFonts(*share, target);
        else if (share->kind == HookQueryIcon)
            AnswerIcon(*share, target);
        else if (share->kind == HookQueryMenu)
            AnswerMenu(*share, target);
        else if (share->kind == HookQueryWatchReason)
            share->reasonWatched = WatchReason() ? 1 : 0;
        share->answeredSequence = sequence;
        if (HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, kHookDoneEventName)) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    if (share)
        UnmapViewOfFile(share);
    CloseHandle(mapping);
    if (release) {
        // Bounded, so that a test that dies while holding cannot hang the program for ever.
        WaitForSingleObject(release, 60000);
        CloseHandle(release);
    }
}

HookShare* RecorderView() {
    static HookShare* view = nullptr;
    if (!view) {
        if (HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kHookShareName))
            view = static_cast<HookShare*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        // The mapping handle stays open with the view for the life of the process.
    }
    return view;
}

void Record(HookShare& share, HWND window, RecordKind kind, bool enabled, const wchar_t* text) {
    LONG index = share.recordCount;
    if (index < 0 || static_cast<std::uint32_t>(index) >= kRecordMaxEvents)
        return;
    RecordEvent& event = share.events[index];
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    event.counter = now.QuadPart;
    event.window = reinterpret_cast<std::uintptr_t>(window);
    event.kind = kind;
    event.enabled = enabled ? 1 : 0;
    event.length = 0;
    event.text[0] = L'\0';
    if (text) {
        size_t length = wcslen(text);
        event.length = static_cast<std::uint32_t>(length);
        wcsncpy(event.text, text, kRecordMaxText - 1);
        event.text[kRecordMaxText - 1] = L'\0';
    }
    InterlockedExchange(&share.recordCount, index + 1);
}

// The program's calls that give Windows the reason a logoff must wait, seen from inside: Windows
// keeps the reason to itself (and Wine does not keep it at all), so the hook redirects the
// program's imports of the two functions through itself and logs each call in the recorder.
using ReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using ReasonDestroy = BOOL(WINAPI*)(HWND);
ReasonCreate g_reasonCreate = nullptr;
ReasonDestroy g_reasonDestroy = nullptr;

BOOL WINAPI WatchedReasonCreate(HWND window, LPCWSTR reason) {
    if (HookShare* share = RecorderView())
        Record(*share, window, RecordReason, false, reason ? reason : L"");
    return g_reasonCreate(window, reason);
}

BOOL WINAPI WatchedReasonDestroy(HWND window) {
    if (HookShare* share = RecorderView())
        Record(*share, window, RecordReasonEnd, false, nullptr);
    return g_reasonDestroy(window);
}

// Points the executable's import slot of dll!name at replacement; returns what it held, or null
// when the executable does not import that function by name.
void* RedirectImport(const char* dll, const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0)
            continue;
        DWORD lookup = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0)
                continue;
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            if (previous == replacement)
                return previous;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

using Flash = BOOL(WINAPI*)(PFLASHWINFO);
Flash g_flash = nullptr;

BOOL WINAPI WatchedFlash(PFLASHWINFO info) {
    if (HookShare* share = RecorderView())
        Record(*share, info->hwnd, RecordFlash, false, std::to_wstring(info->dwFlags).c_str());
    return g_flash(info);
}

bool WatchReason() {
    // The redirected slots point into this DLL: it must stay loaded whatever the driver unhooks.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&WatchReason), &self);
    if (!g_reasonCreate) {
        g_reasonCreate = reinterpret_cast<ReasonCreate>(
            RedirectImport("user32.dll", "ShutdownBlockReasonCreate",
                           reinterpret_cast<void*>(&WatchedReasonCreate)));
    }
    if (!g_reasonDestroy) {
        g_reasonDestroy = reinterpret_cast<ReasonDestroy>(
            RedirectImport("user32.dll", "ShutdownBlockReasonDestroy",
                           reinterpret_cast<void*>(&WatchedReasonDestroy)));
    }
    if (!g_flash) {
        g_flash = reinterpret_cast<Flash>(
            RedirectImport("user32.dll", "FlashWindowEx", reinterpret_cast<void*>(&WatchedFlash)));
    }
    return g_reasonCreate != nullptr && g_reasonDestroy != nullptr && g_flash != nullptr;
}

// The stand-in for the shell's taskbar object: one static object, and one static class factory,
// that answer every interface asked for and log each call while the driver records. On x86-64 one
// calling convention serves every method, so the methods the program has no business calling
// share one slot function, logged as "other".
HRESULT LogTaskbar(HWND window, const std::wstring& call) {
    if (HookShare* share = RecorderView(); share && share->recordMain)
        Record(*share, window, RecordTaskbar, false, call.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE AnyInterface(void* self, REFIID, void** object) {
    *object = self;
    return S_OK;
}
ULONG STDMETHODCALLTYPE Static(void*) {
    return 1;
}
HRESULT STDMETHODCALLTYPE Other(void*) {
    return LogTaskbar(nullptr, L"other");
}
HRESULT STDMETHODCALLTYPE HrInit(void*) {
    return LogTaskbar(nullptr, L"HrInit");
}
HRESULT STDMETHODCALLTYPE SetProgressValue(void*, HWND window, ULONGLONG done, ULONGLONG total) {
    return LogTaskbar(window,
                      L"SetProgressValue " + std::to_wstring(done) + L" " + std::to_wstring(total));
}
HRESULT STDMETHODCALLTYPE SetProgressState(void*, HWND window, int flags) {
    return LogTaskbar(window, L"SetProgressState " + std::to_wstring(flags));
}
#define SLOT(function) reinterpret_cast<void*>(&function)
// The methods of IUnknown, ITaskbarList (from HrInit), ITaskbarList2 and ITaskbarList3, in order.
void* g_taskbarSlots[21] = {SLOT(AnyInterface), SLOT(Static), SLOT(Static), SLOT(HrInit)};
void* g_taskbar[] = {g_taskbarSlots};
HRESULT STDMETHODCALLTYPE CreateInstance(void*, void*, REFIID, void** object) {
    *object = g_taskbar;
    return S_OK;
}
void* g_factorySlots[] = {SLOT(AnyInterface), SLOT(Static), SLOT(Static), SLOT(CreateInstance),
                          SLOT(Other)};
void* g_factory[] = {g_factorySlots};

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    QmCallWndProcHook(int code, WPARAM fromThread, LPARAM message) {
    if (code == HC_ACTION) {
        const auto& call = *reinterpret_cast<const CWPSTRUCT*>(message);
        HookShare* share = RecorderView();
        if (share && share->recordMain) {
            HWND main = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(share->recordMain));
            bool child = GetAncestor(call.hwnd, GA_PARENT) == main;
            if (child && call.message == WM_SETTEXT)
                Record(*share, call.hwnd, RecordText, false,
                       reinterpret_cast<const wchar_t*>(call.lParam));
            else if (child && call.message == LB_ADDSTRING)
                Record(*share, call.hwnd, RecordAddLine, false,
                       reinterpret_cast<const wchar_t*>(call.lParam));
            else if ((child || call.hwnd == main) && call.message == WM_ENABLE)
                Record(*share, call.hwnd, RecordEnable, call.wParam != 0, nullptr);
            else if (call.hwnd == main && call.message == WM_DESTROY)
                Record(*share, call.hwnd, RecordDestroy, false, nullptr);
        }
    }
    return CallNextHookEx(nullptr, code, fromThread, message);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK
    QmGetMessageHook(int code, WPARAM removal, LPARAM message) {
    if (code == HC_ACTION && removal == PM_REMOVE) {
        auto* msg = reinterpret_cast<MSG*>(message);
        if (msg->message == QueryMessage() && msg->hwnd) {
            Answer(msg->hwnd, static_cast<std::uint32_t>(msg->wParam));
            msg->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** object) {
    std::fill(g_taskbarSlots + 4, std::end(g_taskbarSlots), SLOT(Other));
    g_taskbarSlots[9] = SLOT(SetProgressValue);
    g_taskbarSlots[10] = SLOT(SetProgressState);
    *object = g_factory;
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
