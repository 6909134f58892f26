// Key events of the input filter, their mode flags, and the texts by which a
// key-assignment description names keys, devices and flags.
#pragma once

#include <cstdint>

#include "text/string.h"

// A key of the keyboard, the mouse or a joystick.
struct EKeyEvent {
    int32_t device;
    int32_t number;  // joystick index; 0 for keyboard and mouse
    int32_t code;
};
static_assert(sizeof(EKeyEvent) == 12);

enum : int32_t {
    KeyDeviceKeyboard = 0,
    KeyDeviceMouse = 1,
    KeyDeviceJoystick = 2,
};

// Joystick codes: four directions, then 32 buttons.
enum : int32_t {
    JoystickUp = 0,
    JoystickDown = 1,
    JoystickLeft = 2,
    JoystickRight = 3,
    JoystickButton0 = 4,
    JoystickCodeCount = 36,
};

// Virtual-key codes the filter produces and names.
enum : int32_t {
    KeyCodeLeftButton = 1,
    KeyCodeRightButton = 2,
    KeyCodeMiddleButton = 4,
    KeyCodeLeft = 37,
    KeyCodeUp = 38,
    KeyCodeRight = 39,
    KeyCodeDown = 40,
};

enum : uint32_t {
    InputNormal = 0x000,
    InputJoyMouse = 0x001,
    InputStickMouse = 0x002,
    InputStickKey = 0x004,
    InputTransparent = 0x100,
};

// Device, then device number, then code; <0, 0, >0.
int CompareKeyEvents(const EKeyEvent& a, const EKeyEvent& b);
inline bool operator==(const EKeyEvent& a, const EKeyEvent& b) { return CompareKeyEvents(a, b) == 0; }

// "keyboard", "mouse", "joystick"; an unknown name is the keyboard.
int32_t ParseDeviceName(const WideChar* name);
// Null for a device outside the three.
const WideChar* GetDeviceName(int32_t device);

// A "key" text for a key of the device: "up" / "down" / "left" / "right",
// "button:N", "code:N" or "ascii:C". False, with *code 0, for any other text.
bool ParseKeyText(const WideChar* text, int32_t device, int32_t* code);
EWideString FormatKeyText(int32_t device, int32_t code);

// Mode names separated by white space; unknown words add nothing.
uint32_t ParseInputFlags(const WideChar* text);
// The set mode names joined by single spaces, or "normal".
EWideString FormatInputFlags(uint32_t flags);
