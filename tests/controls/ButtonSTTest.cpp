// The owner-drawn button: its colour arithmetic, check-box behaviour, icon
// choice, tooltip, and what a paint puts where (rendered to an image under
// a palette with one distinct colour per system colour).
#include <QDir>
#include <QEnterEvent>
#include <QPainter>
#include <QToolTip>

#include "controls/ButtonST.h"
#include "controls/ButtonSTIcons.h"
#include "controls/SysColors.h"
#include "tests/controls/ControlsTestSupport.h"

namespace krv::test {
namespace {

using ui::ColorRef;
using ui::rgb;

constexpr ColorRef kFace = rgb(200, 200, 200);
constexpr ColorRef kText = rgb(0, 0, 120);
constexpr ColorRef kHighlight = rgb(255, 255, 250);
constexpr ColorRef kLight3D = rgb(230, 230, 100);
constexpr ColorRef kShadow = rgb(128, 128, 60);
constexpr ColorRef kDkShadow = rgb(40, 40, 10);

// The application's palette with the colours above, for the life of the
// fixture (buttons take their colour slots from it when made).
class ButtonPalette : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = QApplication::palette();
        QPalette palette = saved_;
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Button, ui::toQColor(kFace));
            palette.setColor(group, QPalette::ButtonText, ui::toQColor(kText));
            palette.setColor(group, QPalette::Light, ui::toQColor(kHighlight));
            palette.setColor(group, QPalette::Midlight, ui::toQColor(kLight3D));
            palette.setColor(group, QPalette::Dark, ui::toQColor(kShadow));
            palette.setColor(group, QPalette::Shadow, ui::toQColor(kDkShadow));
        }
        QApplication::setPalette(palette);
    }
    void TearDown() override { QApplication::setPalette(saved_); }

    QPalette saved_;
};

// A button that paints a given state into an image of its own size.
class PaintedButton : public CButtonST {
public:
    explicit PaintedButton(const QString& text = QString(), unsigned style = BS_PUSHBUTTON)
        : CButtonST(text, nullptr, style)
    {
        resize(100, 30);
        test::crispFont(*this);
    }

    QImage paint(bool bSelected = false, bool bFocus = false, bool bDisabled = false)
    {
        QImage image(size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);  // shows where nothing was painted
        QPainter painter(&image);
        painter.setFont(font());
        DrawItem(painter, {rect(), bSelected, bFocus, bDisabled});
        return image;
    }

    void hover()
    {
        const QPointF at(5, 5);
        QEnterEvent enter(at, at, mapToGlobal(at));
        QApplication::sendEvent(this, &enter);
    }

    using CButtonST::PrepareImageRect;
};

QImage solidIcon(QColor color, int size = 16)
{
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(color);
    return icon;
}

// ---- arithmetic ----

TEST_F(ButtonPalette, OffsetColorShiftsAllChannelsByOneAmountThatClipsNone)
{
    const struct {
        ColorRef face;
        int slot;
        int offset;
        int result;
        ColorRef after;
    } cases[] = {
        {rgb(192, 192, 192), 0, 30, CButtonST::ButtonResultOk, rgb(222, 222, 222)},
        {rgb(250, 10, 10), 0, 30, CButtonST::ButtonResultOk, rgb(255, 15, 15)},
        {rgb(10, 100, 200), 2, -30, CButtonST::ButtonResultOk, rgb(0, 90, 190)},
        {rgb(10, 100, 200), 4, 0, CButtonST::ButtonResultOk, rgb(10, 100, 200)},
        {rgb(10, 100, 200), 0, 255, CButtonST::ButtonResultOk, rgb(65, 155, 255)},
        {rgb(192, 192, 192), 6, 30, CButtonST::ButtonResultBadSlot, rgb(192, 192, 192)},
        {rgb(192, 192, 192), 6, 256, CButtonST::ButtonResultBadSlot, rgb(192, 192, 192)},
        {rgb(192, 192, 192), 0, 256, CButtonST::ButtonResultBadValue, rgb(192, 192, 192)},
        {rgb(192, 192, 192), 0, -256, CButtonST::ButtonResultBadValue, rgb(192, 192, 192)},
    };
    for (const auto& c : cases) {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Button, ui::toQColor(c.face));
        QApplication::setPalette(palette);
        CButtonST button;
        EXPECT_EQ(button.OffsetColor(uint8_t(c.slot), short(c.offset)), c.result) << c.slot << " " << c.offset;
        EXPECT_EQ(button.GetColor(c.slot < 6 ? c.slot : 0), c.after) << c.slot << " " << c.offset;
        // The text slots never move with a background slot.
        EXPECT_EQ(button.GetColor(CButtonST::ButtonColorNormalText), kText);
    }
}

