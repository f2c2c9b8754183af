// The kernel's observable behaviour pinned by digests recorded before any
// of its optimisation (tests/fixtures/kernel-digests.txt): the events of a
// million-event profiling trajectory, and the results file and traces of
// short runs of the executable. A change that alters one event, one result
// line or one trace line changes a digest. The results files themselves are
// kept beside the digests (tests/fixtures/kernel-digests/<key>.log), so that
// a changed digest comes with the lines that changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "app/Server.h"
#include "buildnet.h"
#include "engine/Binding.h"
#include "engine/RandomWrapper.h"
#include "engine/Transition.h"
#include "sim/Simulation.h"
#include "support/TestSupport.h"

namespace {

// 64-bit FNV-1a.
class Digest {
public:
    void add(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= bytes[i];
            hash_ *= 0x100000001b3ULL;
        }
    }
    void add(const std::string& text) { add(text.data(), text.size() + 1); }
    std::string hex() const {
        std::ostringstream s;
        s << std::hex << hash_;
        return s.str();
    }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

std::string digestOf(const std::string& text) {
    Digest d;
    d.add(text);
    return d.hex();
}

std::map<std::string, std::string> fixture() {
    std::map<std::string, std::string> values;
    std::ifstream in(std::string(SCPNSIM_SOURCE_DIR) + "/tests/fixtures/kernel-digests.txt");
    std::string key, value;
    while (in >> key >> value)
        if (key[0] != '#') values[key] = value;
        else std::getline(in, value);
    return values;
}

void expectDigest(const std::string& key, const std::string& actual) {
    const std::map<std::string, std::string> values = fixture();
    const auto found = values.find(key);
    ASSERT_NE(found, values.end()) << "no digest " << key << " recorded; this run gives " << actual;
    EXPECT_EQ(actual, found->second) << key;
}

std::filesystem::path resultsFixture(const std::string& key) {
    return std::filesystem::path(SCPNSIM_SOURCE_DIR) / "tests/fixtures/kernel-digests" / (key + ".log");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The lines where `actual` departs from `expected`: the stretch between the
// first and the last differing line (- expected, + actual), with three
// lines of context before, at most 40 lines of each side.
std::string lineDiff(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> a = linesOf(expected);
    const std::vector<std::string> b = linesOf(actual);
    std::size_t first = 0;
    while (first < a.size() && first < b.size() && a[first] == b[first]) ++first;
    std::size_t endA = a.size();
    std::size_t endB = b.size();
    while (endA > first && endB > first && a[endA - 1] == b[endB - 1]) {
        --endA;
        --endB;
    }
    if (first == endA && first == endB) return "(the lines agree; the texts differ in line ends)\n";
    constexpr std::size_t kContext = 3;
    constexpr std::size_t kMaxLines = 40;
    std::ostringstream out;
    out << "@@ line " << first + 1 << " @@\n";
    for (std::size_t i = first > kContext ? first - kContext : 0; i < first; ++i) out << "  " << a[i] << "\n";
    for (std::size_t i = first; i < endA && i < first + kMaxLines; ++i) out << "- " << a[i] << "\n";
    if (endA - first > kMaxLines) out << "- ... " << endA - first - kMaxLines << " more\n";
    for (std::size_t i = first; i < endB && i < first + kMaxLines; ++i) out << "+ " << b[i] << "\n";
    if (endB - first > kMaxLines) out << "+ ... " << endB - first - kMaxLines << " more\n";
    return out.str();
}

// A results file against its digest and, when that differs, against the
// stored file, whose changed lines are shown. With SCPN_RECORD_KERNEL_RESULTS
// set the file is stored instead (the digest line is left to be updated by
// hand, from the message).
void expectResults(const std::string& key, const std::string& text) {
    const std::filesystem::path stored = resultsFixture(key);
    if (std::getenv("SCPN_RECORD_KERNEL_RESULTS") != nullptr) {
        std::ofstream(stored, std::ios::binary) << text;
        ADD_FAILURE() << "recorded " << stored << " (digest " << digestOf(text) << "); unset SCPN_RECORD_KERNEL_RESULTS";
        return;
    }
    const std::map<std::string, std::string> values = fixture();
    const auto found = values.find(key);
    ASSERT_NE(found, values.end()) << "no digest " << key << " recorded; this run gives " << digestOf(text);
    if (digestOf(text) == found->second) return;
    std::ifstream in(stored, std::ios::binary);
    std::ostringstream expected;
    expected << in.rdbuf();
    ADD_FAILURE() << key << ": digest " << digestOf(text) << ", recorded " << found->second << "\n"
                  << (in ? "changed lines (- recorded " + stored.string() + ", + this run):\n" +
                               lineDiff(expected.str(), text)
                         : "no recorded file " + stored.string());
}

// The text with every "hh:mm:ss@mm/dd/yyyy" stamp of this year's calendar
// replaced by "T": token time stamps in the transition trace are wall-clock
// times of the token's creation.
std::string withoutWallClock(const std::string& text) {
    static const std::string shape = "00:00:00@00/00/0000";
    const std::string year = DateTime::Today().toString().substr(15);
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find("/" + year, from); at != std::string::npos; at = text.find("/" + year, from)) {
        const std::size_t end = at + 5;  // just past the year
        bool stamp = end >= shape.size() && end - shape.size() >= from;
        const std::size_t begin = stamp ? end - shape.size() : from;
        for (std::size_t i = 0; stamp && i < shape.size(); ++i)
            stamp = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(text[begin + i])) != 0
                                    : text[begin + i] == shape[i];
        out.append(text, from, (stamp ? begin : end) - from);
        if (stamp) out += "T";
        from = end;
    }
    out.append(text, from, std::string::npos);
    return out;
}

