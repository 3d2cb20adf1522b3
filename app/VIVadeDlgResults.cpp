// The results table: one row per port slot, the link and identity of the
// drive found there, and one cell per production step that turns green for
// PASS and red for FAIL. Every cell goes through vUpdateMainResultItemTable,
// which picks its colours; the scan and the port workers call it from their
// threads, and the cell's colours and text change together on the GUI thread.
#include <cctype>

#include "app/GUIText.h"
#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "controls/ListCtrlEx.h"
#include "controls/TextProgressCtrl.h"
#include "device/DebugLog.h"

namespace {

constexpr krv::ui::ColorRef kWhite = krv::ui::rgb(255, 255, 255);
constexpr krv::ui::ColorRef kBlack = krv::ui::rgb(0, 0, 0);

bool bEqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

// Columns the clear empties, in the order it empties them.
constexpr uint8_t kIdentityColumns[] = {RESULT_COL_STATUS, RESULT_COL_VID, RESULT_COL_PID, RESULT_COL_SN,
                                        RESULT_COL_FW,     RESULT_COL_CAPACITY, RESULT_COL_CC, RESULT_COL_U4_MODE,
                                        RESULT_COL_PD};
constexpr uint8_t kStepColumns[] = {RESULT_COL_UPDATE, RESULT_COL_RELINK, RESULT_COL_PARTITION, RESULT_COL_RW_TEST,
                                    RESULT_COL_PRELOAD};

}  // namespace

CVIVadeDlg::CellColors CVIVadeDlg::stCellColors(uint8_t ucMode, const std::string& strText)
{
    const CellColors green{krv::ui::rgb(0, 200, 0), kWhite};
    const CellColors red{krv::ui::rgb(255, 0, 0), kWhite};
    if (ucMode == CELL_MODE_GREEN || bEqualsIgnoringCase(strText, g_GUIText.m_strPass))
        return green;
    if (ucMode == CELL_MODE_RED || bEqualsIgnoringCase(strText, g_GUIText.m_strFail))
        return red;
    switch (ucMode) {
    case CELL_MODE_BLUE: return {krv::ui::rgb(0, 0, 255), kWhite};
    case CELL_MODE_ORANGE: return {krv::ui::rgb(255, 165, 0), kWhite};
    case CELL_MODE_PURPLE: return {krv::ui::rgb(180, 0, 180), kWhite};
    default: return {kWhite, kBlack};
    }
}

uint8_t CVIVadeDlg::ucRowColorMode(const std::string& strUSBSpeed, uint8_t ucU4Mode)
{
    uint8_t ucMode = CELL_MODE_ORANGE;
    if (strUSBSpeed.find("SUPER") != std::string::npos || strUSBSpeed.find("PLUS") != std::string::npos)
        ucMode = CELL_MODE_BLUE;
    if (ucU4Mode == 1 || ucU4Mode == 3)
        ucMode = CELL_MODE_BLUE;
    else if (ucU4Mode == 2)
        ucMode = CELL_MODE_PURPLE;
    return ucMode;
}

std::string CVIVadeDlg::strCapacityText(uint64_t ullCapacity)
{
    if (ullCapacity == DEV_CAPACITY_UNKNOWN)
        return {};
    // MiB as a 32-bit number, as the table has always shown it.
    const uint32_t dwMiB = static_cast<uint32_t>(ullCapacity >> 20);
    return dwMiB > 1024 ? vSprintf127("%u GB", dwMiB / 1024) : vSprintf127("%u MB", dwMiB);
}

std::string CVIVadeDlg::strGetLinkTypeName(uint8_t ucU4Mode)
{
    switch (ucU4Mode) {
    case 0: return "Legacy";
    case 1: return "TBT3";
    case 2: return "PCIE TNL";
    case 3: return "U3 TNL";
    default: return "UNKNOW";
    }
}

std::string CVIVadeDlg::strGetPcieLinkName(uint8_t ucLinkSpeed)
{
    switch (ucLinkSpeed) {
    case 4: return "Gen2x1";
    case 5: return "Gen2x2";
    case 6: return "Gen3x1";
    case 7: return "Gen3x2";
    default: return "UNKNOW";
    }
}

