#include "platform/Volumes.h"

namespace krv {

namespace {
int indexOf(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    return (letter >= 'A' && letter <= 'Z') ? letter - 'A' : -1;
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

}  // namespace krv
