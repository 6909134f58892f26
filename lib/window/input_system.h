// What the input filter asks of the system: its window, the cursor and the
// joysticks. The production path calls the real functions (Win32: the window
// wrapper, user32 and winmm; other systems have no window and no joystick);
// tests put in their own to feed joystick readings and watch what the
// filter does.
#pragma once

#include <cstdint>

class EWindow;
class EInputFilter;

// The part of a joystick's capabilities the filter uses.
struct EJoystickCaps {
    uint32_t x_min, x_max;
    uint32_t y_min, y_max;
    uint32_t z_min, z_max;
    bool has_z;
};

struct EJoystickPosition {
    uint32_t x, y, z;
    uint32_t buttons;
};

class EInputSystem {
public:
    virtual ~EInputSystem() = default;

    // A message number private to the name; 0 on failure.
    virtual uint32_t RegisterMessage(const char* name) = 0;
    // The wrapper has a window handle that still names a window.
    virtual bool HasLiveWindow(EWindow* window) = 0;
    virtual bool IsWindowThread(EWindow* window) = 0;
    virtual void PostToWindow(EWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
    // The window's SetInputFilter(null), which detaches the filter.
    virtual void RemoveFilter(EWindow* window) = 0;
    virtual void ClientPointToScreen(EWindow* window, int32_t* x, int32_t* y) = 0;
    virtual bool ReadCursor(int32_t* x, int32_t* y) = 0;
    virtual void MoveCursor(int32_t x, int32_t y) = 0;

    // Joysticks by index: 0 is the first system joystick, 1 the second.
    virtual uint32_t GetJoystickDeviceCount() = 0;
    virtual bool GetJoystickCaps(uint32_t index, EJoystickCaps* caps) = 0;
    virtual bool CaptureJoystick(EWindow* window, uint32_t index) = 0;
    virtual void ReleaseJoystick(uint32_t index) = 0;
    virtual void SetJoystickThreshold(uint32_t index, uint32_t threshold) = 0;
    virtual bool ReadJoystick(uint32_t index, EJoystickPosition* position) = 0;
};

// The production system of this target; lives for the whole run.
EInputSystem* GetSystemInputSystem();
