// A game's main window (win32 only): a client area of a requested size,
// captioned or full screen. Full screen switches the display to the smallest
// mode that holds the size, centres the client area in it, and gives the
// display back whenever the window loses activation.
#pragma once

#include <windows.h>
#include <imm.h>

#include "window/display_mode.h"
#include "window/window.h"

class EGameWindow : public EWindow {
    HVB_DECLARE_CLASS(EGameWindow, EWindow)

public:
    enum : uint32_t {
        WindowConfineCursor = 0x01,
        WindowFullScreen = 0x02,
        WindowTopmost = 0x04,
    };
    enum : uint32_t {
        StyleDoubleClicks = 0x01,
        StyleCloseAllowed = 0x02,
        StyleBlackBackground = 0x04,
        StyleImeEnabled = 0x08,
        StyleSystemMenu = 0x10,
        StyleDefault = StyleBlackBackground,
    };
    static const char kWindowClassName[];
    static const char kAlreadyCreatedText[];
    static const char kCreateFailedText[];
    static const char kNotCreatedText[];

    // Null: the real display.
    explicit EGameWindow(EDisplayModeSystem* display = nullptr);
    ~EGameWindow() override;

    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;
    LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) override;
    virtual void OnActivate() {}
    virtual void OnDeactivate() {}
    virtual ResultCode ChangeDisplayMode(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency);

    static ATOM RegisterGameWindowClass();
    static const char* GetGameWindowClassName() { return kWindowClassName; }

    // position null: centred on the screen.
    ResultCode CreateGameWindow(const char* title, uint32_t window_flags, uint32_t width, uint32_t height,
                                uint32_t bits, uint32_t frequency, const POINT* position);
    ResultCode ResizeGameWindow(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency);
    ResultCode SetWindowFlags(uint32_t flags);
    uint32_t GetWindowFlags() const { return window_flags_; }
    void SetStyleFlags(uint32_t flags);
    uint32_t GetStyleFlags() const { return style_flags_; }
    ResultCode DestroyGameWindow();

    // Client coordinates of the requested area to and from the screen.
    void ClientToScreenOffset(POINT* point) const;
    void ScreenToClientOffset(POINT* point) const;

    POINT GetClientOffset() const { return {offset_x_, offset_y_}; }
    POINT GetRequestedSize() const { return {static_cast<LONG>(width_), static_cast<LONG>(height_)}; }
    POINT GetScreenSize() const { return {static_cast<LONG>(screen_width_), static_cast<LONG>(screen_height_)}; }
    uint32_t GetBitsPerPixel() const { return bits_; }
    uint32_t GetFrequency() const { return frequency_; }
    bool IsCreated() const { return created_; }
    bool IsModeDifferent() const { return differs_; }
    bool IsActive() const { return active_; }

    // 1 when WM_QUIT arrived; milliseconds -1 loops until it does.
    static int32_t PumpMessages(int32_t milliseconds, HWND window, UINT first, UINT last);

private:
    bool IsFullScreen() const { return (window_flags_ & WindowFullScreen) != 0; }
    void ConfineCursor();
    void CentreClientArea();
    // The display mode again after something changed it under us.
    void ReapplyDisplayMode();

    LONG offset_x_ = 0;
    LONG offset_y_ = 0;
    uint32_t screen_width_ = 0;
    uint32_t screen_height_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t bits_ = 0;
    uint32_t frequency_ = 0;
    bool created_ = false;
    bool differs_ = false;
    bool active_ = false;
    bool reactivation_pending_ = false;
    uint32_t window_flags_ = 0;
    uint32_t style_flags_ = StyleDefault;
    HIMC ime_context_ = nullptr;
    EDisplayMode display_;
};
