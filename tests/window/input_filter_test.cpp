#include "window/input_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "xml/xml_support.h"

namespace {

constexpr int32_t K = KeyDeviceKeyboard;
constexpr int32_t M = KeyDeviceMouse;
constexpr int32_t J = KeyDeviceJoystick;

std::string Narrow(const EWideString& s) { return Utf8(s); }

EWideString Wide(const char* s) { return EWideString(s); }

// A window at screen (100, 200) on the calling thread, with one joystick
// whose readings the test sets.
class FakeSystem : public EInputSystem {
public:
    uint32_t RegisterMessage(const char*) override { return 0xC123; }
    bool HasLiveWindow(EWindow* w) override { return w != nullptr; }
    bool IsWindowThread(EWindow*) override { return true; }
    void PostToWindow(EWindow*, uint32_t message, uintptr_t wparam, intptr_t) override {
        posted.push_back({message, static_cast<uint32_t>(wparam)});
    }
    void RemoveFilter(EWindow*) override { ++removed; }
    void ClientPointToScreen(EWindow*, int32_t* x, int32_t* y) override { *x += 100, *y += 200; }
    bool ReadCursor(int32_t* x, int32_t* y) override { return *x = cursor_x, *y = cursor_y, true; }
    void MoveCursor(int32_t x, int32_t y) override { cursor_x = x, cursor_y = y, ++moves; }
    uint32_t GetJoystickDeviceCount() override { return 1; }
    bool GetJoystickCaps(uint32_t index, EJoystickCaps* caps) override {
        *caps = {0, 65535, 0, 65535, 0, 0, false};
        return index == 0;
    }
    bool CaptureJoystick(EWindow*, uint32_t index) override { return index == 0 && ++captures; }
    void ReleaseJoystick(uint32_t index) override { released.push_back(index); }
    void SetJoystickThreshold(uint32_t index, uint32_t value) override { thresholds.push_back({index, value}); }
    bool ReadJoystick(uint32_t, EJoystickPosition* p) override { return *p = position, true; }

    std::vector<std::pair<uint32_t, uint32_t>> posted, thresholds;
    std::vector<uint32_t> released;
    int removed = 0, moves = 0, captures = 0;
    int32_t cursor_x = 0, cursor_y = 0;
    EJoystickPosition position{32767, 32767, 0, 0};
};

struct FilterFixture : testing::Test {
    FilterFixture() {
        filter.SetSystem(&system);
        filter.SetQueueCapacity(64);
        filter.SetJoystickCount(2);
    }
    ~FilterFixture() override { filter.DetachWindow(Window()); }
    EWindow* Window() { return reinterpret_cast<EWindow*>(&window_stand_in); }
    void Attach() { filter.AttachWindow(Window()); }
    bool Send(uint32_t message, uintptr_t wparam, intptr_t lparam = 0) {
        EMessageRecord r{&window_stand_in, message, wparam, lparam, {0, 0, 0}};
        return filter.FilterMessage(&r);
    }
    std::vector<EKeyEvent> Drain() {
        std::vector<EKeyEvent> out;
        EKeyEvent e;
        while (filter.WaitKeyEvent(&e, 0, false) == ResultSuccess) out.push_back(e);
        return out;
    }

    int window_stand_in = 0;
    FakeSystem system;
    EInputFilter filter;
};

std::string Show(const std::vector<EKeyEvent>& events) {
    std::string out;
    for (const EKeyEvent& e : events) out += std::to_string(e.device) + ":" + std::to_string(e.number) + ":" + std::to_string(e.code) + " ";
    return out;
}

}  // namespace

