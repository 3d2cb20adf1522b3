// A picture of the main window after start-up with four drives in its table,
// saved for people to look at (build folder, screenshots/).
#include <gtest/gtest.h>

#include <filesystem>

#include <QImage>

#include "controls/ListCtrlEx.h"
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
    f.dlg->vUpdateMainResultItemTable(0, RESULT_COL_UPDATE, "PASS", CELL_MODE_PLAIN);
    f.dlg->vUpdateMainResultItemTable(1, RESULT_COL_UPDATE, "FAIL", CELL_MODE_PLAIN);
    f.dlg->show();
    runEventsUntil([&] { return f.dlg->isVisible(); });

    const std::string folder = std::string(KRV_BUILD_DIR) + "/screenshots";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/main-window.png";
    const QImage image = f.dlg->grab().toImage();
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
    EXPECT_TRUE(QImage(QString::fromStdString(path)).size() == image.size());
}

}  // namespace
}  // namespace krv::test
