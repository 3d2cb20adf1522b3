#pragma once
// A window whose controls, known by their ids, can be given a text. The
// window layer implements it; the device layer only holds the pointer, so no
// window framework reaches this folder.
#include <string>

namespace krv {

class ControlTextWindow {
public:
    virtual ~ControlTextWindow() = default;
    virtual void setControlText(int id, const std::string& text) = 0;
};

}  // namespace krv
