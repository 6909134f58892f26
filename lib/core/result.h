// Result codes of library operations. Small values are standard codes; any
// value with one of its upper 16 bits set is the address of a static message
// text describing the failure.
#pragma once

#include <cstdint>

// As wide as an address, so that a message result holds its text's address
// whole: 32 bits on the 32-bit builds, 64 on a 64-bit one.
using ResultCode = intptr_t;

enum : ResultCode {
    ResultSuccess = 0,
    ResultGeneralError = 1,
    ResultAborted = 2,
    ResultInvalidParameter = 3,
    ResultTimeout = 4,
    ResultPending = 5,
    ResultContinuing = 6,
    ResultNotImplemented = -1,
};

// The text of a result: the standard text of a known code, the message itself
// for a message result, or the text for unknown codes.
const char* GetResultText(ResultCode code);

// A message result: the address of a text that lives for the whole run.
inline ResultCode MessageResult(const char* text) {
    return static_cast<ResultCode>(reinterpret_cast<uintptr_t>(text));
}