void CVIVadeDlg::vInitResultTableColumns()
{
    vOnGui([this] {
        m_ListMainResult->SetExtendedStyle(m_ListMainResult->GetExtendedStyle() | CListCtrlEx::kExGridLines |
                                           CListCtrlEx::kExFullRowSelect | CListCtrlEx::kExFlatScrollBars);
        if (m_ListMainResult->GetColumnCount() > 0)
            return;  // the columns are made once
        // A column asked for beyond the last one lands at the end.
        for (int i = 0; i < MainResultColumnCount; ++i) {
            const ListColumnHeader& column = MainResultColumns[i];
            m_ListMainResult->InsertColumn(column.ucIndex, column.strTitle, CListCtrlEx::kFormatCenter, column.ucWidth);
        }
        // Drives of one batch often share a serial's head and differ at its
        // end; a serial too long for the column loses its middle instead.
        const uint8_t ucSerialColumn = m_pProfile->ucResultColumn(RESULT_COL_SN);
        if (ucSerialColumn != RESULT_COLUMN_NONE)
            m_ListMainResult->SetColumnElideMode(ucSerialColumn, Qt::ElideMiddle);
    });
}

void CVIVadeDlg::vSetMainResultItemTable()
{
    vOnGui([this] {
        m_ListMainResult->DeleteAllItems();
        for (int row = 0; row < MAX_DEV_SLOTS; ++row)
            m_ListMainResult->InsertItem(row, vSprintf127("%d", row));
    });
}

void CVIVadeDlg::vUpdateMainResultItemTable(uint8_t ucRow, uint8_t ucLogicalColumn, const std::string& strText,
                                            uint8_t ucMode)
{
    const uint8_t ucColumn = m_pProfile->ucResultColumn(ucLogicalColumn);
    if (ucColumn == RESULT_COLUMN_NONE)
        return;
    const CellColors colors = stCellColors(ucMode, strText);
    const std::string strCell = strText.substr(0, 127);
    vOnGui([&] {
        m_ListMainResult->SetCellColor(ucRow, ucColumn, colors.crBack, colors.crText);
        m_ListMainResult->SetItemText(ucRow, ucColumn, strCell);
    });
}

void CVIVadeDlg::vClearMainResultSubItemTable()
{
    vClearMainResultIdentityTable();
    vClearMainResultSubItemStatusTable();
}

void CVIVadeDlg::vClearMainResultIdentityTable()
{
    for (uint8_t row = 0; row < MAX_DEV_SLOTS; ++row)
        for (uint8_t column : kIdentityColumns)
            vUpdateMainResultItemTable(row, column, "", CELL_MODE_PLAIN);
}

void CVIVadeDlg::vClearMainResultSubItemStatusTable()
{
    for (uint8_t row = 0; row < MAX_DEV_SLOTS; ++row)
        for (uint8_t column : kStepColumns)
            vUpdateMainResultItemTable(row, column, "", CELL_MODE_PLAIN);
}

