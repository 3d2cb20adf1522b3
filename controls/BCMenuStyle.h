#pragma once
// The style of a BCMenu's real menu: it hands the measuring and painting of
// every item to the BCMenu and leaves the rest (frame, scrolling) to the
// application's style.
#include <QProxyStyle>

class BCMenu;

class BCMenuStyle : public QProxyStyle {
public:
    BCMenuStyle(const BCMenu* pMenu, QObject* owner);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;

private:
    const BCMenu* m_pMenu;
};
