// What each backend supplies beneath the shared parts of the seam (common.cpp).
#pragma once

#include "platform/platform.h"

namespace plat::backend {

void DebuggerOutput(const char* text);
Answer AskYesNoCancel(const char* text, const char* caption);

}  // namespace plat::backend
