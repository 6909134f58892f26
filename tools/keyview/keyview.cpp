// keyview: a game window with an input filter loaded from a key-assignment
// file. A game thread waits for key events and writes each one to a log
// file and to the window; every key or mouse message that reaches the
// window behind the filter is logged too. Escape (as a key event) quits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/hvb.h"
#include "platform/codepage.h"
#include "runtime/thread.h"
#include "window/game_window.h"
#include "xml/description.h"

namespace {

const char kUsage[] =
    "usage: keyview [options]\n"
    "  --size WxH        client size (default 640x480)\n"
    "  --fullscreen      full screen instead of a captioned window\n"
    "  --topmost         topmost window, high priority\n"
    "  --bits N          display depth for full screen (default: the desktop's)\n"
    "  --keys FILE       key assignments: an XML file holding a <filter> element\n"
    "  --encoding NAME   its encoding: utf-8 (default), Shift_JIS, iso-2022-jp\n"
    "  --log FILE        the event log (default keyview.log)\n"
    "  --queue N         key queue capacity (default 64)\n"
    "  --wait MS         the game thread's wait per event (default 1000)\n"
    "  --delay MS        the game thread starts waiting this late (default 0)\n"
    "  --start-file FILE the game thread starts waiting once FILE exists\n"
    "  --seconds N       quit after N seconds (default: on Escape only)\n"
    "Log lines: 'desktop BITS', 'window X Y W H OX OY SW SH BITS' (screen position of the\n"
    "client area, requested size, client offset, screen size, depth),\n"
    "'mode W H BITS HZ' per display mode, 'key DEVICE NUMBER CODE' per key\n"
    "event, 'timeout' per empty wait, 'message NAME CODE' per key or mouse\n"
    "message (and WM_CLOSE, as 'message close 0') the window itself receives;\n"
    "last 'end escape' or 'end time limit', for why it ended.\n";

const char kTitle[] = "keyview";
constexpr UINT kQuitMessage = WM_APP + 1;
constexpr int kShown = 8;

struct Options {
    int width = 640;
    int height = 480;
    uint32_t flags = 0;
    uint32_t bits = 0;
    const char* keys = nullptr;
    const char* encoding = "utf-8";
    const char* log = "keyview.log";
    uint32_t queue = 64;
    uint32_t wait = 1000;
    uint32_t delay = 0;
    const char* start_file = nullptr;
    uint32_t seconds = 0;
};

CRITICAL_SECTION g_lock;
FILE* g_log = nullptr;
char g_lines[kShown][64];
int g_line_count = 0;
volatile LONG g_stop = 0;

void Log(const char* text) {
    EnterCriticalSection(&g_lock);
    std::fprintf(g_log, "%s\n", text);
    std::fflush(g_log);
    LeaveCriticalSection(&g_lock);
}

void Show(const char* text) {
    EnterCriticalSection(&g_lock);
    if (g_line_count == kShown) {
        std::memmove(g_lines[0], g_lines[1], sizeof g_lines[0] * (kShown - 1));
        --g_line_count;
    }
    std::snprintf(g_lines[g_line_count++], sizeof g_lines[0], "%s", text);
    LeaveCriticalSection(&g_lock);
}

const char* MessageName(UINT message) {
    switch (message) {
        case WM_KEYDOWN: return "keydown";
        case WM_KEYUP: return "keyup";
        case WM_LBUTTONDOWN: return "lbuttondown";
        case WM_LBUTTONUP: return "lbuttonup";
        case WM_RBUTTONDOWN: return "rbuttondown";
        case WM_RBUTTONUP: return "rbuttonup";
        case WM_MBUTTONDOWN: return "mbuttondown";
        case WM_MBUTTONUP: return "mbuttonup";
        case WM_MOUSEWHEEL: return "mousewheel";
        case WM_CLOSE: return "close";
        default: return nullptr;
    }
}

class Viewer : public EWindowInterface {
public:
    LRESULT HandleMessage(EWindow* window, UINT message, WPARAM wparam, LPARAM lparam) override {
        if (const char* name = MessageName(message)) {
            char line[64];
            std::snprintf(line, sizeof line, "message %s %u", name,
                          static_cast<unsigned>(message == WM_KEYDOWN || message == WM_KEYUP ? wparam : 0));
            Log(line);
        } else if (message == WM_PAINT) {
            Paint(static_cast<EGameWindow*>(window));
            return 0;
        } else if (message == kQuitMessage) {
            PostQuitMessage(0);
            return 0;
        }
        return window->DefaultProc(message, wparam, lparam);
    }

private:
    static void Paint(EGameWindow* window) {
        PAINTSTRUCT paint;
        HDC dc = window->BeginPaint(&paint);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        const POINT origin = window->GetClientOffset();
        EnterCriticalSection(&g_lock);
        for (int i = 0; i < g_line_count; ++i) {
            TextOutA(dc, origin.x + 8, origin.y + 8 + 20 * i, g_lines[i], static_cast<int>(std::strlen(g_lines[i])));
        }
        LeaveCriticalSection(&g_lock);
        window->EndPaint(&paint);
    }
};

// The game: waits for key events and shows each one.
class GameThread : public EZMRThread {
public:
    GameThread(EInputFilter* filter, EGameWindow* window, const Options* options)
        : filter_(filter), window_(window), options_(options) {}

