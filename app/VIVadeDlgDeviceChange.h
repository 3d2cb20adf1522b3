#pragma once
// The device-change notice as the main window's handler receives it: the
// event code and, for an interface notice, its header with the interface
// class and the device path. The platform's device events arrive in this
// shape on the GUI thread.
#include <cstdint>
#include <string>

#include "platform/Guid.h"

// Event codes.
constexpr uint32_t DBT_DEVNODES_CHANGED = 0x0007;
constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEQUERYREMOVE = 0x8001;
constexpr uint32_t DBT_DEVICEQUERYREMOVEFAILED = 0x8002;
constexpr uint32_t DBT_DEVICEREMOVEPENDING = 0x8003;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr uint32_t DBT_DEVICETYPESPECIFIC = 0x8005;

// Device types of a notice.
constexpr uint32_t DBT_DEVTYP_VOLUME = 2;
constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

struct DEV_BROADCAST_DEVICEINTERFACE {
    uint32_t dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    krv::Guid dbcc_classguid;
    std::string dbcc_name;
};

// The interface classes the main window registers for, in registration order.
constexpr int DEV_NOTIFY_CLASS_COUNT = 7;
extern const krv::Guid g_DevNotifyClasses[DEV_NOTIFY_CLASS_COUNT];

// {4D1E55B2-F16F-11CF-88CB-001111000030}
inline constexpr krv::Guid GUID_DEVINTERFACE_HID{0x4D1E55B2, 0xF16F, 0x11CF,
                                                 {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// {AD498944-762F-11D0-8DCB-00C04FC3358C}
inline constexpr krv::Guid GUID_DEVINTERFACE_NET{0xAD498944, 0x762F, 0x11D0,
                                                 {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
// {86E0D1E0-8089-11D0-9CE4-08003E301F73}
inline constexpr krv::Guid GUID_DEVINTERFACE_COMPORT{0x86E0D1E0, 0x8089, 0x11D0,
                                                     {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The classes whose arrival starts a scan at once: disk, USB hub, USB host
// controller.
bool bIsScanTriggerClass(const krv::Guid& interfaceClass);
