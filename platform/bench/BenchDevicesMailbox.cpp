// The bridge on a PCIe tunnel takes its vendor commands through the mailbox
// in its function's configuration space; each whole command lands here, is
// logged like a command over USB and meets the port's faults the same way.
#include "platform/LastError.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

BenchDevices::MailboxAnswer BenchDevices::executeMailbox(int port, ScsiCommand& command)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_)
        return MailboxAnswer::Silent;
    const uint64_t now = clock_.monotonicMs();
    advanceLocked(now);
    Port* p = portLocked(port);
    if (!p || !onBusLocked(*p) || p->bridge->onUsb())
        return MailboxAnswer::Silent;
    command.scsiStatus = 0;
    command.senseLength = 0;
    command.transferred = 0;
    LogEntry entry;
    entry.ms = now;
    entry.cdb.assign(command.cdb, command.cdb + command.cdbLength);
    entry.direction = command.direction;
    entry.dataLength = command.dataLength;
    const bool bringsDataIn = command.direction == DataDirection::In && command.dataLength > 0;
    const bool sendsDataOut = command.direction == DataDirection::Out && command.dataLength > 0;
    std::optional<Fault> fault =
        p->bridge->state().faults.hit(command.cdb, command.cdbLength, bringsDataIn, sendsDataOut);
    auto failed = [&](const char* note, MailboxAnswer answer) {
        entry.result = LogEntry::Result::TransportFailed;
        entry.lastError = transport::kIoDeviceError;
        entry.note = std::string("mailbox: ") + note;
        recordLocked(*p, std::move(entry));
        return answer;
    };
    if (fault && fault->kind == FaultKind::Timeout)
        return failed("fault: doorbell never answered", MailboxAnswer::Silent);
    if (fault && fault->kind == FaultKind::Fail)
        return failed("fault: wrong doorbell answer", MailboxAnswer::Error);
    if (fault && fault->kind == FaultKind::Drop) {
        MailboxAnswer answer = failed("fault: drop", MailboxAnswer::Silent);
        dropLocked(*p, now, "fault at a mailbox command");
        return answer;
    }
    std::string note;
    Bridge::Reaction reaction = Bridge::Reaction::None;
    if (fault && fault->kind == FaultKind::Check)
        endWithCheckCondition(command, fault->sense);
    else {
        // As on USB: the EEPROM programs one byte wrong and the write is
        // answered good; the host's buffer stays as sent.
        const bool corruptStore = fault && fault->kind == FaultKind::CorruptStore;
        const uint32_t storeAt = corruptStore ? fault->byteIndex % command.dataLength : 0;
        if (corruptStore)
            command.data[storeAt] ^= 0xFF;
        reaction = p->bridge->answerMailbox(command, now, note);
        if (corruptStore) {
            command.data[storeAt] ^= 0xFF;
            note += (note.empty() ? "" : "; ") + std::string("fault: stored byte ") + std::to_string(storeAt) +
                    " inverted";
        }
    }
    if (fault && fault->kind == FaultKind::Corrupt && command.scsiStatus == scsi::kGood && command.transferred > 0) {
        uint32_t at = fault->byteIndex % command.transferred;
        command.data[at] ^= 0xFF;
        note += (note.empty() ? "" : "; ") + std::string("fault: corrupt byte ") + std::to_string(at);
    }
    if (command.scsiStatus == scsi::kGood) {
        entry.result = LogEntry::Result::Good;
    } else {
        entry.result = LogEntry::Result::CheckCondition;
        entry.sense = {command.sense[2], command.sense[12], command.sense[13]};
    }
    entry.transferred = command.transferred;
    entry.note = "mailbox" + (note.empty() ? std::string() : "; " + note);
    recordLocked(*p, std::move(entry));
    reactLocked(*p, reaction, fault, now);
    return command.scsiStatus == scsi::kGood ? MailboxAnswer::Done : MailboxAnswer::Error;
}

uint64_t BenchDevices::pcieGeneration(int port)
{
    Delivery delivery(*this);
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    if (!p || closed_)
        return 0;
    advanceLocked(clock_.monotonicMs());
    return onBusLocked(*p) && !p->bridge->onUsb() ? p->generation : 0;
}

bool BenchDevices::mailboxBusy(int port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Port* p = portLocked(port);
    return p && !closed_ && clock_.monotonicMs() < p->bridge->busyUntilMs();
}

}  // namespace krv::bench
