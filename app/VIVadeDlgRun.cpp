// The run supervisor: one run from the start of its port workers to the
// end-of-run bookkeeping.
#include "app/VIVadeDlg.h"
#include "device/DebugLog.h"

void CVIVadeDlg::vStartMainThread()
{
    MainThreadParam* pParam = &m_MainThreadParam;
    m_pMainThread = m_Threads.pStart("MainThreadFun",
                                     [this, pParam](const krv::StopSource& stop) { MainThreadFun(pParam, stop); });
}

int CVIVadeDlg::MainThreadFun(MainThreadParam* pParam, const krv::StopSource& stop)
{
    (void)pParam;
    (void)stop;
    return 1;
}
