// The token game: every command of the protocol with its exact reply, single
// steps, firing by hand, breakpoints, a hostile front end, and the real
// program serving TCP port 2020.
#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "engine/EngineTestDoubles.h"
#include "measures/Breakpoint.h"
#include "model/ModelNet.h"
#include "platform/net/Socket.h"
#include "sim/TokenGame.h"
#include "support/ScriptedSocket.h"
#include "support/MonitorSupport.h"
#include "support/TestSupport.h"

using enginetest::makePlace;
using enginetest::put;
using enginetest::TestTransition;
using modeltest::BuiltNet;

namespace {

using ScriptedFrontEnd = testsupport::ScriptedSocket;

// The model's net played in-process.
struct ModelGame {
    BuiltNet built;
    const DateTime start{0.0};
    std::unique_ptr<TokenGame> game;
    std::string out;

    ModelGame() : game(std::make_unique<TokenGame>(&built.net, "scpnsim", "NULL", start)) { game->init(); }
    std::vector<std::string> play(const std::vector<std::string>& messages) {
        ScriptedFrontEnd gui(messages);
        testsupport::CaptureStream capture(std::cout);
        game->serve(&gui);
        out = capture.text();
        return gui.replies;
    }
};

const std::regex kChangeReport("PLACES:[A-Za-z0-9_;]*#TRANSITIONS:[A-Za-z0-9_;]*#BREAKPOINTS:[0-9;]*#\n");

}  // namespace

// ---------------------------------------------------------------------------
// Breakpoints

TEST(Breakpoint, RelationsHoldAsTheirSignsSay) {
    enginetest::Net net;
    struct Fixed : MeasureObj {
        Fixed(NetClass* n) : MeasureObj("Fixed", n, false) {}
        double v = 0.0;
        int asked = 0;
        double measure(double) override { return ++asked, v; }
        bool accumulative() override { return false; }
        bool timeaverage() override { return false; }
        void accum(const Binding*, double) override {}
    } m(&net);
    const struct {
        const char* relation;
        double value;
        bool holds;
    } rows[] = {{"=", 0.49999999, true}, {"=", 0.500000009, true}, {"=", 0.5000001, false},
                {">", 0.5, false},       {">=", 0.5, true},       {"<", 0.4, true},
                {"<=", 0.5, true},       {"<", 0.5, false},       {"=>", 0.5, false},
                {" >", 0.9, false},      {"", 0.5, false}};
    for (const auto& row : rows) {
        m.v = row.value;
        EXPECT_EQ(Breakpoint(&m, Breakpoint::stringToRelation(row.relation), 0.5).isTriggered(), row.holds)
            << "'" << row.relation << "' " << row.value;
    }
    // Without a measure or a relation nothing is asked.
    m.asked = 0;
    EXPECT_FALSE(Breakpoint(nullptr, BR_GREATER, 0.0).isTriggered());
    EXPECT_FALSE(Breakpoint(&m, BR_NONE, 0.0).isTriggered());
    EXPECT_FALSE(Breakpoint().isTriggered());
    EXPECT_EQ(m.asked, 0);
}

TEST(TokenGameText, SplitKeepsEmptyFields) {
    std::vector<std::string> parts{"stale"};
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"a;;b", {"a", "", "b"}}, {"a;", {"a", ""}}, {"", {}}, {";", {"", ""}}, {"abc", {"abc"}}};
    for (const auto& [text, expected] : rows) {
        TokenGame::split(text, parts, ";");
        EXPECT_EQ(parts, expected) << text;
    }
}

// ---------------------------------------------------------------------------
// The commands on the model's net

