#include <QPainter>

#include "controls/SysColors.h"
#include "controls/TextProgressCtrl.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

using controls::SysColor;
using controls::sysColor;
using ui::ColorRef;

TEST(TextProgressCtrl, RangeStepAndPositionAnswerAsTheStandardBar)
{
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.GetPos(), 0);
    EXPECT_EQ(bar.GetDisplayText(), "0%");

    EXPECT_EQ(bar.SetRange(0, 100), (100u << 16) | 0u);
    EXPECT_EQ(bar.SetRange(-5, 50), (100u << 16) | 0u);
    EXPECT_EQ(bar.SetRange32(0, 100), (50u << 16) | 0xFFFBu);
    int lower = -1, upper = -1;
    bar.GetRange(lower, upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 100);

    struct Case {
        const char* name;
        int from;
        std::function<int(CTextProgressCtrl&)> act;
        int returned, pos;
    } cases[] = {
        {"set", 10, [](CTextProgressCtrl& b) { return b.SetPos(40); }, 10, 40},
        {"set above the range", 10, [](CTextProgressCtrl& b) { return b.SetPos(150); }, 10, 100},
        {"set below the range", 10, [](CTextProgressCtrl& b) { return b.SetPos(-20); }, 10, 0},
        {"offset", 30, [](CTextProgressCtrl& b) { return b.OffsetPos(-7); }, 30, 23},
        {"step wraps past the top", 95, [](CTextProgressCtrl& b) { return b.StepIt(); }, 95, 5},
        {"step to the top", 90, [](CTextProgressCtrl& b) { return b.StepIt(); }, 90, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bar.SetPos(c.from);
        EXPECT_EQ(c.act(bar), c.returned);
        EXPECT_EQ(bar.GetPos(), c.pos);
    }
    EXPECT_EQ(bar.SetStep(-10), 10);
    bar.SetPos(5);
    bar.StepIt();
    EXPECT_EQ(bar.GetPos(), 95) << "wraps past the bottom too";

    bar.SetPos(150);
    EXPECT_EQ(bar.GetDisplayText(), "100%");
    bar.SetRange(0, 3);
    bar.SetPos(2);
    EXPECT_EQ(bar.GetDisplayText(), "67%");
    bar.SetShowPercent(false);
    bar.SetWindowText("Busy");
    EXPECT_EQ(bar.GetDisplayText(), "Busy");
}

TEST(TextProgressCtrl, ColoursReturnTheOldValueAndResolveTheSystemColour)
{
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.GetBarColor(), sysColor(SysColor::Highlight));
    EXPECT_EQ(bar.GetBkColor(), sysColor(SysColor::BtnFace));
    EXPECT_EQ(bar.SetBarColor(0x0000FF), CTextProgressCtrl::kSystemColor);
    EXPECT_EQ(bar.SetBarColor(0x00FF00), 0x0000FFu);
    EXPECT_EQ(bar.GetBarColor(), 0x00FF00u);
    EXPECT_EQ(bar.SetBkColor(0xFFFFFF), CTextProgressCtrl::kSystemColor);
    EXPECT_EQ(bar.SetBarColor(CTextProgressCtrl::kSystemColor), 0x00FF00u);
    EXPECT_EQ(bar.GetBarColor(), sysColor(SysColor::Highlight));
    EXPECT_EQ(bar.SetTextColor(0x123456), CTextProgressCtrl::kSystemColor);
    EXPECT_EQ(bar.GetTextColor(), 0x123456u);
    EXPECT_EQ(bar.SetTextOverBarColor(0x654321), CTextProgressCtrl::kSystemColor);
    EXPECT_EQ(bar.GetTextOverBarColor(), 0x654321u);
}

TEST(TextProgressCtrl, MarqueeRunsPastTheEndSoTheBlockLeavesAndThenTurns)
{
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.SetMarqueeBlock(20), 20);
    EXPECT_EQ(bar.GetMarqueeMax(), 120);
    EXPECT_TRUE(bar.SetMarquee(true, 1));
    EXPECT_FALSE(bar.GetShowPercent());
    EXPECT_TRUE(bar.GetStyle() & CTextProgressCtrl::kStyleMarquee);
    bar.SetPos(150);
    EXPECT_EQ(bar.GetPos(), 120);

    bar.SetPos(115);
    ASSERT_TRUE(runEventsUntil([&] { return bar.GetPos() == 120; }));
    ASSERT_TRUE(runEventsUntil([&] { return bar.GetPos() < 118; })) << "the block never turned";

    EXPECT_FALSE(bar.SetMarquee(false, 0));
    EXPECT_FALSE(bar.GetStyle() & CTextProgressCtrl::kStyleMarquee);
    bar.SetPos(150);
    EXPECT_EQ(bar.GetPos(), 100);
}

