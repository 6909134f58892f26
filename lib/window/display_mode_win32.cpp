// Display modes of the real display: EnumDisplaySettingsA and
// ChangeDisplaySettingsA with CDS_FULLSCREEN.
#include <windows.h>

#include "window/display_mode.h"

static_assert(sizeof(DEVMODEA) == 156);

namespace {

class Win32Display final : public EDisplayModeSystem {
public:
    bool EnumerateMode(uint32_t index, EDisplayModeInfo* mode) override {
        DEVMODEA d{};
        d.dmSize = sizeof d;
        if (!EnumDisplaySettingsA(nullptr, index, &d)) return false;
        *mode = {d.dmPelsWidth, d.dmPelsHeight, d.dmBitsPerPel, d.dmDisplayFrequency, d.dmDisplayFlags};
        return true;
    }
    uint32_t GetCurrentBitsPerPixel() override {
        HDC dc = CreateCompatibleDC(nullptr);
        if (dc == nullptr) return 0;
        const int bits = GetDeviceCaps(dc, BITSPIXEL);
        DeleteDC(dc);
        return static_cast<uint32_t>(bits);
    }
    uint32_t GetCurrentFrequency() override {
        DEVMODEA d{};
        d.dmSize = sizeof d;
        return EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &d) ? d.dmDisplayFrequency : 0;
    }
    bool ApplyMode(const EDisplayModeInfo& mode) override {
        DEVMODEA d{};
        d.dmSize = sizeof d;
        d.dmDriverExtra = 0;
        d.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY;
        d.dmBitsPerPel = mode.bits;
        d.dmPelsWidth = mode.width;
        d.dmPelsHeight = mode.height;
        d.dmDisplayFlags = mode.display_flags;
        d.dmDisplayFrequency = mode.frequency;
        return ChangeDisplaySettingsA(&d, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
    }
    bool RestoreMode() override { return ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL; }
};

static_assert((DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFLAGS | DM_DISPLAYFREQUENCY) == 0x7C0000);

}  // namespace

EDisplayModeSystem* GetSystemDisplayModes() {
    static Win32Display system;
    return &system;
}