TEST(TokenGameCommands, EveryQuestionHasItsExactReply) {
    ModelGame g;
    const std::vector<std::string> replies = g.play(
        {"FIRELIST#", "TIME#", "REPLICATION#", "PLACE P_thread_pool#", "PLACE C1_sem#", "PLACE no_such#",
         "FIRE no_such#", "UNKNOWNWORD#", "SETBREAKS Binary_accuracy:>=:0.5;x;fsdf:<:10#", "BREAKS#",
         "SETBREAKS C1_in_use:=:0;;PlaceTP:>:-1;fsdf:!:1#", "NET#", "EXITNOW#", "FIRELIST#"});
    const std::vector<std::string> expected = {
        "P_In_ready;S1_ready;S2_ready;S3_ready;S_ready\n",
        "00:00:00@12/31/0000\n",
        "0",
        "0,0,0,0\n",
        "0,0,0,0,0\n",
        "UNKNOWN PLACE no_such\n",
        "UNKNOWN TRANSITION no_such\n",
        // Before any event accuracy and fsdf are 0: only "fsdf < 10" holds.
        "2\n",
        "2\n",
        "0;2\n"};
    ASSERT_EQ(replies.size(), expected.size() + 1) << g.out;
    for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(replies[k], expected[k]) << k;
    EXPECT_EQ(replies.back().rfind("Places:\n\tA3_executed -> A3_executed\n", 0), 0u);
    EXPECT_NE(replies.back().find("Transitions:\n\tA3_execution -> A3_execution\n"), std::string::npos);
    EXPECT_EQ(replies.back().substr(replies.back().size() - 2), "\n\n");
    // "EXITNOW" ended the loop: the FIRELIST after it was never read.
    EXPECT_NE(g.out.find("received: <EXITNOW>\n"), std::string::npos);
    EXPECT_EQ(g.out.find("received: <FIRELIST>\n", g.out.find("EXITNOW")), std::string::npos);
    EXPECT_EQ(g.game->getBreakpoints().size(), 4u);
}

TEST(TokenGameCommands, FiringReportsTheChangedPlacesAndWhatMayFireNext) {
    ModelGame g;
    const std::vector<std::string> replies =
        g.play({"FIRE A3_execution#", "AUTOTRANS#", "AUTOFIRE#", "FIRE S_ready#", "PLACE S_executed#"});
    ASSERT_EQ(replies.size(), 5u) << g.out;
    // No event chosen yet and none of A3_execution: the report names no place.
    EXPECT_EQ(replies[0], "PLACES:#TRANSITIONS:P_In_ready;S1_ready;S2_ready;S3_ready;S_ready#BREAKPOINTS:#\n");
    const std::smatch next = [&] {
        std::smatch m;
        std::regex_match(replies[1], m, std::regex("TRANSITION:([A-Za-z0-9_]+)#DELAY:([0-9]+)#\n"));
        return m;
    }();
    ASSERT_EQ(next.size(), 3u) << replies[1];
    EXPECT_TRUE(std::regex_match(replies[2], kChangeReport)) << replies[2];
    EXPECT_EQ(replies[3].rfind("PLACES:P_thread_pool;S_executed#", 0), 0u) << replies[3];
    EXPECT_NE(replies[4].find("{"), std::string::npos) << replies[4];  // the new job
    EXPECT_NE(g.out.find(" TOKEN fired...\nPLACES added.\nanswer <FIRE:...> -> PLACES:"), std::string::npos)
        << g.out;
    EXPECT_NE(g.out.find("answer <AUTOTRANS#> -> TRANSITION:"), std::string::npos) << g.out;
}

