#include "controls/ButtonST.h"

#include <algorithm>

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "controls/ButtonSTIcons.h"
#include "controls/SysColors.h"

using krv::controls::SysColor;
using krv::controls::sysColor;
using krv::ui::ColorRef;
using krv::ui::toQColor;

namespace {

// Draws from `at` towards `to` as the window system's LineTo does: the end
// point itself is left out. Lines are horizontal or vertical only.
void lineTo(QPainter& painter, QPoint& at, QPoint to)
{
    if (at != to) {
        const QPoint step((to.x() > at.x()) - (to.x() < at.x()), (to.y() > at.y()) - (to.y() < at.y()));
        painter.drawLine(at, to - step);
    }
    at = to;
}

void polyline(QPainter& painter, SysColor color, QPoint from, QPoint via, QPoint to)
{
    painter.setPen(QPen(toQColor(sysColor(color)), 1));
    lineTo(painter, from, via);
    lineTo(painter, from, to);
}

// A rectangle's edges in the window system's terms: right and bottom lie
// just outside it.
int rightOf(const QRect& r) { return r.x() + r.width(); }
int bottomOf(const QRect& r) { return r.y() + r.height(); }

// A sunken or raised edge: top and left in one colour, right and bottom in
// the other (which owns both corners it touches).
void draw3dRect(QPainter& painter, const QRect& r, ColorRef topLeft, ColorRef bottomRight)
{
    const int cx = r.width();
    const int cy = r.height();
    painter.fillRect(r.x(), r.y(), cx - 1, 1, toQColor(topLeft));
    painter.fillRect(r.x(), r.y(), 1, cy - 1, toQColor(topLeft));
    painter.fillRect(r.x() + cx - 1, r.y(), 1, cy, toQColor(bottomRight));
    painter.fillRect(r.x(), r.y() + cy - 1, cx, 1, toQColor(bottomRight));
}

void frameRect(QPainter& painter, const QRect& r, ColorRef color)
{
    draw3dRect(painter, r, color, color);
}

// The image with every non-black pixel replaced, alpha kept.
template <class F>
QImage recolour(const QImage& icon, F f)
{
    if (icon.isNull())
        return {};
    QImage image = icon.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if ((p & 0xFFFFFFu) == 0)
                continue;
            const QRgb c = f(qRed(p), qGreen(p), qBlue(p));
            line[x] = qRgba(qRed(c), qGreen(c), qBlue(c), qAlpha(p));
        }
    }
    return image;
}

constexpr int kTextFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic;

}  // namespace

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent)
{
    SetDefaultColors();
    // Hover is tracked for the flat look; moves arrive without a button held.
    setMouseTracking(true);
    // CheckDlgButton through the dialog's control calls sets Qt's flag.
    connect(this, &QAbstractButton::toggled, this, [this](bool bOn) {
        if (m_bCheckBox && m_nCheck != int(bOn)) {
            m_nCheck = bOn;
            Repaint();
        }
    });
}

CButtonST::CButtonST(const QString& text, QWidget* parent, unsigned style) : CButtonST(parent)
{
    setText(text);
    PreSubclassWindow(style);
}

CButtonST::~CButtonST()
{
    FreeResources(true);
    m_menuPopup.DestroyMenu();
}

void CButtonST::PreSubclassWindow(unsigned style)
{
    // Bit 1 marks every check-box type (and a few others, which become check
    // boxes too).
    if (style & 0x02) {
        m_bCheckBox = 1;
        setCheckable(true);
        setChecked(m_nCheck != 0);
    }
    if ((style & 0x1F) == BS_DEFPUSHBUTTON)
        m_bDefault = 1;
}

int CButtonST::SetCheck(int nCheck, bool bRepaint)
{
    if (m_bCheckBox) {
        m_nCheck = nCheck != 0;
        setChecked(m_nCheck != 0);
        if (bRepaint)
            Repaint();
    }
    return ButtonResultOk;
}

