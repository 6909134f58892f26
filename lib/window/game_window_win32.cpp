#include "window/game_window.h"

const char EGameWindow::kWindowClassName[] = "OrvelZMR_GameWindow";
const char EGameWindow::kAlreadyCreatedText[] = "既にウィンドウは作成されています。";
const char EGameWindow::kCreateFailedText[] = "ゲームウィンドウの作成に失敗しました。";
const char EGameWindow::kNotCreatedText[] = "ゲームウィンドウは作成されていません。";

EGameWindow::EGameWindow(EDisplayModeSystem* display) : display_(display) {}

EGameWindow::~EGameWindow() {
    if (created_) DestroyGameWindow();
}

ATOM EGameWindow::RegisterGameWindowClass() {
    return RegisterWindowClass(kWindowClassName, CS_NOCLOSE, GetModuleHandleA(nullptr), nullptr, nullptr,
                               static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

ResultCode EGameWindow::ChangeDisplayMode(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency) {
    width_ = width;
    height_ = height;
    EDisplayChoice choice{};
    const ResultCode result = ChooseDisplayMode(&display_, width, height, bits, frequency, &choice);
    if (result != ResultSuccess) return result;
    screen_width_ = choice.screen_width;
    screen_height_ = choice.screen_height;
    bits_ = choice.bits;
    frequency_ = choice.frequency;
    differs_ = choice.differs;
    return ResultSuccess;
}

void EGameWindow::CentreClientArea() {
    offset_x_ = CentringOffset(screen_width_, width_);
    offset_y_ = CentringOffset(screen_height_, height_);
}

void EGameWindow::ReapplyDisplayMode() {
    // Only a full-screen window owns the display mode.
    if (!IsFullScreen()) return;
    if (static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN)) != screen_width_ ||
        static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN)) != screen_height_) {
        ChangeDisplayMode(width_, height_, bits_, frequency_);
    }
}

ResultCode EGameWindow::CreateGameWindow(const char* title, uint32_t window_flags, uint32_t width, uint32_t height,
                                         uint32_t bits, uint32_t frequency, const POINT* position) {
    if (created_) return MessageResult(kAlreadyCreatedText);
    window_flags_ = window_flags;
    offset_x_ = offset_y_ = 0;
    frequency_ = 0;
    width_ = width;
    height_ = height;
    bits_ = bits;
    active_ = true;
    reactivation_pending_ = true;
    style_flags_ = StyleDefault;

    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (!GetClassInfoA(instance, kWindowClassName, &existing)) RegisterGameWindowClass();
    const int window_width = static_cast<int>(width) + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int window_height =
        static_cast<int>(height) + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYDLGFRAME);
    int x = 0;
    int y = 0;
    if (position != nullptr) {
        x = position->x;
        y = position->y;
    } else {
        x = (GetSystemMetrics(SM_CXSCREEN) - window_width) / 2;
        y = (GetSystemMetrics(SM_CYSCREEN) - window_height) / 2;
    }
    if (Create(kWindowClassName, title, WS_CAPTION, (window_flags & WindowTopmost) ? WS_EX_TOPMOST : 0, x, y,
               window_width, window_height, nullptr, nullptr, instance) != ResultSuccess) {
        return MessageResult(kCreateFailedText);
    }
    ime_context_ = ImmAssociateContext(GetHandle(), nullptr);

    if (IsFullScreen()) {
        SetStyle((GetStyle() & ~WS_CAPTION) | WS_POPUP);
        const ResultCode result = ChangeDisplayMode(width, height, bits, frequency);
        if (result != ResultSuccess) {
            Destroy();
            return result;
        }
    } else {
        screen_width_ = width;
        screen_height_ = height;
        bits_ = display_.GetCurrentBitsPerPixel();
        differs_ = false;
    }
    created_ = true;
    if (IsFullScreen()) {
        ShowWindow(SW_MAXIMIZE);
        CentreClientArea();
    }
    ShowWindow(SW_SHOW);
    SetForegroundWindow(GetHandle());
    if (window_flags & WindowTopmost) SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    return ResultSuccess;
}

ResultCode EGameWindow::ResizeGameWindow(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency) {
    if (!created_) return MessageResult(kNotCreatedText);
    if (active_) {
        if (IsFullScreen()) {
            const ResultCode result = ChangeDisplayMode(width, height, bits, frequency);
            if (result != ResultSuccess) return result;
            CentreClientArea();
        } else {
            width_ = screen_width_ = width;
            height_ = screen_height_ = height;
            bits_ = display_.GetCurrentBitsPerPixel();
            differs_ = false;
        }
    }
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(&placement);
    // The frame the window's own style gives, so the client area is exactly
    // the requested size.
    RECT frame{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetStyle()), FALSE, static_cast<DWORD>(GetExStyle()));
    RECT& r = placement.rcNormalPosition;
    r.right = r.left + (frame.right - frame.left);
    r.bottom = r.top + (frame.bottom - frame.top);
    SetWindowPlacement(&placement);
    if (active_ && IsFullScreen()) {
        MoveWindow(0, 0, static_cast<int>(screen_width_), static_cast<int>(screen_height_), TRUE);
    }
    return ResultSuccess;
}