// Drives the profiling loop and folds every event into the digest.
class DigestRun : public Simulation {
public:
    DigestRun(NetClass* net, const DateTime& start)
        : Simulation(net, "scpnsim", "NULL", start, DateTime(), 0, 1, false, true, 5.0, 50.0, 0) {}
    long run(long events, Digest& digest) {
        init();
        // The run's own event step, with every chosen event folded in.
        struct Folding : StepHooks {
            explicit Folding(Digest& d) : digest(d) { traceFiring = false; }
            bool beforeMeasures(Binding& b) override {
                const double t = b.getTime().FullDateTime();
                digest.add(b.getBoundTransition()->getName());
                digest.add(&t, sizeof t);
                return true;
            }
            Digest& digest;
        } hooks(digest);
        long fired = 0;
        while (fired < events && step(hooks) == StepResult::Fired) ++fired;
        return fired;
    }
};

}  // namespace

TEST(KernelDigest, AMillionEventsOfTheProfilingTrajectory) {
    // As `scpnsim -p --seed 7` in a working directory of 4 threads and 5 slots.
    testsupport::WorkDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::array<unsigned long, 6> seeds = Server::splitSeed(7);
    ASSERT_TRUE(RandomWrapper::SetPackageSeed(seeds.data()));
    {
        ImplementedNetClass net;
        net.buildNet();
        net.createTokens();
        static const DateTime start;
        DigestRun run(&net, start);
        Digest digest;
        EXPECT_EQ(run.run(1000000, digest), 1000000);
        expectDigest("events-seed7-1000000", digest.hex());
        net.setSimulation(nullptr);
    }
    std::filesystem::current_path(previous);
}

TEST(KernelDigest, ResultsAndTracesOfShortRuns) {
    testsupport::WorkDir dir;
    const testsupport::RunResult s =
        testsupport::runScpnsim({"-S", "--mstart", "0", "--mstop", "30", "--secmax", "0", "--seed", "5", "-l"},
                                dir.path());
    ASSERT_EQ(s.exitStatus, 0) << s.err;
    expectResults("stationary-results", dir.read("results.log"));
    expectDigest("stationary-sim-log", digestOf(dir.read("Log/sim.log")));
    expectDigest("stationary-trans-log", digestOf(withoutWallClock(dir.read("Log/trans.log"))));

    const testsupport::RunResult t = testsupport::runScpnsim(
        {"-T", "--mstart", "0", "--mstop", "50", "--nofsampling", "3", "--epsmax", "30", "--secmax", "0", "--seed", "1"},
        dir.path());
    ASSERT_EQ(t.exitStatus, 0) << t.err;
    expectResults("transient-results", dir.read("results.log"));
}

TEST(KernelDigest, StoredResultsFilesAreTheRecordedOnes) {
    // The files the changed lines are shown against must be those the
    // digests were taken of.
    const std::map<std::string, std::string> values = fixture();
    for (const std::string key : {"stationary-results", "transient-results"}) {
        std::ifstream in(resultsFixture(key), std::ios::binary);
        ASSERT_TRUE(in) << resultsFixture(key);
        std::ostringstream text;
        text << in.rdbuf();
        ASSERT_EQ(values.count(key), 1u) << key;
        EXPECT_EQ(digestOf(text.str()), values.at(key)) << resultsFixture(key);
    }
}

TEST(KernelDigest, LineDiffShowsTheChangedStretchWithContext) {
    const std::string expected = "a\nb\nc\nd\ne\nf\ng\n";
    const std::string actual = "a\nb\nc\nd\nE\nF\nX\ng\n";
    EXPECT_EQ(lineDiff(expected, actual), "@@ line 5 @@\n  b\n  c\n  d\n- e\n- f\n+ E\n+ F\n+ X\n");
    EXPECT_EQ(lineDiff("a\n", "a\nb\n"), "@@ line 2 @@\n  a\n+ b\n");
    EXPECT_EQ(lineDiff("a\nb", "a\nb\n"), "(the lines agree; the texts differ in line ends)\n");
}
