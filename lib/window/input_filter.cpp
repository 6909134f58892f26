#include "window/input_filter.h"

#include <algorithm>
#include <cmath>
#include <new>

// The messages the filter reads, by their Win32 numbers (the win32 system
// checks them against the headers).
namespace input_message {
constexpr uint32_t kCreate = 0x0001;
constexpr uint32_t kDestroy = 0x0002;
constexpr uint32_t kActivate = 0x0006;
constexpr uint32_t kKeyDown = 0x0100;
constexpr uint32_t kKeyUp = 0x0101;
constexpr uint32_t kTimer = 0x0113;
constexpr uint32_t kMouseMove = 0x0200;
constexpr uint32_t kLButtonDown = 0x0201;
constexpr uint32_t kLButtonUp = 0x0202;
constexpr uint32_t kRButtonDown = 0x0204;
constexpr uint32_t kRButtonUp = 0x0205;
constexpr uint32_t kMButtonDown = 0x0207;
constexpr uint32_t kMButtonUp = 0x0208;
constexpr uint32_t kMouseWheel = 0x020A;
constexpr uint32_t kJoy1Move = 0x03A0;
constexpr uint32_t kJoy2Move = 0x03A1;
constexpr uint32_t kJoy1ButtonDown = 0x03B5;
constexpr uint32_t kJoy2ButtonDown = 0x03B6;
constexpr uint32_t kJoy1ButtonUp = 0x03B7;
constexpr uint32_t kJoy2ButtonUp = 0x03B8;
}  // namespace input_message

