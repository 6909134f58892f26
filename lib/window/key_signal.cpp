#include "window/key_signal.h"

EKeySignal::EKeySignal() : handle_(plat::CreateManualResetEvent(false)) {}

EKeySignal::~EKeySignal() {
    if (handle_ != nullptr) plat::CloseEvent(handle_);
}

void EKeySignal::Set() {
    if (handle_ != nullptr) plat::SetEvent(handle_);
}

void EKeySignal::Reset() {
    if (handle_ != nullptr) plat::ResetEvent(handle_);
}

EKeySignal::WaitResult EKeySignal::Wait(uint32_t milliseconds, bool with_messages) {
    if (handle_ == nullptr) return Failed;
    return plat::WaitForEvent(handle_, milliseconds, with_messages);
}