int CButtonST::SetIcon(int nIconIn, int nIconOut)
{
    return SetIcon(nIconIn, 0, 0, nIconOut, 0, 0);
}

int CButtonST::SetIcon(int nIconIn, int nCxDesiredIn, int nCyDesiredIn, int nIconOut, int nCxDesiredOut,
                       int nCyDesiredOut)
{
    const QImage hIconIn = krv::controls::LoadButtonIcon(nIconIn, nCxDesiredIn, nCyDesiredIn);
    if (nIconOut == SecondIconDarker || nIconOut == SecondIconGrey)
        return SetIcon(hIconIn, nIconOut);
    if (nIconOut == 0)
        return SetIcon(hIconIn, QImage());
    return SetIcon(hIconIn, krv::controls::LoadButtonIcon(nIconOut, nCxDesiredOut, nCyDesiredOut));
}

int CButtonST::SetIcon(const QImage& hIconIn, int nSecondIcon)
{
    if (nSecondIcon != SecondIconGrey && nSecondIcon != SecondIconDarker)
        return SetIcon(hIconIn, QImage());
    // Derived here so that a copy that cannot be made fails like a bad icon.
    const QImage second = nSecondIcon == SecondIconGrey ? CreateGrayscaleIcon(hIconIn) : CreateDarkerIcon(hIconIn);
    if (!hIconIn.isNull() && second.isNull()) {
        FreeResources(true);
        return ButtonResultNoImage;
    }
    return SetIcon(hIconIn, second);
}

int CButtonST::SetIcon(const QImage& hIconIn, const QImage& hIconOut)
{
    FreeResources(true);
    if (!hIconIn.isNull()) {
        m_csIcons[0] = {hIconIn, hIconIn.width(), hIconIn.height()};
        if (!hIconOut.isNull())
            m_csIcons[1] = {hIconOut, hIconOut.width(), hIconOut.height()};
    }
    updateGeometry();
    Repaint();
    return ButtonResultOk;
}

void CButtonST::FreeResources(bool)
{
    m_csIcons[0] = {};
    m_csIcons[1] = {};
}

void CButtonST::SetTooltipText(const QString* pszText, bool bActivate)
{
    if (!pszText)
        return;
    m_strToolTip = *pszText;
    m_bToolTipActive = bActivate;
    ApplyTooltip();
}

int CButtonST::SetTooltipBalloonStyle()
{
    // Qt's tooltips have one look; the style is kept for what reads it.
    m_dwToolTipStyle |= TTS_BALLOON;
    return ButtonResultOk;
}

void CButtonST::ApplyTooltip()
{
    if (!m_bToolTipActive) {
        setToolTip(QString());
        return;
    }
    // The tip wraps its text at 400 pixels, between words.
    constexpr int kMaxTipWidth = 400;
    const QFontMetrics metrics(QToolTip::font());
    const QStringList words = m_strToolTip.split(' ');
    QString wrapped;
    QString line = words.front();
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString longer = line + ' ' + words[i];
        if (!line.trimmed().isEmpty() && metrics.horizontalAdvance(longer) > kMaxTipWidth) {
            wrapped += line + '\n';
            line = words[i];
        } else {
            line = longer;
        }
    }
    setToolTip(wrapped + line);
}

int CButtonST::OffsetColor(unsigned char byColorIndex, short shOffset, bool bRepaint)
{
    if (byColorIndex >= ButtonColorMaxColors)
        return ButtonResultBadSlot;
    if (shOffset < -255 || shOffset > 255)
        return ButtonResultBadValue;
    const ColorRef color = m_crColors[byColorIndex];
    const int channels[3] = {int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF)};
    // One shift for the three channels, as large as none of them clips.
    int shift = shOffset;
    for (int c : channels)
        shift = shOffset > 0 ? std::min(shift, std::min<int>(shOffset, 255 - c))
                             : std::max(shift, std::max<int>(shOffset, -c));
    m_crColors[byColorIndex] =
        krv::ui::rgb(uint8_t(channels[0] + shift), uint8_t(channels[1] + shift), uint8_t(channels[2] + shift));
    if (bRepaint)
        Repaint();
    return ButtonResultOk;
}

