#pragma once
// A static text with its own text and background colours. The text can
// blink: a timer alternates it between two blink colours (and likewise the
// background). While text blinking is on, the text shows in the blink
// colour of the current phase, not in the colour SetTextColor gave; the
// blink colours start as the initial text colour, so blinking shows nothing
// until they are set.
//
// A QLabel, so the dialog's control calls set and read its text.
// GUI thread only.
#include <QLabel>

#include "ui/Colors.h"

class CColorStaticST : public QLabel {
    Q_OBJECT
public:
    // The colours a paint uses now (what the window system asks a static
    // for before it draws).
    struct CtlColors {
        krv::ui::ColorRef crText;
        krv::ui::ColorRef crBk;
    };

    explicit CColorStaticST(QWidget* parent = nullptr);
    ~CColorStaticST() override;

    // kColorNotSet selects the system colour (button text; button face for
    // the background).
    void SetTextColor(krv::ui::ColorRef color);
    void SetBkColor(krv::ui::ColorRef color);
    void SetBlinkTextColors(krv::ui::ColorRef first, krv::ui::ColorRef second);
    void SetBlinkBkColors(krv::ui::ColorRef first, krv::ui::ColorRef second);

    // Blinking on or off, starting at phase 0. Both kinds share one timer:
    // starting or stopping either restarts it with the new speed, or stops
    // it. Speed 0, 1, 2: every 2000, 1000, 500 ms; any other value is the
    // period in milliseconds.
    void StartTextBlink(bool bOn, unsigned nSpeed);
    void StartBkBlink(bool bOn, unsigned nSpeed);
    static int BlinkPeriodMs(unsigned nSpeed);

    CtlColors CtlColor() const;
    bool IsBlinkTimerRunning() const { return m_nTimerId != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void RestartBlinkTimer(bool bOn, unsigned nSpeed);
    void OnBlinkTimer();

    int m_nTimerId = 0;  // QObject timer id, 0 when no timer runs
    krv::ui::ColorRef m_crText;
    krv::ui::ColorRef m_crBlinkText[2];
    bool m_bTextBlink = false;
    int m_nTextBlinkStep = 0;
    krv::ui::ColorRef m_crBk;
    krv::ui::ColorRef m_crBlinkBk[2];
    bool m_bBkBlink = false;
    int m_nBkBlinkStep = 0;
};