// Each "key" text with the code it stands for and the text it is written
// back as; bad texts give false and code 0.
TEST(KeyText, ParsesAndWritesBack) {
    struct Case {
        int32_t device;
        const char* text;
        bool valid;
        int32_t code;
        const char* written;
    };
    const Case cases[] = {
        {K, "ascii:Z", true, 90, "ascii:Z"},  {K, "code:13", true, 13, "code:13"},
        {J, "button:0", true, 4, "button:0"}, {J, "button:31", true, 35, "button:31"},
        {J, "up", true, 0, "up"},             {J, "right", true, 3, "right"},
        {K, "up", true, 38, "up"},            {M, "down", true, 40, "down"},
        {K, "left", true, 37, "left"},        {K, "code:65", true, 65, "ascii:A"},
        {J, "code:2", true, 2, "left"},       {K, "code:-7", true, -7, "code:-7"},
        {K, "ascii:a", true, 97, "code:97"},  {K, "", false, 0, nullptr},
        {K, "Up", false, 0, nullptr},         {K, "ascii:", false, 0, nullptr},
        {K, "ascii:ZZ", false, 0, nullptr},   {J, "button:", false, 0, nullptr},
        {J, "button:-1", false, 0, nullptr},  {K, "code:1x", false, 0, nullptr},
        {K, "code:99999999999", false, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t code = -99;
        EXPECT_EQ(ParseKeyText(Wide(c.text), c.device, &code), c.valid);
        EXPECT_EQ(code, c.code);
        if (c.written != nullptr) {
            EXPECT_EQ(Narrow(FormatKeyText(c.device, c.code)), c.written);
        }
    }
    int32_t code = 5;
    EXPECT_FALSE(ParseKeyText(nullptr, K, &code));
    EXPECT_EQ(code, 0);
}

TEST(KeyText, FlagsAndDevices) {
    EXPECT_EQ(ParseInputFlags(Wide("joy_mouse stick_key")), 0x005u);
    EXPECT_EQ(ParseInputFlags(Wide("normal")), 0u);
    EXPECT_EQ(ParseInputFlags(Wide("  transparent\tjoy_mouse bogus joy_mousex")), 0x101u);
    EXPECT_EQ(Narrow(FormatInputFlags(0)), "normal");
    EXPECT_EQ(Narrow(FormatInputFlags(0x107)), "joy_mouse stick_mouse stick_key transparent");
    EXPECT_EQ(ParseDeviceName(Wide("joystick")), J);
    EXPECT_EQ(ParseDeviceName(Wide("mouse")), M);
    EXPECT_EQ(ParseDeviceName(Wide("trackball")), K);
}

// Sorted by device, number, code whatever the insertion order; a chain is
// followed to its end, a cycle or an over-long chain stops after 16 steps.
TEST(KeyTable, SortsReplacesAndFollowsChains) {
    EKeyAssignmentTable t;
    t.Set({J, 1, 4}, {K, 0, 13});
    t.Set({K, 0, 90}, {K, 0, 65});
    t.Set({J, 0, 9}, {K, 0, 1});
    t.Set({M, 0, 1}, {K, 0, 2});
    t.Set({J, 0, 9}, {K, 0, 32});  // replaces
    ASSERT_EQ(t.GetCount(), 4u);
    for (uint32_t i = 1; i < t.GetCount(); ++i) EXPECT_LT(CompareKeyEvents(t.GetAt(i - 1)->input, t.GetAt(i)->input), 0);
    EXPECT_EQ(t.Find({J, 0, 9})->code, 32);
    EXPECT_EQ(t.Find({J, 0, 10}), nullptr);

    EKeyAssignmentTable chain;
    for (int32_t i = 0; i < 40; ++i) chain.Set({K, 0, 100 + i}, {K, 0, 101 + i});
    chain.Set({K, 0, 1}, {K, 0, 2});
    chain.Set({K, 0, 2}, {K, 0, 3});
    chain.Set({K, 0, 7}, {K, 0, 8});
    chain.Set({K, 0, 8}, {K, 0, 7});
    struct Case {
        int32_t from;
        bool found;
        int32_t to;
    } const cases[] = {{1, true, 3}, {2, true, 3}, {3, false, 3}, {7, true, 8}, {8, true, 7}, {100, true, 117}, {139, true, 140}};
    for (const Case& c : cases) {
        EKeyEvent out{};
        EXPECT_EQ(chain.Resolve({K, 0, c.from}, &out), c.found) << c.from;
        EXPECT_EQ(out.code, c.to) << c.from;
    }

    t.Set({K, 0, 91}, {K, 0, 13});
    ETypedPtrArray<EKeyEvent> inputs;
    t.ListInputsFor({K, 0, 13}, &inputs);
    ASSERT_EQ(inputs.GetCount(), 2u);
    EXPECT_EQ(inputs[0]->device, K);
    EXPECT_EQ(inputs[1]->device, J);
    t.Remove({K, 0, 91});
    t.Remove({K, 0, 91});
    EXPECT_EQ(t.GetCount(), 4u);
}

TEST(KeyQueue, KeepsTheNewestAndTimesOut) {
    EKeyEventQueue q;
    q.Push({K, 0, 1});  // capacity 0 keeps nothing
    EXPECT_EQ(q.GetCount(), 0u);
    q.SetCapacity(2);
    for (int32_t code : {65, 66, 67}) q.Push({K, 0, code});
    EKeyEvent e{};
    ASSERT_EQ(q.Wait(&e, 0, false), ResultSuccess);
    EXPECT_EQ(e.code, 66);
    ASSERT_EQ(q.Wait(&e, 0, false), ResultSuccess);
    EXPECT_EQ(e.code, 67);
    EXPECT_EQ(q.Wait(&e, 30, false), ResultTimeout);
    q.Push({K, 0, 68});
    q.SetCapacity(4);  // empties
    EXPECT_EQ(q.Wait(&e, 0, false), ResultTimeout);
}

// A push from another thread ends a minute's wait long before its time-out,
// and a wait with nothing pushed lasts until its time-out.
TEST(KeyQueue, AWaitEndsWithAPushOrItsTimeOut) {
    using namespace std::chrono;
    struct Case {
        bool push;
        uint32_t wait_ms;
        ResultCode result;
    } cases[] = {{true, 60000, ResultSuccess}, {false, 200, ResultTimeout}};
    for (const Case& c : cases) {
        EKeyEventQueue q;
        q.SetCapacity(4);
        std::thread pusher([&] {
            std::this_thread::sleep_for(milliseconds(50));
            if (c.push) q.Push({K, 0, 65});
        });
        EKeyEvent e{};
        const auto start = steady_clock::now();
        EXPECT_EQ(q.Wait(&e, c.wait_ms, false), c.result) << c.wait_ms;
        const auto waited = steady_clock::now() - start;
        pusher.join();
        if (c.push) {
            EXPECT_EQ(e.code, 65);
            EXPECT_LT(waited, seconds(30));
        } else {
            EXPECT_GE(waited, milliseconds(c.wait_ms / 2));
        }
    }
}

// Keys, buttons and the wheel in the order they came, only presses queued;
// assigned keys are swallowed unless "transparent"; "stick_key" posts the
// final key to the window.
TEST_F(FilterFixture, MessagesBecomeKeyEvents) {
    EXPECT_FALSE(Send(0x0100, 'A'));  // no window yet
    EXPECT_TRUE(Drain().empty());
    Attach();
    filter.SetAssignment({K, 0, 'Q'}, {K, 0, 'W'});
    filter.SetAssignment({K, 0, 'W'}, {K, 0, 'E'});
    filter.SetAssignment({M, 0, 4}, {J, 1, 4});
    EXPECT_FALSE(Send(0x0100, 'A'));
    EXPECT_FALSE(Send(0x0101, 'A'));
    EXPECT_TRUE(Send(0x0100, 'Q'));
    EXPECT_FALSE(Send(0x0201, 0));
    EXPECT_FALSE(Send(0x0205, 0));
    EXPECT_TRUE(Send(0x0207, 0));
    EXPECT_TRUE(Send(0x020A, 0x00780000));
    EXPECT_TRUE(Send(0x020A, 0xFF880000));
    EXPECT_EQ(Show(Drain()), "0:0:65 0:0:69 1:0:1 2:1:4 1:0:40 1:0:38 ");
    float x, y, z;
    filter.GetJoystickState(1, &x, &y, &z);
    EXPECT_EQ(x + y + z, 0.0f);
    EXPECT_TRUE(system.posted.empty());

    filter.SetFlags(InputStickKey | InputTransparent);
    EXPECT_FALSE(Send(0x0100, 'Q'));
    EXPECT_FALSE(Send(0x0101, 'Q'));
    EXPECT_FALSE(Send(0x0207, 0));  // output is not a keyboard key: nothing posted
    const std::vector<std::pair<uint32_t, uint32_t>> posted = {{0x0100, 'E'}, {0x0101, 'E'}};
    EXPECT_EQ(system.posted, posted);
}

// joy_mouse with threshold 16: 40 pixels right are two "right" presses and
// the cursor goes back to the base point plus the 8 left over.
TEST_F(FilterFixture, JoyMouseMovesInSteps) {
    filter.SetMouseParameters(320, 160, 16);
    Attach();
    EXPECT_EQ(system.cursor_x, 420);  // attaching puts the cursor on the base point
    EXPECT_EQ(system.cursor_y, 360);
    struct Case {
        int32_t x, y;
        const char* events;
        int32_t cursor_x, cursor_y;
    } const cases[] = {
        {360, 160, "2:0:3 2:0:3 ", 428, 360},
        {320 - 33, 160 + 47, "2:0:2 2:0:2 2:0:1 2:0:1 ", 419, 375},
        {335, 145, "", 419, 375},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Send(0x0200, 0, static_cast<intptr_t>((c.y & 0xFFFF) << 16 | (c.x & 0xFFFF))));
        EXPECT_EQ(Show(Drain()), c.events);
        EXPECT_EQ(system.cursor_x, c.cursor_x);
        EXPECT_EQ(system.cursor_y, c.cursor_y);
    }
    filter.SetMouseParameters(320, 160, 0);  // would never use the distance up
    EXPECT_TRUE(Send(0x0200, 0, 400));
    EXPECT_TRUE(Drain().empty());
}