void CButtonST::ResetTransparentBackground(bool bRepaint)
{
    // The parent shows through a button that fills no background, so there
    // is no copy of it to forget.
    m_bTransparent = 1;
    if (bRepaint)
        Repaint();
}

int CButtonST::SetFlat(bool bFlat, bool bRepaint)
{
    m_bFlat = bFlat;
    if (bRepaint)
        Repaint();
    return ButtonResultOk;
}

void CButtonST::SetDefaultColors()
{
    const ColorRef face = sysColor(SysColor::BtnFace);
    const ColorRef text = sysColor(SysColor::BtnText);
    for (int i = 0; i < ButtonColorMaxColors; i += 2) {
        m_crColors[i] = face;
        m_crColors[i + 1] = text;
    }
}

void CButtonST::OnSysColorChange()
{
    SetDefaultColors();
    Repaint();
}

void CButtonST::Repaint() { update(); }

int CButtonST::ChooseIcon(bool bCheckBox, bool bPressed, bool bMouseOver, bool bDisabled, bool bHasSecond)
{
    if (!bHasSecond)
        return 0;
    if (bCheckBox)
        return bPressed ? 0 : 1;
    return !bPressed && !bMouseOver && bDisabled ? 1 : 0;
}

ColorRef CButtonST::DarkenColor(ColorRef crColor, double dFactor)
{
    if (dFactor <= 0.0 || dFactor > 1.0)
        return crColor;
    auto darken = [&](int shift) { return uint8_t(int(((crColor >> shift) & 0xFF) - ((crColor >> shift) & 0xFF) * dFactor)); };
    return krv::ui::rgb(darken(0), darken(8), darken(16));
}

QImage CButtonST::CreateGrayscaleIcon(const QImage& hIcon)
{
    return recolour(hIcon, [](int r, int g, int b) {
        const int grey = int(0.587 * g + 0.299 * r + 0.114 * b);
        return qRgb(grey, grey, grey);
    });
}

QImage CButtonST::CreateDarkerIcon(const QImage& hIcon)
{
    return recolour(hIcon, [](int r, int g, int b) {
        const ColorRef c = DarkenColor(krv::ui::rgb(uint8_t(r), uint8_t(g), uint8_t(b)), 0.25);
        return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
    });
}

// ---- painting ----

void CButtonST::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawItemState state;
    state.rcItem = rect();
    state.bSelected = isDown();
    state.bFocus = hasFocus();
    state.bDisabled = !isEnabled();
    DrawItem(painter, state);
}

