#pragma once
// Runs one of the two programs in command-line mode the way a production script
// does, on an emulated bench in a temporary folder:
//
//   root/prog   the program folder: a hard link (or copy) of the built
//               program and the settings file the test writes there
//   root/cwd    the current folder, where the reports and ProgramMSG.txt go
//   root/bench  the bench, made and changed with krvbench
//
// The tool reads its settings file from the folder of its executable, so the
// executable is linked into a folder of the test's own; nothing in the tool
// knows it is being tested. The bench runs 50 times faster than real time,
// and so do the tool's timers.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/IniRecord.h"
#include "tests/support/RunTool.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {

class CmdLineRun {
public:
    static constexpr int kTimeScale = 50;
    // Real seconds after which a run counts as hung. The 17-drive run takes
    // a minute and a half on a loaded machine, and ThreadSanitizer slows the
    // run's own work several times over.
#if defined(__SANITIZE_THREAD__)
    static constexpr int kRunTimeoutSeconds = 300;
#else
    static constexpr int kRunTimeoutSeconds = 240;
#endif

    // Which of the two programs runs, with its settings file.
    enum class Program { VIVade, ShowStatus };

    explicit CmdLineRun(Program program = Program::VIVade);

    const std::string& programFolder() const { return prog_; }
    const std::string& currentFolder() const { return cwd_; }
    const std::string& benchFolder() const { return bench_; }
    std::string settingsPath() const;

    // krvbench create on the bench folder with the time scale and `options`.
    void createBench(const std::vector<std::string>& options);
    // Any krvbench command; `args` follow the command's name and the bench.
    ToolRun krvbench(const std::string& command, const std::vector<std::string>& args = {});
    // The factory settings with `change` applied, as the program folder's
    // settings file.
    void writeSettings(const std::function<void(IniRecord&)>& change = {});

    // The tool with its command line (one argument each).
    ToolRun run(const std::vector<std::string>& args);
    std::unique_ptr<RunningProgram> start(const std::vector<std::string>& args);

    // A file of the current folder; empty when missing.
    std::string currentFile(const std::string& name) const;
    bool hasCurrentFile(const std::string& name) const;

private:
    RunOptions options() const;

    TestPlatform platform_;
    Program program_;
    std::string name_;
    TempDir root_;
    std::string prog_;
    std::string cwd_;
    std::string bench_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
// How many times `needle` occurs in `text`.
int countOf(const std::string& text, const std::string& needle);

}  // namespace krv::test
