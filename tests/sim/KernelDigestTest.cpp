// The kernel's observable behaviour pinned by digests recorded before any
// of its optimisation (tests/fixtures/kernel-digests.txt): the events of a
// million-event profiling trajectory, and the results file and traces of
// short runs of the executable. A change that alters one event, one result
// line or one trace line changes a digest.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <list>
#include <map>
#include <cctype>
#include <sstream>
#include <string>

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
    expectDigest("stationary-results", digestOf(dir.read("results.log")));
    expectDigest("stationary-sim-log", digestOf(dir.read("Log/sim.log")));
    expectDigest("stationary-trans-log", digestOf(withoutWallClock(dir.read("Log/trans.log"))));

    const testsupport::RunResult t = testsupport::runScpnsim(
        {"-T", "--mstart", "0", "--mstop", "50", "--nofsampling", "3", "--epsmax", "30", "--secmax", "0", "--seed", "1"},
        dir.path());
    ASSERT_EQ(t.exitStatus, 0) << t.err;
    expectDigest("transient-results", digestOf(dir.read("results.log")));
}
