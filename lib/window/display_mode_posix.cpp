#include "window/display_mode.h"

namespace {

class NoDisplay final : public EDisplayModeSystem {
public:
    bool EnumerateMode(uint32_t, EDisplayModeInfo*) override { return false; }
    uint32_t GetCurrentBitsPerPixel() override { return 0; }
    uint32_t GetCurrentFrequency() override { return 0; }
    bool ApplyMode(const EDisplayModeInfo&) override { return false; }
    bool RestoreMode() override { return false; }
};

}  // namespace

EDisplayModeSystem* GetSystemDisplayModes() {
    static NoDisplay system;
    return &system;
}
