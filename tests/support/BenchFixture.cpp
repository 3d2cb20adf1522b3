#include "tests/support/BenchFixture.h"

#include <stdexcept>

#include "platform/bench/BenchLayout.h"

namespace krv::test {

namespace {

bench::BenchSettings uniformBench(int ports, const std::string& chip, const std::string& link)
{
    bench::BenchSettings settings;
    settings.ports.resize(static_cast<size_t>(ports));
    for (auto& port : settings.ports) {
        port.chip = chip;
        port.link = link;
    }
    return settings;
}

}  // namespace

BenchFixture::BenchFixture(int ports, const std::string& chip, const std::string& link)
    : BenchFixture(uniformBench(ports, chip, link))
{
}

BenchFixture::BenchFixture(bench::BenchSettings settings, std::vector<bench::PortStart> starts,
                           std::map<int, bench::DiskLayoutPlan> layouts, BenchTime time)
    : folder_(dir_.path() + "/bench"), previous_(Platform::currentOrNull()), time_(time)
{
    bench::BenchError error;
    VirtualClock clock;
    if (!bench::Bench::create(folder_, std::move(settings), error, starts, &clock, layouts))
        throw std::runtime_error("cannot make a test bench: " + error.message);
    openPlatform();
}

BenchFixture::~BenchFixture() { close(); }

void BenchFixture::openPlatform()
{
    auto capture = std::make_unique<CaptureDebugOutput>();
    capture_ = capture.get();
    BenchPlatformOptions options;
    if (time_ == BenchTime::Virtual) {
        auto clock = std::make_unique<VirtualClock>();
        clock_ = clock.get();
        options.clock = std::move(clock);
    }
    options.debugOutput = std::move(capture);
    options.inboxThread = false;
    std::string error;
    platform_ = BenchPlatform::open(folder_, error, std::move(options));
    if (!platform_)
        throw std::runtime_error("cannot open the test bench: " + error);
    Platform::setCurrent(platform_.get());
}

void BenchFixture::close()
{
    if (!platform_)
        return;
    Platform::setCurrent(previous_);
    platform_.reset();
    clock_ = nullptr;
    capture_ = nullptr;
}

void BenchFixture::reopen()
{
    close();
    openPlatform();
}

std::string BenchFixture::portFolder(int port) const { return bench::portStatePath(folder_, port); }

int BenchFixture::physicalDrive(int port) { return devices().physicalDrive(port).value_or(-1); }

int BenchFixture::cdrom(int port) { return devices().cdrom(port).value_or(-1); }

namespace {
bool postAndApply(BenchPlatform& platform, const std::string& folder, const char* verb, int port)
{
    bench::BenchCommand command;
    command.verb = verb;
    command.port = port;
    std::string id, why;
    bench::Inbox inbox(bench::inboxPath(folder));
    if (!inbox.post(command, id, why))
        return false;
    platform.processInboxNow();
    return inbox.fate(id, why) == bench::Inbox::Fate::Done;
}
}  // namespace

bool BenchFixture::plug(int port) { return postAndApply(*platform_, folder_, "plug", port); }

bool BenchFixture::unplug(int port) { return postAndApply(*platform_, folder_, "unplug", port); }

}  // namespace krv::test
