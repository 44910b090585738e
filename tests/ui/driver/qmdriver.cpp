// qmdriver.exe: drives Quillmere's main window from outside, the way a user would, and reports what
// a user would see. One subcommand per action; each prints one JSON object per line on stdout and
// the process exits non-zero on failure (1) or time-out (3). "serve" reads one command per line
// from stdin and answers each with one line, so that a test can keep one driver for a whole run.
// Text arguments may be written as "hex:" followed by UTF-16 code units in hex (4 digits each),
// which keeps them exact whatever code page Wine picks for the command line.
#include "hook_share.h"
#include "json.h"

#include <windows.h>

#include <commctrl.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"QuillmereMainWindow";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kIdBrowse = 100;
constexpr int kIdDownload = 101;
constexpr int kIdCancel = 102;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr UINT kCrossProcessTimeoutMs = 3000;
constexpr int kDefaultWaitMs = 10000;

struct Failure {
    std::string message;
    bool timeout = false;
};

[[noreturn]] void Fail(const std::string& message) {
    throw Failure{message, false};
}
[[noreturn]] void TimedOut(const std::string& message) {
    throw Failure{message, true};
}

std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t unit : text)
        out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

std::wstring Wide(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Repeats probe until it returns true or timeoutMs has passed.
bool WaitFor(int timeoutMs, const std::function<bool()>& probe, int pollMs = 5) {
    auto start = Clock::now();
    for (;;) {
        if (probe())
            return true;
        if (MillisecondsSince(start) >= timeoutMs)
            return false;
        SleepMs(pollMs);
    }
}

// ---- Reading windows -----------------------------------------------------------------------

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool IsClass(HWND window, const wchar_t* name) {
    return _wcsicmp(ClassOf(window).c_str(), name) == 0;
}

// The text the window itself reports (WM_GETTEXT), as a user sees it. The length and the text
// come from two messages, and the program may set a longer text between them; a buffer with one
// unit to spare shows that (it fills up), and the text is read again.
std::wstring TextOf(HWND window) {
    for (;;) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                 kCrossProcessTimeoutMs, &length))
            Fail("WM_GETTEXTLENGTH did not answer");
        std::wstring text(length + 2, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(),
                                 reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                                 kCrossProcessTimeoutMs, &copied))
            Fail("WM_GETTEXT did not answer");
        if (copied <= length) {
            text.resize(copied);
            return text;
        }
    }
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

RECT RectInClient(HWND window, HWND parent) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string RectJson(const RECT& rect) {
    return json::Object()
        .Add("x", json::Number(rect.left))
        .Add("y", json::Number(rect.top))
        .Add("width", json::Number(rect.right - rect.left))
        .Add("height", json::Number(rect.bottom - rect.top))
        .Text();
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

HWND FindMain() {
    return FindWindowW(kMainClass, nullptr);
}

HWND RequireMain() {
    HWND main = FindMain();
    if (!main)
        Fail("no window of class QuillmereMainWindow");
    return main;
}

// The main window's controls by the role the layout gives them, counted in creation order:
// edits [URL, target], statics [link label, target label, status, list label], buttons by id.
HWND Control(HWND main, std::wstring_view role) {
    std::vector<HWND> edits, statics, lists;
    for (HWND child : Children(main)) {
        if (IsClass(child, L"Edit"))
            edits.push_back(child);
        else if (IsClass(child, L"Static"))
            statics.push_back(child);
        else if (IsClass(child, L"ListBox"))
            lists.push_back(child);
    }
    auto nth = [](const std::vector<HWND>& list, size_t i) {
        return i < list.size() ? list[i] : nullptr;
    };
    HWND found = nullptr;
    if (role == L"url")
        found = nth(edits, 0);
    else if (role == L"target")
        found = nth(edits, 1);
    else if (role == L"status")
        found = nth(statics, 2);
    else if (role == L"list")
        found = nth(lists, 0);
    else if (role == L"browse")
        found = GetDlgItem(main, kIdBrowse);
    else if (role == L"download")
        found = GetDlgItem(main, kIdDownload);
    else if (role == L"cancel")
        found = GetDlgItem(main, kIdCancel);
    else
        Fail("unknown control " + Narrow(role));
    if (!found)
        Fail("the main window has no " + Narrow(role) + " control");
    return found;
}

// Visible dialogs (class #32770) owned by owner: the Save As dialog, message boxes.
std::vector<HWND> OwnedDialogs(HWND owner) {
    struct Search {
        HWND owner;
        std::vector<HWND> found;
    } search{owner, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window) &&
                IsClass(window, kDialogClass))
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsMessageBox(HWND dialog) {
    HWND text = GetDlgItem(dialog, kMessageBoxTextId);
    return text && IsClass(text, L"Static");
}

HWND WaitForDialog(HWND owner, bool messageBox, int timeoutMs, const char* what) {
    HWND found = nullptr;
    WaitFor(timeoutMs, [&] {
        for (HWND dialog : OwnedDialogs(owner)) {
            if (IsMessageBox(dialog) == messageBox) {
                found = dialog;
                return true;
            }
        }
        return false;
    });
    if (!found)
        TimedOut(std::string("no ") + what + " appeared");
    return found;
}

// Lets the program's UI thread take what was sent or posted so far: a sent message is answered
// only when the thread is back in a message loop.
void Settle(HWND window) {
    DWORD_PTR ignored = 0;
    for (int i = 0; i < 2; ++i)
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                            &ignored);
}

// A user can act on a control only while the window takes input: no modal dialog or message box
// is open (which disables the main window) and the control itself is enabled and visible.
void RequireUsable(HWND main, HWND control, const std::string& what) {
    if (!IsWindowEnabled(main))
        Fail("refused: the main window is disabled (a dialog is open or it is closing), so " +
             what + " cannot be used");
    if (!OwnedDialogs(main).empty())
        Fail("refused: a dialog is open over the main window");
    if (!IsWindowVisible(control))
        Fail("refused: " + what + " is not visible");
    if (!IsWindowEnabled(control))
        Fail("refused: " + what + " is disabled");
}

// ---- The hook inside the program's process --------------------------------------------------

struct Hook {
    HHOOK handle = nullptr;
    DWORD thread = 0;
    HANDLE mapping = nullptr;
    HookShare* share = nullptr;
    HANDLE done = nullptr;
    UINT message = 0;
    std::uint32_t sequence = 0;
} g_hook;

std::wstring BesideDriver(const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full = path;
    full.erase(full.find_last_of(L"\\/") + 1);
    return full + fileName;
}

void EnsureShare() {
    if (g_hook.share)
        return;
    g_hook.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(HookShare), kHookShareName);
    g_hook.done = CreateEventW(nullptr, FALSE, FALSE, kHookDoneEventName);
    if (!g_hook.mapping || !g_hook.done)
        Fail("cannot create the memory shared with the hook");
    g_hook.share = static_cast<HookShare*>(
        MapViewOfFile(g_hook.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(HookShare)));
    if (!g_hook.share)
        Fail("cannot map the memory shared with the hook");
    g_hook.message = RegisterWindowMessageW(kHookQueryMessageName);
}

