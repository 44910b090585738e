// The one process-wide state block, zero-initialised before wWinMain runs.
#include "download/download_state.h"

AppGlobals appGlobals{};
