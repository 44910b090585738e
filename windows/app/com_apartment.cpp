// The UI thread's COM apartment, which the taskbar button and the shell's file commands need. It
// is entered on first use rather than at start-up, so that ole32 is loaded only then, and it is
// kept until the process ends: the window is the process, so nothing is left to release it for.
// UI thread only.
#include <objbase.h>

#include "app/main_window.h"

bool EnsureComApartment() {
    static bool entered = false;
    if (!entered) {
        // S_FALSE (already entered) counts as entered too; RPC_E_CHANGED_MODE cannot happen on a
        // thread that nothing else initialised.
        entered =
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    return entered;
}