HHOOK InstallHook(int type, const char* procName, DWORD thread) {
    HMODULE module = LoadLibraryW(BesideDriver(L"qmhook.dll").c_str());
    auto proc =
        module
            ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, procName)))
            : nullptr;
    if (!proc)
        Fail("qmhook.dll not found beside the driver");
    HHOOK hook = SetWindowsHookExW(type, proc, module, thread);
    if (!hook)
        Fail("SetWindowsHookExW failed with " + std::to_string(GetLastError()));
    return hook;
}

const HookShare& AskHook(HWND target, HookQueryKind kind,
                         DWORD timeoutMs = kCrossProcessTimeoutMs) {
    DWORD thread = GetWindowThreadProcessId(target, nullptr);
    if (!thread)
        Fail("the window to ask is gone");
    EnsureShare();
    if (g_hook.thread != thread) {
        if (g_hook.handle)
            UnhookWindowsHookEx(g_hook.handle);
        g_hook.handle = nullptr;
        g_hook.handle = InstallHook(WH_GETMESSAGE, kHookProcName, thread);
        g_hook.thread = thread;
    }
    HookShare& share = *g_hook.share;
    share.kind = kind;
    share.sequence = ++g_hook.sequence;
    share.target = reinterpret_cast<std::uintptr_t>(target);
    ResetEvent(g_hook.done);
    if (!PostMessageW(target, g_hook.message, share.sequence, 0))
        Fail("cannot post the query to the program");
    if (WaitForSingleObject(g_hook.done, timeoutMs) != WAIT_OBJECT_0 ||
        share.answeredSequence != share.sequence)
        TimedOut("the hook inside the program did not answer");
    return share;
}

// Waits until the program's UI thread has dealt with what was posted to it so far. A sent
// WM_NULL is no such proof: sent messages are handled before posted ones, so it can come back
// while a posted click still waits in the queue. A window that went away meanwhile (a click that
// closed it) has dealt with everything. The wait is long because a click on Browse is answered
// only once the Save As dialog, slow to build on a busy machine, runs its loop.
void AfterPosted(HWND main) {
    if (!IsWindow(main))
        return;
    try {
        AskHook(main, HookQuerySync, kDefaultWaitMs);
    } catch (const Failure&) {
        if (IsWindow(main))
            throw;
    }
}

// ---- Describing windows ---------------------------------------------------------------------

std::string FontJson(const HookFont* font) {
    if (!font)
        return json::Null();
    return json::Object()
        .Add("is_default_gui", json::Bool(font->isDefaultGui != 0))
        .Add("handle", json::Unsigned(font->font))
        .Add("face", json::String(font->face))
        .Add("height", json::Number(font->height))
        .Add("weight", json::Number(font->weight))
        .Text();
}

std::string ChildJson(HWND child, HWND parent, const HookFont* font) {
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(child)))
        .Add("class", json::String(ClassOf(child)))
        .Add("text", json::String(TextOf(child)))
        .Add("id", json::Number(static_cast<int>(GetWindowLongPtrW(child, GWLP_ID))))
        .Add("style", json::Unsigned(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE))))
        .Add("exstyle", json::Unsigned(static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE))))
        .Add("rect", RectJson(RectInClient(child, parent)))
        .Add("enabled", json::Bool(IsWindowEnabled(child)))
        .Add("visible", json::Bool(IsWindowVisible(child)))
        .Add("font", FontJson(font))
        .Add("ideal_size_answered", json::Bool(font && font->idealSize != 0))
        .Text();
}

std::string TopLevelJson(HWND window) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(window, &pid);
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(window)))
        .Add("pid", json::Unsigned(pid))
        .Add("tid", json::Unsigned(thread))
        .Add("class", json::String(ClassOf(window)))
        .Add("title", json::String(TextOf(window)))
        .Add("style", json::Unsigned(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE))))
        .Add("exstyle", json::Unsigned(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE))))
        .Add("outer", RectJson(outer))
        .Add("client", json::Object()
                           .Add("width", json::Number(client.right))
                           .Add("height", json::Number(client.bottom))
                           .Text())
        .Add("enabled", json::Bool(IsWindowEnabled(window)))
        .Add("visible", json::Bool(IsWindowVisible(window)))
        .Add("iconic", json::Bool(IsIconic(window)))
        .Add("zoomed", json::Bool(IsZoomed(window)))
        .Add("owner", json::Unsigned(reinterpret_cast<std::uintptr_t>(GetWindow(window, GW_OWNER))))
        .Text();
}

std::vector<std::wstring> ListLines(HWND list) {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                             &count))
        Fail("LB_GETCOUNT did not answer");
    std::vector<std::wstring> lines;
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                            &length);
        std::wstring line(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()),
                                 SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &copied) ||
            copied == static_cast<DWORD_PTR>(LB_ERR))
            Fail("LB_GETTEXT failed for line " + std::to_string(i));
        line.resize(std::min<DWORD_PTR>(copied, length));
        lines.push_back(line);
    }
    return lines;
}

std::string LinesJson(const std::vector<std::wstring>& lines) {
    json::Array array;
    for (const auto& line : lines)
        array.Add(json::String(line));
    return array.Text();
}

std::string DescribeControl(HWND main, HWND window) {
    if (!window)
        return json::Null();
    std::vector<HWND> children = Children(main);
    auto at = std::find(children.begin(), children.end(), window);
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(window)))
        .Add("index", json::Number(at == children.end() ? -1 : at - children.begin()))
        .Add("class", json::String(ClassOf(window)))
        .Add("id", json::Number(static_cast<int>(GetWindowLongPtrW(window, GWLP_ID))))
        .Add("text", json::String(TextOf(window)))
        .Text();
}

std::string EnabledJson(HWND main) {
    json::Object states;
    states.Add("window", json::Bool(IsWindowEnabled(main)));
    for (const wchar_t* role :
         {L"url", L"target", L"browse", L"download", L"cancel", L"status", L"list"})
        states.Add(Narrow(role), json::Bool(IsWindowEnabled(Control(main, role))));
    return states.Text();
}

// Buttons and texts of a dialog, for reports.
std::string DialogControlsJson(HWND dialog) {
    json::Array controls;
    for (HWND child : Children(dialog)) {
        if (!IsWindowVisible(child))
            continue;
        controls.Add(
            json::Object()
                .Add("class", json::String(ClassOf(child)))
                .Add("id", json::Number(static_cast<int>(GetWindowLongPtrW(child, GWLP_ID))))
                .Add("text", json::String(TextOf(child)))
                .Add("enabled", json::Bool(IsWindowEnabled(child)))
                .Add("screen", RectJson(RectInClient(child, HWND_DESKTOP)))
                .Text());
    }
    return controls.Text();
}

const char* IconName(std::int32_t kind) {
    switch (kind) {
    case HookIconNone:
        return "none";
    case HookIconError:
        return "error";
    case HookIconQuestion:
        return "question";
    case HookIconWarning:
        return "warning";
    case HookIconInformation:
        return "information";
    default:
        return "other";
    }
}