// A captured joystick: positions and buttons become direction and button
// events of device number 0 as they change; detaching releases the capture.
TEST_F(FilterFixture, JoystickPollsAndReleases) {
    Attach();
    ASSERT_EQ(system.thresholds.size(), 1u);
    EXPECT_EQ(system.thresholds[0].second, 327u);  // 65535 * 0.01 / 2
    system.position = {65535, 0, 0, 0x3};
    EXPECT_TRUE(Send(0x03A0, 0));
    system.position = {65535, 32767, 0, 0x2};
    EXPECT_TRUE(Send(0x03B7, 0));
    EXPECT_EQ(Show(Drain()), "2:0:0 2:0:3 2:0:4 2:0:5 ");
    float x, y, z;
    filter.GetJoystickState(0, &x, &y, &z);
    EXPECT_FLOAT_EQ(x, 1.0f);
    filter.SetFlags(InputStickMouse);
    EXPECT_FALSE(Send(0x0113, 1));
    // The window's end releases the capture; a window made again for the
    // same wrapper captures anew.
    EXPECT_FALSE(Send(0x0002, 0));
    EXPECT_EQ(system.released, std::vector<uint32_t>{0});
    EXPECT_FALSE(Send(0x0001, 0));
    EXPECT_EQ(system.captures, 2);
    filter.DetachWindow(nullptr);  // not the filter's window
    EXPECT_EQ(filter.GetWindow(), Window());
    filter.DetachWindow(Window());
    EXPECT_EQ(system.released, (std::vector<uint32_t>{0, 0}));
    filter.GetJoystickState(0, &x, &y, &z);  // now the virtual state: right held
    EXPECT_EQ(x, 1.0f);
    EXPECT_EQ(y, 0.0f);
}

