#include "tests/e2e/CmdLineRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "app/Ini.h"
#include "app/VIVadeDlg.h"
#include "device/ConfigFieldLength.h"

namespace fs = std::filesystem;

namespace krv::test {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

int countOf(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

CmdLineRun::CmdLineRun(Program program)
    : program_(program),
      name_(program == Program::ShowStatus ? "KRV857xShowStatus" : "KRV857xVIVade"),
      prog_(root_.file("prog")),
      cwd_(root_.file("cwd")),
      bench_(root_.file("bench"))
{
    fs::create_directory(prog_);
    fs::create_directory(cwd_);
    // A hard link keeps /proc/self/exe in the test's program folder without
    // copying tens of megabytes; a copy where the build is on another disk.
    const fs::path built = builtProgram((program == Program::ShowStatus ? "variant/" : "app/") + name_);
    const fs::path linked = fs::path(prog_) / name_;
    std::error_code ec;
    fs::create_hard_link(built, linked, ec);
    if (ec)
        fs::copy_file(built, linked);
}

std::string CmdLineRun::settingsPath() const { return prog_ + "/" + VIVADE_INI_FILE; }

void CmdLineRun::createBench(const std::vector<std::string>& options)
{
    std::vector<std::string> args = {"--time-scale", std::to_string(kTimeScale)};
    args.insert(args.end(), options.begin(), options.end());
    ToolRun made = krvbench("create", args);
    if (made.exitCode != 0)
        throw std::runtime_error("krvbench create failed: " + made.err);
}

ToolRun CmdLineRun::krvbench(const std::string& command, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {command, bench_};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(builtProgram("tools/krvbench/krvbench"), all);
}

void CmdLineRun::writeSettings(const std::function<void(IniRecord&)>& change)
{
    CConfigFieldLength lengths;
    Ini ini;
    ini.vSetProfile(program_ == Program::ShowStatus ? IniProfileVariant() : IniProfileProduction());
    ini.vSetFieldLengthTarget(&lengths);
    ini.vSetDefaultSettings();
    if (change)
        change(ini.m_pINI);
    if (!ini.vStoreINIFile(settingsPath()))
        throw std::runtime_error("settings not written: " + ini.strLastProblem());
}

RunOptions CmdLineRun::options() const
{
    RunOptions options;
    options.workingDir = cwd_;
    options.env = {"KRV_BENCH=" + bench_, "QT_QPA_PLATFORM=offscreen"};
    options.timeoutSeconds = kRunTimeoutSeconds;
    return options;
}

ToolRun CmdLineRun::run(const std::vector<std::string>& args)
{
    return runProgram(prog_ + "/" + name_, args, options());
}

std::unique_ptr<RunningProgram> CmdLineRun::start(const std::vector<std::string>& args)
{
    return std::make_unique<RunningProgram>(prog_ + "/" + name_, args, options());
}

std::string CmdLineRun::currentFile(const std::string& name) const { return readFile(cwd_ + "/" + name); }

bool CmdLineRun::hasCurrentFile(const std::string& name) const { return fs::exists(cwd_ + "/" + name); }

}  // namespace krv::test
