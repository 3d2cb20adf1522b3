// A picture of the main window after start-up with four drives in its table,
// saved for people to look at (build folder, screenshots/). At the window's
// own size every step column of every port shows its result without any
// scrolling.
#include <gtest/gtest.h>

#include <filesystem>

#include <QImage>

#include "controls/ListCtrlEx.h"
#include "ui/Colors.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

TEST(VIVadeDlgScreenshot, SavesTheMainWindowWithFourDrives)
{
    DlgFixture f(4);
    f.dlg->OnInitDialog();
    DevList& list = f.dlg->m_DevList;
    const char* const speeds[] = {"PLUSx1", "PLUSx2", "HIGH", "Gen3x2"};
    list.DevNums = 4;
    for (int i = 0; i < 4; ++i) {
        DevInfo& d = list.Devs[i];
        d.m_ucPortIndex = static_cast<uint8_t>(i);
        d.m_strUSBSpeed = speeds[i];
        d.m_ucU4Mode = i == 3 ? 2 : 0;
        d.m_ucLinkSpeed = i == 3 ? 7 : 4;
        d.m_ucCCOrientation = 1;
        d.m_ullCapacity = 256ull << 30;
        d.m_strVID = "2C4B";
        d.m_strPID = "8574";
        d.m_strSerialNumber = "KRVBENCH00000000000" + std::to_string(i + 1);
        d.m_strFWVersion = "230601800100";
    }
    f.dlg->vUpdateMainResultSubItemTable(1);
    // PASS in every step column of the first and the last port.
    const int rows[] = {0, MAX_DEV_SLOTS - 1};
    for (int row : rows)
        for (int col = RESULT_COL_UPDATE; col <= RESULT_COL_PD; ++col)
            f.dlg->vUpdateMainResultItemTable(static_cast<uint8_t>(row), static_cast<uint8_t>(col), "PASS",
                                              CELL_MODE_PLAIN);
    f.dlg->vUpdateMainResultItemTable(1, RESULT_COL_UPDATE, "FAIL", CELL_MODE_PLAIN);
    showSettled(*f.dlg);

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/main-window.png";
    const QImage image = f.dlg->grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
    EXPECT_TRUE(QImage(QString::fromStdString(path)).size() == image.size());

    // Each PASS cell, by the colour of its corners in the picture of the
    // whole window (a cell scrolled out of sight or cut off by the window
    // shows something else there).
    CListCtrlEx& table = *f.dlg->m_ListMainResult;
    const QRect shown = table.viewport()->rect();
    const QRgb green = ui::toQColor(ui::rgb(0, 200, 0)).rgb();
    for (int row : rows) {
        for (int col = RESULT_COL_UPDATE; col <= RESULT_COL_PD; ++col) {
            const QRect cell = table.visualRect(table.model()->index(row, col));
            for (const QPoint corner : {cell.topLeft() + QPoint(2, 2), cell.bottomRight() - QPoint(2, 2)}) {
                const QPoint at = table.viewport()->mapTo(f.dlg.get(), corner);
                EXPECT_TRUE(shown.contains(corner) && image.rect().contains(at) && image.pixel(at) == green)
                    << "row " << row << " column " << col << " at " << at.x() << "," << at.y();
            }
        }
    }
}

}  // namespace
}  // namespace krv::test