// Values from a key file: a base point no mouse can reach, a one-pixel
// threshold, joystick thresholds outside 0 .. 1 or NaN.
TEST_F(FilterFixture, KeyFileValuesAreBounded) {
    Attach();
    filter.SetQueueCapacity(1000);
    struct Move {
        int32_t base_x, threshold, x;
        int32_t code;
    } const moves[] = {
        {0, 1, 32767, JoystickRight},
        {2000000000, 1, 0, JoystickLeft},
        {INT32_MIN, 16, 0, JoystickRight},
    };
    for (const Move& c : moves) {
        SCOPED_TRACE(c.base_x);
        filter.SetMouseParameters(c.base_x, 0, c.threshold);
        EXPECT_TRUE(Send(0x0200, 0, c.x & 0xFFFF));
        const std::vector<EKeyEvent> events = Drain();
        ASSERT_EQ(events.size(), static_cast<size_t>(EInputFilter::kMaxMouseSteps));
        EXPECT_EQ(events.back().code, c.code);
        // What the cap left over is dropped: the cursor is back on the base.
        EXPECT_EQ(system.cursor_x, 100 + filter.GetMouseBaseX());
    }
    struct Threshold {
        float fraction;
        uint32_t driver;
    } const thresholds[] = {{-1.0f, 0}, {NAN, 327}, {2.0f, 32767}};
    for (const Threshold& c : thresholds) {
        filter.SetJoystickThreshold(c.fraction);
        EXPECT_EQ(system.thresholds.back().second, c.driver) << c.fraction;
    }
}

TEST_F(FilterFixture, StickMouseMovesTwoPixelsPerHeldDirection) {
    Attach();
    filter.SetFlags(InputStickMouse);
    filter.DispatchKey({J, 0, JoystickLeft}, true);
    filter.DispatchKey({J, 1, JoystickDown}, true);
    system.cursor_x = 50, system.cursor_y = 50;
    EXPECT_FALSE(Send(0x0113, 1));
    EXPECT_EQ(system.cursor_x, 48);
    EXPECT_EQ(system.cursor_y, 52);
    filter.SetFlags(InputStickMouse | InputJoyMouse);
    EXPECT_FALSE(Send(0x0113, 1));
    EXPECT_EQ(system.cursor_x, 48);
}