TEST(ButtonST, DarkenColorKeepsTheRestOfEachChannel)
{
    const ColorRef p = rgb(200, 100, 7);
    EXPECT_EQ(CButtonST::DarkenColor(p, 0), p);
    EXPECT_EQ(CButtonST::DarkenColor(p, 1.5), p);
    EXPECT_EQ(CButtonST::DarkenColor(p, -0.5), p);
    EXPECT_EQ(CButtonST::DarkenColor(p, 1), rgb(0, 0, 0));
    EXPECT_EQ(CButtonST::DarkenColor(p, 0.25), rgb(150, 75, 5));
}

TEST(ButtonST, GreyAndDarkerCopiesKeepBlackAndTransparency)
{
    QImage icon(3, 1, QImage::Format_ARGB32);
    icon.setPixel(0, 0, qRgba(255, 0, 0, 255));
    icon.setPixel(1, 0, qRgba(0, 0, 0, 255));
    icon.setPixel(2, 0, qRgba(10, 200, 30, 0));
    const QImage grey = CButtonST::CreateGrayscaleIcon(icon);
    EXPECT_EQ(grey.pixel(0, 0), qRgba(76, 76, 76, 255));  // (int)(0.299 * 255)
    EXPECT_EQ(grey.pixel(1, 0), qRgba(0, 0, 0, 255));
    EXPECT_EQ(qAlpha(grey.pixel(2, 0)), 0);
    const QImage darker = CButtonST::CreateDarkerIcon(icon);
    EXPECT_EQ(darker.pixel(0, 0), qRgba(191, 0, 0, 255));
    EXPECT_EQ(darker.pixel(1, 0), qRgba(0, 0, 0, 255));
    EXPECT_TRUE(CButtonST::CreateGrayscaleIcon(QImage()).isNull());
}

// ---- modes and state ----

TEST(ButtonST, StyleBitOneMakesACheckBoxAndTypeOneTheDefault)
{
    for (unsigned style = 0; style < 16; ++style) {
        CButtonST button(QString(), nullptr, style);
        const bool bCheckBox = style == 2 || style == 3 || style == 6 || style == 7 || style == 10 || style == 11 ||
                               style == 14 || style == 15;
        EXPECT_EQ(button.IsCheckBox(), bCheckBox) << style;
        EXPECT_EQ(button.isCheckable(), bCheckBox) << style;
    }
}

TEST(ButtonST, SetCheckActsOnlyOnACheckBox)
{
    CButtonST push;
    EXPECT_EQ(push.SetCheck(1), CButtonST::ButtonResultOk);
    EXPECT_EQ(push.GetCheck(), 0);
    EXPECT_FALSE(push.isChecked());

    CButtonST box(QString(), nullptr, CButtonST::BS_AUTOCHECKBOX);
    box.SetCheck(7);
    EXPECT_EQ(box.GetCheck(), 1);
    EXPECT_TRUE(box.isChecked());
    box.SetCheck(0);
    EXPECT_EQ(box.GetCheck(), 0);
    // The dialog's CheckDlgButton sets Qt's flag; the button's own state follows.
    box.setChecked(true);
    EXPECT_EQ(box.GetCheck(), 1);
}

