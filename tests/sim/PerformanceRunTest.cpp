// The profiling run (-p) through the real executable: its loop lines, the
// events it fires over loops that share one trajectory, a dead marking, and
// the results file it leaves.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace {

int linesMatching(const std::string& text, const std::regex& pattern) {
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line);) n += std::regex_match(line, pattern) ? 1 : 0;
    return n;
}

// "<i>. loop in <a DateTime of whole seconds>", one second at most here.
const std::regex kLoopLine(R"(\d+\. loop in 00:00:0[01]@12/31/0000)");

}  // namespace

TEST(PerformanceRun, LoopsShareOneTrajectoryAndCountTheirEvents) {
    struct Case {
        std::string fcount, lcount;
        int loops;
        std::string fired;
    };
    const Case cases[] = {{"1000", "2", 2, "2000"}, {"0", "3", 3, "0"}, {"1000", "0", 0, "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fcount + "*" + c.lcount);
        testsupport::WorkDir dir;
        const testsupport::RunResult r =
            testsupport::runScpnsim({"-p", "--fcount", c.fcount, "--lcount", c.lcount, "--seed", "1"}, dir.path());
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find("Running in profiling mode " + c.fcount + "*" + c.lcount + "\nfiring " + c.lcount +
                             " * " + c.fcount + " times\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(linesMatching(r.out, kLoopLine), c.loops) << r.out;
        if (c.loops > 1) {
            EXPECT_NE(r.out.find("\n0. loop in "), std::string::npos);
            EXPECT_NE(r.out.find("\n1. loop in "), std::string::npos);
        }
        EXPECT_NE(r.out.find("events fired: " + c.fired + " in "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Global fire count: " + c.fired + "\n"), std::string::npos) << r.out;
        EXPECT_NE(dir.read("results.log").find("RESULTS OF STATIONARY SIMULATION"), std::string::npos);
    }
}

TEST(PerformanceRun, ADeadMarkingEndsEveryLoopAtOnce) {
    testsupport::TempDir dir;
    dir.write("marking.xml", testsupport::markingXml(0, 5));  // no thread: nothing can start
    const testsupport::RunResult r =
        testsupport::runScpnsim({"-p", "--fcount", "1000000", "--lcount", "3", "--seed", "1"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(linesMatching(r.out, kLoopLine), 3) << r.out;
    EXPECT_NE(r.out.find("events fired: 0 in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Global fire count: 0\n"), std::string::npos) << r.out;
}

TEST(PerformanceRun, TheSameSeedFiresTheSameEvents) {
    testsupport::WorkDir a;
    testsupport::WorkDir b;
    for (const auto* dir : {&a, &b})
        ASSERT_EQ(testsupport::runScpnsim({"-p", "--fcount", "20000", "--lcount", "2", "--seed", "9"}, dir->path())
                      .exitStatus,
                  0);
    EXPECT_EQ(a.read("results.log"), b.read("results.log"));
}