void CButtonST::DrawItem(QPainter& painter, const DrawItemState& state)
{
    m_bPressed = m_bCheckBox ? (state.bSelected || m_nCheck != 0) : state.bSelected;
    m_bFocused = state.bFocus;
    m_bDisabled = state.bDisabled;

    QRect itemRect = state.rcItem;
    // Transparent: the parent below shows through; nothing is filled.
    if (!m_bTransparent)
        OnDrawBackground(painter, itemRect);
    OnDrawBorder(painter, itemRect);

    const QString title = text();
    QRect captionRect = state.rcItem;
    if (!m_csIcons[0].hIcon.isNull())
        DrawTheIcon(painter, !title.isEmpty(), state.rcItem, captionRect, m_bPressed, m_bDisabled);
    if (!title.isEmpty())
        DrawTheText(painter, title, state.rcItem, captionRect, m_bPressed, m_bDisabled);

    if ((!m_bFlat || m_bDrawFlatFocus) && m_bFocused) {
        const QRect focus = itemRect.adjusted(3, 3, -3, -3);
        QPen pen(toQColor(sysColor(SysColor::BtnText)), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(focus.adjusted(0, 0, -1, -1));
    }
}

int CButtonST::OnDrawBackground(QPainter& painter, QRect& rpItem)
{
    if (!m_bFlat && (m_bFocused || m_bDefault || isDefault())) {
        frameRect(painter, rpItem, krv::ui::rgb(0, 0, 0));
        rpItem.adjust(1, 1, -1, -1);
    }
    ColorRef back = m_crColors[ButtonColorNormalBack];
    if (m_bMouseOver || m_bPressed)
        back = m_crColors[ButtonColorHoverBack];
    else if (m_bFocused)
        back = m_crColors[ButtonColorFocusBack];
    painter.fillRect(rpItem, toQColor(back));
    return ButtonResultOk;
}

int CButtonST::OnDrawBorder(QPainter& painter, const QRect& rpItem)
{
    const ColorRef highlight = sysColor(SysColor::BtnHighlight);
    const ColorRef shadow = sysColor(SysColor::BtnShadow);
    if (m_bPressed) {
        if (!m_bCheckBox) {
            if (!m_bFlat)
                frameRect(painter, rpItem, shadow);
            else if (m_bDrawBorder)
                draw3dRect(painter, rpItem, shadow, highlight);
        } else if (m_bMouseOver && m_bDrawBorder) {
            draw3dRect(painter, rpItem, highlight, shadow);
        }
        return ButtonResultOk;
    }
    if (m_bFlat) {
        if (m_bMouseOver && m_bDrawBorder)
            draw3dRect(painter, rpItem, highlight, shadow);
        return ButtonResultOk;
    }
    const int l = rpItem.x();
    const int t = rpItem.y();
    const int r = rightOf(rpItem);
    const int b = bottomOf(rpItem);
    painter.save();
    polyline(painter, SysColor::BtnHighlight, {l, b - 1}, {l, t}, {r, t});
    polyline(painter, SysColor::Light3D, {l + 1, b - 1}, {l + 1, t + 1}, {r, t + 1});
    polyline(painter, SysColor::DkShadow3D, {l, b - 1}, {r - 1, b - 1}, {r - 1, t - 1});
    polyline(painter, SysColor::BtnShadow, {l + 1, b - 2}, {r - 2, b - 2}, {r - 2, t});
    painter.restore();
    return ButtonResultOk;
}

QRect CButtonST::PrepareImageRect(bool bHasTitle, const QRect& rpItem, QRect& rpTitle, bool bIsPressed, int dwWidth,
                                  int dwHeight) const
{
    QRect image = rpItem;
    // Image left of the caption, the only placement the windows use.
    if (bHasTitle) {
        image.setLeft(image.left() + m_ptImageOrgX);
        rpTitle.setLeft(rpTitle.left() + m_ptImageOrgX + dwWidth);
    } else {
        image.setLeft(image.left() + (rpItem.width() - dwWidth) / 2);
    }
    image.setTop(image.top() + (rpItem.height() - dwHeight) / 2);
    if (bIsPressed && !m_bCheckBox)
        image.translate(m_ptPressedOffsetX, m_ptPressedOffsetY);
    return image;
}

void CButtonST::DrawTheIcon(QPainter& painter, bool bHasTitle, const QRect& rpItem, QRect& rpCaption, bool bIsPressed,
                            bool bIsDisabled)
{
    const int index = ChooseIcon(m_bCheckBox, bIsPressed, m_bMouseOver, bIsDisabled, !m_csIcons[1].hIcon.isNull());
    const STRUCT_ICONS& icon = m_csIcons[index];
    const QRect image = PrepareImageRect(bHasTitle, rpItem, rpCaption, bIsPressed, icon.dwWidth, icon.dwHeight);
    // Always the icon's own look: the disabled state is the second icon.
    painter.drawImage(image.topLeft(), icon.hIcon);
}

void CButtonST::DrawTheText(QPainter& painter, const QString& title, const QRect&, QRect& rpCaption, bool bIsPressed,
                            bool bIsDisabled)
{
    if (bIsPressed && !m_bCheckBox)
        rpCaption.translate(m_ptPressedOffsetX, m_ptPressedOffsetY);
    // Measured as wrapped and centred, then placed in the middle of the
    // caption rectangle.
    const QRect measured = painter.fontMetrics().boundingRect(rpCaption, kTextFlags, title);
    QRect centre(rpCaption.topLeft(), measured.size());
    centre.translate((rpCaption.width() - measured.width()) / 2, (rpCaption.height() - measured.height()) / 2);
    rpCaption = centre;
    painter.setFont(font());
    if (bIsDisabled) {
        painter.setPen(toQColor(sysColor(SysColor::BtnHighlight)));
        painter.drawText(centre.translated(1, 1), kTextFlags, title);
        painter.setPen(toQColor(sysColor(SysColor::BtnShadow)));
        painter.drawText(centre, kTextFlags, title);
        return;
    }
    ColorRef color = m_crColors[ButtonColorNormalText];
    if (m_bMouseOver || bIsPressed)
        color = m_crColors[ButtonColorHoverText];
    else if (m_bFocused)
        color = m_crColors[ButtonColorFocusText];
    painter.setPen(toQColor(color));
    painter.drawText(centre, kTextFlags, title);
}

QSize CButtonST::sizeHint() const
{
    // Room for the icon at its margin, the caption on one line and the
    // border, so that a layout never squeezes the caption into wrapping.
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, QPushButton::text());
    const int iconWidth = m_csIcons[0].dwWidth;
    const int iconHeight = m_csIcons[0].dwHeight;
    const int width = (iconWidth ? m_ptImageOrgX + iconWidth : 0) + text.width() + 16;
    const int height = std::max(iconHeight + 2 * m_ptImageOrgY, text.height() + 10);
    return {std::max(width, 2 * m_ptImageOrgX + iconWidth + 2), height};
}