TEST(ButtonST, AClickTurnsTheCheckBeforeTheDialogsHandlerRuns)
{
    CButtonST box("Reload F/W", nullptr, CButtonST::BS_AUTOCHECKBOX);
    box.resize(100, 30);
    std::vector<int> seen;
    QObject::connect(&box, &QAbstractButton::clicked, [&] { seen.push_back(box.GetCheck()); });
    box.click();
    test::click(&box, {10, 10});
    // A handler may uncheck the box again at once, as "Reload F/W" does.
    QObject::connect(&box, &QAbstractButton::clicked, [&] { box.SetCheck(0); });
    box.click();
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(box.GetCheck(), 0);
    EXPECT_FALSE(box.isChecked());

    CButtonST push("Start");
    push.click();
    EXPECT_EQ(push.GetCheck(), 0);

    // The second click of a double click counts as a click too.
    CButtonST fast("Preload Files", nullptr, CButtonST::BS_AUTOCHECKBOX);
    fast.resize(100, 30);
    test::click(&fast, {10, 10});
    test::sendMouse(&fast, QEvent::MouseButtonDblClick, {10, 10});
    test::sendMouse(&fast, QEvent::MouseButtonRelease, {10, 10});
    EXPECT_EQ(fast.GetCheck(), 0);
}