std::string MessageBoxJson(HWND box) {
    const HookShare& icon = AskHook(box, HookQueryIcon);
    json::Array buttons;
    for (HWND child : Children(box)) {
        if (IsClass(child, L"Button") && IsWindowVisible(child))
            buttons.Add(
                json::Object()
                    .Add("id", json::Number(static_cast<int>(GetWindowLongPtrW(child, GWLP_ID))))
                    .Add("text", json::String(TextOf(child)))
                    .Text());
    }
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(box)))
        .Add("caption", json::String(TextOf(box)))
        .Add("text", json::String(TextOf(GetDlgItem(box, kMessageBoxTextId))))
        .Add("icon", json::String(Wide(IconName(icon.iconKind))))
        .Add("buttons", buttons.Text())
        .Add("owner", json::Unsigned(reinterpret_cast<std::uintptr_t>(GetWindow(box, GW_OWNER))))
        .Text();
}

// ---- Input ----------------------------------------------------------------------------------

// Real keyboard input, as from the keyboard, to the foreground window; the program's window (or
// the dialog it has open) is brought to the foreground first if another process holds it.
void SendKeys(HWND main, const std::vector<std::pair<WORD, bool>>& keys) {
    HWND foreground = GetForegroundWindow();
    if (!foreground || ProcessOf(foreground) != ProcessOf(main))
        SetForegroundWindow(main);
    std::vector<INPUT> inputs;
    for (auto [key, down] : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        Fail("SendInput failed");
    SleepMs(20);
    Settle(main);
}

std::vector<std::pair<WORD, bool>> KeyStrokes(std::wstring_view name) {
    static const std::map<std::wstring, WORD, std::less<>> keys = {
        {L"tab", VK_TAB},   {L"enter", VK_RETURN}, {L"space", VK_SPACE}, {L"escape", VK_ESCAPE},
        {L"left", VK_LEFT}, {L"right", VK_RIGHT},  {L"up", VK_UP},       {L"down", VK_DOWN},
        {L"f4", VK_F4},     {L"home", VK_HOME},    {L"end", VK_END},     {L"a", 'A'},
        {L"f10", VK_F10},   {L"apps", VK_APPS},
    };
    std::vector<WORD> modifiers;
    std::wstring_view rest = name;
    for (;;) {
        if (rest.starts_with(L"shift-")) {
            modifiers.push_back(VK_SHIFT);
            rest.remove_prefix(6);
        } else if (rest.starts_with(L"ctrl-")) {
            modifiers.push_back(VK_CONTROL);
            rest.remove_prefix(5);
        } else if (rest.starts_with(L"alt-")) {
            modifiers.push_back(VK_MENU);
            rest.remove_prefix(4);
        } else {
            break;
        }
    }
    auto key = keys.find(rest);
    if (key == keys.end())
        Fail("unknown key " + Narrow(name));
    std::vector<std::pair<WORD, bool>> strokes;
    for (WORD modifier : modifiers)
        strokes.push_back({modifier, true});
    strokes.push_back({key->second, true});
    strokes.push_back({key->second, false});
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        strokes.push_back({*it, false});
    return strokes;
}

// Types text into an edit control as keystrokes would: the old text is selected and each UTF-16
// unit arrives as a WM_CHAR through the program's message loop. Waits until the edit shows it.
std::wstring TypeInto(HWND edit, const std::wstring& text, int timeoutMs) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &ignored);
    if (text.empty()) {
        PostMessageW(edit, WM_KEYDOWN, VK_DELETE, 0x01530001);
        PostMessageW(edit, WM_KEYUP, VK_DELETE, 0xC1530001);
    }
    for (wchar_t unit : text)
        PostMessageW(edit, WM_CHAR, unit, 1);
    std::wstring seen;
    if (!WaitFor(timeoutMs, [&] { return (seen = TextOf(edit)) == text; }))
        TimedOut("the edit box shows \"" + Narrow(seen) + "\", not the typed text");
    return seen;
}

// Presses a button as a click would (BM_CLICK, posted: the click may open a modal dialog).
void PressButton(HWND button) {
    if (!PostMessageW(button, BM_CLICK, 0, 0))
        Fail("cannot post BM_CLICK");
}

void MouseTo(int x, int y, DWORD buttonFlags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttonFlags;
    SendInput(1, &input, sizeof input);
    SleepMs(30);
}

// ---- Commands -------------------------------------------------------------------------------

using Args = std::vector<std::wstring>;

int IntArg(const Args& args, size_t i, int fallback) {
    return i < args.size() ? std::stoi(args[i]) : fallback;
}

const std::wstring& Need(const Args& args, size_t i, const char* what) {
    if (i >= args.size())
        Fail(std::string("missing argument: ") + what);
    return args[i];
}

std::string CmdWaitMain(const Args& args) {
    int timeoutMs = IntArg(args, 0, kDefaultWaitMs);
    HWND main = nullptr;
    if (!WaitFor(timeoutMs, [&] { return (main = FindMain()) && IsWindowVisible(main); }))
        TimedOut("no visible QuillmereMainWindow");
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(main, &pid);
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(main)))
        .Add("pid", json::Unsigned(pid))
        .Add("tid", json::Unsigned(thread))
        .Text();
}

std::string CmdWaitGone(const Args& args) {
    int timeoutMs = IntArg(args, 0, kDefaultWaitMs);
    if (!WaitFor(timeoutMs, [] { return FindMain() == nullptr; }))
        TimedOut("the main window is still there");
    return json::Object().Add("gone", json::Bool(true)).Text();
}

std::string CmdInspect(const Args&) {
    HWND main = RequireMain();
    const HookShare& fonts = AskHook(main, HookQueryFonts);
    json::Array children;
    for (HWND child : Children(main)) {
        const HookFont* font = nullptr;
        for (std::uint32_t i = 0; i < fonts.count; ++i) {
            if (fonts.fonts[i].window == reinterpret_cast<std::uintptr_t>(child))
                font = &fonts.fonts[i];
        }
        children.Add(ChildJson(child, main, font));
    }
    // The order in which EnumChildWindows meets the children, to compare with the sibling order.
    json::Array enumOrder;
    EnumChildWindows(
        main,
        [](HWND child, LPARAM param) -> BOOL {
            reinterpret_cast<json::Array*>(param)->Add(
                json::Unsigned(reinterpret_cast<std::uintptr_t>(child)));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&enumOrder));
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
    return json::Object()
        .Add("window", TopLevelJson(main))
        .Add("children", children.Text())
        .Add("enum_order", enumOrder.Text())
        .Add("default_gui_font", json::Unsigned(fonts.defaultGuiFont))
        .Add("common_controls", json::String(fonts.commonControls))
        .Add("list", LinesJson(ListLines(Control(main, L"list"))))
        .Add("status", json::String(TextOf(Control(main, L"status"))))
        .Add("focus", DescribeControl(main, info.hwndFocus))
        .Text();
}

std::string CmdFocus(const Args&) {
    HWND main = RequireMain();
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
        Fail("GetGUIThreadInfo failed");
    return json::Object()
        .Add("focus", DescribeControl(main, info.hwndFocus))
        .Add("active", json::Unsigned(reinterpret_cast<std::uintptr_t>(info.hwndActive)))
        .Add("main", json::Unsigned(reinterpret_cast<std::uintptr_t>(main)))
        .Text();
}

std::string CmdKey(const Args& args) {
    HWND main = RequireMain();
    json::Array pressed;
    for (const auto& name : args) {
        SendKeys(main, KeyStrokes(name));
        pressed.Add(json::String(name));
    }
    return json::Object().Add("keys", pressed.Text()).Text();
}

