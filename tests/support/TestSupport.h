#pragma once
// Helpers shared by the tests: temporary working directories and running the
// real executable with its output captured.
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory below the system's temporary folder, removed again when
// the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir_; }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::filesystem::path dir_;
};

// A marking file with `threads` free worker threads and `slots` semaphore
// slots for the model's net.
std::string markingXml(int threads = 4, int slots = 5);

// A working directory holding a marking file, as every run of the model needs.
class WorkDir : public TempDir {
public:
    explicit WorkDir(int threads = 4, int slots = 5) { write("marking.xml", markingXml(threads, slots)); }
};

// Holds a machine-wide lock on a fixed TCP port while alive, so that tests
// that need the same fixed port (the token game listens on 2020) run one
// after the other even when ctest runs them in parallel processes.
class PortLock {
public:
    explicit PortLock(int port);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

private:
    int fd_ = -1;
};

// Makes `dir` the current directory while alive.
// Sets an environment variable (inherited by the children the test starts)
// and restores its old value, or its absence, at the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::filesystem::path old_;
};

struct RunResult {
    int exitStatus = -1;  // exit status, or -1 when the process did not exit normally
    int signal = 0;       // the signal that ended the process, 0 when it exited
    std::string out;      // standard output
    std::string err;      // standard error
};

// How the child process is started beyond its arguments.
struct RunOptions {
    std::string argv0;            // argv[0]; the program path when empty
    long fileSizeLimit = -1;      // RLIMIT_FSIZE in bytes; none when negative
    bool asUnprivileged = false;  // run as user "nobody" when the tests run as root
    bool discardOutput = false;   // standard output to /dev/null (not captured)
};

// A child process with its standard output and error captured in files
// (not pipes, so a chatty child never blocks on a full pipe).
class RunningProcess {
public:
    RunningProcess(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& workdir, const RunOptions& options = {});
    ~RunningProcess();  // kills the child if it is still running
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    // Waits until standard output holds `part` or the child has ended;
    // true in the first case. Gives up after `timeoutSeconds`. When it is
    // false, describe() tells what the child did instead.
    bool waitForOutput(const std::string& part, int timeoutSeconds = 60);
    // Standard output so far.
    std::string outputSoFar() const;
    // For a failure message: whether the child still runs or how it ended,
    // with its standard output and error so far.
    std::string describe();
    void sendSignal(int sig);
    RunResult wait();

private:
    TempDir capture_;
    int pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Runs `program` with `args` (argv[0] is `program` itself unless argv0 is
// given) in `workdir`, with standard input closed, and waits for it.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& workdir, const std::string& argv0 = "");
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& workdir, const RunOptions& options);

// The scpnsim executable built alongside the tests.
RunResult runScpnsim(const std::vector<std::string>& args, const std::filesystem::path& workdir);
RunResult runScpnsim(const std::vector<std::string>& args, const std::filesystem::path& workdir,
                     const RunOptions& options);

// Captures everything written to std::cout / std::cerr while alive.
class CaptureStream {
public:
    explicit CaptureStream(std::ostream& stream);
    ~CaptureStream();
    std::string text() const;

private:
    std::ostream& stream_;
    std::streambuf* old_;
    struct Impl;
    Impl* impl_;
};

}  // namespace testsupport