TEST(ButtonST, SecondIconShowsWhenUncheckedOrWhenDisabledAndIdle)
{
    const struct {
        bool bCheckBox, bPressed, bOver, bDisabled, bHasSecond;
        int icon;
    } cases[] = {
        {false, false, false, false, true, 0}, {false, false, false, true, true, 1},
        {false, false, true, true, true, 0},   {false, true, false, true, true, 0},
        {false, false, false, true, false, 0}, {true, false, false, false, true, 1},
        {true, true, false, false, true, 0},   {true, false, true, true, true, 1},
        {true, false, false, false, false, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CButtonST::ChooseIcon(c.bCheckBox, c.bPressed, c.bOver, c.bDisabled, c.bHasSecond), c.icon)
            << c.bCheckBox << c.bPressed << c.bOver << c.bDisabled << c.bHasSecond;
}

TEST(ButtonST, SetIconLoadsByNumberAndMakesTheSecondCopy)
{
    CButtonST button;
    EXPECT_EQ(button.SetIcon(169, CButtonST::SecondIconDarker), CButtonST::ButtonResultOk);
    ASSERT_FALSE(button.Icon(0).isNull());
    EXPECT_EQ(button.Icon(0).size(), QSize(controls::kButtonIconSize, controls::kButtonIconSize));
    EXPECT_EQ(button.Icon(1), CButtonST::CreateDarkerIcon(button.Icon(0)));

    EXPECT_EQ(button.SetIcon(175, 176), CButtonST::ButtonResultOk);
    EXPECT_EQ(button.Icon(1), controls::LoadButtonIcon(176));
    EXPECT_EQ(button.SetIcon(187, 16, 16, 0, 0, 0), CButtonST::ButtonResultOk);
    EXPECT_EQ(button.Icon(0).size(), QSize(16, 16));
    EXPECT_TRUE(button.Icon(1).isNull());

    // No first icon: the button has none, and that is no error.
    EXPECT_EQ(button.SetIcon(QImage(), CButtonST::SecondIconGrey), CButtonST::ButtonResultOk);
    EXPECT_TRUE(button.Icon(0).isNull());
    EXPECT_TRUE(button.Icon(1).isNull());
    EXPECT_EQ(button.SetIcon(1, CButtonST::SecondIconGrey), CButtonST::ButtonResultOk);
    EXPECT_TRUE(button.Icon(0).isNull());
}

TEST(ButtonST, EveryIconTheWindowsNameExistsAndTheCheckPairDiffers)
{
    const int used[] = {162, 163, 164, 165, 166, 167, 169, 171, 173, 174, 175,
                        176, 182, 183, 185, 186, 187, 188, 189, 190, 196, 204};
    for (int id : used) {
        const QImage icon = controls::LoadButtonIcon(id);
        ASSERT_FALSE(icon.isNull()) << id;
        // Something is drawn, and not over the whole square.
        int drawn = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                drawn += qAlpha(icon.pixel(x, y)) != 0;
        EXPECT_GT(drawn, 20) << id;
        EXPECT_LT(drawn, icon.width() * icon.height()) << id;
    }
    EXPECT_NE(controls::LoadButtonIcon(175), controls::LoadButtonIcon(176));
    EXPECT_EQ(controls::LoadButtonIcon(164, 32, 20).size(), QSize(32, 20));
    EXPECT_TRUE(controls::LoadButtonIcon(170).isNull());
    EXPECT_EQ(controls::ButtonIconIds().size(), std::size(used));
}

TEST(ButtonST, TooltipFollowsTextAndActivation)
{
    CButtonST button;
    button.SetTooltipText(QString(" Power Delivery Key"));
    EXPECT_EQ(button.toolTip(), " Power Delivery Key");
    button.SetTooltipText(QString("Safely Remove"), false);
    EXPECT_TRUE(button.toolTip().isEmpty());
    EXPECT_EQ(button.TooltipText(), "Safely Remove");
    button.SetTooltipText(nullptr);
    EXPECT_EQ(button.TooltipText(), "Safely Remove");
    EXPECT_EQ(button.TooltipStyle(), 0u);
    EXPECT_EQ(button.SetTooltipBalloonStyle(), CButtonST::ButtonResultOk);
    EXPECT_EQ(button.TooltipStyle(), CButtonST::TTS_BALLOON);

    // A long tip wraps between words at 400 pixels.
    QString text;
    for (int i = 0; i < 60; ++i)
        text += QString("word%1 ").arg(i);
    button.SetTooltipText(text.trimmed());
    const QStringList lines = button.toolTip().split('\n');
    EXPECT_GT(lines.size(), 1);
    EXPECT_EQ(lines.join(' '), text.trimmed());
    for (const QString& line : lines)
        EXPECT_LE(QFontMetrics(QToolTip::font()).horizontalAdvance(line), 400) << line.toStdString();
}

TEST_F(ButtonPalette, ASystemColourChangeUndoesEveryOffset)
{
    CButtonST button;
    button.OffsetColor(CButtonST::ButtonColorHoverBack, 30);
    button.OffsetColor(CButtonST::ButtonColorFocusText, 30);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, Qt::darkCyan);
    QApplication::setPalette(palette);
    // What a running application sends every widget after that.
    QEvent change(QEvent::ApplicationPaletteChange);
    QApplication::sendEvent(&button, &change);
    for (int slot = 0; slot < CButtonST::ButtonColorMaxColors; ++slot)
        EXPECT_EQ(button.GetColor(slot), slot % 2 ? kText : ui::toColorRef(QColor(Qt::darkCyan))) << slot;
}

// ---- geometry and paint ----

TEST(ButtonST, ImageSitsLeftOfTheCaptionOrCentredWithoutOne)
{
    PaintedButton button;
    const QRect item(0, 0, 100, 30);
    QRect caption = item;
    EXPECT_EQ(button.PrepareImageRect(true, item, caption, false, 16, 16).topLeft(), QPoint(3, 7));
    EXPECT_EQ(caption.left(), 19);
    caption = item;
    EXPECT_EQ(button.PrepareImageRect(false, item, caption, false, 16, 15).topLeft(), QPoint(42, 7));
    EXPECT_EQ(caption, item);
    EXPECT_EQ(button.PrepareImageRect(true, item, caption, true, 16, 16).topLeft(), QPoint(4, 8));
}

