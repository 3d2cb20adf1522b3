#include "app/GUIText.h"

// Every text is a member initialiser, so the table is complete as soon as it
// is constructed and needs no initialisation step of its own.
CGUIText g_GUIText;

CGUIText::~CGUIText() { vClear(); }

void CGUIText::vClear()
{
    m_strWindowTitle.clear();
    m_strErrUnknown.clear();
    m_strErrInvalidConfigType.clear();
    m_strErrInvalidSNSize.clear();
    m_strErrInvalidManufacturerSize.clear();
    m_strErrInvalidProductSize.clear();
    m_strErrInvalidSNString.clear();
    m_strErrInvalidDiskLabelSize.clear();
}
