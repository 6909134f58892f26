#include "window/display_mode.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class FakeDisplay : public EDisplayModeSystem {
public:
    FakeDisplay(std::vector<EDisplayModeInfo> modes, uint32_t desktop) : modes(std::move(modes)), desktop(desktop) {}
    bool EnumerateMode(uint32_t index, EDisplayModeInfo* mode) override {
        if (index >= modes.size()) return false;
        *mode = modes[index];
        return true;
    }
    uint32_t GetCurrentBitsPerPixel() override { return desktop; }
    uint32_t GetCurrentFrequency() override { return 60; }
    bool ApplyMode(const EDisplayModeInfo& m) override { return applied.push_back(m), true; }
    bool RestoreMode() override { return ++restored, true; }

    std::vector<EDisplayModeInfo> modes;
    uint32_t desktop;
    std::vector<EDisplayModeInfo> applied;
    int restored = 0;
};

}  // namespace

// The exact mode when offered, else the smallest that holds the size under
// the depth rules; the desktop here runs at 16 bits, and a mode of the best
// size so far wins at that depth even over the depth asked for.
TEST(DisplayMode, ChoosesTheSmallestModeThatHolds) {
    const std::vector<EDisplayModeInfo> offered = {
        {1024, 768, 16, 60, 0}, {800, 600, 32, 60, 0}, {800, 600, 16, 60, 0}, {640, 480, 8, 60, 0},
        {640, 480, 16, 60, 0},  {640, 480, 32, 60, 0}, {512, 384, 8, 60, 0},  {1280, 1024, 8, 60, 0},
    };
    struct Case {
        uint32_t w, h, bits;
        bool found;
        uint32_t sw, sh, sbits;
        bool differs;
    } const cases[] = {
        {640, 480, 0, true, 640, 480, 16, false},   {640, 480, 32, true, 640, 480, 32, false},
        {600, 400, 0, true, 640, 480, 16, true},    {600, 400, 16, true, 640, 480, 16, true},
        {600, 400, 8, true, 640, 480, 16, true},     {700, 500, 8, true, 1280, 1024, 8, true},
        {700, 500, 24, true, 800, 600, 16, true},   {700, 500, 0, true, 800, 600, 16, true},
        {1100, 800, 16, false, 0, 0, 0, false},     {1300, 1100, 0, false, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits);
        FakeDisplay display(offered, 16);
        EDisplayChoice choice{};
        {
            EDisplayMode mode(&display);
            const ResultCode r = ChooseDisplayMode(&mode, c.w, c.h, c.bits, 0, &choice);
            if (!c.found) {
                EXPECT_EQ(r, MessageResult(EDisplayMode::kNoModeText));
                EXPECT_STREQ(GetResultText(r), "適合するディスプレイモードが見つかりませんでした。");
                EXPECT_TRUE(display.applied.empty());
                continue;
            }
            ASSERT_EQ(r, ResultSuccess);
            EXPECT_EQ(choice.screen_width, c.sw);
            EXPECT_EQ(choice.screen_height, c.sh);
            EXPECT_EQ(choice.bits, c.sbits);
            EXPECT_EQ(choice.differs, c.differs);
            ASSERT_EQ(display.applied.size(), 1u);
            EXPECT_EQ(display.applied[0].width, c.sw);
        }
        EXPECT_EQ(display.restored, 1);  // the object gives the display back
    }
}

TEST(DisplayMode, FrequencyAndCentring) {
    FakeDisplay display({{640, 480, 16, 75, 0}, {640, 480, 16, 60, 0}}, 16);
    EDisplayMode mode(&display);
    EXPECT_EQ(mode.SelectMode(640, 480, 0, 0), 0);  // current frequency, 60
    EXPECT_EQ(mode.GetMode().frequency, 60u);
    EXPECT_EQ(mode.SelectMode(640, 480, 16, 75), 0);
    EXPECT_EQ(mode.GetMode().frequency, 75u);
    EXPECT_EQ(mode.SelectMode(640, 480, 16, 85), 1);
    EXPECT_EQ(CentringOffset(640, 600), 20);
    EXPECT_EQ(CentringOffset(480, 400), 40);
    EXPECT_EQ(CentringOffset(640, 640), 0);
}
