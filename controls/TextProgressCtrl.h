#pragma once
// The run's progress bar: it paints itself, with its own colours and its
// position as a percentage text (or its window text) drawn in two colours
// across the edge of the bar. It answers the standard progress-bar
// operations with their results (old position, old range ...) and also
// offers the vertical and marquee styles.
//
// Colours are 0x00BBGGRR values; kSystemColor (also any value that is not
// an RGB colour) stands for the matching system colour: highlight for the
// bar, button face for the background, window text over the background and
// window colour over the bar.
//
// GUI thread only: the main dialog's workers reach it through the dialog's
// synchronous GUI calls.
#include <cstdint>
#include <string>

#include <QString>
#include <QWidget>

#include "ui/Colors.h"

class CTextProgressCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr krv::ui::ColorRef kSystemColor = 0xFF000000u;

    // Window styles the painting follows.
    static constexpr uint32_t kStyleVertical = 0x04;
    static constexpr uint32_t kStyleMarquee = 0x08;

    // Text placement along the bar.
    enum TextAlign : int { kAlignStart = 0, kAlignCenter = 1, kAlignEnd = 2 };

    explicit CTextProgressCtrl(QWidget* parent = nullptr);
    ~CTextProgressCtrl() override;

    // --- range, step, position ---
    // Both return the old range as (old upper << 16) | (old lower & 0xFFFF).
    uint32_t SetRange(int16_t nLower, int16_t nUpper);
    uint32_t SetRange32(int nLower, int nUpper);
    void GetRange(int& nLower, int& nUpper) const;
    // Clamped to the range (with the marquee style, to the marquee's
    // maximum); repaints; returns the old position.
    int SetPos(int nPos);
    int OffsetPos(int nDelta);
    int GetPos() const { return m_nPos; }
    int SetStep(int nStep);  // returns the old step
    // One step on; past either end of the range it wraps round to the other.
    int StepIt();

    // --- colours (each setter returns the old value and repaints) ---
    krv::ui::ColorRef SetBarColor(krv::ui::ColorRef color);
    krv::ui::ColorRef SetBkColor(krv::ui::ColorRef color);
    // The colours in use: a system-colour value comes back resolved.
    krv::ui::ColorRef GetBarColor() const;
    krv::ui::ColorRef GetBkColor() const;
    // Text over the background, and text over the bar; read back as set.
    krv::ui::ColorRef SetTextColor(krv::ui::ColorRef color);
    krv::ui::ColorRef GetTextColor() const { return m_crTextBk; }
    krv::ui::ColorRef SetTextOverBarColor(krv::ui::ColorRef color);
    krv::ui::ColorRef GetTextOverBarColor() const { return m_crTextBar; }

    // --- text ---
    // On: the bar shows its position as "NN%"; off: its window text.
    void SetShowPercent(bool bShow);
    bool GetShowPercent() const { return m_bShowPercent; }
    void AlignText(int nAlign);
    void SetWindowText(const std::string& text);
    // The text the bar shows now.
    std::string GetDisplayText() const;

    // --- styles and marquee ---
    void ModifyStyle(uint32_t remove, uint32_t add);
    uint32_t GetStyle() const { return m_dwStyle; }
    // Marquee block length in percent of the bar; returns the value.
    int SetMarqueeBlock(int nPercent);
    // On: the block moves every `intervalMs`; off: stops it. Either way the
    // percentage text goes off (a marquee position means nothing).
    // Returns bOn.
    bool SetMarquee(bool bOn, int intervalMs);
    // Where a marquee's block may run to before it turns back: far enough
    // for the block to leave the bar completely.
    int GetMarqueeMax() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int MaxPos() const;
    void RedrawNow();
    void KillMarqueeTimer();
    void OnMarqueeTimer();

    bool m_bShowPercent = true;
    krv::ui::ColorRef m_crBar = kSystemColor;
    krv::ui::ColorRef m_crBk = kSystemColor;
    krv::ui::ColorRef m_crTextBk = kSystemColor;   // text over the background
    krv::ui::ColorRef m_crTextBar = kSystemColor;  // text over the bar
    int m_nAlign = kAlignCenter;
    int m_nPos = 0;
    int m_nStep = 10;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nMarqueeBlock = 20;
    uint32_t m_dwStyle = 0;
    int m_nMarqueeTimer = 0;  // QObject timer id, 0 when not running
    QString m_strText;

    // The marquee's direction (+1, -1) is one value for every bar of the
    // process: two marquees running at once turn each other round.
    static int s_nMarqueeDirection;
};
