#include "support/TestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const fs::path& workdir, const std::string& argv0) {
    // Output goes to files rather than pipes so that a chatty child can never
    // block on a full pipe while we wait for it.
    TempDir capture;
    const std::string outPath = capture.file("stdout");
    const std::string errPath = capture.file("stderr");

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(workdir.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        std::string first = argv0.empty() ? program : argv0;
        argv.push_back(first.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    RunResult r;
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

// Test binaries that do not run scpnsim (the model compiler's) leave it out.
#ifdef SCPNSIM_EXE
RunResult runScpnsim(const std::vector<std::string>& args, const fs::path& workdir) {
    return run(SCPNSIM_EXE, args, workdir);
}
#endif

std::string markingXml(int threads, int slots) {
    std::string xml = "<?xml version=\"1.0\"?>\n<marking>\n";
    for (int i = 0; i < threads; ++i) xml += "  <token place=\"P_thread_pool\" value=\"0\"/>\n";
    for (int i = 0; i < slots; ++i) xml += "  <token place=\"C1_sem\" value=\"0\"/>\n";
    return xml + "</marking>\n";
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