namespace {

const char kBadKey[] = "キー指定が不正です。\n";

struct Lock {
    explicit Lock(plat::CriticalSection* cs) : cs_(cs) { plat::EnterCriticalSection(cs_); }
    ~Lock() { plat::LeaveCriticalSection(cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    plat::CriticalSection* cs_;
};

// One side of a "key_assign": an "input" or "output" element.
EKeyEvent ReadKey(const EDescription* node) {
    EKeyEvent key{};
    key.device = ParseDeviceName(node->GetAttributeString(HVB_WTEXT("device"), HVB_WTEXT("")));
    key.number = node->GetAttributeInteger(HVB_WTEXT("device_number"), 0);
    const EWideString* text = node->FindAttribute(HVB_WTEXT("key"));
    if (!ParseKeyText(text != nullptr ? text->GetString() : nullptr, key.device, &key.code)) {
        plat::DebugTrace(kBadKey);
    }
    return key;
}

EDescription* NewElement(const WideChar* tag) {
    auto* node = new (std::nothrow) EDescription;
    if (node != nullptr) node->SetTag(tag);
    return node;
}

void WriteKey(EDescription* parent, const WideChar* tag, const EKeyEvent& key) {
    EDescription* node = NewElement(tag);
    if (node == nullptr) return;
    const WideChar* device = GetDeviceName(key.device);
    node->SetAttributeString(HVB_WTEXT("device"), device != nullptr ? device : HVB_WTEXT(""));
    node->SetAttributeInteger(HVB_WTEXT("device_number"), key.number);
    node->SetAttributeString(HVB_WTEXT("key"), FormatKeyText(key.device, key.code));
    parent->AddChild(node);
}

// Axis position scaled to -1 .. 1; 0 for a range the driver reports empty.
float Normalise(uint32_t value, uint32_t low, uint32_t high) {
    if (high <= low) return 0.0f;
    return static_cast<float>(static_cast<double>(value) - low) * 2.0f / static_cast<float>(high - low) - 1.0f;
}

// A threshold from a key file as a fraction of the axis range: the driver
// takes it as an unsigned count, which a negative or NaN value is not.
float JoystickFraction(double value) {
    if (std::isnan(value)) return EInputFilter::kDefaultJoystickThreshold;
    return static_cast<float>(std::clamp(value, 0.0, 1.0));
}

}  // namespace

EInputFilter::EInputFilter() : system_(GetSystemInputSystem()) {
    plat::InitializeCriticalSection(&lock_);
    begin_message_ = system_->RegisterMessage(kBeginFilterMessage);
}

EInputFilter::~EInputFilter() {
    if (window_ != nullptr) system_->RemoveFilter(window_);
    {
        Lock lock(&lock_);
        table_.RemoveAll();
        for (uint32_t i = 0; i < joysticks_.GetCount(); ++i) delete joysticks_.GetAt(i);
        joysticks_.RemoveAll();
    }
    plat::DeleteCriticalSection(&lock_);
}

void EInputFilter::SetSystem(EInputSystem* system) {
    system_ = system != nullptr ? system : GetSystemInputSystem();
    begin_message_ = system_->RegisterMessage(kBeginFilterMessage);
}

void EInputFilter::SetMouseParameters(int32_t base_x, int32_t base_y, int32_t threshold) {
    // The values come from a key file; a mouse position is a 16-bit client
    // coordinate, so a base outside that range could never be reached and
    // its distances would overflow.
    base_x_ = std::clamp<int32_t>(base_x, INT16_MIN, INT16_MAX);
    base_y_ = std::clamp<int32_t>(base_y, INT16_MIN, INT16_MAX);
    mouse_threshold_ = std::max<int32_t>(threshold, 0);
    flags_ |= InputJoyMouse;
}

void EInputFilter::SetJoystickThreshold(float fraction) {
    fraction = JoystickFraction(fraction);
    joystick_threshold_ = fraction;
    for (uint32_t i = 0; i < 2; ++i) {
        if ((capture_ & (1u << i)) == 0) continue;
        const double range = caps_[i].x_max >= caps_[i].x_min ? caps_[i].x_max - caps_[i].x_min : 0;
        system_->SetJoystickThreshold(i, static_cast<uint32_t>(range * fraction * 0.5));
    }
}

void EInputFilter::SetJoystickCount(int32_t count) {
    if (count < 0) count = 0;
    if (count > kMaxJoystickCount) count = kMaxJoystickCount;
    Lock lock(&lock_);
    for (uint32_t i = 0; i < joysticks_.GetCount(); ++i) delete joysticks_.GetAt(i);
    joysticks_.RemoveAll();
    for (int32_t i = 0; i < count; ++i) {
        auto* block = new (std::nothrow) JoystickWords{};
        if (block == nullptr || !joysticks_.Add(block)) {
            delete block;
            break;
        }
    }
}

uint32_t EInputFilter::GetJoystickCount() {
    Lock lock(&lock_);
    return joysticks_.GetCount();
}

void EInputFilter::SetAssignment(const EKeyEvent& input, const EKeyEvent& output) {
    Lock lock(&lock_);
    table_.Set(input, output);
}

void EInputFilter::RemoveAssignment(const EKeyEvent& input) {
    Lock lock(&lock_);
    table_.Remove(input);
}

bool EInputFilter::FindAssignment(const EKeyEvent& input, EKeyEvent* output) {
    Lock lock(&lock_);
    const EKeyEvent* found = table_.Find(input);
    if (found != nullptr) *output = *found;
    return found != nullptr;
}

void EInputFilter::ListInputsFor(const EKeyEvent& output, EPtrArray* inputs) {
    Lock lock(&lock_);
    table_.ListInputsFor(output, inputs);
}

uint32_t EInputFilter::GetAssignmentCount() {
    Lock lock(&lock_);
    return table_.GetCount();
}

bool EInputFilter::GetAssignmentAt(uint32_t index, EKeyAssignment* assignment) {
    Lock lock(&lock_);
    const EKeyAssignment* item = table_.GetAt(index);
    if (item != nullptr) *assignment = *item;
    return item != nullptr;
}

ResultCode EInputFilter::WaitKeyEvent(EKeyEvent* event, uint32_t milliseconds, bool with_messages) {
    return queue_.Wait(event, milliseconds, with_messages);
}

void EInputFilter::GetJoystickState(uint32_t index, float* x, float* y, float* z) {
    *x = *y = *z = 0.0f;
    if (index < 2 && (capture_ & (1u << index)) != 0) {
        *x = axes_[index][0];
        *y = axes_[index][1];
        *z = axes_[index][2];
        return;
    }
    Lock lock(&lock_);
    const JoystickWords* state = joysticks_.GetAt(index);
    if (state == nullptr) return;
    if (state->words[JoystickUp] & kDown) *y = -1.0f;
    if (state->words[JoystickDown] & kDown) *y += 1.0f;
    if (state->words[JoystickLeft] & kDown) *x = -1.0f;
    if (state->words[JoystickRight] & kDown) *x += 1.0f;
}

void EInputFilter::UpdateWord(uint32_t* word, bool pressed) {
    *word = pressed ? (*word + 1) | kDown : *word & ~kDown;
}

bool EInputFilter::DispatchKey(const EKeyEvent& event, bool pressed) {
    EKeyEvent final_event;
    bool found;
    bool post;
    {
        Lock lock(&lock_);
        found = table_.Resolve(event, &final_event);
        if (final_event.device == KeyDeviceJoystick && final_event.code >= 0 && final_event.code < JoystickCodeCount &&
            final_event.number >= 0 && static_cast<uint32_t>(final_event.number) < joysticks_.GetCount()) {
            UpdateWord(&joysticks_.GetAt(final_event.number)->words[final_event.code], pressed);
        }
        post = found && final_event.device == KeyDeviceKeyboard && (flags_ & InputStickKey) != 0 &&
               table_.Find(final_event) == nullptr;
    }
    if (pressed) queue_.Push(final_event);
    if (post && window_ != nullptr) {
        system_->PostToWindow(window_, pressed ? input_message::kKeyDown : input_message::kKeyUp,
                              static_cast<uintptr_t>(final_event.code), 0);
    }
    return found;
}

void EInputFilter::PressAndRelease(const EKeyEvent& event) {
    DispatchKey(event, true);
    DispatchKey(event, false);
}

void EInputFilter::MoveCursorToClient(int32_t x, int32_t y) {
    if (window_ == nullptr) return;
    system_->ClientPointToScreen(window_, &x, &y);
    system_->MoveCursor(x, y);
}

bool EInputFilter::HandleMouseMove(intptr_t lparam) {
    const int32_t x = static_cast<int16_t>(lparam & 0xFFFF);
    const int32_t y = static_cast<int16_t>((lparam >> 16) & 0xFFFF);
    int32_t dx = x - base_x_;
    int32_t dy = y - base_y_;
    const int32_t step = mouse_threshold_;
    bool moved = false;
    // A threshold below one pixel would never use the distance up.
    if (step > 0) {
        // One message runs a bounded number of steps, under the window's
        // lock; a longer jump is not carried over.
        const auto drain = [&](int32_t* d, int32_t positive, int32_t negative) {
            const int32_t code = *d >= 0 ? positive : negative;
            const int32_t distance = *d >= 0 ? *d : -*d;
            const int32_t steps = distance / step < kMaxMouseSteps ? distance / step : kMaxMouseSteps;
            for (int32_t i = 0; i < steps; ++i) PressAndRelease({KeyDeviceJoystick, 0, code});
            if (steps > 0) moved = true;
            *d %= step;
        };
        drain(&dx, JoystickRight, JoystickLeft);
        drain(&dy, JoystickDown, JoystickUp);
    }
    if (moved) MoveCursorToClient(base_x_ + dx, base_y_ + dy);
    return Swallow();
}

void EInputFilter::HandleStickMouse() {
    int32_t x = 0;
    int32_t y = 0;
    if (!system_->ReadCursor(&x, &y)) return;
    int32_t nx = x;
    int32_t ny = y;
    {
        Lock lock(&lock_);
        for (uint32_t i = 0; i < joysticks_.GetCount(); ++i) {
            const uint32_t* w = joysticks_.GetAt(i)->words;
            if (w[JoystickUp] & kDown) ny -= 2;
            if (w[JoystickDown] & kDown) ny += 2;
            if (w[JoystickLeft] & kDown) nx -= 2;
            if (w[JoystickRight] & kDown) nx += 2;
        }
    }
    if (nx != x || ny != y) system_->MoveCursor(nx, ny);
}

bool EInputFilter::FilterMessage(const EMessageRecord* record) {
    namespace m = input_message;
    if (window_ == nullptr) return false;
    const uint32_t message = record->message;
    const auto button = [&](int32_t code, bool pressed) {
        return DispatchKey({KeyDeviceMouse, 0, code}, pressed) && Swallow();
    };
    switch (message) {
        case m::kCreate:
            BeginFilter();
            return false;
        case m::kDestroy:
            // A capture kept past its window would stop a new window of the
            // same wrapper from capturing at WM_CREATE.
            ReleaseJoysticks();
            return false;
        case m::kActivate:
            if ((record->wparam & 0xFFFF) != 0 && (flags_ & InputJoyMouse) != 0) MoveCursorToClient(base_x_, base_y_);
            return false;
        case m::kKeyDown:
        case m::kKeyUp:
            return DispatchKey({KeyDeviceKeyboard, 0, static_cast<int32_t>(record->wparam)}, message == m::kKeyDown) &&
                   Swallow();
        case m::kLButtonDown:
        case m::kLButtonUp:
            return button(KeyCodeLeftButton, message == m::kLButtonDown);
        case m::kRButtonDown:
        case m::kRButtonUp:
            return button(KeyCodeRightButton, message == m::kRButtonDown);
        case m::kMButtonDown:
        case m::kMButtonUp:
            return button(KeyCodeMiddleButton, message == m::kMButtonDown);
        case m::kMouseWheel:
            PressAndRelease({KeyDeviceMouse, 0, static_cast<int32_t>(record->wparam) >= 0 ? KeyCodeDown : KeyCodeUp});
            return Swallow();
        case m::kMouseMove:
            return (flags_ & InputJoyMouse) != 0 ? HandleMouseMove(record->lparam) : false;
        case m::kTimer:
            if (record->wparam == 1 && (flags_ & (InputStickMouse | InputJoyMouse)) == InputStickMouse) {
                HandleStickMouse();
            }
            return false;
        case m::kJoy1Move:
        case m::kJoy1ButtonDown:
        case m::kJoy1ButtonUp:
            PollJoystick(0);
            return Swallow();
        case m::kJoy2Move:
        case m::kJoy2ButtonDown:
        case m::kJoy2ButtonUp:
            PollJoystick(1);
            return Swallow();
        default:
            if (begin_message_ != 0 && message == begin_message_) BeginFilter();
            return false;
    }
}

void EInputFilter::PollJoystick(uint32_t index) {
    if (index >= 2) return;
    EJoystickPosition p{};
    if (!system_->ReadJoystick(index, &p)) return;
    const EJoystickCaps& c = caps_[index];
    float* axes = axes_[index];
    axes[0] = Normalise(p.x, c.x_min, c.x_max);
    axes[1] = Normalise(p.y, c.y_min, c.y_max);
    axes[2] = c.has_z ? Normalise(p.z, c.z_min, c.z_max) : 0.0f;
    bool down[JoystickCodeCount];
    down[JoystickUp] = axes[1] < -0.5f;
    down[JoystickDown] = axes[1] > 0.5f;
    down[JoystickLeft] = axes[0] < -0.5f;
    down[JoystickRight] = axes[0] > 0.5f;
    for (int32_t n = 0; n < 32; ++n) down[JoystickButton0 + n] = (p.buttons >> n & 1) != 0;
    for (int32_t code = 0; code < JoystickCodeCount; ++code) {
        uint32_t* word = &physical_[index].words[code];
        if (((*word & kDown) != 0) == down[code]) continue;
        UpdateWord(word, down[code]);
        DispatchKey({KeyDeviceJoystick, static_cast<int32_t>(index), code}, down[code]);
    }
}

ResultCode EInputFilter::BeginFilter() {
    if (window_ == nullptr || !system_->HasLiveWindow(window_)) return ResultGeneralError;
    if (!system_->IsWindowThread(window_)) {
        // Joystick capture belongs to the window's thread.
        system_->PostToWindow(window_, begin_message_, 0, 0);
        return ResultSuccess;
    }
    queue_.Clear();
    if (capture_ == 0 && system_->GetJoystickDeviceCount() != 0) {
        for (uint32_t i = 0; i < 2; ++i) {
            if (system_->GetJoystickCaps(i, &caps_[i]) && system_->CaptureJoystick(window_, i)) capture_ |= 1u << i;
        }
        if (capture_ != 0) {
            for (uint32_t i = 0; i < 2; ++i) {
                axes_[i][0] = axes_[i][1] = axes_[i][2] = 0.0f;
                physical_[i] = JoystickWords{};
            }
            SetJoystickThreshold(joystick_threshold_);
        }
    }
    if ((flags_ & InputJoyMouse) != 0) MoveCursorToClient(base_x_, base_y_);
    return ResultSuccess;
}

void EInputFilter::AttachWindow(EWindow* window) {
    // One window at a time: the previous one lets go of this filter, so it
    // keeps no pointer to it.
    if (window_ != nullptr && window_ != window) system_->RemoveFilter(window_);
    window_ = window;
    if (window != nullptr && system_->HasLiveWindow(window)) BeginFilter();
}

void EInputFilter::ReleaseJoysticks() {
    for (uint32_t i = 0; i < 2; ++i) {
        if ((capture_ & (1u << i)) != 0) system_->ReleaseJoystick(i);
    }
    capture_ = 0;
}

void EInputFilter::DetachWindow(EWindow* window) {
    // Another window letting go of this filter must not detach it from the
    // window that holds it now.
    if (window != window_) return;
    // A capture left behind would keep the joystick from the next window.
    ReleaseJoysticks();
    window_ = nullptr;
}

ResultCode EInputFilter::LoadDescription(const EDescription* element) {
    if (window_ != nullptr) system_->RemoveFilter(window_);
    {
        Lock lock(&lock_);
        table_.RemoveAll();
    }
    const EDescription* filter = element != nullptr ? element->FindChild(0, HVB_WTEXT("filter")) : nullptr;
    if (filter == nullptr) return ResultGeneralError;

    flags_ = ParseInputFlags(filter->GetAttributeString(HVB_WTEXT("flags"), HVB_WTEXT("")));
    if ((flags_ & InputJoyMouse) != 0) {
        SetMouseParameters(filter->GetAttributeInteger(HVB_WTEXT("mouse_base_x"), 320),
                           filter->GetAttributeInteger(HVB_WTEXT("mouse_base_y"), 160),
                           filter->GetAttributeInteger(HVB_WTEXT("mouse_threshold"), 16));
    }
    SetJoystickThreshold(
        JoystickFraction(filter->GetAttributeReal(HVB_WTEXT("joystick_threshold"), kDefaultJoystickThreshold)));
    SetJoystickCount(filter->GetAttributeInteger(HVB_WTEXT("joystick_count"), 2));

    int32_t next = 0;
    while (next >= 0) {
        const EDescription* assign = filter->FindChild(next, HVB_WTEXT("key_assign"), &next);
        if (assign == nullptr) break;
        const EDescription* input = assign->FindChild(0, HVB_WTEXT("input"));
        const EDescription* output = assign->FindChild(0, HVB_WTEXT("output"));
        if (input == nullptr || output == nullptr) continue;
        const EKeyEvent in = ReadKey(input);
        const EKeyEvent out = ReadKey(output);
        SetAssignment(in, out);
    }
    return ResultSuccess;
}

void EInputFilter::SaveDescription(EDescription* element) {
    EDescription* filter = NewElement(HVB_WTEXT("filter"));
    if (filter == nullptr) return;
    filter->SetAttributeString(HVB_WTEXT("flags"), FormatInputFlags(flags_));
    if ((flags_ & InputJoyMouse) != 0) {
        filter->SetAttributeInteger(HVB_WTEXT("mouse_base_x"), base_x_);
        filter->SetAttributeInteger(HVB_WTEXT("mouse_base_y"), base_y_);
        filter->SetAttributeInteger(HVB_WTEXT("mouse_threshold"), mouse_threshold_);
    }
    filter->SetAttributeReal(HVB_WTEXT("joystick_threshold"), joystick_threshold_);
    Lock lock(&lock_);
    filter->SetAttributeInteger(HVB_WTEXT("joystick_count"), static_cast<int32_t>(joysticks_.GetCount()));
    for (uint32_t i = 0; i < table_.GetCount(); ++i) {
        EDescription* assign = NewElement(HVB_WTEXT("key_assign"));
        if (assign == nullptr) break;
        WriteKey(assign, HVB_WTEXT("input"), table_.GetAt(i)->input);
        WriteKey(assign, HVB_WTEXT("output"), table_.GetAt(i)->output);
        filter->AddChild(assign);
    }
    element->AddChild(filter);
}