TEST(TokenGameCommands, SingleStepsAnswerQuestionsBetweenSteps) {
    ModelGame g;
    const std::vector<std::string> replies = g.play(
        {"SINGLESTEP#", "PLACE C1_sem#", "FIRELIST#", "NEXT#", "EXIT#", "SINGLESTEP#", "no hash", "TIME#"});
    const std::regex fired("Fired: [A-Za-z0-9_]+#\n");
    ASSERT_EQ(replies.size(), 10u) << g.out;
    EXPECT_TRUE(std::regex_match(replies[0], fired)) << replies[0];
    EXPECT_EQ(replies[1], "0,0,0,0,0\n");
    EXPECT_TRUE(std::regex_match(replies[2], fired));
    EXPECT_TRUE(std::regex_match(replies[3], std::regex("([A-Za-z0-9_]+\n)+\n"))) << replies[3];
    EXPECT_TRUE(std::regex_match(replies[4], fired));
    EXPECT_TRUE(std::regex_match(replies[5], fired));  // after NEXT
    EXPECT_EQ(replies[6], "Thanx!\n");                 // EXIT leaves single-step mode
    EXPECT_TRUE(std::regex_match(replies[7], fired));  // the second SINGLESTEP
    // A reply without '#' ends single-step mode, and the loop goes on.
    EXPECT_EQ(replies[8], "Thanx!\n");
    EXPECT_TRUE(std::regex_match(replies[9], std::regex("\\d\\d:\\d\\d:\\d\\d@12/31/0000\n"))) << replies[9];
}

TEST(TokenGameCommands, AFrontEndThatGoesAwayEndsTheGame) {
    for (const std::vector<std::string>& session : std::vector<std::vector<std::string>>{
             {}, {"FIRELIST#"}, {"PLACE P_thread_pool"}, {"SINGLESTEP#"}, {"SINGLESTEP#", "PLACE C1_sem#"}}) {
        ModelGame g;
        g.play(session);  // returns: a failed read or a message without '#' ends the loop
        EXPECT_NE(g.out.rfind("reading from GUI socket..\n"), std::string::npos);
    }
}

// ---------------------------------------------------------------------------
// Priorities, delays and firing by hand on a small net

namespace {

struct SmallGame {
    enginetest::Net net;
    const DateTime start{0.0};
    std::unique_ptr<TokenGame> game;
    std::vector<TestTransition*> transitions;

    // One place with a token per transition; each transition takes from its
    // own place and puts back.
    explicit SmallGame(const std::vector<std::pair<std::string, std::pair<int, double>>>& layout) {
        int id = 1;
        for (const auto& [name, priorityAndDelay] : layout) {
            Place* p = makePlace(net, id, ("P_" + name).c_str());
            put(p);
            TestTransition::Options o;
            o.priority = priorityAndDelay.first;
            auto* t = new TestTransition(id, name.c_str(), &net, o);
            t->fixedDelay = priorityAndDelay.second;
            t->in(p)->out(p);
            net.addTransition(t);
            transitions.push_back(t);
            ++id;
        }
        game = std::make_unique<TokenGame>(&net, "TestNet", "NULL", start);
        game->init();
    }
    std::vector<std::string> play(const std::vector<std::string>& messages) {
        ScriptedFrontEnd gui(messages);
        testsupport::CaptureStream capture(std::cout);
        game->serve(&gui);
        return gui.replies;
    }
};

}  // namespace

TEST(TokenGameCommands, OnlyTheHighestPriorityMayFire) {
    {
        SmallGame g({{"T1", {0, 1.0}}, {"T2", {0, 2.0}}, {"T3", {2, 3.0}}});
        EXPECT_EQ(g.play({"FIRELIST#"}), (std::vector<std::string>{"T3\n"}));
    }
    SmallGame negative({{"N1", {-1, 1.0}}, {"N2", {-3, 1.0}}});
    EXPECT_EQ(negative.play({"FIRELIST#"}), (std::vector<std::string>{"\n"}));
}

TEST(TokenGameCommands, NextEventDelayIsInMilliseconds) {
    {
        SmallGame g({{"Slow", {0, 1.5}}});
        EXPECT_EQ(g.play({"AUTOTRANS#"}), (std::vector<std::string>{"TRANSITION:Slow#DELAY:1500#\n"}));
    }
    SmallGame none({});
    EXPECT_EQ(none.play({"AUTOTRANS#", "AUTOFIRE#", "SINGLESTEP#"}), (std::vector<std::string>{"\n", "Thanx!\n"}));
}

