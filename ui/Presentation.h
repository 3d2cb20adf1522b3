#pragma once
// How the window layer meets the operator: with real modal windows, not at
// all (command-line runs, where nothing may wait for a person), or from a
// test's script.
namespace krv::ui {

enum class Presentation {
    Interactive,  // modal windows on the GUI thread
    CommandLine,  // never modal: texts go to a sink, the unattended answer is given
    Scripted,     // answers come from a queue and every request is recorded
};

}  // namespace krv::ui
