#include "platform/CaptureDebugOutput.h"

namespace krv {

void CaptureDebugOutput::write(std::string_view text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(text);
}

std::vector<std::string> CaptureDebugOutput::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string CaptureDebugOutput::joined() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const auto& l : lines_)
        all += l;
    return all;
}

void CaptureDebugOutput::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

bool CaptureDebugOutput::contains(std::string_view needle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_)
        if (l.find(needle) != std::string::npos)
            return true;
    return false;
}

}  // namespace krv
