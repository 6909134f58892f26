#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "window/game_window.h"
#include "window/key_signal.h"

namespace {

constexpr UINT kProbe = WM_USER + 1;
constexpr UINT kAnswer = WM_USER + 2;
const char kClass[] = "HvbWindowTest";
const char kOwnClass[] = "HvbWindowTestOwn";

class Recorder : public EWindowInterface {
public:
    LRESULT HandleMessage(EWindow* window, UINT message, WPARAM wparam, LPARAM lparam) override {
        if (message == kProbe || message == kAnswer || message == WM_KEYDOWN || message == WM_CLOSE) {
            seen.push_back(message);
        }
        return EWindowInterface::HandleMessage(window, message, wparam, lparam);
    }
    std::vector<UINT> seen;
};

LRESULT CALLBACK OwnProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return message == kAnswer ? 42 : DefWindowProcA(window, message, wparam, lparam);
}

struct Classes : testing::Test {
    static void SetUpTestSuite() {
        EWindow::RegisterWindowClass(kClass, 0, GetModuleHandleA(nullptr), nullptr, nullptr, nullptr);
        WNDCLASSA own{};
        own.lpfnWndProc = &OwnProcedure;
        own.hInstance = GetModuleHandleA(nullptr);
        own.lpszClassName = kOwnClass;
        RegisterClassA(&own);
    }
    static void TearDownTestSuite() {
        EWindow::UnregisterWindowClass(kClass, GetModuleHandleA(nullptr));
        UnregisterClassA(kOwnClass, GetModuleHandleA(nullptr));
    }
};

class FakeDisplay : public EDisplayModeSystem {
public:
    explicit FakeDisplay(std::vector<EDisplayModeInfo> modes) : modes(std::move(modes)) {}
    bool EnumerateMode(uint32_t i, EDisplayModeInfo* m) override { return i < modes.size() && (*m = modes[i], true); }
    uint32_t GetCurrentBitsPerPixel() override { return 32; }
    uint32_t GetCurrentFrequency() override { return 0; }
    bool ApplyMode(const EDisplayModeInfo&) override { return true; }
    bool RestoreMode() override { return true; }
    std::vector<EDisplayModeInfo> modes;
};

}  // namespace

