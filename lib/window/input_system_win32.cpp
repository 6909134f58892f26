// The input filter's production system: the window wrapper, user32 and the
// winmm joystick functions.
#include <windows.h>
#include <mmsystem.h>

#include "window/input_system.h"
#include "window/window.h"

// The filter reads these messages by number.
static_assert(WM_CREATE == 0x0001 && WM_ACTIVATE == 0x0006 && WM_KEYDOWN == 0x0100 && WM_KEYUP == 0x0101);
static_assert(WM_TIMER == 0x0113 && WM_MOUSEMOVE == 0x0200 && WM_LBUTTONDOWN == 0x0201 && WM_LBUTTONUP == 0x0202);
static_assert(WM_RBUTTONDOWN == 0x0204 && WM_RBUTTONUP == 0x0205 && WM_MBUTTONDOWN == 0x0207);
static_assert(WM_MBUTTONUP == 0x0208 && WM_MOUSEWHEEL == 0x020A);
static_assert(MM_JOY1MOVE == 0x03A0 && MM_JOY2MOVE == 0x03A1 && MM_JOY1BUTTONDOWN == 0x03B5);
static_assert(MM_JOY2BUTTONDOWN == 0x03B6 && MM_JOY1BUTTONUP == 0x03B7 && MM_JOY2BUTTONUP == 0x03B8);
static_assert(sizeof(JOYCAPSA) == 404 && sizeof(JOYINFOEX) == 52);

namespace {

UINT JoystickId(uint32_t index) { return index == 0 ? JOYSTICKID1 : JOYSTICKID2; }

class Win32InputSystem final : public EInputSystem {
public:
    uint32_t RegisterMessage(const char* name) override { return RegisterWindowMessageA(name); }
    bool HasLiveWindow(EWindow* window) override {
        return window != nullptr && window->GetHandle() != nullptr && IsWindow(window->GetHandle());
    }
    bool IsWindowThread(EWindow* window) override {
        return GetWindowThreadProcessId(window->GetHandle(), nullptr) == GetCurrentThreadId();
    }
    void PostToWindow(EWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
        window->PostMessage(message, wparam, lparam);
    }
    void RemoveFilter(EWindow* window) override { window->SetInputFilter(nullptr); }
    void ClientPointToScreen(EWindow* window, int32_t* x, int32_t* y) override {
        POINT p{*x, *y};
        window->ClientToScreen(&p);
        *x = p.x;
        *y = p.y;
    }
    bool ReadCursor(int32_t* x, int32_t* y) override {
        POINT p{};
        if (!GetCursorPos(&p)) return false;
        *x = p.x;
        *y = p.y;
        return true;
    }
    void MoveCursor(int32_t x, int32_t y) override { SetCursorPos(x, y); }

    uint32_t GetJoystickDeviceCount() override { return joyGetNumDevs(); }
    bool GetJoystickCaps(uint32_t index, EJoystickCaps* caps) override {
        JOYCAPSA c{};
        if (joyGetDevCapsA(JoystickId(index), &c, sizeof c) != JOYERR_NOERROR) return false;
        *caps = {c.wXmin, c.wXmax, c.wYmin, c.wYmax, c.wZmin, c.wZmax, (c.wCaps & JOYCAPS_HASZ) != 0};
        return true;
    }
    bool CaptureJoystick(EWindow* window, uint32_t index) override {
        return joySetCapture(window->GetHandle(), JoystickId(index), 15, FALSE) == JOYERR_NOERROR;
    }
    void ReleaseJoystick(uint32_t index) override { joyReleaseCapture(JoystickId(index)); }
    void SetJoystickThreshold(uint32_t index, uint32_t threshold) override {
        joySetThreshold(JoystickId(index), threshold);
    }
    bool ReadJoystick(uint32_t index, EJoystickPosition* position) override {
        JOYINFOEX info{};
        info.dwSize = sizeof info;
        info.dwFlags = JOY_RETURNALL;
        if (joyGetPosEx(JoystickId(index), &info) != JOYERR_NOERROR) return false;
        *position = {info.dwXpos, info.dwYpos, info.dwZpos, info.dwButtons};
        return true;
    }
};

}  // namespace

EInputSystem* GetSystemInputSystem() {
    static Win32InputSystem system;
    return &system;
}