TEST_F(ButtonPalette, BackgroundAndBorderFollowTheState)
{
    PaintedButton button;
    button.OffsetColor(CButtonST::ButtonColorHoverBack, -100);
    button.OffsetColor(CButtonST::ButtonColorFocusBack, 30);
    const ColorRef hoverBack = button.GetColor(CButtonST::ButtonColorHoverBack);
    const ColorRef focusBack = button.GetColor(CButtonST::ButtonColorFocusBack);
    const int r = 99;
    const int b = 29;

    // Flat and idle: no border at all.
    QImage image = button.paint();
    EXPECT_EQ(pixelAt(image, 0, 0), kFace);
    EXPECT_EQ(pixelAt(image, 50, 2), kFace);
    image = button.paint(false, true);
    EXPECT_EQ(pixelAt(image, 50, 2), focusBack);
    // Flat and hovered: a raised edge on the hover colour.
    button.hover();
    EXPECT_TRUE(button.IsMouseOver());
    image = button.paint();
    EXPECT_EQ(pixelAt(image, 0, 0), kHighlight);
    EXPECT_EQ(pixelAt(image, r, b), kShadow);
    EXPECT_EQ(pixelAt(image, 50, 2), hoverBack);
    // Flat and pressed: sunken.
    image = button.paint(true);
    EXPECT_EQ(pixelAt(image, 0, 0), kShadow);
    EXPECT_EQ(pixelAt(image, r, b), kHighlight);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.IsMouseOver());

    // 3D: the four edge lines.
    button.SetFlat(false);
    image = button.paint();
    EXPECT_EQ(pixelAt(image, 0, 0), kHighlight);
    EXPECT_EQ(pixelAt(image, 1, 1), kLight3D);
    EXPECT_EQ(pixelAt(image, r, b), kDkShadow);
    EXPECT_EQ(pixelAt(image, r, 0), kDkShadow);
    EXPECT_EQ(pixelAt(image, r - 1, b - 1), kShadow);
    EXPECT_EQ(pixelAt(image, 50, 2), kFace);
    // 3D and focused: a black frame, the edge inside it, and the focus dots.
    image = button.paint(false, true);
    EXPECT_EQ(pixelAt(image, 0, 0), rgb(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 1), kHighlight);
    EXPECT_EQ(pixelAt(image, r - 1, b - 1), kDkShadow);
    EXPECT_TRUE(colorsIn(image, QRect(4, 4, 90, 1)).count(kText));
    // 3D and pressed: one shadow frame.
    image = button.paint(true);
    EXPECT_EQ(pixelAt(image, 0, 0), kShadow);
    EXPECT_EQ(pixelAt(image, 1, 1), hoverBack);
}

TEST_F(ButtonPalette, TransparentButtonLeavesTheBackgroundUnpainted)
{
    PaintedButton button("Start");
    button.ResetTransparentBackground(false);
    EXPECT_TRUE(button.IsTransparent());
    const QImage image = button.paint();
    EXPECT_EQ(image.pixel(2, 2), QColor(Qt::magenta).rgb());
    EXPECT_GT(countColor(image, image.rect(), kText), 0);
}

TEST_F(ButtonPalette, IconPicksTheSecondCopyWhenDisabledOrUnchecked)
{
    PaintedButton push;
    push.SetIcon(solidIcon(Qt::red), CButtonST::SecondIconGrey);
    const QPoint centre(50, 15);
    EXPECT_EQ(pixelAt(push.paint(), centre.x(), centre.y()), rgb(255, 0, 0));
    EXPECT_EQ(pixelAt(push.paint(false, false, true), centre.x(), centre.y()), rgb(76, 76, 76));
    // A pressed push button moves its icon by (1, 1): the icon spans 42..57
    // by 7..22 at rest.
    const QImage pressed = push.paint(true);
    EXPECT_NE(pixelAt(pressed, 42, 7), rgb(255, 0, 0));
    EXPECT_EQ(pixelAt(pressed, 43, 8), rgb(255, 0, 0));
    EXPECT_EQ(pixelAt(pressed, 58, 23), rgb(255, 0, 0));

    PaintedButton box(QString(), CButtonST::BS_AUTOCHECKBOX);
    box.SetIcon(solidIcon(Qt::green), solidIcon(Qt::blue));
    EXPECT_EQ(pixelAt(box.paint(), centre.x(), centre.y()), rgb(0, 0, 255));
    box.SetCheck(1);
    const QImage checked = box.paint();
    EXPECT_EQ(pixelAt(checked, centre.x(), centre.y()), rgb(0, 255, 0));
    // A check box never moves its icon.
    EXPECT_EQ(pixelAt(checked, 42, 7), rgb(0, 255, 0));
}

