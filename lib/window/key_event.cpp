#include "window/key_event.h"

namespace {

struct FlagName {
    const WideChar* name;
    uint32_t value;
};
const FlagName kFlagNames[] = {
    {HVB_WTEXT("joy_mouse"), InputJoyMouse},
    {HVB_WTEXT("stick_mouse"), InputStickMouse},
    {HVB_WTEXT("stick_key"), InputStickKey},
    {HVB_WTEXT("transparent"), InputTransparent},
};

const WideChar* const kDeviceNames[] = {HVB_WTEXT("keyboard"), HVB_WTEXT("mouse"), HVB_WTEXT("joystick")};

// Direction names in joystick code order, with their virtual-key codes.
struct Direction {
    const WideChar* name;
    int32_t joystick;
    int32_t key;
};
const Direction kDirections[] = {
    {HVB_WTEXT("up"), JoystickUp, KeyCodeUp},
    {HVB_WTEXT("down"), JoystickDown, KeyCodeDown},
    {HVB_WTEXT("left"), JoystickLeft, KeyCodeLeft},
    {HVB_WTEXT("right"), JoystickRight, KeyCodeRight},
};

bool Equal(const WideChar* a, const WideChar* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

// The rest of text after prefix, or null.
const WideChar* After(const WideChar* text, const char* prefix) {
    for (; *prefix != 0; ++prefix, ++text) {
        if (*text != static_cast<WideChar>(*prefix)) return nullptr;
    }
    return text;
}

// Decimal digits with an optional minus sign, all of text, within 32 bits.
bool ParseDecimal(const WideChar* text, int32_t* value) {
    const bool negative = *text == '-';
    if (negative) ++text;
    if (*text == 0) return false;
    int64_t v = 0;
    for (; *text != 0; ++text) {
        if (*text < '0' || *text > '9') return false;
        v = v * 10 + (*text - '0');
        if (v > 0x80000000LL) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool IsSpace(WideChar c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

int CompareKeyEvents(const EKeyEvent& a, const EKeyEvent& b) {
    if (a.device != b.device) return a.device < b.device ? -1 : 1;
    if (a.number != b.number) return a.number < b.number ? -1 : 1;
    if (a.code != b.code) return a.code < b.code ? -1 : 1;
    return 0;
}

int32_t ParseDeviceName(const WideChar* name) {
    for (int32_t i = 0; i < 3; ++i) {
        if (name != nullptr && Equal(name, kDeviceNames[i])) return i;
    }
    return KeyDeviceKeyboard;
}

const WideChar* GetDeviceName(int32_t device) {
    return device >= 0 && device < 3 ? kDeviceNames[device] : nullptr;
}

bool ParseKeyText(const WideChar* text, int32_t device, int32_t* code) {
    *code = 0;
    if (text == nullptr) return false;
    for (const Direction& d : kDirections) {
        if (Equal(text, d.name)) {
            *code = device == KeyDeviceJoystick ? d.joystick : d.key;
            return true;
        }
    }
    int32_t n = 0;
    if (const WideChar* rest = After(text, "button:")) {
        if (!ParseDecimal(rest, &n) || n < 0 || n > INT32_MAX - JoystickButton0) return false;
        *code = n + JoystickButton0;
        return true;
    }
    if (const WideChar* rest = After(text, "code:")) {
        if (!ParseDecimal(rest, &n)) return false;
        *code = n;
        return true;
    }
    if (const WideChar* rest = After(text, "ascii:")) {
        if (rest[0] == 0 || rest[1] != 0) return false;
        *code = static_cast<uint16_t>(rest[0]);
        return true;
    }
    return false;
}

EWideString FormatKeyText(int32_t device, int32_t code) {
    if (device == KeyDeviceJoystick) {
        if (code > JoystickRight) return EWideString(HVB_WTEXT("button:")) + EWideString(code - JoystickButton0, 0);
        if (code >= 0) return EWideString(kDirections[code].name);
    } else {
        for (const Direction& d : kDirections) {
            if (code == d.key) return EWideString(d.name);
        }
        if (code >= 'A' && code <= 'Z') return EWideString(HVB_WTEXT("ascii:")) + EWideString(static_cast<WideChar>(code));
    }
    return EWideString(HVB_WTEXT("code:")) + EWideString(code, 0);
}

uint32_t ParseInputFlags(const WideChar* text) {
    uint32_t flags = 0;
    if (text == nullptr) return 0;
    while (*text != 0) {
        while (IsSpace(*text)) ++text;
        const WideChar* start = text;
        while (*text != 0 && !IsSpace(*text)) ++text;
        if (text == start) break;
        for (const FlagName& f : kFlagNames) {
            uint32_t i = 0;
            while (start + i < text && f.name[i] == start[i]) ++i;
            if (start + i == text && f.name[i] == 0) flags |= f.value;
        }
    }
    return flags;
}

EWideString FormatInputFlags(uint32_t flags) {
    EWideString out;
    for (const FlagName& f : kFlagNames) {
        if ((flags & f.value) == 0) continue;
        if (!out.IsEmpty()) out.AppendChar(' ');
        out.Append(f.name);
    }
    if (out.IsEmpty()) out = HVB_WTEXT("normal");
    return out;
}
