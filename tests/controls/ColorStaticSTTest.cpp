#include "controls/ColorStaticST.h"
#include "controls/SysColors.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

using controls::SysColor;
using controls::sysColor;
using ui::ColorRef;

constexpr ColorRef kRed = 0x0000FF;
constexpr ColorRef kYellow = 0x00FFFF;

TEST(ColorStaticST, PaintsItsTextAndBackgroundInItsColours)
{
    CColorStaticST title;
    crispFont(title, 14);
    title.setText("KRV857x VIVade");
    title.resize(220, 30);
    title.SetTextColor(kRed);
    QImage image = grabImage(title);
    const QRect all(0, 0, 220, 30);
    EXPECT_EQ(colorsIn(image, all), (std::set<ColorRef>{sysColor(SysColor::BtnFace), kRed}));
    EXPECT_GT(countColor(image, all, kRed), 20);

    title.SetBkColor(kYellow);
    title.SetTextColor(ui::kColorNotSet);  // back to the system's text colour
    image = grabImage(title);
    EXPECT_EQ(colorsIn(image, all), (std::set<ColorRef>{kYellow, sysColor(SysColor::BtnText)}));
}

TEST(ColorStaticST, BlinkPeriodsBySpeed)
{
    struct Case {
        unsigned speed;
        int ms;
    } cases[] = {{0, 2000}, {1, 1000}, {2, 500}, {3, 3}, {750, 750}};
    for (const Case& c : cases)
        EXPECT_EQ(CColorStaticST::BlinkPeriodMs(c.speed), c.ms) << "speed " << c.speed;
}

TEST(ColorStaticST, BlinkingTextUsesTheBlinkColoursNotTheTextColour)
{
    CColorStaticST status;
    const ColorRef initial = sysColor(SysColor::BtnText);
    status.SetTextColor(kRed);
    EXPECT_EQ(status.CtlColor().crText, kRed);

    // The blink colours start as the initial text colour.
    status.StartTextBlink(true, 2000);
    EXPECT_TRUE(status.IsBlinkTimerRunning());
    EXPECT_EQ(status.CtlColor().crText, initial);

    status.SetBlinkTextColors(kRed, kYellow);
    status.StartTextBlink(true, 3);
    EXPECT_EQ(status.CtlColor().crText, kRed);
    EXPECT_TRUE(runEventsUntil([&] { return status.CtlColor().crText == kYellow; }));
    EXPECT_TRUE(runEventsUntil([&] { return status.CtlColor().crText == kRed; }));
    EXPECT_EQ(status.CtlColor().crBk, sysColor(SysColor::BtnFace)) << "the background does not blink";

    status.StartTextBlink(false, 0);
    EXPECT_FALSE(status.IsBlinkTimerRunning());
    EXPECT_EQ(status.CtlColor().crText, kRed);
}

TEST(ColorStaticST, TheBackgroundBlinksOnTheSameTimer)
{
    CColorStaticST status;
    status.SetBlinkBkColors(kYellow, kRed);
    status.StartBkBlink(true, 3);
    EXPECT_EQ(status.CtlColor().crBk, kYellow);
    EXPECT_TRUE(runEventsUntil([&] { return status.CtlColor().crBk == kRed; }));
    // Stopping text blinking stops the one timer both share.
    status.StartTextBlink(false, 0);
    EXPECT_FALSE(status.IsBlinkTimerRunning());
}

}  // namespace
}  // namespace krv::test