namespace {

const char kDescription[] = R"(<?xml version="1.0" encoding="utf-8"?>
<settings>
  <filter flags="joy_mouse stick_key" mouse_base_x="100" mouse_threshold="8" joystick_count="3">
    <key_assign><input device="joystick" device_number="1" key="button:0"/><output device="keyboard" key="code:13"/></key_assign>
    <key_assign><input device="keyboard" key="ascii:Z"/><output device="mouse" key="up"/></key_assign>
    <key_assign><input device="gamepad" key="ascii:Q"/><output device="keyboard" key="enter"/></key_assign>
    <key_assign><input device="keyboard" key="ascii:X"/></key_assign>
    <key_assign><output device="keyboard" key="ascii:Y"/></key_assign>
    <key_assign><input device="joystick" key="button:x"/><output key="left"/></key_assign>
  </filter>
</settings>
)";

std::string Table(EInputFilter* f) {
    std::string out;
    for (uint32_t i = 0; i < f->GetAssignmentCount(); ++i) {
        EKeyAssignment a{};
        f->GetAssignmentAt(i, &a);
        out += Show({a.input}) + "> " + Show({a.output}) + "| ";
    }
    return out;
}

}  // namespace

// Unknown devices are keyboards, bad key texts are code 0 with a message,
// an assignment missing a side is skipped; what is saved loads the same.
TEST(InputDescription, LoadsSavesAndLoadsAgain) {
    EDescription doc;
    ASSERT_EQ(ParseBytes(&doc, kDescription, 0, EDescription::EncodingUTF8), ResultSuccess);
    EInputFilter filter;
    EXPECT_EQ(filter.LoadDescription(&doc), ResultGeneralError);  // "filter" is below "settings"
    std::vector<std::string> messages;
    {
        TraceCapture trace;
        ASSERT_EQ(filter.LoadDescription(doc.FindChild(0, HVB_WTEXT("settings"))), ResultSuccess);
        messages = trace.messages;
    }
    EXPECT_EQ(messages, std::vector<std::string>(2, "キー指定が不正です。\n"));
    EXPECT_EQ(filter.GetFlags(), 0x005u);
    EXPECT_EQ(filter.GetMouseBaseX(), 100);
    EXPECT_EQ(filter.GetMouseBaseY(), 160);
    EXPECT_EQ(filter.GetMouseThreshold(), 8);
    EXPECT_EQ(filter.GetJoystickCount(), 3u);
    const std::string table = "0:0:81 > 0:0:0 | 0:0:90 > 1:0:38 | 2:0:0 > 0:0:37 | 2:1:4 > 0:0:13 | ";
    EXPECT_EQ(Table(&filter), table);

    EDescription saved;
    filter.SaveDescription(&saved);
    const std::string text = WriteBytes(saved, 0, EDescription::EncodingUTF8);
    EXPECT_EQ(Narrow(saved.FindChild(0, HVB_WTEXT("filter"))->GetAttributeString(HVB_WTEXT("flags"), nullptr)),
              "joy_mouse stick_key");
    for (const char* expected : {"key=\"ascii:Z\"", "key=\"code:13\"",
                                 "key=\"button:0\"", "mouse_base_x=\"100\"", "joystick_count=\"3\"", "key=\"code:0\""}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    EDescription reread;
    ASSERT_EQ(ParseBytes(&reread, text, 0, EDescription::EncodingUTF8), ResultSuccess);
    EInputFilter again;
    ASSERT_EQ(again.LoadDescription(&reread), ResultSuccess);
    EXPECT_EQ(Table(&again), table);
    EXPECT_EQ(again.GetFlags(), 0x005u);

    EDescription plain;
    EInputFilter normal;
    normal.SetJoystickCount(100000000);  // cut, not a hundred million blocks
    EXPECT_EQ(normal.GetJoystickCount(), static_cast<uint32_t>(EInputFilter::kMaxJoystickCount));
    normal.SaveDescription(&plain);
    EXPECT_EQ(Narrow(plain.FindChild(0, HVB_WTEXT("filter"))->GetAttributeString(HVB_WTEXT("flags"), nullptr)),
              "normal");
}
