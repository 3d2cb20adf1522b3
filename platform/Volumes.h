#pragma once
// The operating system's volumes as the system sees them: drive letters
// (Linux has none; each backend keeps its own letter table).
namespace krv {

class Volumes {
public:
    virtual ~Volumes() = default;
    // True when the letter ('A'..'Z') names a drive of any kind.
    virtual bool driveLetterInUse(char letter) = 0;
};

// A letter table of its own: the letters given to it are in use.
class LetterTable : public Volumes {
public:
    bool driveLetterInUse(char letter) override;
    void setInUse(char letter, bool inUse);

private:
    bool used_[26] = {};
};

}  // namespace krv