TEST(TokenGameCommands, FiringByHandMovesEarlierEventsToTheNewTime) {
    SmallGame g({{"A3_execution", {0, 7.0}}, {"Other", {0, 5.0}}});
    g.transitions[1]->fixedDelay = 0.0;  // its next delays are 0
    const std::vector<std::string> replies = g.play({"FIRE A3_execution#", "TIME#"});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], "PLACES:P_A3_execution;P_A3_execution#TRANSITIONS:A3_execution;Other#BREAKPOINTS:#\n");
    EXPECT_EQ(replies[1], "00:00:07@12/31/0000\n");
    EXPECT_EQ(g.game->getCurrentSimulationTime(), DateTime(7.0));
    ASSERT_NE(g.transitions[1]->getNextEvent(), nullptr);
    EXPECT_EQ(g.transitions[1]->getNextEvent()->getTime(), DateTime(7.0));
}

// ---------------------------------------------------------------------------
// A hostile front end

TEST(TokenGameCommands, GarbageNeverBreaksTheGame) {
    // Random bytes, long messages, odd names and commands cut anywhere: the
    // game answers or ignores each, and the net stays whole.
    std::mt19937 random(20261209);
    const std::vector<std::string> words = {"PLACE ", "FIRE ", "FIRELIST", "AUTOFIRE", "AUTOTRANS", "NET",
                                            "TIME", "REPLICATION", "SETBREAKS ", "BREAKS", "SINGLESTEP", ""};
    for (int session = 0; session < 40; ++session) {
        ModelGame g;
        std::vector<std::string> messages;
        for (int k = 0; k < 60; ++k) {
            std::string m = words[random() % words.size()];
            const std::size_t length = random() % 4 == 0 ? random() % 9000 : random() % 40;
            for (std::size_t i = 0; i < length; ++i) m += static_cast<char>(random() % 256);
            if (random() % 20 != 0) m += '#';  // now and then one without: the game ends there
            messages.push_back(m);
        }
        g.play(messages);
        // The net still plays: what may fire is listed and fires.
        const std::vector<std::string> after = g.play({"FIRELIST#", "AUTOFIRE#", "REPLICATION#"});
        ASSERT_EQ(after.size(), 3u) << session;
        EXPECT_TRUE(std::regex_match(after[0], std::regex("([A-Za-z0-9_]+(;[A-Za-z0-9_]+)*)?\n"))) << after[0];
        EXPECT_TRUE(std::regex_match(after[1], kChangeReport)) << after[1];
        EXPECT_EQ(after[2], "0");
    }
}

// ---------------------------------------------------------------------------
// The real program on TCP port 2020

namespace {

// Reads until `done` says the reply is complete; gives up after 10 s.
std::string replyTo(socket_t* gui, const std::string& command,
                    const std::function<bool(const std::string&)>& done) {
    if (!command.empty()) gui->write(command.data(), command.size());
    std::string reply;
    char buffer[4096];
    for (int rounds = 0; rounds < 100 && !done(reply); ++rounds) {
        const int n = gui->read(buffer, 1, sizeof buffer, 1);
        if (n < 0) break;
        reply.append(buffer, static_cast<std::size_t>(std::max(n, 0)));
    }
    return reply;
}

bool line(const std::string& r) { return !r.empty() && r.back() == '\n'; }

}  // namespace

