// Display modes: selecting one of the modes the display offers, switching to
// it and back, and the choice of the smallest mode that holds a requested
// size. The modes come through a seam: the production one enumerates and
// changes the real display settings (Win32); tests offer their own list.
#pragma once

#include <cstdint>

#include "core/object.h"
#include "core/result.h"

struct EDisplayModeInfo {
    uint32_t width;
    uint32_t height;
    uint32_t bits;
    uint32_t frequency;
    uint32_t display_flags;
};

class EDisplayModeSystem {
public:
    virtual ~EDisplayModeSystem() = default;
    // The mode at an index of the display's list; false past its end.
    virtual bool EnumerateMode(uint32_t index, EDisplayModeInfo* mode) = 0;
    // 0 when unknown.
    virtual uint32_t GetCurrentBitsPerPixel() = 0;
    virtual uint32_t GetCurrentFrequency() = 0;
    // Full-screen switch to the mode, and back to the registry's mode.
    virtual bool ApplyMode(const EDisplayModeInfo& mode) = 0;
    virtual bool RestoreMode() = 0;
};

// The production system of this target; lives for the whole run. Systems
// without a display offer no modes.
EDisplayModeSystem* GetSystemDisplayModes();

class EDisplayMode : public HVBObject {
    HVB_DECLARE_CLASS(EDisplayMode, HVBObject)

public:
    static const char kNoModeText[];

    // Null: the production system.
    explicit EDisplayMode(EDisplayModeSystem* system = nullptr);
    // Restores the display when this object changed it.
    ~EDisplayMode() override;
    EDisplayMode(const EDisplayMode&) = delete;
    EDisplayMode& operator=(const EDisplayMode&) = delete;

    uint32_t GetCurrentBitsPerPixel() const { return system_->GetCurrentBitsPerPixel(); }
    uint32_t GetCurrentFrequency() const { return system_->GetCurrentFrequency(); }
    // 0 found, 1 not. Bits 0 is the current depth, frequency 0 the current
    // frequency (any, when that is unknown).
    int32_t SelectMode(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency);
    // 0 or 1.
    int32_t ApplyMode();
    int32_t RestoreMode();

    const EDisplayModeInfo& GetMode() const { return mode_; }
    bool IsChanged() const { return changed_; }
    EDisplayModeSystem* GetSystem() const { return system_; }

private:
    EDisplayModeInfo mode_{};
    bool changed_ = false;
    EDisplayModeSystem* system_;
};

// What a game window ends up with after asking for a display mode.
struct EDisplayChoice {
    uint32_t screen_width;
    uint32_t screen_height;
    uint32_t bits;
    uint32_t frequency;
    bool differs;  // the mode is larger than the requested size
};

// Switches to the requested mode, or else to the smallest offered mode that
// holds the size under the depth rules: bits 0 keeps the desktop's depth,
// bits above 8 takes any depth above 8, bits 1 to 8 any paletted depth; a
// mode of the best size so far replaces it only at the desktop's depth. The
// message result kNoModeText when nothing fits.
ResultCode ChooseDisplayMode(EDisplayMode* mode, uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency,
                             EDisplayChoice* choice);

// Where a requested client area starts when it is centred on the screen.
inline int32_t CentringOffset(uint32_t screen, uint32_t requested) {
    return (static_cast<int32_t>(screen) - static_cast<int32_t>(requested)) / 2;
}
