#include "platform/bench/bridge/Sense.h"

#include <algorithm>
#include <cstring>

namespace krv::bench {

void endWithCheckCondition(ScsiCommand& command, SenseCode sense)
{
    uint8_t data[18] = {};
    data[0] = 0x70;  // current error, fixed format
    data[2] = sense.key;
    data[7] = sizeof data - 8;
    data[12] = sense.asc;
    data[13] = sense.ascq;
    std::memset(command.sense, 0, sizeof command.sense);
    std::memcpy(command.sense, data, sizeof data);
    command.senseLength = sizeof data;
    command.scsiStatus = scsi::kCheckCondition;
    command.transferred = 0;
}

void endGood(ScsiCommand& command, uint32_t transferred)
{
    command.scsiStatus = scsi::kGood;
    command.senseLength = 0;
    command.transferred = transferred;
}

}  // namespace krv::bench