TEST_F(ButtonPalette, CaptionColourByStateAndEmbossedWhenDisabled)
{
    PaintedButton button("Read Register");
    button.OffsetColor(CButtonST::ButtonColorHoverText, 100);
    const QRect area(3, 3, 94, 24);
    EXPECT_GT(countColor(button.paint(), area, kText), 10);
    const QImage disabled = button.paint(false, false, true);
    EXPECT_EQ(countColor(disabled, area, kText), 0);
    EXPECT_GT(countColor(disabled, area, kHighlight), 10);
    EXPECT_GT(countColor(disabled, area, kShadow), 10);
    button.hover();
    EXPECT_GT(countColor(button.paint(), area, button.GetColor(CButtonST::ButtonColorHoverText)), 10);
}

TEST_F(ButtonPalette, LongCaptionWrapsAndStaysCentred)
{
    PaintedButton button("Modify SHA256 initial Key and more words");
    button.resize(80, 60);
    const QImage image = button.paint();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (pixelAt(image, x, y) == kText)
                ink |= QRect(x, y, 1, 1);
    ASSERT_TRUE(ink.isValid());
    EXPECT_GT(ink.height(), QFontMetrics(button.font()).height());  // more than one line
    EXPECT_NEAR(ink.center().x(), 40, 4);
    EXPECT_NEAR(ink.center().y(), 30, 4);
}

// A strip of buttons in their states, saved for people to look at: flat
// idle, hovered and pressed, disabled with the darker icon, a check box
// unchecked and checked, 3D idle and 3D focused.
TEST(ButtonST, SavesAPictureOfTheStates)
{
    const QSize cell(130, 34);
    QImage strip(cell.width() * 8, cell.height(), QImage::Format_RGB32);
    strip.fill(ui::toQColor(controls::sysColor(controls::SysColor::BtnFace)));
    QPainter painter(&strip);
    auto place = [&](int n, PaintedButton& button, bool bSelected = false, bool bFocus = false,
                     bool bDisabled = false) {
        button.resize(cell);
        painter.drawImage(n * cell.width(), 0, button.paint(bSelected, bFocus, bDisabled));
    };
    PaintedButton start("Start");
    start.SetIcon(169, CButtonST::SecondIconDarker);
    place(0, start);
    PaintedButton hovered("Load INI");
    hovered.SetIcon(162, CButtonST::SecondIconDarker);
    hovered.hover();
    place(1, hovered);
    place(2, hovered, true);
    PaintedButton disabled("Save INI");
    disabled.SetIcon(163, CButtonST::SecondIconDarker);
    place(3, disabled, false, false, true);
    PaintedButton box("Update FW", CButtonST::BS_AUTOCHECKBOX);
    box.SetIcon(175, 176);
    place(4, box);
    box.SetCheck(1);
    place(5, box);
    PaintedButton raised("Read Config");
    raised.SetIcon(189);
    raised.SetFlat(false);
    place(6, raised);
    place(7, raised, false, true);
    painter.end();

    const QString folder = QStringLiteral(KRV_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(strip.save(folder + "/controls-buttons.png"));
    // The check box's two looks differ only by their icons.
    const QImage unchecked = strip.copy(QRect(QPoint(4 * cell.width(), 0), cell));
    const QImage checked = strip.copy(QRect(QPoint(5 * cell.width(), 0), cell));
    EXPECT_NE(unchecked.copy(3, 5, 24, 24), checked.copy(3, 5, 24, 24));
    EXPECT_EQ(unchecked.copy(30, 0, 100, 34), checked.copy(30, 0, 100, 34));
}

}  // namespace
}  // namespace krv::test