// ---- Another program ------------------------------------------------------------------------

// A top-level window of the driver's own, on a thread of its own that pumps its messages as any
// program's would: what the user switches to, with Alt+Tab, and back from.
constexpr UINT kBringToFront = WM_APP + 1; // wParam: the window to bring to the foreground

LRESULT CALLBACK OtherProgramProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kBringToFront)
        return SetForegroundWindow(reinterpret_cast<HWND>(wParam));
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND OtherProgram() {
    static HWND window = nullptr;
    if (window)
        return window;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread([ready] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = OtherProgramProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = L"QmDriverOtherProgram";
        RegisterClassW(&windowClass);
        // Away from where the main window opens, so that screenshots of it stay clean.
        window = CreateWindowExW(0, windowClass.lpszClassName, L"Another program",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, 960, 780, 300, 200, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
        SetEvent(ready);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }).detach();
    WaitForSingleObject(ready, kDefaultWaitMs);
    CloseHandle(ready);
    if (!window)
        Fail("cannot create the other program's window");
    return window;
}

// switch away | switch back: the user goes to another program and returns, as with Alt+Tab: the
// window in front hands the foreground over. Reports the focus the program's window has then.
std::string CmdSwitch(const Args& args) {
    HWND main = RequireMain();
    const std::wstring& where = Need(args, 0, "away|back");
    if (where != L"away" && where != L"back")
        Fail("switch away or back, not " + Narrow(where));
    HWND other = OtherProgram();
    HWND target = where == L"away" ? other : main;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(other, kBringToFront, reinterpret_cast<WPARAM>(target), 0, SMTO_ABORTIFHUNG,
                        kCrossProcessTimeoutMs, &ignored);
    if (!WaitFor(kDefaultWaitMs, [&] { return GetForegroundWindow() == target; }))
        TimedOut("the foreground did not change");
    Settle(main);
    return CmdFocus(args);
}

std::string CmdSetUrl(const Args& args) {
    HWND main = RequireMain();
    HWND edit = Control(main, L"url");
    RequireUsable(main, edit, "the URL box");
    std::wstring text = args.empty() ? L"" : args[0];
    return json::Object().Add("text", json::String(TypeInto(edit, text, 5000))).Text();
}

std::string CmdClick(const Args& args) {
    HWND main = RequireMain();
    const std::wstring& name = Need(args, 0, "browse|download|cancel");
    if (name != L"browse" && name != L"download" && name != L"cancel")
        Fail("unknown button " + Narrow(name));
    HWND button = Control(main, name);
    RequireUsable(main, button, "the " + Narrow(name) + " button");
    PressButton(button);
    AfterPosted(main);
    return json::Object().Add("clicked", json::String(name)).Text();
}

// A real mouse click at the centre of a control: reaches only what a user's click would reach.
std::string CmdMouseClick(const Args& args) {
    HWND main = RequireMain();
    HWND control = Control(main, Need(args, 0, "control"));
    RECT rect{};
    GetWindowRect(control, &rect);
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    HWND foreground = GetForegroundWindow();
    if (!foreground || ProcessOf(foreground) != ProcessOf(main))
        SetForegroundWindow(main);
    MouseTo(x, y, 0);
    MouseTo(x, y, MOUSEEVENTF_LEFTDOWN);
    MouseTo(x, y, MOUSEEVENTF_LEFTUP);
    Settle(main);
    return json::Object().Add("x", json::Number(x)).Add("y", json::Number(y)).Text();
}

// Real mouse input at screen points: mouse click X Y | mouse double-click X Y |
// mouse drag X1 Y1 X2 Y2 | mouse right-click X Y. Reports the main window afterwards.
std::string CmdMouse(const Args& args) {
    HWND main = RequireMain();
    const std::wstring& action = Need(args, 0, "click|double-click|drag");
    int x1 = std::stoi(Need(args, 1, "x")), y1 = std::stoi(Need(args, 2, "y"));
    HWND foreground = GetForegroundWindow();
    if (!foreground || ProcessOf(foreground) != ProcessOf(main))
        SetForegroundWindow(main);
    MouseTo(x1, y1, 0);
    if (action == L"right-click") {
        MouseTo(x1, y1, MOUSEEVENTF_RIGHTDOWN);
        MouseTo(x1, y1, MOUSEEVENTF_RIGHTUP);
    } else if (action == L"click" || action == L"double-click") {
        for (int i = action == L"click" ? 1 : 2; i > 0; --i) {
            MouseTo(x1, y1, MOUSEEVENTF_LEFTDOWN);
            MouseTo(x1, y1, MOUSEEVENTF_LEFTUP);
        }
    } else if (action == L"drag") {
        int x2 = std::stoi(Need(args, 3, "x2")), y2 = std::stoi(Need(args, 4, "y2"));
        MouseTo(x1, y1, MOUSEEVENTF_LEFTDOWN);
        for (int step = 1; step <= 5; ++step)
            MouseTo(x1 + (x2 - x1) * step / 5, y1 + (y2 - y1) * step / 5, 0);
        MouseTo(x2, y2, MOUSEEVENTF_LEFTUP);
    } else {
        Fail("unknown mouse action " + Narrow(action));
    }
    SleepMs(100);
    Settle(main);
    return json::Object().Add("window", TopLevelJson(main)).Text();
}

// What the mouse meets along the middle of the title bar, left to right: runs of WM_NCHITTEST
// codes (2 caption, 3 system menu, 8 minimise box, 9 maximise box, 20 close box) in screen x.
std::string CmdCaption(const Args&) {
    HWND main = RequireMain();
    RECT r{};
    GetWindowRect(main, &r);
    RECT client{};
    GetClientRect(main, &client);
    POINT clientTop{0, 0};
    ClientToScreen(main, &clientTop);
    int y = (r.top + clientTop.y) / 2; // halfway between the outer top and the client area
    json::Array runs;
    LONG current = -1000;
    int runStart = r.left;
    auto flush = [&](int end) {
        if (current != -1000)
            runs.Add(json::Object()
                         .Add("code", json::Number(current))
                         .Add("x1", json::Number(runStart))
                         .Add("x2", json::Number(end))
                         .Text());
    };
    for (int x = r.left; x < r.right; ++x) {
        DWORD_PTR code = 0;
        SendMessageTimeoutW(main, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                            kCrossProcessTimeoutMs, &code);
        if (static_cast<LONG>(code) != current) {
            flush(x - 1);
            current = static_cast<LONG>(code);
            runStart = x;
        }
    }
    flush(r.right - 1);
    return json::Object().Add("y", json::Number(y)).Add("runs", runs.Text()).Text();
}

// The title bar's close button: SC_CLOSE, which the default window procedure turns into WM_CLOSE.
std::string CmdClose(const Args&) {
    HWND main = RequireMain();
    if (!IsWindowEnabled(main))
        Fail("refused: the main window is disabled and takes no input");
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    return json::Object().Add("closed", json::Bool(true)).Text();
}

