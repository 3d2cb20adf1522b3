#pragma once
// Whether a run may reload the bridges' firmware in the variant build, whose
// reload finds a reset bridge again by waiting on the one path it was on: a
// run on USB and PCIe at once cannot be relinked, and neither can a USB4
// mode that may bring a drive back on the other path.
#include <string>

#include "app/IniRecord.h"

// Empty when the reload may run (or is off); else the refusal the operator
// is shown.
std::string strReloadRefusal(const IniRecord& ini, int nUsbDevices, int nPcieTargets);
