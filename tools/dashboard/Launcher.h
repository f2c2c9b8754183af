#pragma once
// Starts the simulation program the dashboard was given and hands each line
// of its standard output and error to a callback, then its exit status.
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace dashboard {

class Launcher {
public:
    // Starts `command` (program and arguments) in the current directory;
    // `onLine` gets each output line, `onExit` the exit status (128 + n for a
    // signal n), both from a thread of the launcher's.
    Launcher(const std::vector<std::string>& command, std::function<void(const std::string&)> onLine,
             std::function<void(int)> onExit);
    // Ends a program still running (SIGTERM) and waits for it.
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // False when the program could not be started (the reason went to onLine).
    bool started() const { return pid_ > 0; }

private:
    int pid_ = -1;
    std::thread reader_;
};

}  // namespace dashboard