// ---- state from the window system ----

void CButtonST::nextCheckState()
{
    // Qt's step of every click before clicked() goes out: so the check state
    // has turned before any handler of the dialog runs.
    OnClicked();
}

void CButtonST::OnClicked()
{
    setFocus(Qt::MouseFocusReason);
    if (m_bCheckBox) {
        m_nCheck = !m_nCheck;
        setChecked(m_nCheck != 0);
        Repaint();
    }
}

void CButtonST::OnMouseMove(const QPoint& ptLocal, bool bLeftButtonDown)
{
    if ((bLeftButtonDown && !m_bMouseOver) || !m_bFlat)
        return;
    const bool bReference = m_bAlwaysTrack || isActiveWindow();
    if (rect().contains(ptLocal) && bReference) {
        if (!m_bMouseOver) {
            m_bMouseOver = 1;
            Repaint();
        }
    } else {
        ClearHover();
    }
}

void CButtonST::OnMouseLeave() { ClearHover(); }

void CButtonST::ClearHover()
{
    if (m_bFlat && m_bMouseOver) {
        m_bMouseOver = 0;
        Repaint();
    }
}

void CButtonST::enterEvent(QEnterEvent* event)
{
    QPushButton::enterEvent(event);
    OnMouseMove(event->position().toPoint(), QGuiApplication::mouseButtons() & Qt::LeftButton);
}

void CButtonST::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    OnMouseMove(event->position().toPoint(), event->buttons() & Qt::LeftButton);
}

void CButtonST::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    OnMouseLeave();
}

void CButtonST::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    ClearHover();
}

void CButtonST::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        // Qt already moves the focus off a disabled widget.
        if (!isEnabled())
            ClearHover();
        break;
    case QEvent::ActivationChange:
        if (!isActiveWindow())
            ClearHover();
        break;
    default: break;
    }
}

bool CButtonST::event(QEvent* event)
{
    // The window system's colours changed (sent to every widget, not passed
    // on to changeEvent).
    if (event->type() == QEvent::ApplicationPaletteChange)
        OnSysColorChange();
    return QPushButton::event(event);
}
