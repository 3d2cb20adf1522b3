#pragma once
// Where the tool dialogs of the two programs differ: the configuration
// check dialog and the device information dialog it opens.
struct ToolDlgProfile {
    // The configuration check dialog leaves the empty "Read Register" frame
    // shown around its dump area.
    bool bReadRegisterFrameShown = false;
    // Its USB4 information shows the error-recovery count alone.
    bool bU4InfoCountOnly = false;
    // The device information shows a device code made from register 0xC8FF,
    // which also joins the UASP support rule.
    bool bDeviceCodeText = false;
};
