// The one process-wide state block, zero-initialised before main runs.
#include "download/download_state.h"

AppGlobals appGlobals{};
