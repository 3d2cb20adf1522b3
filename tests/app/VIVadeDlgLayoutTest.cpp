// The main window at the size it opens with, in the font the desktop gives
// it: the settings fields hold their texts whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

// Whether a line edit shows the start of its text: once a text is longer
// than the field, the field scrolls it to the cursor at its end and the
// first characters leave it.
bool showsItsStart(QLineEdit& edit) { return edit.cursorPositionAt(QPoint(0, edit.height() / 2)) == 0; }

// Whether the whole field is inside the part of the settings band the
// window shows (a band narrower than its fields cuts them at the right).
bool inSight(QWidget& field, QWidget& band)
{
    const QRect shown(field.mapTo(&band, QPoint(0, 0)), field.size());
    return shown.left() >= 0 && shown.right() < band.width();
}

// Whether a drop-down list's field is wide enough for `text`.
bool holds(QComboBox& combo, const QString& text)
{
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = combo.isEditable();
    option.frame = combo.hasFrame();
    option.currentText = text;
    const QRect field =
        combo.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo);
    return combo.fontMetrics().horizontalAdvance(text) <= field.width();
}

// The desktop's font for one test's life.
class ScopedAppFont {
public:
    explicit ScopedAppFont(int pointSize) : saved_(QApplication::font())
    {
        QFont font = saved_;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
    }
    ~ScopedAppFont() { QApplication::setFont(saved_); }

private:
    QFont saved_;
};

class VIVadeDlgLayout : public ::testing::TestWithParam<int> {};

TEST_P(VIVadeDlgLayout, AtItsOwnSizeTheSettingsFieldsHoldTheirTexts)
{
    ScopedAppFont font(GetParam());
    DlgFixture f;
    ASSERT_TRUE(f.dlg->OnInitDialog());
    showSettled(*f.dlg);
    CVIVadeDlg& dlg = *f.dlg;
    QWidget& band = *dlg.control(IDC_GROUP_DEVICE_CONFIG)->parentWidget()->parentWidget();  // the band's viewport

    // The factory settings' texts, the longest a line's serial numbers take
    // (12 characters) and the USB4 component id at its full length.
    struct EditCase {
        int id;
        const char* text;
    } edits[] = {
        {IDC_EDIT_SERIAL_NUMBER, "AAAABBBB0011"},
        {IDC_EDIT_EP0_MSTRING, nullptr},
        {IDC_EDIT_EP0_PSTRING, nullptr},
        {IDC_EDIT_T10_MSTRING, nullptr},
        {IDC_EDIT_T10_PSTRING, nullptr},
        {IDC_EDIT_U4_VENDOR_NAME, nullptr},
        {IDC_EDIT_U4_MODEL_NAME, nullptr},
        {IDC_EDIT_U4_COMPONENT_ID, "AAAABBBB0011"},
        {IDC_EDIT_DRIVE_LABEL, "KRVLINE"},
        {IDC_EDIT_VENDOR_ID, nullptr},
        {IDC_EDIT_U4_BCD_PRODUCT_FW, nullptr},
        {IDC_EDIT_TBT3_VENDOR_ID, nullptr},
        {IDC_EDIT_TBT3_MODEL_ID, nullptr},
        {IDC_EDIT_TBT3_MODEL_REV, nullptr},
    };
    for (const EditCase& c : edits) {
        auto* edit = qobject_cast<QLineEdit*>(dlg.control(c.id));
        ASSERT_NE(edit, nullptr) << c.id;
        if (c.text)
            edit->setText(c.text);
        SCOPED_TRACE(testing::Message() << "field " << c.id << " \"" << edit->text().toStdString() << "\" in "
                                        << edit->width() << " pixels");
        EXPECT_FALSE(edit->text().isEmpty());
        EXPECT_TRUE(showsItsStart(*edit));
        EXPECT_TRUE(inSight(*edit, band));
    }

    // Every choice of every list.
    for (int id : {IDC_COMBO_SN_EDIT_TYPE, IDC_COMBO_IDLE_TIMER, IDC_COMBO_AUTO_DEV_NUM, IDC_COMBO_USB_STATUS,
                   IDC_COMBO_PARTITION_TYPE, IDC_COMBO_FORMAT_TYPE, IDC_COMBO_U4_COMPONENT_ID_TYPE, IDC_COMBO_U4_MODE}) {
        auto* combo = qobject_cast<QComboBox*>(dlg.control(id));
        ASSERT_NE(combo, nullptr) << id;
        ASSERT_GT(combo->count(), 0) << id;
        EXPECT_TRUE(inSight(*combo, band)) << id;
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_TRUE(holds(*combo, combo->itemText(i)))
                << "list " << id << " \"" << combo->itemText(i).toStdString() << "\" in " << combo->width() << " pixels";
    }
}

// The desktop's usual size and a larger one.
INSTANTIATE_TEST_SUITE_P(Fonts, VIVadeDlgLayout, ::testing::Values(9, 12),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "pt"; });

}  // namespace
}  // namespace krv::test
