#include "platform/Volumes.h"

#include "platform/LastError.h"

namespace krv {

namespace {
int indexOf(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    return (letter >= 'A' && letter <= 'Z') ? letter - 'A' : -1;
}

bool noVolume()
{
    setLastError(winerr::kFileNotFound);
    return false;
}
}  // namespace

bool LetterTable::driveLetterInUse(char letter)
{
    int i = indexOf(letter);
    return i >= 0 && used_[i];
}

void LetterTable::setInUse(char letter, bool inUse)
{
    int i = indexOf(letter);
    if (i >= 0)
        used_[i] = inUse;
}

bool LetterTable::volumeName(char, std::string&) { return noVolume(); }
bool LetterTable::diskExtents(char, std::vector<DiskExtent>&) { return noVolume(); }
bool LetterTable::volumeInformation(char, VolumeInformation&) { return noVolume(); }
bool LetterTable::freeSpace(char, VolumeFreeSpace&) { return noVolume(); }

std::string LetterTable::mountPath(char)
{
    noVolume();
    return {};
}

bool Volumes::setVolumeLabel(char, const std::string&)
{
    setLastError(winerr::kNotSupported);
    return false;
}

}  // namespace krv
