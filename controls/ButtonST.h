#pragma once
// The push button and check box of every window: it paints itself
// (background colour by state, 3D or flat border, an icon left of the
// caption, the caption, the focus rectangle), shows a second icon (greyed or
// darker, or the "unchecked" one of a check box), keeps its own check state
// and carries a tooltip.
//
// The check state is m_nCheck. In check-box mode the button is also
// checkable in Qt's sense and Qt's checked flag mirrors m_nCheck, so the
// dialog's control calls (CheckDlgButton and its reading) work on it as on
// any check box. A click turns m_nCheck before clicked() goes out, so every
// handler of the dialog reads the new state.
//
// GUI thread only.
#include <QImage>
#include <QPushButton>
#include <QString>

#include "controls/BCMenu.h"
#include "ui/Colors.h"

class CButtonST : public QPushButton {
    Q_OBJECT
public:
    enum {
        ButtonColorHoverBack = 0,
        ButtonColorHoverText,
        ButtonColorNormalBack,
        ButtonColorNormalText,
        ButtonColorFocusBack,
        ButtonColorFocusText,
        ButtonColorMaxColors,
    };
    enum {
        ButtonResultOk = 0,
        ButtonResultNoImage = 1,
        ButtonResultBadSlot = 3,
        ButtonResultBadValue = 5,
    };
    // Second icon: a greyscale or a 25 % darker copy of the first.
    static constexpr int SecondIconGrey = -2;
    static constexpr int SecondIconDarker = -3;
    // The window system's button styles, as a dialog template gives them.
    static constexpr unsigned BS_PUSHBUTTON = 0x00;
    static constexpr unsigned BS_DEFPUSHBUTTON = 0x01;
    static constexpr unsigned BS_CHECKBOX = 0x02;
    static constexpr unsigned BS_AUTOCHECKBOX = 0x03;
    static constexpr unsigned BS_OWNERDRAW = 0x0B;
    static constexpr unsigned TTS_BALLOON = 0x40;

    explicit CButtonST(QWidget* parent = nullptr);
    // Made and attached at once: style is the template control's style
    // (BS_AUTOCHECKBOX makes a check box).
    explicit CButtonST(const QString& text, QWidget* parent = nullptr, unsigned style = BS_PUSHBUTTON);
    ~CButtonST() override;

    // Attaching to a control with this style: the style decides check-box
    // mode and whether the button is the default one.
    void PreSubclassWindow(unsigned style);

    int GetCheck() const { return m_nCheck; }
    int SetCheck(int nCheck, bool bRepaint = true);

    // Icons by number (see ButtonSTIcons.h); the second one may also be
    // SecondIconGrey, SecondIconDarker or 0 (none).
    int SetIcon(int nIconIn, int nIconOut = 0);
    int SetIcon(int nIconIn, int nCxDesiredIn, int nCyDesiredIn, int nIconOut, int nCxDesiredOut,
                int nCyDesiredOut);
    // Icons as images; a null image is "no icon".
    int SetIcon(const QImage& hIconIn, const QImage& hIconOut);
    int SetIcon(const QImage& hIconIn, int nSecondIcon);

    // A null text does nothing; activate false keeps the text but shows no tip.
    void SetTooltipText(const QString* pszText, bool bActivate = true);
    void SetTooltipText(const QString& text, bool bActivate = true) { SetTooltipText(&text, bActivate); }
    int SetTooltipBalloonStyle();

    int OffsetColor(unsigned char byColorIndex, short shOffset, bool bRepaint = true);
    void ResetTransparentBackground(bool bRepaint = true);
    int SetFlat(bool bFlat, bool bRepaint = true);
    void FreeResources(bool bCheckForNULL = true);

    // The window system's colours changed: every colour slot goes back to
    // them (custom colours and offsets are lost).
    void OnSysColorChange();

    krv::ui::ColorRef GetColor(int nIndex) const { return m_crColors[nIndex]; }
    bool IsCheckBox() const { return m_bCheckBox != 0; }
    bool IsMouseOver() const { return m_bMouseOver != 0; }
    bool IsFlat() const { return m_bFlat != 0; }
    bool IsTransparent() const { return m_bTransparent != 0; }
    const QImage& Icon(int nIndex) const { return m_csIcons[nIndex].hIcon; }
    QString TooltipText() const { return m_strToolTip; }
    unsigned TooltipStyle() const { return m_dwToolTipStyle; }

    // Which icon a paint shows: 1 for the second one, 0 for the first.
    static int ChooseIcon(bool bCheckBox, bool bPressed, bool bMouseOver, bool bDisabled, bool bHasSecond);
    static krv::ui::ColorRef DarkenColor(krv::ui::ColorRef crColor, double dFactor);
    static QImage CreateGrayscaleIcon(const QImage& hIcon);
    static QImage CreateDarkerIcon(const QImage& hIcon);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    // What the window system tells an owner-drawn button before each paint.
    struct DrawItemState {
        QRect rcItem;
        bool bSelected = false;
        bool bFocus = false;
        bool bDisabled = false;
    };

    virtual void DrawItem(QPainter& painter, const DrawItemState& state);
    // The five steps of a paint; rectangles are the window system's (right
    // and bottom outside).
    virtual int OnDrawBackground(QPainter& painter, QRect& rpItem);
    virtual int OnDrawBorder(QPainter& painter, const QRect& rpItem);
    virtual void DrawTheIcon(QPainter& painter, bool bHasTitle, const QRect& rpItem, QRect& rpCaption, bool bIsPressed,
                             bool bIsDisabled);
    virtual void DrawTheText(QPainter& painter, const QString& title, const QRect& rpItem, QRect& rpCaption,
                             bool bIsPressed, bool bIsDisabled);
    QRect PrepareImageRect(bool bHasTitle, const QRect& rpItem, QRect& rpTitle, bool bIsPressed, int dwWidth,
                           int dwHeight) const;

    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct STRUCT_ICONS {
        QImage hIcon;
        int dwWidth = 0;
        int dwHeight = 0;
    };

    void OnClicked();
    void OnMouseMove(const QPoint& ptLocal, bool bLeftButtonDown);
    void OnMouseLeave();
    void ClearHover();
    void Repaint();
    void SetDefaultColors();
    void ApplyTooltip();

    int m_ptImageOrgX = 3;
    int m_ptImageOrgY = 3;
    int m_ptPressedOffsetX = 1;
    int m_ptPressedOffsetY = 1;
    int m_bFlat = 1;
    int m_bMouseOver = 0;
    int m_bTransparent = 0;
    int m_bPressed = 0;
    int m_bFocused = 0;
    int m_bDisabled = 0;
    int m_bDefault = 0;
    int m_bCheckBox = 0;
    int m_nAlign = 0;
    int m_bDrawBorder = 1;
    int m_bDrawFlatFocus = 0;
    krv::ui::ColorRef m_crColors[ButtonColorMaxColors] = {};
    // Holds no menu: nothing in the tools sets one.
    BCMenu m_menuPopup;
    int m_bAlwaysTrack = 1;
    int m_nCheck = 0;
    unsigned m_dwToolTipStyle = 0;
    QString m_strToolTip;
    bool m_bToolTipActive = false;
    STRUCT_ICONS m_csIcons[2];
};
