// The whole command line run, from arguments to exit status, with the
// process's surroundings (streams, terminal, engine, cancel flag) passed in
// so that tests can drive it in-process with a stand-in engine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/BatchRunner.h"

namespace quorvex::cli {

struct CommandLineEnvironment {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int in = 0;  // standard input, read when the input is "-"
    Converter converter = convertTiff;
    bool stderrIsTerminal = false;
    std::function<std::size_t()> terminalWidth = [] { return std::size_t{80}; };
    unsigned hardwareThreads = 1;
    const std::atomic<bool>* cancel = nullptr;
    // The exit status to end with after a cancel request (e.g. 130 for SIGINT).
    std::function<int()> cancelExitStatus = [] { return 130; };
};

// args: the arguments after the program name. Returns the exit status.
int runCommandLine(const std::vector<std::string>& args, const CommandLineEnvironment& env);

}  // namespace quorvex::cli