std::string CmdSysCommand(const Args& args) {
    HWND main = RequireMain();
    static const std::map<std::wstring, WPARAM, std::less<>> commands = {
        {L"maximize", SC_MAXIMIZE}, {L"size", SC_SIZE}, {L"restore", SC_RESTORE},
        {L"minimize", SC_MINIMIZE}, {L"move", SC_MOVE}, {L"close", SC_CLOSE},
    };
    auto command = commands.find(Need(args, 0, "command"));
    if (command == commands.end())
        Fail("unknown system command");
    PostMessageW(main, WM_SYSCOMMAND, command->second, 0);
    SleepMs(200);
    Settle(main);
    return json::Object().Add("window", TopLevelJson(main)).Text();
}

// WM_NCHITTEST just inside each edge and corner of the frame: what the mouse would grab there.
std::string CmdHitTest(const Args&) {
    HWND main = RequireMain();
    RECT r{};
    GetWindowRect(main, &r);
    int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
    const std::pair<const char*, POINT> points[] = {
        {"left", {r.left, midY}},
        {"right", {r.right - 1, midY}},
        {"top", {midX, r.top}},
        {"bottom", {midX, r.bottom - 1}},
        {"top_left", {r.left, r.top}},
        {"top_right", {r.right - 1, r.top}},
        {"bottom_left", {r.left, r.bottom - 1}},
        {"bottom_right", {r.right - 1, r.bottom - 1}},
    };
    json::Object codes;
    for (const auto& [name, point] : points) {
        DWORD_PTR code = 0;
        SendMessageTimeoutW(main, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y), SMTO_ABORTIFHUNG,
                            kCrossProcessTimeoutMs, &code);
        codes.Add(name, json::Number(static_cast<LONG>(code)));
    }
    return json::Object().Add("codes", codes.Text()).Text();
}

std::string CmdStatus(const Args&) {
    HWND main = RequireMain();
    return json::Object().Add("status", json::String(TextOf(Control(main, L"status")))).Text();
}

std::string CmdText(const Args& args) {
    HWND main = RequireMain();
    return json::Object()
        .Add("text", json::String(TextOf(Control(main, Need(args, 0, "control")))))
        .Text();
}

std::string CmdList(const Args&) {
    HWND main = RequireMain();
    return json::Object().Add("lines", LinesJson(ListLines(Control(main, L"list")))).Text();
}

std::string CmdEnabled(const Args&) {
    return json::Object().Add("enabled", EnabledJson(RequireMain())).Text();
}

// Samples the status line every few milliseconds and reports each change with its time.
// watch-status [--until TEXT]... [--for MS] [--timeout MS] [--interval MS]
std::string CmdWatchStatus(const Args& args) {
    HWND main = RequireMain();
    std::vector<std::wstring> until;
    int forMs = -1, timeoutMs = kDefaultWaitMs, intervalMs = 5;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--until")
            until.push_back(Need(args, ++i, "text"));
        else if (args[i] == L"--for")
            forMs = std::stoi(Need(args, ++i, "ms"));
        else if (args[i] == L"--timeout")
            timeoutMs = std::stoi(Need(args, ++i, "ms"));
        else if (args[i] == L"--interval")
            intervalMs = std::stoi(Need(args, ++i, "ms"));
        else
            Fail("unknown option " + Narrow(args[i]));
    }
    HWND status = Control(main, L"status");
    auto start = Clock::now();
    json::Array changes;
    std::wstring last;
    bool first = true, reached = false, gone = false;
    int samples = 0;
    for (;;) {
        if (!IsWindow(status)) {
            gone = true;
            break;
        }
        std::wstring text;
        try {
            text = TextOf(status);
        } catch (const Failure&) {
            gone = !IsWindow(status);
            if (gone)
                break;
            throw;
        }
        ++samples;
        long long now = MillisecondsSince(start);
        if (first || text != last) {
            changes.Add(
                json::Object().Add("t", json::Number(now)).Add("text", json::String(text)).Text());
            last = text;
            first = false;
        }
        if (std::find(until.begin(), until.end(), text) != until.end()) {
            reached = true;
            break;
        }
        if (forMs >= 0 && now >= forMs)
            break;
        if (forMs < 0 && now >= timeoutMs)
            break;
        SleepMs(intervalMs);
    }
    std::string result = json::Object()
                             .Add("changes", changes.Text())
                             .Add("samples", json::Number(samples))
                             .Add("reached", json::Bool(reached))
                             .Add("gone", json::Bool(gone))
                             .Add("elapsed", json::Number(MillisecondsSince(start)))
                             .Text();
    if (!until.empty() && !reached)
        throw Failure{"status did not reach the awaited text: " + result, true};
    return result;
}

std::string CmdWaitStatus(const Args& args) {
    Args watch = {L"--until", Need(args, 0, "text"), L"--timeout",
                  std::to_wstring(IntArg(args, 1, kDefaultWaitMs))};
    return CmdWatchStatus(watch);
}

std::string CmdDialogs(const Args&) {
    HWND main = RequireMain();
    DWORD pid = ProcessOf(main);
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (ProcessOf(window) == s->pid && IsWindowVisible(window))
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    json::Array windows;
    for (HWND window : search.found) {
        if (window == main)
            continue;
        windows.Add(json::Object()
                        .Add("window", TopLevelJson(window))
                        .Add("controls", DialogControlsJson(window))
                        .Text());
    }
    return json::Object().Add("windows", windows.Text()).Text();
}

HWND FileNameBox(HWND dialog) {
    // The explorer-style dialog keeps the file name in combo box cmb13 (0x47C), older templates
    // in edit edt1 (0x480).
    if (HWND combo = GetDlgItem(dialog, 0x47C); combo && IsWindowVisible(combo)) {
        // A ComboBoxEx32 holds a ComboBox that holds the Edit.
        HWND edit = nullptr;
        EnumChildWindows(
            combo,
            [](HWND child, LPARAM param) -> BOOL {
                if (!IsClass(child, L"Edit"))
                    return TRUE;
                *reinterpret_cast<HWND*>(param) = child;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&edit));
        return edit ? edit : combo;
    }
    if (HWND edit = GetDlgItem(dialog, 0x480); edit && IsWindowVisible(edit))
        return edit;
    Fail("the Save As dialog has no file name box");
}

std::vector<std::wstring> ComboItems(HWND combo) {
    std::vector<std::wstring> items;
    if (!combo)
        return items;
    DWORD_PTR count = 0;
    SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &count);
    for (DWORD_PTR i = 0; i < count && count != static_cast<DWORD_PTR>(CB_ERR); ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                            &length);
        std::wstring item(length + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()),
                            SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &copied);
        item.resize(std::min<DWORD_PTR>(copied, length));
        items.push_back(item);
    }
    return items;
}

std::string SaveDialogJson(HWND dialog) {
    return json::Object()
        .Add("hwnd", json::Unsigned(reinterpret_cast<std::uintptr_t>(dialog)))
        .Add("title", json::String(TextOf(dialog)))
        .Add("file_name", json::String(TextOf(FileNameBox(dialog))))
        .Add("filters", LinesJson(ComboItems(GetDlgItem(dialog, 0x470))))
        .Add("owner", json::Unsigned(reinterpret_cast<std::uintptr_t>(GetWindow(dialog, GW_OWNER))))
        .Text();
}