    uint32_t Run() override {
        if (options_->delay != 0) Sleep(options_->delay);
        // A script that must have its keys queued before the first wait says
        // when by making the file.
        while (options_->start_file != nullptr && GetFileAttributesA(options_->start_file) == INVALID_FILE_ATTRIBUTES &&
               InterlockedCompareExchange(&g_stop, 0, 0) == 0) {
            Sleep(10);
        }
        while (InterlockedCompareExchange(&g_stop, 0, 0) == 0) {
            EKeyEvent e{};
            if (filter_->WaitKeyEvent(&e, options_->wait, false) != ResultSuccess) {
                Log("timeout");
                continue;
            }
            char line[64];
            std::snprintf(line, sizeof line, "key %d %d %d", static_cast<int>(e.device), static_cast<int>(e.number),
                          static_cast<int>(e.code));
            Log(line);
            Show(line);
            window_->InvalidateRect(nullptr, TRUE);
            if (e.device == KeyDeviceKeyboard && e.code == VK_ESCAPE) window_->PostMessage(kQuitMessage, 0, 0);
        }
        return 0;
    }

private:
    EInputFilter* filter_;
    EGameWindow* window_;
    const Options* options_;
};

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto number = [&](uint32_t* out) {
            if (v == nullptr) return false;
            char* end = nullptr;
            const unsigned long n = std::strtoul(v, &end, 10);
            if (end == v || *end != 0) return false;
            *out = static_cast<uint32_t>(n);
            ++i;
            return true;
        };
        if (std::strcmp(a, "--fullscreen") == 0) {
            o->flags |= EGameWindow::WindowFullScreen;
        } else if (std::strcmp(a, "--topmost") == 0) {
            o->flags |= EGameWindow::WindowTopmost;
        } else if (std::strcmp(a, "--size") == 0) {
            if (v == nullptr || std::sscanf(v, "%dx%d", &o->width, &o->height) != 2 || o->width <= 0 || o->height <= 0) {
                return false;
            }
            ++i;
        } else if (std::strcmp(a, "--start-file") == 0) {
            if (v == nullptr) return false;
            o->start_file = v;
            ++i;
        } else if (std::strcmp(a, "--keys") == 0 || std::strcmp(a, "--log") == 0 || std::strcmp(a, "--encoding") == 0) {
            if (v == nullptr) return false;
            (a[2] == 'k' ? o->keys : a[2] == 'l' ? o->log : o->encoding) = v;
            ++i;
        } else if (std::strcmp(a, "--bits") == 0) {
            if (!number(&o->bits)) return false;
        } else if (std::strcmp(a, "--queue") == 0) {
            if (!number(&o->queue)) return false;
        } else if (std::strcmp(a, "--wait") == 0) {
            if (!number(&o->wait)) return false;
        } else if (std::strcmp(a, "--delay") == 0) {
            if (!number(&o->delay)) return false;
        } else if (std::strcmp(a, "--seconds") == 0) {
            if (!number(&o->seconds)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// False after printing why.
bool LoadKeys(const Options& o, EInputFilter* filter) {
    // Shift_JIS is code 0, which is also the answer for unknown names.
    const int32_t encoding = EDescription::GetEncodingCode(o.encoding);
    if (encoding == 0 && _stricmp(o.encoding, EDescription::GetEncodingName(0)) != 0) {
        std::fprintf(stderr, "keyview: unknown encoding %s\n", o.encoding);
        return false;
    }
    FILE* f = std::fopen(o.keys, "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "keyview: cannot read %s\n", o.keys);
        return false;
    }
    EStreamBuffer bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.Write(chunk, static_cast<uint32_t>(n));
    std::fclose(f);
    EDescription document;
    if (document.ReadDescription(&bytes, 0, encoding) != ResultSuccess || filter->LoadDescription(&document) != 0) {
        std::fprintf(stderr, "keyview: %s holds no <filter> element\n", o.keys);
        return false;
    }
    return true;
}

// The viewer's objects hold blocks of the library's heap: they all go before
// the library closes, which frees that heap.
int RunViewer(const Options& options) {
    g_log = std::fopen(options.log, "w");
    if (g_log == nullptr) {
        std::fprintf(stderr, "keyview: cannot write %s\n", options.log);
        return 1;
    }

    EInputFilter filter;
    if (options.keys != nullptr && !LoadKeys(options, &filter)) return 1;
    filter.SetQueueCapacity(options.queue);

    {
        char line[32];
        std::snprintf(line, sizeof line, "desktop %u", EDisplayMode().GetCurrentBitsPerPixel());
        Log(line);
    }
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    for (DWORD i = 0; EnumDisplaySettingsA(nullptr, i, &mode); ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "mode %lu %lu %lu %lu", mode.dmPelsWidth, mode.dmPelsHeight,
                      mode.dmBitsPerPel, mode.dmDisplayFrequency);
        Log(line);
    }

    Viewer viewer;
    EGameWindow window;
    window.SetInterface(&viewer);
    const ResultCode created = window.CreateGameWindow(kTitle, options.flags, static_cast<uint32_t>(options.width),
                                                       static_cast<uint32_t>(options.height), options.bits, 0, nullptr);
    if (created != ResultSuccess) {
        std::fprintf(stderr, "keyview: %s\n", GetResultText(created));
        return 1;
    }
    window.SetInputFilter(&filter);
    // The title is ours: set as UTF-16 straight into the window, which the
    // library makes in the system's code page.
    WideChar title[32];
    DefWindowProcW(window.GetHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(plat::OwnText(kTitle, title, 32)));

    POINT origin{0, 0};
    window.ClientToScreenOffset(&origin);
    const POINT offset = window.GetClientOffset();
    const POINT screen = window.GetScreenSize();
    char line[128];
    std::snprintf(line, sizeof line, "window %ld %ld %d %d %ld %ld %ld %ld %u", origin.x, origin.y, options.width,
                  options.height, offset.x, offset.y, screen.x, screen.y, window.GetBitsPerPixel());
    Log(line);

    GameThread game(&filter, &window, &options);
    if (game.Create() != 0) {
        std::fputs("keyview: cannot start the game thread\n", stderr);
        return 1;
    }
    const DWORD start = GetTickCount();
    bool timed_out = false;
    while (EGameWindow::PumpMessages(100, nullptr, 0, 0) == 0) {
        if (options.seconds != 0 && GetTickCount() - start >= options.seconds * 1000) {
            timed_out = true;
            break;
        }
    }
    InterlockedExchange(&g_stop, 1);
    WaitForSingleObject(game.GetThreadHandle(), INFINITE);
    game.CloseThreadHandle();
    window.SetInputFilter(nullptr);
    window.DestroyGameWindow();
    Log(timed_out ? "end time limit" : "end escape");
    std::fclose(g_log);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (!ParseOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    zmrInitializeLibrary();
    InitializeCriticalSection(&g_lock);
    const int status = RunViewer(options);
    zmrCloseLibrary();
    return status;
}

