// The UI language of this run, read once at start-up from the locale variables of the
// environment, where Linux keeps the user's language (see core/ui_language.h for the rule).
#pragma once

#include <cstdlib>

#include "core/ui_language.h"

inline bool RussianUiFromEnvironment() {
    return core::IsRussianLocale(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                 std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}
