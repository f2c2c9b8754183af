#include "support/TestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("scpnsim-test-" + std::to_string(getpid()) + "-" +
                                     std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            dir_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream out(dir_ / name, std::ios::binary);
    out << content;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::exists(const std::string& name) const { return fs::exists(dir_ / name); }

static std::string slurpFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

RunningProcess::RunningProcess(const std::string& program, const std::vector<std::string>& args,
                               const fs::path& workdir, const RunOptions& options) {
    const std::string outPath = capture_.file("stdout");
    const std::string errPath = capture_.file("stderr");
    // Prepared before fork: the child only calls async-signal-safe functions.
    std::vector<std::string> copy;
    copy.push_back(options.argv0.empty() ? program : options.argv0);
    copy.insert(copy.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string dir = workdir.string();

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = options.discardOutput ? open("/dev/null", O_WRONLY)
                                        : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (options.fileSizeLimit >= 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        if (options.asUnprivileged && geteuid() == 0) {
            const uid_t nobody = 65534;
            if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

RunningProcess::~RunningProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        wait();
    }
}

bool RunningProcess::waitForOutput(const std::string& part, int timeoutSeconds) {
    const std::string outPath = capture_.file("stdout");
    for (int i = 0; i < timeoutSeconds * 100; ++i) {
        if (slurpFile(outPath).find(part) != std::string::npos) return true;
        int status = 0;
        if (!reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            status_ = status;
        }
        if (reaped_) return slurpFile(outPath).find(part) != std::string::npos;
        usleep(10000);
    }
    return false;
}

std::string RunningProcess::outputSoFar() const { return slurpFile(capture_.file("stdout")); }

std::string RunningProcess::describe() {
    int status = 0;
    if (!reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = status;
    }
    std::string state = "still running";
    if (reaped_)
        state = WIFEXITED(status_) ? "ended with status " + std::to_string(WEXITSTATUS(status_))
                                   : "ended by signal " + std::to_string(WTERMSIG(status_));
    return "the process " + state + "; standard output:\n" + outputSoFar() + "\nstandard error:\n" +
           slurpFile(capture_.file("stderr"));
}

void RunningProcess::sendSignal(int sig) {
    if (!reaped_) kill(pid_, sig);
}

RunResult RunningProcess::wait() {
    if (!reaped_) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0) {
        }
        status_ = status;
        reaped_ = true;
    }
    RunResult r;
    r.exitStatus = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    r.signal = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    r.out = slurpFile(capture_.file("stdout"));
    r.err = slurpFile(capture_.file("stderr"));
    return r;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const fs::path& workdir, const RunOptions& options) {
    RunningProcess child(program, args, workdir, options);
    return child.wait();
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const fs::path& workdir, const std::string& argv0) {
    RunOptions options;
    options.argv0 = argv0;
    return run(program, args, workdir, options);
}

// Test binaries that do not run scpnsim (the model compiler's) leave it out.
#ifdef SCPNSIM_EXE
RunResult runScpnsim(const std::vector<std::string>& args, const fs::path& workdir) {
    return run(SCPNSIM_EXE, args, workdir);
}

RunResult runScpnsim(const std::vector<std::string>& args, const fs::path& workdir,
                     const RunOptions& options) {
    return run(SCPNSIM_EXE, args, workdir, options);
}
#endif

std::string markingXml(int threads, int slots) {
    std::string xml = "<?xml version=\"1.0\"?>\n<marking>\n";
    for (int i = 0; i < threads; ++i) xml += "  <token place=\"P_thread_pool\" value=\"0\"/>\n";
    for (int i = 0; i < slots; ++i) xml += "  <token place=\"C1_sem\" value=\"0\"/>\n";
    return xml + "</marking>\n";
}

PortLock::PortLock(int port) {
    const std::string path = (fs::temp_directory_path() / ("scpnsim-port-" + std::to_string(port) + ".lock")).string();
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    while (flock(fd_, LOCK_EX) != 0) {
    }
}

PortLock::~PortLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedCwd::ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }

ScopedCwd::~ScopedCwd() {
    std::error_code ec;
    fs::current_path(old_, ec);
}

struct CaptureStream::Impl {
    std::ostringstream buffer;
};

CaptureStream::CaptureStream(std::ostream& stream) : stream_(stream), impl_(new Impl) {
    old_ = stream_.rdbuf(impl_->buffer.rdbuf());
}

CaptureStream::~CaptureStream() {
    stream_.rdbuf(old_);
    delete impl_;
}

std::string CaptureStream::text() const { return impl_->buffer.str(); }

}  // namespace testsupport