// save-dialog [PATH] [--timeout MS]: reports the open Save As dialog; with PATH, types it into
// the file name box and presses Save, then waits until the dialog has closed or has put up a
// box of its own (such as the question whether to replace an existing file).
std::string CmdSaveDialog(const Args& args) {
    HWND main = RequireMain();
    std::wstring path;
    bool havePath = false;
    int timeoutMs = kDefaultWaitMs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--timeout")
            timeoutMs = std::stoi(Need(args, ++i, "ms"));
        else {
            path = args[i];
            havePath = true;
        }
    }
    HWND dialog = WaitForDialog(main, false, timeoutMs, "Save As dialog");
    // The dialog fills its controls after it appears: wait until the file name box is there.
    WaitFor(2000, [&] {
        try {
            FileNameBox(dialog);
            return true;
        } catch (const Failure&) {
            return false;
        }
    });
    json::Object result;
    result.Add("dialog", SaveDialogJson(dialog));
    if (!havePath)
        return result.Text();
    if (!OwnedDialogs(dialog).empty())
        Fail("refused: the Save As dialog has a box open over it");
    TypeInto(FileNameBox(dialog), path, 5000);
    HWND save = GetDlgItem(dialog, IDOK);
    if (!save || !IsWindowEnabled(save))
        Fail("the Save As dialog has no usable Save button");
    PressButton(save);
    HWND prompt = nullptr;
    if (!WaitFor(timeoutMs, [&] {
            if (!IsWindow(dialog) || !IsWindowVisible(dialog))
                return true;
            std::vector<HWND> boxes = OwnedDialogs(dialog);
            prompt = boxes.empty() ? nullptr : boxes.front();
            return prompt != nullptr;
        }))
        TimedOut("the Save As dialog neither closed nor asked anything");
    result.Add("closed", json::Bool(prompt == nullptr));
    if (prompt)
        result.Add("prompt", MessageBoxJson(prompt));
    return result.Text();
}

HWND RequireSaveDialog(HWND main, int timeoutMs) {
    return WaitForDialog(main, false, timeoutMs, "Save As dialog");
}

// confirm-overwrite yes|no: answers the Save As dialog's question whether to replace a file.
std::string CmdConfirmOverwrite(const Args& args) {
    HWND main = RequireMain();
    const std::wstring& answer = Need(args, 0, "yes|no");
    if (answer != L"yes" && answer != L"no")
        Fail("answer yes or no");
    HWND dialog = RequireSaveDialog(main, IntArg(args, 1, kDefaultWaitMs));
    HWND prompt = WaitForDialog(dialog, true, IntArg(args, 1, kDefaultWaitMs), "question box");
    std::string box = MessageBoxJson(prompt);
    HWND button = GetDlgItem(prompt, answer == L"yes" ? IDYES : IDNO);
    if (!button)
        Fail("the question box has no " + Narrow(answer) + " button");
    PressButton(button);
    if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(prompt) || !IsWindowVisible(prompt); }))
        TimedOut("the question box stayed open");
    bool dialogClosed = false;
    if (answer == L"yes")
        dialogClosed =
            WaitFor(kDefaultWaitMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
    else
        dialogClosed = !IsWindow(dialog) || !IsWindowVisible(dialog);
    return json::Object().Add("prompt", box).Add("dialog_closed", json::Bool(dialogClosed)).Text();
}

std::string CmdSaveDialogCancel(const Args& args) {
    HWND main = RequireMain();
    HWND dialog = RequireSaveDialog(main, IntArg(args, 0, kDefaultWaitMs));
    if (!OwnedDialogs(dialog).empty())
        Fail("refused: the Save As dialog has a box open over it");
    std::string report = SaveDialogJson(dialog);
    PressButton(GetDlgItem(dialog, IDCANCEL));
    if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        TimedOut("the Save As dialog stayed open");
    // The code that opened the dialog goes on once it has closed.
    AfterPosted(main);
    return json::Object().Add("dialog", report).Text();
}

// msgbox [--keep] [--none MS] [--timeout MS]: waits for a message box owned by the main window,
// reports its caption, text, icon and buttons, and presses its only button (unless --keep).
// With --none MS it instead checks that no message box appears for that long.
std::string CmdMsgBox(const Args& args) {
    HWND main = RequireMain();
    bool keep = false;
    int timeoutMs = kDefaultWaitMs, noneMs = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--keep")
            keep = true;
        else if (args[i] == L"--timeout")
            timeoutMs = std::stoi(Need(args, ++i, "ms"));
        else if (args[i] == L"--none")
            noneMs = std::stoi(Need(args, ++i, "ms"));
        else
            Fail("unknown option " + Narrow(args[i]));
    }
    if (noneMs >= 0) {
        HWND seen = nullptr;
        WaitFor(noneMs, [&] {
            for (HWND dialog : OwnedDialogs(main))
                seen = dialog;
            return seen != nullptr;
        });
        if (seen)
            Fail("a box is open: " +
                 (IsMessageBox(seen) ? MessageBoxJson(seen) : SaveDialogJson(seen)));
        return json::Object().Add("none", json::Bool(true)).Text();
    }
    HWND box = WaitForDialog(main, true, timeoutMs, "message box");
    // The box may still be filling in its controls.
    WaitFor(1000, [&] { return !TextOf(GetDlgItem(box, kMessageBoxTextId)).empty(); });
    json::Object result;
    result.Add("box", MessageBoxJson(box));
    result.Add("main_enabled", json::Bool(IsWindowEnabled(main)));
    if (!keep) {
        std::vector<HWND> buttons;
        for (HWND child : Children(box)) {
            if (IsClass(child, L"Button") && IsWindowVisible(child))
                buttons.push_back(child);
        }
        if (buttons.size() != 1)
            Fail("the message box has " + std::to_string(buttons.size()) + " buttons, not one");
        int id = static_cast<int>(GetWindowLongPtrW(buttons.front(), GWLP_ID));
        PressButton(buttons.front());
        if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
            TimedOut("the message box stayed open");
        // The code that showed the box goes on once it has closed.
        AfterPosted(main);
        result.Add("pressed", json::Number(id));
    }
    return result.Text();
}

// record start | record read: logs every text, list line and enabled state that the program
// sets on its main window's controls, with the time of each (see hook_share.h).
struct Recorder {
    HHOOK hook = nullptr;
    LARGE_INTEGER start{};
} g_recorder;

