#pragma once
// The program's command line: every option with its default and help text,
// read into RunOptions. The parser keeps the options' descriptions, so that a
// failed check of the values is reported with the same brief usage as a
// malformed command line.
#include <memory>
#include <optional>
#include <string>

#include "app/RunOptions.h"

class OptionParser {
public:
    OptionParser();
    ~OptionParser();
    OptionParser(const OptionParser&) = delete;
    OptionParser& operator=(const OptionParser&) = delete;

    // Reads the command line into `options`. Returns the program's exit
    // status when it ends here: 1 for a malformed command line (reported on
    // the error stream with the brief usage), 0 after --help or --version.
    std::optional<int> parse(int argc, char** argv, RunOptions& options);
    // Reports a failed check of the option values the way the parser reports
    // its own errors (message and brief usage on the error stream); returns
    // the exit status for it, 1.
    int refuse(const std::string& message);

private:
    struct Args;
    std::unique_ptr<Args> args;
};