class TextProgressPaint : public testing::Test {
protected:
    TextProgressPaint()
    {
        crispFont(bar, 11);
        bar.resize(200, 20);
        bar.SetBarColor(kBar);
        bar.SetBkColor(kBack);
        bar.SetTextOverBarColor(kOnBar);
        bar.SetTextColor(kOnBack);
    }
    static constexpr ColorRef kBar = 0x0000FF;     // red
    static constexpr ColorRef kBack = 0xFFFFFF;
    static constexpr ColorRef kOnBar = 0x00FF00;
    static constexpr ColorRef kOnBack = 0xFF0000;  // blue

    // The left-most and right-most columns holding text pixels.
    std::pair<int, int> textSpan(const QImage& image)
    {
        int first = -1, last = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y) {
                const ColorRef c = pixelAt(image, x, y);
                if (c == kOnBar || c == kOnBack) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
            }
        return {first, last};
    }

    CTextProgressCtrl bar;
};

TEST_F(TextProgressPaint, TheBarAndItsTextAreDrawnInTwoColoursAcrossTheEdge)
{
    bar.SetPos(50);
    const QImage image = grabImage(bar);
    EXPECT_EQ(QColor(image.pixel(25, 2)), QColor(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 175, 2), kBack);

    const QRect left(0, 0, 100, 20), right(100, 0, 100, 20);
    EXPECT_EQ(colorsIn(image, left), (std::set<ColorRef>{kBar, kOnBar}));
    EXPECT_EQ(colorsIn(image, right), (std::set<ColorRef>{kBack, kOnBack}));
    const auto [first, last] = textSpan(image);
    EXPECT_LT(first, 100);
    EXPECT_GT(last, 100);
    EXPECT_NEAR((first + last) / 2.0, 100, 4) << "the text is centred";
}

TEST_F(TextProgressPaint, TheTextSitsAtTheStartOrTheEnd)
{
    bar.SetPos(0);
    bar.AlignText(CTextProgressCtrl::kAlignStart);
    auto [first, last] = textSpan(grabImage(bar));
    EXPECT_GE(first, 2);
    EXPECT_LE(first, 5);
    bar.AlignText(CTextProgressCtrl::kAlignEnd);
    std::tie(first, last) = textSpan(grabImage(bar));
    EXPECT_LE(last, 196);
    EXPECT_GE(last, 192);
}

TEST_F(TextProgressPaint, AVerticalBarGrowsFromTheBottom)
{
    bar.resize(20, 200);
    bar.ModifyStyle(0, CTextProgressCtrl::kStyleVertical);
    bar.SetPos(25);
    const QImage image = grabImage(bar);
    EXPECT_EQ(pixelAt(image, 1, 195), kBar);
    EXPECT_EQ(pixelAt(image, 1, 151), kBar);
    EXPECT_EQ(pixelAt(image, 1, 149), kBack);
    EXPECT_EQ(pixelAt(image, 1, 5), kBack);
    // "25%" reads upward, so it is taller than wide.
    const QRect text = [&] {
        QRect r;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 20; ++x)
                if (pixelAt(image, x, y) == kOnBack || pixelAt(image, x, y) == kOnBar)
                    r |= QRect(x, y, 1, 1);
        return r;
    }();
    EXPECT_GT(text.height(), text.width());
}

TEST_F(TextProgressPaint, AMarqueeBlockEndsAtThePositionAndIsClampedToTheBar)
{
    bar.SetShowPercent(false);
    bar.ModifyStyle(0, CTextProgressCtrl::kStyleMarquee);
    bar.SetMarqueeBlock(20);  // 40 of 200 pixels
    bar.SetPos(50);           // far end at 100
    QImage image = grabImage(bar);
    EXPECT_EQ(pixelAt(image, 58, 2), kBack);
    EXPECT_EQ(pixelAt(image, 61, 2), kBar);
    EXPECT_EQ(pixelAt(image, 98, 2), kBar);
    EXPECT_EQ(pixelAt(image, 101, 2), kBack);

    bar.SetPos(10);  // near end before the start edge
    image = grabImage(bar);
    EXPECT_EQ(pixelAt(image, 0, 2), kBar);
    EXPECT_EQ(pixelAt(image, 21, 2), kBack);

    bar.SetPos(115);  // far end beyond the end edge
    image = grabImage(bar);
    EXPECT_EQ(pixelAt(image, 199, 2), kBar);
    EXPECT_EQ(pixelAt(image, 185, 2), kBack);
}

TEST_F(TextProgressPaint, AnEmptyRangeDrawsNothing)
{
    bar.SetRange(50, 50);
    QPixmap canvas(200, 20);
    canvas.fill(Qt::magenta);
    bar.render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(colorsIn(canvas.toImage().convertToFormat(QImage::Format_RGB32), QRect(0, 0, 200, 20)),
              (std::set<ColorRef>{ui::toColorRef(Qt::magenta)}));
}

}  // namespace
}  // namespace krv::test
