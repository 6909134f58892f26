// The input filter: sits in front of a window's message handling and turns
// keyboard, mouse and joystick messages into one stream of key events,
// mapped through an assignment table and queued for a game thread. Its
// settings and assignments are kept in a "filter" element of a description.
//
// The window's thread runs FilterMessage; game threads may call
// WaitKeyEvent, GetJoystickState and the assignment operations.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "platform/platform.h"
#include "text/ptr_array.h"
#include "window/input_system.h"
#include "window/key_event.h"
#include "window/key_queue.h"
#include "window/key_table.h"
#include "xml/description.h"

// A message as the filter and a window interface see it; the last three
// fields are the handler's own.
struct EMessageRecord {
    void* window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    uint32_t user[3];
};

class EInputFilter : public HVBObject {
    HVB_DECLARE_CLASS(EInputFilter, HVBObject)

public:
    static constexpr char kBeginFilterMessage[] = "EInputFilter_BeginFilter";
    // Joystick counts beyond this in a description are cut to it: each one
    // costs a block, and the count comes from a file.
    static constexpr int32_t kMaxJoystickCount = 256;
    // Joystick steps one mouse message makes per axis at most.
    static constexpr int32_t kMaxMouseSteps = 64;
    static constexpr float kDefaultJoystickThreshold = 0.01f;

    EInputFilter();
    ~EInputFilter() override;
    EInputFilter(const EInputFilter&) = delete;
    EInputFilter& operator=(const EInputFilter&) = delete;

    // True: the window must not process the message.
    virtual bool FilterMessage(const EMessageRecord* record);
    virtual void AttachWindow(EWindow* window);
    virtual void DetachWindow(EWindow* window);
    virtual EWindow* GetWindow() const { return window_; }

    void SetFlags(uint32_t flags) { flags_ = flags; }
    uint32_t GetFlags() const { return flags_; }
    // Also sets "joy_mouse". The base point is held to 16-bit coordinates;
    // a threshold of 0 (or below) makes no steps.
    void SetMouseParameters(int32_t base_x, int32_t base_y, int32_t threshold);
    int32_t GetMouseBaseX() const { return base_x_; }
    int32_t GetMouseBaseY() const { return base_y_; }
    int32_t GetMouseThreshold() const { return mouse_threshold_; }
    // Held to 0 .. 1; NaN is the default.
    void SetJoystickThreshold(float fraction);
    float GetJoystickThreshold() const { return joystick_threshold_; }
    void SetJoystickCount(int32_t count);
    uint32_t GetJoystickCount();

    void SetAssignment(const EKeyEvent& input, const EKeyEvent& output);
    void RemoveAssignment(const EKeyEvent& input);
    // Copies the output under the lock (another thread may change the
    // table); false when the input has no assignment.
    bool FindAssignment(const EKeyEvent& input, EKeyEvent* output);
    // Appends a new EKeyEvent for every input assigned to output; the caller
    // owns them.
    void ListInputsFor(const EKeyEvent& output, EPtrArray* inputs);
    // Each assignment in input order, under the lock.
    uint32_t GetAssignmentCount();
    bool GetAssignmentAt(uint32_t index, EKeyAssignment* assignment);

    void SetQueueCapacity(uint32_t capacity) { queue_.SetCapacity(capacity); }
    // 0 and the oldest event, or ResultTimeout.
    ResultCode WaitKeyEvent(EKeyEvent* event, uint32_t milliseconds, bool with_messages);
    void GetJoystickState(uint32_t index, float* x, float* y, float* z);

    // 1 when element has no "filter" child.
    ResultCode LoadDescription(const EDescription* element);
    void SaveDescription(EDescription* element);

    // (Re)starts joystick capture on the window's own thread; 1 without a
    // live window.
    ResultCode BeginFilter();
    // Maps a key through the table, queues it when pressed and keeps the
    // virtual joysticks; whether the key has an assignment.
    bool DispatchKey(const EKeyEvent& event, bool pressed);
    void PollJoystick(uint32_t index);

    // Tests replace the system; null restores the production one.
    void SetSystem(EInputSystem* system);
    uint32_t GetBeginFilterMessage() const { return begin_message_; }

private:
    struct JoystickWords {
        uint32_t words[JoystickCodeCount];
    };
    static constexpr uint32_t kDown = 0x80000000u;

    bool Swallow() const { return (flags_ & InputTransparent) == 0; }
    void MoveCursorToClient(int32_t x, int32_t y);
    bool HandleMouseMove(intptr_t lparam);
    void HandleStickMouse();
    void ReleaseJoysticks();
    void PressAndRelease(const EKeyEvent& event);
    static void UpdateWord(uint32_t* word, bool pressed);

    EWindow* window_ = nullptr;
    uint32_t flags_ = InputNormal;
    uint32_t begin_message_ = 0;
    EKeyAssignmentTable table_;
    ETypedPtrArray<JoystickWords> joysticks_;
    EKeyEventQueue queue_;
    uint32_t capture_ = 0;
    float joystick_threshold_ = kDefaultJoystickThreshold;
    float axes_[2][3] = {};
    JoystickWords physical_[2] = {};
    EJoystickCaps caps_[2] = {};
    int32_t base_x_ = 320;
    int32_t base_y_ = 160;
    int32_t mouse_threshold_ = 16;
    plat::CriticalSection lock_;
    EInputSystem* system_;
};
