#include <gtest/gtest.h>

#include "ui/Colors.h"

namespace krv::ui {
namespace {

struct ColorCase {
    ColorRef value;
    int red, green, blue;
};

// The values the system's code uses; 0x0000FF is red, not blue.
const ColorCase kColors[] = {
    {0x000000FF, 255, 0, 0},      // fail
    {0x0000FF00, 0, 255, 0},      // pass
    {0x00FF0000, 0, 0, 255},      // blue
    {0x0000C800, 0, 200, 0},      // green mode
    {0x0000A5FF, 255, 165, 0},    // orange, RGB(255,165,0)
    {0x00B400B4, 180, 0, 180},    // purple
    {0x0014E814, 20, 232, 20},    // scan progress, RGB(20,232,20)
    {0x00FFFFFF, 255, 255, 255},
    {0x00000000, 0, 0, 0},
};

TEST(Colors, ConvertsBothWaysInWindowByteOrder)
{
    for (const ColorCase& c : kColors) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        EXPECT_EQ(rgb(uint8_t(c.red), uint8_t(c.green), uint8_t(c.blue)), c.value);
        const QColor q = toQColor(c.value);
        ASSERT_TRUE(q.isValid());
        EXPECT_EQ(q.red(), c.red);
        EXPECT_EQ(q.green(), c.green);
        EXPECT_EQ(q.blue(), c.blue);
        EXPECT_EQ(q.alpha(), 255);
        EXPECT_EQ(toColorRef(q), c.value);
    }
}

TEST(Colors, SentinelsAreNotColoursAndNotSetSurvivesARoundTrip)
{
    for (ColorRef sentinel : {kColorNotSet, ColorRef(0xFF000000), ColorRef(0x010000FF)}) {
        SCOPED_TRACE(testing::Message() << std::hex << sentinel);
        EXPECT_FALSE(toQColor(sentinel).isValid());
    }
    EXPECT_EQ(toColorRef(QColor()), kColorNotSet);
    EXPECT_EQ(toColorRef(toQColor(kColorNotSet)), kColorNotSet);
}

TEST(Colors, AlphaAndColourSpaceAreDropped)
{
    EXPECT_EQ(toColorRef(QColor(1, 2, 3, 4)), 0x00030201u);
    EXPECT_EQ(toColorRef(QColor::fromHsv(0, 255, 255)), 0x000000FFu);  // pure red in HSV
}

}  // namespace
}  // namespace krv::ui