void EGameWindow::ConfineCursor() {
    // The requested area, where the game draws; in full screen the window's
    // client area is the whole screen around it.
    POINT top_left{0, 0};
    POINT bottom_right{static_cast<LONG>(width_), static_cast<LONG>(height_)};
    ClientToScreenOffset(&top_left);
    ClientToScreenOffset(&bottom_right);
    const RECT clip{top_left.x, top_left.y, bottom_right.x - 1, bottom_right.y - 1};
    ClipCursor(&clip);
}

ResultCode EGameWindow::SetWindowFlags(uint32_t flags) {
    const uint32_t old = window_flags_;
    const uint32_t changed = flags ^ old;
    if (changed == 0) return ResultSuccess;
    window_flags_ = flags;
    if (changed & WindowTopmost) {
        const bool topmost = (flags & WindowTopmost) != 0;
        SetWindowPos(topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetPriorityClass(GetCurrentProcess(), topmost ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS);
    }
    if (!active_) return ResultSuccess;
    if (changed & WindowFullScreen) {
        if (flags & WindowFullScreen) {
            const ResultCode result = ChangeDisplayMode(width_, height_, bits_, frequency_);
            if (result != ResultSuccess) {
                // Still windowed, and the cursor bit was not applied either:
                // the flags say what the window is.
                constexpr uint32_t unapplied = WindowFullScreen | WindowConfineCursor;
                window_flags_ = (flags & ~unapplied) | (old & unapplied);
                return result;
            }
            SetStyle((GetStyle() & ~WS_CAPTION) | WS_POPUP);
            ShowWindow(SW_MAXIMIZE);
            CentreClientArea();
        } else {
            differs_ = false;
            display_.RestoreMode();
            ShowWindow(SW_RESTORE);
            SetStyle((GetStyle() & ~WS_POPUP) | WS_CAPTION);
            SetWindowPos(nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
            screen_width_ = width_;
            screen_height_ = height_;
            offset_x_ = offset_y_ = 0;
            RECT r{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
            AdjustWindowRectEx(&r, static_cast<DWORD>(GetStyle()), FALSE, static_cast<DWORD>(GetExStyle()));
            SetWindowPos(nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
        }
    }
    if (changed & WindowConfineCursor) {
        if (flags & WindowConfineCursor) {
            SetCapture();
            ConfineCursor();
        } else {
            ReleaseCapture();
            ClipCursor(nullptr);
        }
    }
    return ResultSuccess;
}

void EGameWindow::SetStyleFlags(uint32_t flags) {
    if (flags == style_flags_) return;
    style_flags_ = flags;
    HWND window = GetHandle();
    if (window == nullptr) return;
    DWORD class_style = GetClassLongA(window, GCL_STYLE) & ~(CS_IME | CS_NOCLOSE | CS_DBLCLKS);
    if (flags & StyleDoubleClicks) class_style |= CS_DBLCLKS;
    if (!(flags & StyleCloseAllowed)) class_style |= CS_NOCLOSE;
    SetClassLongA(window, GCL_STYLE, static_cast<LONG>(class_style));
    ImmAssociateContext(window, (flags & StyleImeEnabled) ? ime_context_ : nullptr);
    if (flags & StyleSystemMenu) {
        SetStyle(GetStyle() | WS_SYSMENU | WS_MINIMIZEBOX);
    } else {
        SetStyle(GetStyle() & ~WS_MINIMIZEBOX);
    }
    RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_UPDATENOW | RDW_INVALIDATE);
    const HGDIOBJ brush = (flags & StyleBlackBackground) ? GetStockObject(BLACK_BRUSH) : nullptr;
    SetClassLongA(window, GCL_HBRBACKGROUND, static_cast<LONG>(reinterpret_cast<LONG_PTR>(brush)));
}

ResultCode EGameWindow::DestroyGameWindow() {
    if (!created_) return MessageResult(kNotCreatedText);
    if (window_flags_ & WindowTopmost) SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    if (active_) {
        if (IsFullScreen()) display_.RestoreMode();
        if (window_flags_ & WindowConfineCursor) {
            ReleaseCapture();
            ClipCursor(nullptr);
        }
    }
    const ResultCode result = Destroy();
    created_ = false;
    ime_context_ = nullptr;
    return result;
}

void EGameWindow::ClientToScreenOffset(POINT* point) const {
    point->x += offset_x_;
    point->y += offset_y_;
    ClientToScreen(point);
}

void EGameWindow::ScreenToClientOffset(POINT* point) const {
    ScreenToClient(point);
    point->x -= offset_x_;
    point->y -= offset_y_;
}

LRESULT EGameWindow::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_MOVE:
            if (active_ && (window_flags_ & WindowConfineCursor)) ConfineCursor();
            break;
        case WM_ACTIVATE:
            if (LOWORD(wparam) != WA_INACTIVE) {
                if (active_) break;
                active_ = true;
                if (window_flags_ & WindowTopmost) {
                    ReapplyDisplayMode();
                } else {
                    if (window_flags_ & WindowConfineCursor) {
                        ConfineCursor();
                        PostMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(GetHandle()), HTCLIENT);
                    }
                    if (IsFullScreen()) {
                        ChangeDisplayMode(width_, height_, bits_, frequency_);
                        ShowWindow(SW_MAXIMIZE);
                    }
                }
                if (!(style_flags_ & StyleImeEnabled)) ImmAssociateContext(GetHandle(), nullptr);
                OnActivate();
            } else if (active_) {
                HWND other = reinterpret_cast<HWND>(lparam);
                if (other == GetHandle() || (other != nullptr && IsChild(GetHandle(), other))) break;
                if (window_flags_ & WindowTopmost) {
                    reactivation_pending_ = true;
                    PostMessage(WM_TIMER, 0, 0);
                } else {
                    active_ = false;
                    if (window_flags_ & WindowConfineCursor) ClipCursor(nullptr);
                    if (IsFullScreen()) {
                        display_.RestoreMode();
                        ShowWindow(SW_MINIMIZE);
                    }
                }
                OnDeactivate();
            }
            break;
        case WM_TIMER:
            if (wparam == 0 && reactivation_pending_ && (window_flags_ & WindowTopmost)) {
                SetForegroundWindow(GetHandle());
                reactivation_pending_ = false;
                ReapplyDisplayMode();
            }
            break;
        case WM_DEVMODECHANGE:
            if ((active_ || (window_flags_ & WindowTopmost)) && IsFullScreen()) {
                ChangeDisplayMode(width_, height_, bits_, frequency_);
            }
            break;
        case WM_SETCURSOR:
            if (LOWORD(lparam) != HTCLIENT) {
                SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
                return 0;
            }
            break;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
            info->ptMaxSize = {static_cast<LONG>(screen_width_) + 1, static_cast<LONG>(screen_height_) + 1};
            info->ptMaxPosition = {0, 0};
            return 0;
        }
        case WM_SYSCOMMAND:
            switch (wparam) {
                case SC_SIZE:
                case SC_MOVE:
                case SC_TASKLIST:
                    if (IsFullScreen()) return 0;
                    break;
                case SC_MAXIMIZE:
                case SC_MOUSEMENU:
                case SC_SCREENSAVE:
                case SC_MONITORPOWER:
                    return 0;
                case SC_CLOSE:
                    if (!(style_flags_ & StyleCloseAllowed)) return 0;
                    break;
                case SC_MINIMIZE:
                    if (!(style_flags_ & StyleSystemMenu)) return 0;
                    break;
                case SC_RESTORE:
                    if (IsFullScreen() || !(style_flags_ & StyleSystemMenu)) return 0;
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return EWindow::WindowProc(message, wparam, lparam);
}

LRESULT EGameWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETCURSOR) {
        SetCursor(nullptr);
        return 0;
    }
    if (message == WM_CLOSE) return 0;
    return EWindow::DefaultProc(message, wparam, lparam);
}

int32_t EGameWindow::PumpMessages(int32_t milliseconds, HWND window, UINT first, UINT last) {
    MSG msg;
    if (milliseconds == -1) {
        while (GetMessageA(&msg, window, first, last) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        return 1;
    }
    const DWORD start = GetTickCount();
    const DWORD span = static_cast<DWORD>(milliseconds);
    for (;;) {
        while (PeekMessageA(&msg, window, first, last, PM_NOREMOVE)) {
            if (GetMessageA(&msg, window, first, last) <= 0) return 1;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            // Compared on the wrapping clock: messages queued before the start
            // are older, not later.
            if (static_cast<int32_t>(msg.time - (start + span)) >= 0) return 0;
        }
        if (GetTickCount() - start < span) {
            Sleep(5);
        } else {
            return 0;
        }
    }
}