void CVIVadeDlg::vUpdateMainResultSubItemTable(uint8_t ucClear)
{
    static const char* const kWho = "CVIVadeDlg::vUpdateMainResultSubItemTable";
    // The clear empties the identity cells only: the step cells keep the
    // last run's results until the next run starts (its supervisor clears
    // them), so the rescans that follow a run (drives pulled, plugged or
    // parked) never wipe a result the operator has not read yet.
    if (ucClear == 1) {
        vClearMainResultIdentityTable();
        vResetProgress();
    }
    for (uint8_t slot = 0; slot < MAX_DEV_SLOTS; ++slot) {
        DevInfo& dev = m_DevList.Devs[slot];
        if (dev.m_ucPortIndex == DEV_PORT_INDEX_EMPTY)
            continue;
        const uint8_t ucMode = ucRowColorMode(dev.m_strUSBSpeed, dev.m_ucU4Mode);
        vUpdateMainResultItemTable(slot, RESULT_COL_STATUS, dev.m_strUSBSpeed, ucMode);
        vUpdateMainResultItemTable(slot, RESULT_COL_VID, dev.m_strVID, ucMode);
        vUpdateMainResultItemTable(slot, RESULT_COL_PID, dev.m_strPID, ucMode);
        vUpdateMainResultItemTable(slot, RESULT_COL_SN, dev.m_strSerialNumber, ucMode);
        vUpdateMainResultItemTable(slot, RESULT_COL_FW, dev.m_strFWVersion, ucMode);
        vUpdateMainResultItemTable(slot, RESULT_COL_CAPACITY, strCapacityText(dev.m_ullCapacity), CELL_MODE_PLAIN);
        vUpdateMainResultItemTable(slot, RESULT_COL_CC,
                                   dev.m_ucCCOrientation == DEV_CC_ORIENTATION_NONE
                                       ? std::string("X")
                                       : vSprintf127("%x", dev.m_ucCCOrientation),
                                   ucMode);
        if (dev.m_strExtFWVersion != DEV_EXT_FW_VERSION_NONE)
            vUpdateMainResultItemTable(slot, RESULT_COL_PD, dev.m_strExtFWVersion, CELL_MODE_PLAIN);
        const std::string strLinkType = strGetLinkTypeName(dev.m_ucU4Mode);
        if (dev.m_ucU4Mode != 0xFF) {
            vUpdateMainResultItemTable(slot, RESULT_COL_U4_MODE, strLinkType, ucMode);
            vDEBUG_MSG_printf("%s:%d: u4 mode:%d, str:%s", kWho, __LINE__, dev.m_ucU4Mode, strLinkType.c_str());
            if (dev.m_ucU4Mode != 0) {
                const std::string strSpeed = strGetPcieLinkName(dev.m_ucLinkSpeed);
                if (m_pProfile->bLinkNameIntoSpeedText)
                    dev.m_strUSBSpeed = strSpeed;
                vUpdateMainResultItemTable(slot, RESULT_COL_STATUS, strSpeed, ucMode);
                vDEBUG_MSG_printf("%s:%d: u4 spd : %d, s:%s", kWho, __LINE__, dev.m_ucLinkSpeed, strSpeed.c_str());
            }
        }
        vDEBUG_MSG_printf(
            "%s:%d: #port[%d], Status[%s], VID[%s], PID[%s], SN[%s], FW[%s], Capacity[%u], U4 Mode[%s], EXT FW[%s] ",
            kWho, __LINE__, slot, dev.m_strUSBSpeed.c_str(), dev.m_strVID.c_str(), dev.m_strPID.c_str(),
            dev.m_strSerialNumber.c_str(), dev.m_strFWVersion.c_str(), static_cast<uint32_t>(dev.m_ullCapacity >> 20),
            strLinkType.c_str(), dev.m_strExtFWVersion.c_str());
    }
}

void CVIVadeDlg::vUpdateUsbModeColumns(uint8_t ucSlot, const PortRelinkInfo& entry)
{
    if (ucSlot >= MAX_DEV_SLOTS)
        return;
    const uint8_t ucMode = ucRowColorMode(entry.m_strUSBSpeed, entry.m_ucU4Mode);
    vUpdateMainResultItemTable(ucSlot, RESULT_COL_STATUS, entry.m_strUSBSpeed, ucMode);
    vUpdateMainResultItemTable(ucSlot, RESULT_COL_VID, entry.m_strVID, ucMode);
    vUpdateMainResultItemTable(ucSlot, RESULT_COL_PID, entry.m_strPID, ucMode);
    vUpdateMainResultItemTable(ucSlot, RESULT_COL_SN, entry.m_strSerialNumber, ucMode);
    vUpdateMainResultItemTable(ucSlot, RESULT_COL_FW, entry.m_strFWVersion, ucMode);
    if (entry.m_ucU4Mode != 0xFF) {
        vUpdateMainResultItemTable(ucSlot, RESULT_COL_U4_MODE, strGetLinkTypeName(entry.m_ucU4Mode), ucMode);
        if (entry.m_ucU4Mode != 0)
            vUpdateMainResultItemTable(ucSlot, RESULT_COL_STATUS, strGetPcieLinkName(entry.m_ucLinkSpeed), ucMode);
    }
}

void CVIVadeDlg::vResetProgress()
{
    vOnGui([this] {
        vShowRunProgress("0%");
        m_ProgressRun->SetRange(0, 100);
        m_ProgressRun->SetStep(1);
        m_ProgressRun->SetPos(0);
    });
}

void CVIVadeDlg::vShowRunProgress(const std::string& strPercent)
{
    // One figure in both places, set in one step: the bar's position counts
    // the supervisor's polls, and a percentage of it beside the ports' mean
    // would be a second, meaningless figure.
    vOnGui([&] {
        setControlText(IDC_EDIT_PROGRESS, strPercent);
        m_ProgressRun->SetWindowText(strPercent);
    });
}

void CVIVadeDlg::vResetPortStatusTable()
{
    vResetPortRelinkTable(m_PortRelinkInfo, m_iRelinkCount, m_ucSavedItems);
}
