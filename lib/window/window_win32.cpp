#include "window/window.h"

const char EWindow::kCreateFailedText[] = "ウィンドウの作成に失敗しました。";
const char EWindow::kDestroyFailedText[] = "ウィンドウの破棄に失敗しました。";

namespace {

struct Lock {
    explicit Lock(plat::CriticalSection* cs) : cs_(cs) { plat::EnterCriticalSection(cs_); }
    ~Lock() { plat::LeaveCriticalSection(cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    plat::CriticalSection* cs_;
};

EWindow* StoredObject(HWND window) { return reinterpret_cast<EWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

}  // namespace

EWindowInterface::~EWindowInterface() {
    if (window_ != nullptr && window_->GetInterface() == this) window_->SetInterface(nullptr);
}

LRESULT EWindowInterface::HandleMessage(EWindow* window, UINT message, WPARAM wparam, LPARAM lparam) {
    return window->DefaultProc(message, wparam, lparam);
}

EWindow::EWindow(EWindowInterface* window_interface) {
    plat::InitializeCriticalSection(&lock_);
    if (window_interface != nullptr) {
        interface_ = window_interface;
        window_interface->OnAttach(this);
    }
}

EWindow::EWindow(HWND window, EWindowInterface* window_interface) : window_(window) {
    plat::InitializeCriticalSection(&lock_);
    previous_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    saved_user_data_ = SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EWindow::SharedWindowProc));
    if (window_interface != nullptr) {
        interface_ = window_interface;
        window_interface->OnAttach(this);
    }
}

EWindow::~EWindow() {
    {
        Lock lock(&lock_);
        if (interface_ != nullptr) interface_->OnDetach(this);
        if (filter_ != nullptr) filter_->DetachWindow(this);
        interface_ = nullptr;
        filter_ = nullptr;
    }
    if (window_ != nullptr && IsWindow(window_)) {
        if (previous_ != DefWindowProcA) {
            SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
            SetWindowLongPtrA(window_, GWLP_USERDATA, saved_user_data_);
        } else if (StoredObject(window_) == this) {
            // The window outlives its object: later messages go to
            // DefWindowProcA instead of a dead object.
            SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        }
    }
    plat::DeleteCriticalSection(&lock_);
}

LRESULT CALLBACK EWindow::SharedWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* object = static_cast<EWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
        if (object != nullptr) object->window_ = window;
    }
    EWindow* object = StoredObject(window);
    if (object == nullptr || object->window_ != window) return DefWindowProcA(window, message, wparam, lparam);
    return object->WindowProc(message, wparam, lparam);
}

LRESULT EWindow::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    plat::EnterCriticalSection(&lock_);
    EMessageRecord record{window_, message, wparam, lparam, {0, 0, 0}};
    if (filter_ != nullptr && filter_->FilterMessage(&record)) {
        plat::LeaveCriticalSection(&lock_);
        return 0;
    }
    if (EWindowInterface* handler = interface_) {
        if (handler->PreTranslate(&record)) {
            plat::LeaveCriticalSection(&lock_);
            return 0;
        }
        plat::LeaveCriticalSection(&lock_);
        return handler->HandleMessage(this, message, wparam, lparam);
    }
    plat::LeaveCriticalSection(&lock_);
    return DefaultProc(message, wparam, lparam);
}

LRESULT EWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (previous_ == nullptr) return DefWindowProcA(window_, message, wparam, lparam);
    // A former procedure may be a handle that only CallWindowProcA resolves.
    return CallWindowProcA(previous_, window_, message, wparam, lparam);
}

ResultCode EWindow::Create(const char* class_name, const char* window_name, DWORD style, DWORD ex_style, int x, int y,
                           int width, int height, HWND parent, HMENU menu, HINSTANCE instance) {
    window_ = CreateWindowExA(ex_style, class_name, window_name, style, x, y, width, height, parent, menu, instance,
                              this);
    if (window_ == nullptr) return MessageResult(kCreateFailedText);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EWindow::SharedWindowProc));
    return ResultSuccess;
}

ResultCode EWindow::Destroy() {
    if (!DestroyWindow(window_)) return MessageResult(kDestroyFailedText);
    window_ = nullptr;
    return ResultSuccess;
}

void EWindow::SetInterface(EWindowInterface* window_interface) {
    Lock lock(&lock_);
    if (interface_ != nullptr) interface_->OnDetach(this);
    interface_ = window_interface;
    if (window_interface != nullptr) window_interface->OnAttach(this);
}

void EWindow::SetInputFilter(EInputFilter* filter) {
    Lock lock(&lock_);
    if (filter_ != nullptr) filter_->DetachWindow(this);
    filter_ = filter;
    if (filter != nullptr) filter->AttachWindow(this);
}

ATOM EWindow::RegisterWindowClass(const WNDCLASSA* window_class) {
    WNDCLASSA copy = *window_class;
    copy.lpfnWndProc = &EWindow::SharedWindowProc;
    copy.cbWndExtra = 4;
    return RegisterClassA(&copy);
}

ATOM EWindow::RegisterWindowClass(const char* class_name, UINT style, HINSTANCE instance, HICON icon, HCURSOR cursor,
                                  HBRUSH background) {
    WNDCLASSA c{};
    c.style = style;
    c.lpfnWndProc = &EWindow::SharedWindowProc;
    c.cbClsExtra = 0;
    c.cbWndExtra = 4;
    c.hInstance = instance;
    c.hIcon = icon;
    c.hCursor = cursor;
    c.hbrBackground = background;
    c.lpszMenuName = nullptr;
    c.lpszClassName = class_name;
    return RegisterClassA(&c);
}

BOOL EWindow::UnregisterWindowClass(const char* class_name, HINSTANCE instance) {
    return UnregisterClassA(class_name, instance);
}