TEST(TokenGameProgram, ServesPort2020UntilExit) {
    testsupport::PortLock port(2020);
    testsupport::WorkDir dir;
    testsupport::RunningProcess game(SCPNSIM_EXE, {"-t", "--mstart", "0", "--seed", "3"}, dir.path());
    ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI..")) << game.wait().out;
    std::unique_ptr<socket_t> gui(socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 10, 1));
    ASSERT_TRUE(gui->is_ok());
    EXPECT_EQ(replyTo(gui.get(), "FIRELIST#", line), "P_In_ready;S1_ready;S2_ready;S3_ready;S_ready\n");
    EXPECT_EQ(replyTo(gui.get(), "PLACE P_thread_pool#", line), "0,0,0,0\n");
    EXPECT_EQ(replyTo(gui.get(), "REPLICATION#", [](const std::string& r) { return !r.empty(); }), "0");
    EXPECT_TRUE(std::regex_match(replyTo(gui.get(), "AUTOFIRE#", line), kChangeReport));
    gui->write("EXIT#", 5);
    const testsupport::RunResult r = game.wait();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("received: <FIRELIST>\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nTOKENGAME COMPLETE.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Global fire count: 1\n"), std::string::npos) << r.out;
    EXPECT_FALSE(dir.exists("results.log"));
}

TEST(TokenGameProgram, AFrontEndThatLeavesMidCommandEndsTheGame) {
    testsupport::PortLock port(2020);
    for (const std::string& last : {std::string("PLACE P_thr"), std::string("")}) {
        testsupport::WorkDir dir;
        testsupport::RunningProcess game(SCPNSIM_EXE, {"-t", "--mstart", "0", "--seed", "3"}, dir.path());
        ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI.."));
        {
            std::unique_ptr<socket_t> gui(socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 10, 1));
            ASSERT_TRUE(gui->is_ok());
            EXPECT_EQ(replyTo(gui.get(), "SINGLESTEP#", line).rfind("Fired: ", 0), 0u);
            if (!last.empty()) gui->write(last.data(), last.size());
        }  // gone
        const testsupport::RunResult r = game.wait();
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find("\nTOKENGAME COMPLETE.\n"), std::string::npos) << r.out;
    }
}

TEST(TokenGameProgram, APortThatCannotBeServedEndsTheGameWithStatus1) {
    testsupport::PortLock port(2020);
    std::unique_ptr<socket_t> squatter(socket_t::create_global("localhost:2020", 5));
    ASSERT_TRUE(squatter->is_ok());
    testsupport::WorkDir dir;
    const testsupport::RunResult r = testsupport::runScpnsim({"-t", "--mstart", "0", "--seed", "3"}, dir.path());
    EXPECT_EQ(r.exitStatus, 1) << r.out;
    EXPECT_NE(r.out.find("Connection to server localhost:2020failed. Socket is not okay! "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("The token game needs a connection to be played; it ends.\n"), std::string::npos);
    EXPECT_EQ(r.out.find("reading from GUI socket.."), std::string::npos);
}

TEST(TokenGameProgram, TheResultChannelAnnouncesTheStartInWholeSeconds) {
    testsupport::PortLock port(2020);
    testsupport::WorkDir dir;
    testsupport::Monitor started(dir.path(), false, {"--csv", "e.csv"});
    ASSERT_TRUE(started.ready()) << started.why();
    testsupport::RunningProcess& monitor = started.process();
    testsupport::RunningProcess game(
        SCPNSIM_EXE, {"-t", "--start", "00:00:00@01/01/2000", "--seed", "3", "--resport", started.address()},
        dir.path());
    ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI..")) << game.describe();
    std::unique_ptr<socket_t> gui(socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 10, 1));
    ASSERT_TRUE(gui->is_ok());
    gui->write("EXIT#", 5);
    EXPECT_EQ(game.wait().exitStatus, 0);
    const testsupport::RunResult m = monitor.wait();
    EXPECT_EQ(m.exitStatus, 0) << m.err;
    // Calendar times (XTICKFORMAT;3); the start in whole seconds cut to 32 bits.
    EXPECT_TRUE(std::regex_search(m.out, std::regex("\nNETNAME;scpnsim\nXTICKFORMAT;3\nTIME;6308\\d+\n"
                                                    "STARTTIME;-1341968640\nEXIT;0\n")))
        << m.out;
}
