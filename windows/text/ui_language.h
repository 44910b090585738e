// The language rule, read from the Windows language identifier (see core/ui_language.h).
#pragma once

#include "core/ui_language.h"

using core::IsRussianUiLanguage;
