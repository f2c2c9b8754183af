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

// Makes `dir` the current directory while alive.
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
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs `program` with `args` (argv[0] is `program` itself unless argv0 is
// given) in `workdir`, with standard input closed, and waits for it.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& workdir, const std::string& argv0 = "");

// The scpnsim executable built alongside the tests.
RunResult runScpnsim(const std::vector<std::string>& args, const std::filesystem::path& workdir);

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
