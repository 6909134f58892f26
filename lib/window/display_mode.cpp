#include "window/display_mode.h"

const char EDisplayMode::kNoModeText[] = "適合するディスプレイモードが見つかりませんでした。";

EDisplayMode::EDisplayMode(EDisplayModeSystem* system)
    : system_(system != nullptr ? system : GetSystemDisplayModes()) {}

EDisplayMode::~EDisplayMode() { RestoreMode(); }

int32_t EDisplayMode::SelectMode(uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency) {
    if (bits == 0) bits = system_->GetCurrentBitsPerPixel();
    if (frequency == 0) frequency = system_->GetCurrentFrequency();
    EDisplayModeInfo m{};
    for (uint32_t i = 0; system_->EnumerateMode(i, &m); ++i) {
        if (m.bits == bits && m.width == width && m.height == height && (frequency == 0 || m.frequency == frequency)) {
            mode_ = m;
            return 0;
        }
    }
    return 1;
}

int32_t EDisplayMode::ApplyMode() {
    if (!system_->ApplyMode(mode_)) return 1;
    changed_ = true;
    return 0;
}

int32_t EDisplayMode::RestoreMode() {
    if (!changed_) return 0;
    if (!system_->RestoreMode()) return 1;
    changed_ = false;
    return 0;
}

ResultCode ChooseDisplayMode(EDisplayMode* mode, uint32_t width, uint32_t height, uint32_t bits, uint32_t frequency,
                             EDisplayChoice* choice) {
    if (mode->SelectMode(width, height, bits, frequency) == 0 && mode->ApplyMode() == 0) {
        *choice = {width, height, mode->GetMode().bits, mode->GetMode().frequency, false};
        return ResultSuccess;
    }
    EDisplayModeSystem* system = mode->GetSystem();
    const uint32_t desktop = system->GetCurrentBitsPerPixel();
    uint32_t best_width = 0x7FFFFFFF;
    uint32_t best_height = 0x7FFFFFFF;
    uint32_t best_bits = 0;
    uint32_t best_frequency = 0;
    bool taken = false;
    EDisplayModeInfo m{};
    for (uint32_t i = 0; system->EnumerateMode(i, &m); ++i) {
        if (m.width < width || m.height < height || m.width > best_width || m.height > best_height) continue;
        if (frequency != 0 && m.frequency != frequency) continue;
        bool take;
        if (m.width == best_width && m.height == best_height) {
            take = m.bits == desktop;
        } else if (bits == 0) {
            take = m.bits == desktop;
        } else if (bits > 8) {
            take = m.bits > 8;
        } else {
            take = m.bits <= 8;
        }
        if (!take) continue;
        best_width = m.width;
        best_height = m.height;
        best_bits = m.bits;
        best_frequency = m.frequency;
        taken = true;
    }
    if (!taken || mode->SelectMode(best_width, best_height, best_bits, best_frequency) != 0) {
        return MessageResult(EDisplayMode::kNoModeText);
    }
    mode->ApplyMode();
    *choice = {best_width, best_height, mode->GetMode().bits, mode->GetMode().frequency,
               best_width != width || best_height != height};
    return ResultSuccess;
}
