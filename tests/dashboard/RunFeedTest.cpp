// The dashboard's reading of the result channel: every message kind, lines
// split across reads, garbage, a new run, what a page is sent and when.
#include "RunFeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using dashboard::Cursor;
using dashboard::RunFeed;

namespace {

void feed(RunFeed& f, const std::string& text) { f.feed(text.data(), text.size()); }

const nlohmann::json* seriesNamed(const nlohmann::json& state, const std::string& name) {
    for (const auto& s : state["series"])
        if (s["name"] == name) return &s;
    return nullptr;
}

const std::string kTransientRun =
    "NETNAME;scpnsim\nXTICKFORMAT;0\nSTARTTIME;0\nENDTIME;100\nTIME;0\n"
    "TIME;12.5\nP_thread_pool<Place>;3\n"
    "TIME;13\nS_ready<Transition>;7\n"
    "TIME;13\nA3<Transition:Display>;0.25\n"
    "TIME;20\nBinary_accuracy<Result:Mean>,<-ConfMin>,<+ConfMax>;0.5,0.375,0.625\n"
    "TIME;40\nBinary_accuracy<Result:Mean>,<-ConfMin>,<+ConfMax>;0.6,0.5,0.7\n"
    "EXIT;0\n";

}  // namespace

TEST(RunFeed, EveryMessageKindBecomesHeaderOrSeries) {
    RunFeed f;
    f.beginRun();
    feed(f, kTransientRun);
    f.endOfStream();
    const nlohmann::json s = f.snapshot();
    EXPECT_EQ(s["run"]["model"], "scpnsim");
    EXPECT_EQ(s["run"]["timeAxis"], "model");
    EXPECT_EQ(s["run"]["start"], "0");
    EXPECT_EQ(s["run"]["stop"], "100");
    EXPECT_EQ(s["run"]["mode"], "transient");
    EXPECT_EQ(s["run"]["status"], "ended");
    EXPECT_EQ(s["run"]["garbageLines"], 0);
    EXPECT_EQ(s["run"]["lastTime"], "40");

    const nlohmann::json* place = seriesNamed(s, "P_thread_pool");
    ASSERT_NE(place, nullptr);
    EXPECT_EQ((*place)["kind"], "place");
    EXPECT_EQ((*place)["points"], nlohmann::json::parse("[[12.5, 3]]"));
    EXPECT_EQ((*seriesNamed(s, "S_ready"))["kind"], "transition");
    EXPECT_EQ((*seriesNamed(s, "A3"))["kind"], "display");
    const nlohmann::json* accuracy = seriesNamed(s, "Binary_accuracy");
    ASSERT_NE(accuracy, nullptr);
    EXPECT_EQ((*accuracy)["kind"], "estimate");
    EXPECT_EQ((*accuracy)["points"], nlohmann::json::parse("[[20,0.5,0.375,0.625],[40,0.6,0.5,0.7]]"));

    // The final table: the last estimate of each measure with its relative error.
    ASSERT_EQ(s["final"].size(), 1u);
    EXPECT_EQ(s["final"][0]["name"], "Binary_accuracy");
    EXPECT_DOUBLE_EQ(s["final"][0]["relError"].get<double>(), 0.1 / 0.6);

    EXPECT_EQ(f.csv(),
              "time,element,kind,mean,lower,upper\n12.5,P_thread_pool,place,3,,\n13,S_ready,transition,7,,\n"
              "13,A3,display,0.25,,\n20,Binary_accuracy,estimate,0.5,0.375,0.625\n"
              "40,Binary_accuracy,estimate,0.6,0.5,0.7\n");
}

TEST(RunFeed, LinesSplitAnywhereAcrossReadsReadTheSame) {
    RunFeed whole, split;
    whole.beginRun();
    split.beginRun();
    feed(whole, kTransientRun);
    for (char c : kTransientRun) split.feed(&c, 1);
    EXPECT_EQ(whole.csv(), split.csv());
    EXPECT_EQ(whole.snapshot()["series"], split.snapshot()["series"]);
}

