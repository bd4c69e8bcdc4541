// Runs the built quorvex-tiff2pdf as a user would: as a child process, with
// pipes, on a pseudo-terminal, or in the background to be signalled.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace clitest {

std::string cliPath();

// Runs the command line with the arguments; stdout and stderr are pipes.
support::CommandResult runCli(const std::vector<std::string>& args);

struct TerminalRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr together, as the terminal shows them
};
// Runs the command line with stdout and stderr on a pseudo-terminal of the
// given width.
TerminalRun runCliOnTerminal(const std::vector<std::string>& args, unsigned short columns);

// The command line started in the background, its output going to files.
// `environment` adds NAME=VALUE entries to the test's own; a `stderrDescriptor`
// of 0 or more is the child's stderr instead of errFile (a terminal, say).
class BackgroundCli {
  public:
    BackgroundCli(const std::vector<std::string>& args, const std::filesystem::path& outFile,
                  const std::filesystem::path& errFile,
                  const std::filesystem::path& inFile = "/dev/null",
                  const std::vector<std::string>& environment = {}, int stderrDescriptor = -1);
    ~BackgroundCli();  // kills the child if it is still running
    BackgroundCli(const BackgroundCli&) = delete;
    BackgroundCli& operator=(const BackgroundCli&) = delete;

    pid_t pid() const { return pid_; }
    void sendSignal(int signalNumber);
    // Waits (up to the timeout) until the child has its handler for the
    // signal in place, read from /proc: a signal sent by a test must meet the
    // handler, not the default action of a child still starting up on a
    // loaded machine.
    bool waitUntilCatching(int signalNumber, std::chrono::milliseconds timeout);
    bool running();
    // The exit status, or nullopt when the child did not exit normally in time.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Writes a small TIFF with the given number of RGB pages (content differs by variant).
void writeSampleTiff(const std::filesystem::path& path, unsigned pages, unsigned variant = 0);

// A file that is not a TIFF at all, under a TIFF name.
void writeNotATiff(const std::filesystem::path& path);

// Points every strip of one page (counted from 0) of a little-endian classic
// TIFF past the end of the file, so the page's directory reads but its data
// does not.
void pointPageStripsPastEnd(const std::filesystem::path& path, unsigned pageIndex);

// Names of every file under dir, relative to it ("sub/a.pdf").
std::set<std::string> filesUnder(const std::filesystem::path& dir);

}  // namespace clitest
