// Systems without windows: no window is ever live and there are no
// joysticks, so the filter only maps, queues and keeps state.
#include "window/input_system.h"

namespace {

class NoWindowSystem final : public EInputSystem {
public:
    uint32_t RegisterMessage(const char*) override { return 0xC000; }
    bool HasLiveWindow(EWindow*) override { return false; }
    bool IsWindowThread(EWindow*) override { return false; }
    void PostToWindow(EWindow*, uint32_t, uintptr_t, intptr_t) override {}
    void RemoveFilter(EWindow*) override {}
    void ClientPointToScreen(EWindow*, int32_t*, int32_t*) override {}
    bool ReadCursor(int32_t*, int32_t*) override { return false; }
    void MoveCursor(int32_t, int32_t) override {}
    uint32_t GetJoystickDeviceCount() override { return 0; }
    bool GetJoystickCaps(uint32_t, EJoystickCaps*) override { return false; }
    bool CaptureJoystick(EWindow*, uint32_t) override { return false; }
    void ReleaseJoystick(uint32_t) override {}
    void SetJoystickThreshold(uint32_t, uint32_t) override {}
    bool ReadJoystick(uint32_t, EJoystickPosition*) override { return false; }
};

}  // namespace

EInputSystem* GetSystemInputSystem() {
    static NoWindowSystem system;
    return &system;
}