TEST(RunFeed, GarbageIsCountedAndNeverTakenForData) {
    RunFeed f;
    f.beginRun();
    feed(f, "NETNAME;net\nTIME;1\n");
    const std::string garbage[] = {
        "hello",                                        // no form at all
        "FOO;1",                                        // an unknown key
        "TIME;soon",                                    // a time that is no number
        "XTICKFORMAT;7",                                // an unknown tick format
        "P<Place>;many",                                // a value that is no number
        "P<Place>;1,2,3",                               // three values for a place
        "M<Result:Mean>,<-ConfMin>,<+ConfMax>;1,2",     // two for an estimate
        "M<Result:Mean>,<-ConfMin>,<+ConfMax>;nan,0,1",  // not a finite number
        "X<Weird>;1",                                   // an unknown tag
        "<Place>;1",                                    // no name
        std::string("\x01\x02\xff binary", 10),
        "P<Place;1",
    };
    for (const std::string& g : garbage) feed(f, g + "\n");
    feed(f, std::string(RunFeed::kMaxLine + 10, 'x') + "\n");  // over-long: dropped, not kept growing
    feed(f, "P<Place>;2\n");
    const nlohmann::json s = f.snapshot();
    EXPECT_EQ(s["run"]["garbageLines"], static_cast<long>(std::size(garbage)) + 1);
    ASSERT_EQ(s["series"].size(), 1u);
    EXPECT_EQ(s["series"][0]["points"], nlohmann::json::parse("[[1,2]]"));
    EXPECT_EQ(s["run"]["lastTime"], "1");
    // Text that is not UTF-8 still makes valid JSON for the page.
    feed(f, "NETNAME;bad\xff\xfe name\n");
    EXPECT_NO_THROW(f.snapshot().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

TEST(RunFeed, ARunWithoutRunBoundsIsStationaryOrRestartAndANewConnectionStartsAfresh) {
    RunFeed f;
    f.beginRun();
    feed(f, "NETNAME;a\nXTICKFORMAT;3\nTIME;0\nTIME;5\nP<Place>;1\n");
    nlohmann::json s = f.snapshot();
    EXPECT_EQ(s["run"]["mode"], "stationary or RESTART");
    EXPECT_EQ(s["run"]["timeAxis"], "calendar");
    EXPECT_EQ(s["run"]["status"], "running");
    const long first = s["runId"];
    f.endOfStream();  // the connection broke without EXIT;0
    EXPECT_EQ(f.snapshot()["run"]["status"], "ended");
    f.beginRun();
    s = f.snapshot();
    EXPECT_GT(s["runId"].get<long>(), first);
    EXPECT_TRUE(s["series"].empty());
    EXPECT_TRUE(s["run"]["model"].is_null());
    EXPECT_EQ(f.csv(), "time,element,kind,mean,lower,upper\n");
}

TEST(RunFeed, APageIsSentEverythingOnceThenOnlyWhatIsNewAndAResetForANewRun) {
    RunFeed f;
    f.beginRun();
    feed(f, "NETNAME;n\nTIME;1\nP<Place>;1\nTIME;2\nP<Place>;2\n");
    Cursor c;
    std::optional<nlohmann::json> d = f.delta(c);
    ASSERT_TRUE(d);
    EXPECT_TRUE((*d)["reset"].get<bool>());
    EXPECT_EQ((*d)["points"]["0"]["points"].size(), 2u);
    EXPECT_FALSE(f.delta(c)) << "nothing new";
    feed(f, "TIME;3\nP<Place>;3\n");
    d = f.delta(c);
    ASSERT_TRUE(d);
    EXPECT_FALSE((*d)["reset"].get<bool>());
    EXPECT_EQ((*d)["points"]["0"]["points"], nlohmann::json::parse("[[3,3]]"));
    f.beginRun();
    d = f.delta(c);
    ASSERT_TRUE(d);
    EXPECT_TRUE((*d)["reset"].get<bool>());
    EXPECT_TRUE((*d)["points"].empty());
}

TEST(RunFeed, LongSeriesAreThinnedForThePageButKeptWholeInTheCsv) {
    RunFeed f;
    f.beginRun();
    std::string text = "TIME;0\n";
    for (int i = 0; i < 10000; ++i) text += "TIME;" + std::to_string(i) + "\nP<Place>;" + std::to_string(i) + "\n";
    feed(f, text);
    const nlohmann::json s = f.snapshot();
    const nlohmann::json& points = s["series"][0]["points"];
    EXPECT_LE(points.size(), RunFeed::kMaxSentPoints);
    EXPECT_GE(points.size(), RunFeed::kMaxSentPoints / 2);
    EXPECT_EQ(s["series"][0]["total"], 10000);
    EXPECT_EQ(points.back(), nlohmann::json::parse("[9999,9999]")) << "the newest point is always sent";
    EXPECT_EQ(points.front(), nlohmann::json::parse("[0,0]"));
    const std::string csv = f.csv();
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 10001);
}

TEST(RunFeed, AStartedRunTakesItsHeaderFromItsCommandLineAndOutput) {
    RunFeed f;
    f.launched({"scpnsim", "-T", "--mstart", "0", "--mstop", "100", "--epsmax", "5", "--confidence", "95"});
    f.consoleLine("Random seed set to 42");
    f.beginRun();
    feed(f, "NETNAME;scpnsim\nXTICKFORMAT;0\nTIME;0\n");
    f.consoleLine("replications completed: 1444 (10 s)");
    f.consoleLine("SIMULATION SUCCESSFUL");
    nlohmann::json run = f.snapshot()["run"];
    EXPECT_EQ(run["mode"], "transient");
    EXPECT_EQ(run["seed"], "42");
    EXPECT_EQ(run["confidence"], "95");
    EXPECT_EQ(run["epsmax"], 5.0);
    EXPECT_EQ(run["replications"], 1444);
    EXPECT_EQ(run["verdict"], "SIMULATION SUCCESSFUL");
    EXPECT_EQ(run["start"], "0");
    f.endOfStream();
    EXPECT_EQ(f.snapshot()["run"]["status"], "running") << "the program has not ended yet";
    f.programEnded(0);
    run = f.snapshot()["run"];
    EXPECT_EQ(run["status"], "ended");
    EXPECT_EQ(run["exitStatus"], 0);
    EXPECT_EQ(f.snapshot()["console"].size(), 3u);
}

TEST(RunFeed, ATransientRunsCountsBeginAgainWithEveryReplicationWhileEstimatesCarryOn) {
    RunFeed f;
    f.beginRun();
    Cursor c;
    feed(f, "NETNAME;n\nSTARTTIME;0\nENDTIME;10\nTIME;0\nTIME;2\nS<Transition>;1\nTIME;4\nS<Transition>;2\n"
            "TIME;5\nM<Result:Mean>,<-ConfMin>,<+ConfMax>;1,0.5,1.5\n");
    ASSERT_TRUE(f.delta(c));
    EXPECT_TRUE(f.snapshot()["run"]["replications"].is_null()) << "none has ended yet";

    // Time goes back: the second replication begins.
    feed(f, "TIME;0\nTIME;1\nS<Transition>;1\nTIME;5\nM<Result:Mean>,<-ConfMin>,<+ConfMax>;2,1.5,2.5\n");
    nlohmann::json s = f.snapshot();
    EXPECT_EQ(s["run"]["replications"], 1);
    EXPECT_EQ((*seriesNamed(s, "S"))["points"], nlohmann::json::parse("[[1,1]]"));
    EXPECT_EQ((*seriesNamed(s, "S"))["total"], 3);
    EXPECT_EQ((*seriesNamed(s, "M"))["points"].size(), 2u) << "estimates are never dropped";
    std::optional<nlohmann::json> d = f.delta(c);
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)["points"]["0"]["restart"], true);
    EXPECT_EQ((*d)["points"]["0"]["points"], nlohmann::json::parse("[[1,1]]"));
    EXPECT_FALSE((*d)["points"]["1"].contains("restart"));
    EXPECT_EQ((*d)["points"]["1"]["points"], nlohmann::json::parse("[[5,2,1.5,2.5]]"));

    // The end of the channel ends the last replication; the CSV kept everything.
    feed(f, "EXIT;0\n");
    EXPECT_EQ(f.snapshot()["run"]["replications"], 2);
    const std::string csv = f.csv();
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);

    // A count the program printed wins once it is larger (a parallel run
    // shows only some replications on the channel).
    f.consoleLine("replications completed: 7 (1 s)");
    EXPECT_EQ(f.snapshot()["run"]["replications"], 7);
}

