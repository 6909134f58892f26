// Binding of library objects to Win32 windows (win32 only). An EWindow owns
// or subclasses one window and routes every message of it to its virtual
// WindowProc: an input filter sees each message first and may swallow it,
// then a window interface (the application's handler) gets the rest, else
// the window's previous procedure. The other operations forward Win32 window
// functions to the object's window handle.
#pragma once

#include <windows.h>

#include "core/object.h"
#include "core/result.h"
#include "platform/codepage.h"
#include "platform/platform.h"
#include "window/input_filter.h"

class EWindow;

class EWindowInterface : public HVBObject {
    HVB_DECLARE_CLASS(EWindowInterface, HVBObject)

public:
    EWindowInterface() = default;
    // Detaches itself from its window.
    ~EWindowInterface() override;
    EWindowInterface(const EWindowInterface&) = delete;
    EWindowInterface& operator=(const EWindowInterface&) = delete;

    virtual void OnAttach(EWindow* window) { window_ = window; }
    virtual void OnDetach(EWindow*) { window_ = nullptr; }
    virtual EWindow* GetWindow() const { return window_; }
    // By default the window's DefaultProc.
    virtual LRESULT HandleMessage(EWindow* window, UINT message, WPARAM wparam, LPARAM lparam);
    // Non-zero: handled, the window returns 0.
    virtual BOOL PreTranslate(EMessageRecord*) { return FALSE; }

private:
    EWindow* window_ = nullptr;
};

class EWindow : public HVBObject {
    HVB_DECLARE_CLASS(EWindow, HVBObject)

public:
    static const char kCreateFailedText[];
    static const char kDestroyFailedText[];

    // For a window made later by Create.
    explicit EWindow(EWindowInterface* window_interface = nullptr);
    // Subclasses an existing window until this object is destroyed.
    EWindow(HWND window, EWindowInterface* window_interface);
    // Leaves the window itself alone; a subclassed window gets its former
    // procedure back.
    ~EWindow() override;
    EWindow(const EWindow&) = delete;
    EWindow& operator=(const EWindow&) = delete;

    virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    virtual LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam);
    virtual ResultCode Create(const char* class_name, const char* window_name, DWORD style, DWORD ex_style, int x,
                              int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance);
    virtual ResultCode Destroy();

    void SetInterface(EWindowInterface* window_interface);
    void SetInputFilter(EInputFilter* filter);
    EWindowInterface* GetInterface() const { return interface_; }
    EInputFilter* GetInputFilter() const { return filter_; }
    HWND GetHandle() const { return window_; }

    // Classes whose windows are routed to their objects: the shared window
    // procedure and 4 window extra bytes.
    static ATOM RegisterWindowClass(const WNDCLASSA* window_class);
    static ATOM RegisterWindowClass(const char* class_name, UINT style, HINSTANCE instance, HICON icon,
                                    HCURSOR cursor, HBRUSH background);
    static BOOL UnregisterWindowClass(const char* class_name, HINSTANCE instance);
    static LRESULT CALLBACK SharedWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    LONG GetStyle() const { return GetWindowLongA(window_, GWL_STYLE); }
    LONG SetStyle(LONG style) { return SetWindowLongA(window_, GWL_STYLE, style); }
    LONG GetExStyle() const { return GetWindowLongA(window_, GWL_EXSTYLE); }
    LONG SetExStyle(LONG style) { return SetWindowLongA(window_, GWL_EXSTYLE, style); }
    DWORD GetClassIcon() const { return GetClassLongA(window_, GCL_HICON); }
    DWORD SetClassIcon(HICON icon) { return SetClassLongA(window_, GCL_HICON, static_cast<LONG>(reinterpret_cast<LONG_PTR>(icon))); }
    HWND SetCapture() { return ::SetCapture(window_); }
    int GetWindowRgn(HRGN region) const { return ::GetWindowRgn(window_, region); }
    int SetWindowRgn(HRGN region, BOOL redraw) { return ::SetWindowRgn(window_, region, redraw); }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint) {
        return ::MoveWindow(window_, x, y, width, height, repaint);
    }
    BOOL SetWindowPos(HWND after, int x, int y, int width, int height, UINT flags) {
        return ::SetWindowPos(window_, after, x, y, width, height, flags);
    }
    BOOL GetWindowPlacement(WINDOWPLACEMENT* placement) const { return ::GetWindowPlacement(window_, placement); }
    BOOL SetWindowPlacement(const WINDOWPLACEMENT* placement) { return ::SetWindowPlacement(window_, placement); }
    BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(window_, rect); }
    BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(window_, rect); }
    HDC BeginPaint(PAINTSTRUCT* paint) { return ::BeginPaint(window_, paint); }
    BOOL EndPaint(const PAINTSTRUCT* paint) { return ::EndPaint(window_, paint); }
    HDC GetDC() { return ::GetDC(window_); }
    int ReleaseDC(HDC dc) { return ::ReleaseDC(window_, dc); }
    BOOL InvalidateRect(const RECT* rect, BOOL erase) { return ::InvalidateRect(window_, rect, erase); }
    BOOL GetUpdateRect(RECT* rect, BOOL erase) { return ::GetUpdateRect(window_, rect, erase); }
    BOOL UpdateWindow() { return ::UpdateWindow(window_); }
    BOOL ShowWindow(int command) { return ::ShowWindow(window_, command); }
    BOOL ClientToScreen(POINT* point) const { return ::ClientToScreen(window_, point); }
    BOOL ScreenToClient(POINT* point) const { return ::ScreenToClient(window_, point); }
    BOOL ScrollWindow(int dx, int dy, const RECT* rect, const RECT* clip) {
        return ::ScrollWindow(window_, dx, dy, rect, clip);
    }
    int ScrollWindowEx(int dx, int dy, const RECT* rect, const RECT* clip, HRGN update, RECT* updated, UINT flags) {
        return ::ScrollWindowEx(window_, dx, dy, rect, clip, update, updated, flags);
    }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC routine) { return ::SetTimer(window_, id, elapse, routine); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(window_, id); }
    // Texts of the program's own: CP932 on any system.
    int MessageBox(const char* text, const char* caption, UINT type) {
        WideChar wide_text[1024];
        WideChar wide_caption[256];
        return ::MessageBoxW(window_, plat::OwnText(text, wide_text, 1024), plat::OwnText(caption, wide_caption, 256),
                             type);
    }
    BOOL PostMessage(UINT message, WPARAM wparam, LPARAM lparam) {
        return ::PostMessageA(window_, message, wparam, lparam);
    }
    LRESULT SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
        return ::SendMessageA(window_, message, wparam, lparam);
    }
    LRESULT SendMessageTimeout(UINT message, WPARAM wparam, LPARAM lparam, UINT flags, UINT timeout,
                               DWORD_PTR* result) {
        return ::SendMessageTimeoutA(window_, message, wparam, lparam, flags, timeout, result);
    }

protected:
    void SetHandle(HWND window) { window_ = window; }

private:
    HWND window_ = nullptr;
    EInputFilter* filter_ = nullptr;
    EWindowInterface* interface_ = nullptr;
    WNDPROC previous_ = DefWindowProcA;
    plat::CriticalSection lock_;
    // What a subclassed window kept in GWLP_USERDATA before it was ours.
    LONG_PTR saved_user_data_ = 0;
};
