#include "Launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dashboard {

Launcher::Launcher(const std::vector<std::string>& command, std::function<void(const std::string&)> onLine,
                   std::function<void(int)> onExit) {
    int pipeFds[2];
    if (command.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        onLine("cannot start the simulation: " + std::string(command.empty() ? "no program" : std::strerror(errno)));
        return;
    }
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
        ::execvp(argv[0], argv.data());
        const std::string why = "cannot start " + command[0] + ": " + std::strerror(errno) + "\n";
        const ssize_t written = ::write(STDOUT_FILENO, why.data(), why.size());
        (void)written;
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid_ < 0) {
        ::close(pipeFds[0]);
        onLine("cannot start the simulation: " + std::string(std::strerror(errno)));
        return;
    }
    const int pid = pid_;
    const int fd = pipeFds[0];
    reader_ = std::thread([pid, fd, onLine, onExit]() {
        std::string line;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    onLine(line);
                    line.clear();
                } else if (line.size() < 65536) {
                    line += buffer[i];
                }
            }
        }
        if (!line.empty()) onLine(line);
        ::close(fd);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        onExit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    });
}

Launcher::~Launcher() {
    if (pid_ > 0 && ::kill(pid_, 0) == 0) ::kill(pid_, SIGTERM);
    if (reader_.joinable()) reader_.join();
}

}  // namespace dashboard