std::string CmdRecord(const Args& args) {
    const std::wstring& action = Need(args, 0, "start|read");
    EnsureShare();
    HookShare& share = *g_hook.share;
    if (action == L"start") {
        HWND main = RequireMain();
        if (g_recorder.hook)
            UnhookWindowsHookEx(g_recorder.hook);
        g_recorder.hook = nullptr;
        share.recordMain = 0;
        InterlockedExchange(&share.recordCount, 0);
        QueryPerformanceCounter(&g_recorder.start);
        share.recordMain = reinterpret_cast<std::uintptr_t>(main);
        g_recorder.hook =
            InstallHook(WH_CALLWNDPROC, kRecordProcName, GetWindowThreadProcessId(main, nullptr));
        return json::Object().Add("recording", json::Bool(true)).Text();
    }
    if (action != L"read")
        Fail("record start or record read");
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    LONG count = share.recordCount;
    json::Array events;
    for (LONG i = 0; i < count && i < static_cast<LONG>(kRecordMaxEvents); ++i) {
        const RecordEvent& event = share.events[i];
        const char* kind = event.kind == RecordText        ? "text"
                           : event.kind == RecordAddLine   ? "add"
                           : event.kind == RecordEnable    ? "enable"
                           : event.kind == RecordReason    ? "reason"
                           : event.kind == RecordReasonEnd ? "reason-end"
                           : event.kind == RecordTaskbar   ? "taskbar"
                           : event.kind == RecordFlash     ? "flash"
                                                           : "destroy";
        json::Object item;
        item.Add("t", json::Number((event.counter - g_recorder.start.QuadPart) * 1000 /
                                   frequency.QuadPart))
            .Add("kind", json::String(Wide(kind)))
            .Add("hwnd", json::Unsigned(event.window));
        if (event.kind == RecordText || event.kind == RecordAddLine || event.kind == RecordReason ||
            event.kind == RecordTaskbar || event.kind == RecordFlash)
            item.Add("text", json::String(event.text)).Add("length", json::Number(event.length));
        if (event.kind == RecordEnable)
            item.Add("enabled", json::Bool(event.enabled != 0));
        events.Add(item.Text());
    }
    return json::Object()
        .Add("events", events.Text())
        .Add("full", json::Bool(count >= static_cast<LONG>(kRecordMaxEvents)))
        .Text();
}

// ui-thread on | off: holds the program's UI thread still between two messages while the download
// worker goes on, so a test can make a user's action arrive in the queue just before the worker's
// outcome (as when a person clicks at the very moment a download ends).
std::string CmdHoldUiThread(const Args& args) {
    HWND main = RequireMain();
    bool hold = Need(args, 0, "on|off") == L"on";
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, kHookReleaseEventName);
    if (!release)
        Fail("cannot create the release event");
    if (hold) {
        ResetEvent(release);
        AskHook(main, HookQueryHold);
        // The hook keeps its own handle to the event while it holds the thread.
    } else {
        SetEvent(release);
    }
    CloseHandle(release);
    return json::Object().Add("held", json::Bool(hold)).Text();
}

// watch-reason: from now on the recorder also logs the program's calls that give Windows (or take
// back) the reason why a logoff or shutdown has to wait, and its requests for attention.
std::string CmdWatchReason(const Args&) {
    HWND main = RequireMain();
    if (!AskHook(main, HookQueryWatchReason).reasonWatched)
        Fail("the program does not import ShutdownBlockReasonCreate, ...Destroy and FlashWindowEx");
    return json::Object().Add("watching", json::Bool(true)).Text();
}

// taskbar-created: what the shell sends a window once its taskbar button exists, and again after
// Explorer has restarted (Wine never sends it).
std::string CmdTaskbarCreated(const Args&) {
    HWND main = RequireMain();
    if (!PostMessageW(main, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0))
        Fail("cannot post TaskbarButtonCreated");
    AfterPosted(main);
    return json::Object().Text();
}

// end-session query | end-session end true|false: what Windows sends the main window at logoff
// (ENDSESSION_LOGOFF). "query" reports the answer to WM_QUERYENDSESSION (0: the program asks to
// wait); "end" sends WM_ENDSESSION and reports how long the program took to return from it.
std::string CmdEndSession(const Args& args) {
    HWND main = RequireMain();
    const std::wstring& action = Need(args, 0, "query|end");
    UINT message = 0;
    WPARAM wParam = 0;
    if (action == L"query") {
        message = WM_QUERYENDSESSION;
    } else if (action == L"end") {
        const std::wstring& ending = Need(args, 1, "true|false");
        if (ending != L"true" && ending != L"false")
            Fail("end-session end true or false");
        message = WM_ENDSESSION;
        wParam = ending == L"true";
    } else {
        Fail("end-session query or end");
    }
    auto start = Clock::now();
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(main, message, wParam, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000, &answer))
        TimedOut("the program did not return within 60 s");
    return json::Object()
        .Add("answer", json::Unsigned(answer))
        .Add("elapsed_ms", json::Number(MillisecondsSince(start)))
        .Text();
}

// shortcut LINK TARGET: makes a Windows shortcut file at LINK that points to TARGET, the way
// Explorer does (the shell's own link object).
std::string CmdShortcut(const Args& args) {
    const std::wstring& link = Need(args, 0, "link path");
    const std::wstring& target = Need(args, 1, "target path");
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* shellLink = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, reinterpret_cast<void**>(&shellLink));
    if (SUCCEEDED(result))
        result = shellLink->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    if (SUCCEEDED(result))
        result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(result))
        result = file->Save(link.c_str(), TRUE);
    if (file)
        file->Release();
    if (shellLink)
        shellLink->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    if (FAILED(result))
        Fail("cannot make the shortcut: HRESULT " + std::to_string(static_cast<unsigned>(result)));
    return json::Object().Add("link", json::String(link)).Text();
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                        &answer);
    return static_cast<LRESULT>(answer);
}

// list-line N: where line N of the session list is on the screen (its top left, its height, its
// middle to click) and which line is selected.
std::string CmdListLine(const Args& args) {
    HWND list = Control(RequireMain(), L"list");
    int height = static_cast<int>(Ask(list, LB_GETITEMHEIGHT));
    RECT client{};
    GetClientRect(list, &client);
    POINT top{0, (std::stoi(Need(args, 0, "line")) - static_cast<int>(Ask(list, LB_GETTOPINDEX))) *
                     height};
    ClientToScreen(list, &top);
    return json::Object()
        .Add("left", json::Number(top.x))
        .Add("top", json::Number(top.y))
        .Add("height", json::Number(height))
        .Add("x", json::Number(top.x + client.right / 2))
        .Add("y", json::Number(top.y + height / 2))
        .Add("selected", json::Number(static_cast<int>(Ask(list, LB_GETCURSEL))))
        .Text();
}

// The first visible top-level window of a class, of one process (0: any) or none.
HWND FindTopLevel(const wchar_t* className, DWORD process) {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, className, nullptr)))
        if (IsWindowVisible(found) && (!process || ProcessOf(found) == process))
            return found;
    return nullptr;
}

// menu | menu --none MS: the popup menu the program shows, with each item's text, whether it is
// the default (bold) one and its place on the screen; or that none shows within MS.
std::string CmdMenu(const Args& args) {
    DWORD process = ProcessOf(RequireMain());
    bool none = args.size() == 2 && args[0] == L"--none";
    HWND menu = nullptr;
    WaitFor(none ? std::stoi(args[1]) : kDefaultWaitMs,
            [&] { return (menu = FindTopLevel(L"#32768", process)) != nullptr; });
    if (none && menu)
        Fail("a menu opened");
    if (none)
        return json::Object().Text();
    if (!menu)
        TimedOut("no menu appeared");
    const HookShare& share = AskHook(menu, HookQueryMenu);
    json::Array items;
    for (std::uint32_t i = 0; i < share.menuCount; ++i)
        items.Add(json::Object()
                      .Add("text", json::String(share.menuItems[i].text))
                      .Add("default", json::Bool(share.menuItems[i].isDefault != 0))
                      .Add("screen", RectJson(share.menuItems[i].screen))
                      .Text());
    RECT rect{};
    GetWindowRect(menu, &rect);
    return json::Object().Add("rect", RectJson(rect)).Add("items", items.Text()).Text();
}

