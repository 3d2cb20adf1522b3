#include "device/ConfigFieldLength.h"

bool CConfigFieldLength::vSetDefaultConfigFieldLength(uint8_t ucConfigFormat)
{
    return bDefaultConfigFieldLength(ucConfigFormat, *this);
}

bool bDefaultConfigFieldLength(uint8_t ucConfigFormat, CConfigFieldLength& lengths)
{
    (void)ucConfigFormat;
    lengths.m_ucConfig_VID_Len = 4;
    lengths.m_ucConfig_PID_Len = 4;
    lengths.m_ucConfig_Revision_Len = 4;
    lengths.m_ucConfig_SN_Len = 20;
    lengths.m_ucConfig_Manufacturer_Len = 36;
    lengths.m_ucConfig_Product_Len = 32;
    lengths.m_ucConfig_T10Vendor_Len = 8;
    lengths.m_ucConfig_T10Product_Len = 16;
    return true;
}

uint8_t ucDiskLabelLength(uint8_t ucFormatDriveType)
{
    return ucFormatDriveType != 0 ? DISK_LABEL_LEN_FAT : DISK_LABEL_LEN_NTFS;
}