// Filter first, then the interface, then DefaultProc; a foreign object in
// the window's data is not called.
TEST_F(Classes, RoutesThroughFilterAndInterface) {
    Recorder recorder;
    EWindow window(&recorder);
    ASSERT_EQ(window.Create(kClass, "t", WS_OVERLAPPED, 0, 0, 0, 100, 100, nullptr, nullptr, GetModuleHandleA(nullptr)),
              ResultSuccess);
    EInputFilter filter;
    filter.SetAssignment({KeyDeviceKeyboard, 0, 'A'}, {KeyDeviceKeyboard, 0, 'B'});
    window.SetInputFilter(&filter);
    EXPECT_EQ(filter.GetWindow(), &window);
    window.SendMessage(kProbe, 0, 0);
    EXPECT_EQ(window.SendMessage(WM_KEYDOWN, 'A', 0), 0);
    window.SendMessage(WM_KEYDOWN, 'C', 0);
    EXPECT_EQ(recorder.seen, (std::vector<UINT>{kProbe, WM_KEYDOWN}));

    HWND other = CreateWindowExA(0, kClass, "o", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    SetWindowLongPtrA(other, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    SendMessageA(other, kProbe, 0, 0);
    EXPECT_EQ(recorder.seen.size(), 2u);
    DestroyWindow(other);

    window.SetInterface(nullptr);
    EXPECT_EQ(recorder.GetWindow(), nullptr);
    SetWindowTextA(window.GetHandle(), "default");
    char text[16] = {};
    GetWindowTextA(window.GetHandle(), text, sizeof text);
    EXPECT_STREQ(text, "default");
    window.SendMessage(kProbe, 0, 0);
    EXPECT_EQ(recorder.seen.size(), 2u);
    window.SetInputFilter(nullptr);
    EXPECT_EQ(filter.GetWindow(), nullptr);
    EXPECT_EQ(window.Destroy(), ResultSuccess);
    EXPECT_EQ(window.Destroy(), MessageResult(EWindow::kDestroyFailedText));
}

// A filter moved to a second window leaves the first; the first one's end
// does not take it from the second, whose pointer goes when the filter does.
TEST_F(Classes, OneFilterMovesBetweenWindows) {
    const auto create = [](EWindow* w) {
        return w->Create(kClass, "f", WS_OVERLAPPED, 0, 0, 0, 50, 50, nullptr, nullptr, GetModuleHandleA(nullptr));
    };
    EWindow survivor;
    ASSERT_EQ(create(&survivor), ResultSuccess);
    {
        EInputFilter filter;
        {
            EWindow first;
            ASSERT_EQ(create(&first), ResultSuccess);
            first.SetInputFilter(&filter);
            survivor.SetInputFilter(&filter);
            EXPECT_EQ(first.GetInputFilter(), nullptr);
            EXPECT_EQ(first.Destroy(), ResultSuccess);
        }
        EXPECT_EQ(filter.GetWindow(), &survivor);
        EXPECT_EQ(survivor.GetInputFilter(), &filter);
    }
    EXPECT_EQ(survivor.GetInputFilter(), nullptr);
    survivor.SendMessage(WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(survivor.Destroy(), ResultSuccess);
}

TEST_F(Classes, SubclassingGivesTheProcedureBack) {
    HWND own = CreateWindowExA(0, kOwnClass, "s", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(own, nullptr);
    SetWindowLongPtrA(own, GWLP_USERDATA, 77);
    Recorder recorder;
    {
        EWindow sub(own, &recorder);
        EXPECT_EQ(SendMessageA(own, kAnswer, 0, 0), 42);  // interface, then the former procedure
        EXPECT_EQ(recorder.seen, std::vector<UINT>{kAnswer});
    }
    EXPECT_EQ(recorder.GetWindow(), nullptr);
    EXPECT_TRUE(IsWindow(own));
    EXPECT_EQ(GetWindowLongPtrA(own, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&OwnProcedure));
    EXPECT_EQ(GetWindowLongPtrA(own, GWLP_USERDATA), 77);
    EXPECT_EQ(SendMessageA(own, kAnswer, 0, 0), 42);
    EXPECT_EQ(recorder.seen.size(), 1u);
    DestroyWindow(own);
}

// Full screen through a display that offers what the test says.
TEST(GameWindow, FullScreenModesAndCommands) {
    struct Case {
        uint32_t w, h;
        std::vector<EDisplayModeInfo> modes;
        ResultCode result;
        LONG ox, oy;
        bool differs;
    };
    const Case cases[] = {
        {640, 480, {{800, 600, 32, 0, 0}, {640, 480, 32, 0, 0}}, ResultSuccess, 0, 0, false},
        {600, 400, {{800, 600, 32, 0, 0}, {640, 480, 32, 0, 0}}, ResultSuccess, 20, 40, true},
        {600, 400, {{512, 384, 32, 0, 0}}, MessageResult(EDisplayMode::kNoModeText), 0, 0, false},
    };
    for (const Case& c : cases) {
        FakeDisplay display(c.modes);
        EGameWindow window(&display);
        ASSERT_EQ(window.CreateGameWindow("game", EGameWindow::WindowFullScreen, c.w, c.h, 0, 0, nullptr), c.result);
        if (c.result != ResultSuccess) {
            EXPECT_FALSE(window.IsCreated());
            EXPECT_EQ(window.GetHandle(), nullptr);
            continue;
        }
        EXPECT_EQ(window.GetClientOffset().x, c.ox);
        EXPECT_EQ(window.GetClientOffset().y, c.oy);
        EXPECT_EQ(window.IsModeDifferent(), c.differs);
        POINT p{0, 0};
        window.ClientToScreenOffset(&p);
        window.ScreenToClientOffset(&p);
        EXPECT_EQ(p.x, 0);
        EXPECT_EQ(p.y, 0);
        EXPECT_EQ(window.CreateGameWindow("again", 0, 10, 10, 0, 0, nullptr),
                  MessageResult(EGameWindow::kAlreadyCreatedText));
        EXPECT_EQ(window.GetStyleFlags(), static_cast<uint32_t>(EGameWindow::StyleDefault));
        // SC_CLOSE turns into WM_CLOSE only when closing is allowed; WM_CLOSE
        // itself never closes.
        Recorder recorder;
        window.SetInterface(&recorder);
        window.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(recorder.seen.empty());
        window.SetStyleFlags(EGameWindow::StyleDefault | EGameWindow::StyleCloseAllowed);
        window.SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(recorder.seen, std::vector<UINT>{WM_CLOSE});
        EXPECT_TRUE(IsWindow(window.GetHandle()));
        window.SetInterface(nullptr);
        EXPECT_EQ(window.DestroyGameWindow(), ResultSuccess);
        EXPECT_EQ(window.DestroyGameWindow(), MessageResult(EGameWindow::kNotCreatedText));
    }
}

// A resize gives the client area exactly the size asked for; a switch to
// full screen that finds no mode leaves the window as it was.
TEST(GameWindow, WindowedResizeAndFailedSwitch) {
    FakeDisplay display({{320, 240, 32, 0, 0}});
    EGameWindow window(&display);
    ASSERT_EQ(window.CreateGameWindow("windowed", 0, 600, 400, 0, 0, nullptr), ResultSuccess);
    ASSERT_EQ(window.ResizeGameWindow(400, 300, 0, 0), ResultSuccess);
    RECT client{};
    window.GetClientRect(&client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    EXPECT_EQ(window.SetWindowFlags(EGameWindow::WindowFullScreen | EGameWindow::WindowConfineCursor),
              MessageResult(EDisplayMode::kNoModeText));
    EXPECT_EQ(window.GetWindowFlags(), 0u);
}

// The real display: windowed keeps the requested size; full screen takes
// whatever mode the enumeration offers by the same rules.
TEST(GameWindow, RealDisplay) {
    EGameWindow windowed;
    ASSERT_EQ(windowed.CreateGameWindow("windowed", 0, 320, 200, 0, 0, nullptr), ResultSuccess);
    RECT client{};
    windowed.GetClientRect(&client);
    EXPECT_EQ(windowed.GetScreenSize().x, 320);
    EXPECT_GE(client.right, 320);
    EXPECT_EQ(windowed.DestroyGameWindow(), ResultSuccess);

    EDisplayMode probe;
    EDisplayChoice expected{};
    const ResultCode chosen = ChooseDisplayMode(&probe, 640, 480, 0, 0, &expected);
    probe.RestoreMode();
    EGameWindow full;
    ASSERT_EQ(full.CreateGameWindow("full", EGameWindow::WindowFullScreen, 640, 480, 0, 0, nullptr), chosen);
    if (chosen == ResultSuccess) {
        EXPECT_EQ(static_cast<uint32_t>(full.GetScreenSize().x), expected.screen_width);
        EXPECT_EQ(full.GetClientOffset().x, CentringOffset(expected.screen_width, 640));
        EXPECT_EQ(full.DestroyGameWindow(), ResultSuccess);
    }
}

// Input for the waiting thread ends only a wait that also watches messages;
// the signal still comes first.
TEST(KeySignal, ThreadInputEndsAWaitWithMessages) {
    EKeySignal signal;
    ASSERT_TRUE(signal.IsValid());
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here on
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0));
    EXPECT_EQ(signal.Wait(50, false), EKeySignal::TimedOut);
    EXPECT_EQ(signal.Wait(60000, true), EKeySignal::MessageArrived);
    signal.Set();
    EXPECT_EQ(signal.Wait(60000, true), EKeySignal::Signalled);
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}