// The texts of the selected items of another process's list view, read through memory lent in
// that process: the list view's messages carry pointers, which are not carried across.
std::vector<std::wstring> SelectedListViewItems(HWND view) {
    std::vector<std::wstring> selected;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                 ProcessOf(view));
    constexpr int kUnits = 512;
    auto* remote = static_cast<BYTE*>(
        process ? VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE) : nullptr);
    for (int i = -1;
         remote && (i = static_cast<int>(Ask(view, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;) {
        LVITEMW item{};
        item.cchTextMax = kUnits;
        item.pszText = reinterpret_cast<LPWSTR>(remote + 1024);
        WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
        std::wstring text(kUnits, L'\0');
        text.resize(
            static_cast<size_t>(Ask(view, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote))));
        ReadProcessMemory(process, remote + 1024, text.data(), text.size() * 2, nullptr);
        selected.push_back(text);
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (process)
        CloseHandle(process);
    return selected;
}

// file-manager: the file manager window the shell opened (Wine's Explorer, ExplorerWClass), its
// title and the items selected in its file list; then it is closed, as the user would close it.
std::string CmdFileManager(const Args&) {
    HWND window = nullptr;
    std::vector<std::wstring> selected;
    // The window shows before its list is filled and the item selected.
    WaitFor(
        20000,
        [&] {
            HWND view = nullptr;
            if ((window = FindTopLevel(L"ExplorerWClass", 0)))
                EnumChildWindows(
                    window,
                    [](HWND child, LPARAM param) -> BOOL {
                        if (!IsClass(child, L"SysListView32"))
                            return TRUE;
                        *reinterpret_cast<HWND*>(param) = child;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&view));
            return window && view && !(selected = SelectedListViewItems(view)).empty();
        },
        100);
    if (selected.empty())
        TimedOut("no file manager window with a selected item appeared");
    json::Array items;
    for (const auto& text : selected)
        items.Add(json::String(text));
    std::string title = json::String(TextOf(window));
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!WaitFor(kDefaultWaitMs, [&] { return !IsWindow(window); }))
        TimedOut("the file manager window stayed open");
    return json::Object().Add("title", title).Add("selected", items.Text()).Text();
}

std::string CmdSleep(const Args& args) {
    SleepMs(IntArg(args, 0, 100));
    return json::Object().Text();
}

const std::map<std::wstring, std::string (*)(const Args&), std::less<>>& CommandTable() {
    static const std::map<std::wstring, std::string (*)(const Args&), std::less<>> table = {
        {L"wait-main", CmdWaitMain},
        {L"wait-gone", CmdWaitGone},
        {L"inspect", CmdInspect},
        {L"focus", CmdFocus},
        {L"key", CmdKey},
        {L"switch", CmdSwitch},
        {L"set-url", CmdSetUrl},
        {L"click", CmdClick},
        {L"mouse-click", CmdMouseClick},
        {L"mouse", CmdMouse},
        {L"caption", CmdCaption},
        {L"close", CmdClose},
        {L"syscommand", CmdSysCommand},
        {L"hittest", CmdHitTest},
        {L"status", CmdStatus},
        {L"text", CmdText},
        {L"list", CmdList},
        {L"enabled", CmdEnabled},
        {L"watch-status", CmdWatchStatus},
        {L"wait-status", CmdWaitStatus},
        {L"dialogs", CmdDialogs},
        {L"save-dialog", CmdSaveDialog},
        {L"confirm-overwrite", CmdConfirmOverwrite},
        {L"save-dialog-cancel", CmdSaveDialogCancel},
        {L"msgbox", CmdMsgBox},
        {L"record", CmdRecord},
        {L"ui-thread", CmdHoldUiThread},
        {L"watch-reason", CmdWatchReason},
        {L"end-session", CmdEndSession},
        {L"taskbar-created", CmdTaskbarCreated},
        {L"shortcut", CmdShortcut},
        {L"sleep", CmdSleep},
        {L"list-line", CmdListLine},
        {L"menu", CmdMenu},
        {L"file-manager", CmdFileManager},
    };
    return table;
}

std::wstring DecodeArg(const std::wstring& arg) {
    if (!arg.starts_with(L"hex:"))
        return arg;
    std::wstring hex = arg.substr(4), text;
    if (hex.size() % 4 != 0)
        Fail("hex: argument needs 4 digits per code unit");
    for (size_t i = 0; i < hex.size(); i += 4)
        text += static_cast<wchar_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
    return text;
}

void WriteLine(const std::string& line) {
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
              nullptr);
}

// Runs one command; returns 0, 1 (failure) or 3 (time-out) and prints its JSON line.
int Run(const std::vector<std::wstring>& words) {
    std::wstring name = words.empty() ? L"" : words[0];
    json::Object head;
    head.Add("cmd", json::String(name));
    try {
        auto command = CommandTable().find(name);
        if (command == CommandTable().end())
            Fail("unknown command " + Narrow(name));
        Args args;
        for (size_t i = 1; i < words.size(); ++i)
            args.push_back(DecodeArg(words[i]));
        std::string body = command->second(args);
        // Merge {"ok":true,"cmd":...} with the command's own members.
        std::string text = "{\"ok\":true,\"cmd\":" + json::String(name);
        if (body.size() > 2)
            text += "," + body.substr(1, body.size() - 2);
        WriteLine(text + "}");
        return 0;
    } catch (const Failure& failure) {
        WriteLine(json::Object()
                      .Add("ok", json::Bool(false))
                      .Add("cmd", json::String(name))
                      .Add("error", json::String(Wide(failure.message)))
                      .Add("timeout", json::Bool(failure.timeout))
                      .Text());
        return failure.timeout ? 3 : 1;
    } catch (const std::exception& error) {
        WriteLine(json::Object()
                      .Add("ok", json::Bool(false))
                      .Add("cmd", json::String(name))
                      .Add("error", json::String(Wide(error.what())))
                      .Add("timeout", json::Bool(false))
                      .Text());
        return 1;
    }
}

// serve: one command per stdin line (words separated by spaces), one JSON line back for each.
int Serve() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    for (;;) {
        size_t newline;
        while ((newline = pending.find('\n')) == std::string::npos) {
            DWORD got = 0;
            if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0)
                return 0;
            pending.append(buffer, got);
        }
        std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::wstring> words;
        size_t at = 0;
        while (at < line.size()) {
            size_t end = line.find(' ', at);
            if (end == std::string::npos)
                end = line.size();
            if (end > at)
                words.emplace_back(line.begin() + at, line.begin() + end);
            at = end + 1;
        }
        if (words.empty())
            continue;
        if (words[0] == L"quit")
            return 0;
        Run(words);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> words(argv + 1, argv + argc);
    if (words.empty()) {
        WriteLine(
            "{\"ok\":false,\"error\":\"usage: qmdriver COMMAND [ARGS...] | qmdriver serve\"}");
        return 2;
    }
    if (words[0] == L"serve")
        return Serve();
    return Run(words);
}