TEST(RunFeed, TimeGoingBackOutsideATransientRunRestartsNothing) {
    RunFeed f;
    f.beginRun();  // no run bounds: stationary or RESTART (whose saved states may go back in time)
    feed(f, "NETNAME;n\nTIME;5\nP<Place>;1\nTIME;3\nP<Place>;2\nEXIT;0\n");
    const nlohmann::json s = f.snapshot();
    EXPECT_EQ((*seriesNamed(s, "P"))["points"].size(), 2u);
    EXPECT_TRUE(s["run"]["replications"].is_null());
}

TEST(RunFeed, EveryModesVerdictIsTheRunsVerdict) {
    for (const char* verdict : {"ABORTED SIMULATION. NO STEADY STATE FOUND.",
                                "ABORTED SIMULATION. REACHED MAXIMUM MODEL TIME.", "RESTART simulation finished.",
                                "ABORT SIMULATION. NO STEADY STATE FOUND."}) {
        RunFeed f;
        f.beginRun();
        f.consoleLine("WARNING: Measure C1_in_use shows no steady state: its batch means stay correlated");
        EXPECT_TRUE(f.snapshot()["run"]["verdict"].is_null()) << "a warning is no verdict";
        f.consoleLine(verdict);
        EXPECT_EQ(f.snapshot()["run"]["verdict"], verdict);
    }
}
