// scpn-play end to end: the real program against a token game stood in for
// by a scripted server on a loopback port, which checks every command it
// gets and answers as the game does (replies split over writes, no reply,
// one byte, a single-step dialogue, a connection closed mid-command).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/TcpSocket.h"
#include "support/TestSupport.h"

namespace {

struct Turn {
    std::string expect;               // the command the client is to send
    std::vector<std::string> writes;  // the reply, one write each
    bool close = false;               // the connection ends after the reply
};

// The send queue (first) or receive queue of the loopback TCP socket from
// port `local` to port `remote`, -1 when /proc/net/tcp does not list it.
long queue(int local, int remote, bool send) {
    std::ifstream table("/proc/net/tcp");
    std::string line, slot, from, to, state, queues;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream(line) >> slot >> from >> to >> state >> queues;
        if (std::stoi(from.substr(from.find(':') + 1), nullptr, 16) == local &&
            std::stoi(to.substr(to.find(':') + 1), nullptr, 16) == remote)
            return std::stol(send ? queues.substr(0, 8) : queues.substr(9), nullptr, 16);
    }
    return -1;
}

// True once the client has taken every byte sent to it so far (none in
// flight, none unread), as the kernel's table of TCP sockets tells.
bool clientTookAll(int serverPort, int clientPort) {
    for (int i = 0; i < 1000; ++i, usleep(10000))
        if (queue(serverPort, clientPort, true) == 0 && queue(clientPort, serverPort, false) == 0) return true;
    return false;
}

// Plays `script` on one connection in a thread of its own.
class FakeGame {
public:
    explicit FakeGame(std::vector<Turn> script) : listener_(socket_t::create_global(nullptr)) {
        port_ = static_cast<win_socket*>(listener_.get())->get_port();
        thread_ = std::thread([this, script = std::move(script)] { serve(script); });
    }
    ~FakeGame() { finish(); }
    int port() const { return port_; }
    // Once the client has ended: the commands received, in order.
    const std::vector<std::string>& finish() {
        if (thread_.joinable()) {
            listener_->cancel_accept();
            thread_.join();
        }
        return received_;
    }
    int splitsSeen = 0;  // writes made after the client had read everything before them

private:
    void serve(const std::vector<Turn>& script) {
        std::unique_ptr<socket_t> peer(listener_->accept());
        if (!peer) return;
        sockaddr_in client{};
        socklen_t size = sizeof client;
        getpeername(static_cast<win_socket*>(peer.get())->s, reinterpret_cast<sockaddr*>(&client), &size);
        const int clientPort = ntohs(client.sin_port);
        std::string command;
        for (const Turn& turn : script) {
            if (!readCommand(*peer, command)) return;
            received_.push_back(command);
            if (command != turn.expect) return;
            for (std::size_t k = 0; k < turn.writes.size(); ++k) {
                // A later write goes out once the client has taken the
                // earlier ones and waits for more.
                if (k > 0 && clientTookAll(port_, clientPort)) ++splitsSeen;
                peer->write(turn.writes[k].data(), turn.writes[k].size());
            }
            if (turn.close) return;
        }
        while (readCommand(*peer, command)) received_.push_back(command);  // more than the script
    }

    static bool readCommand(socket_t& s, std::string& command) {
        command.clear();
        for (char c = 0; c != '#';) {
            if (s.read(&c, 1, 1, -1) != 1) return false;
            command += c;
        }
        return true;
    }

    std::unique_ptr<socket_t> listener_;
    int port_ = -1;
    std::vector<std::string> received_;
    std::thread thread_;
};

struct Session {
    const char* name;
    std::vector<std::string> args;  // options and commands; "PORT" is the game's port
    std::vector<Turn> script;
    std::string out = "";  // standard output, whole
    int status = 0;
    std::string errPart = "";  // in standard error
    std::string input = "";    // when given: lines on standard input instead of commands
    int splits = 0;
};

const std::string kReport = "PLACES:S_queue;P_thread_pool#TRANSITIONS:A3_execution#BREAKPOINTS:0#\n";
const std::string kShownReport =
    "places changed:      S_queue, P_thread_pool\ncan fire now:        A3_execution\nbreakpoints holding: 0\n";
const std::string kNetLines = "Places:\n\tC1_sem -> C1_sem\nTransitions:\n\tS_ready -> S_ready\n";
const std::string kNet = kNetLines + "\n";  // the reply ends with an empty line

// The places of a large net, 8 MiB of them.
const std::string kManyPlaces = [] {
    std::string places;
    for (int k = 0; places.size() < (std::size_t{8} << 20); ++k)
        places += "\tP_" + std::to_string(k) + " -> P_" + std::to_string(k) + "\n";
    return places;
}();

}  // namespace

TEST(PlayClient, PlaysScriptedSessionsAgainstAGame) {
    const Session sessions[] = {
        {"every command once", {"--wait", "0", "firelist", "place P_thread_pool", "Fire S_ready", "autotrans", "time",
                                "replication", "net", "setbreaks C1_in_use:>=:2", "hello", "fire nosuch", "exit"},
         {{"FIRELIST#", {"A3_execution;S_ready\n"}}, {"PLACE P_thread_pool#", {"0,0\n"}}, {"FIRE S_ready#", {kReport}},
          {"AUTOTRANS#", {"TRANSITION:S_ready#DELAY:250#\n"}}, {"TIME#", {"00:00:01@01/01/1970\n"}},
          {"REPLICATION#", {"0"}}, {"NET#", {kNet}}, {"SETBREAKS C1_in_use:>=:2#", {"0\n"}}, {"HELLO#", {}},
          {"FIRE nosuch#", {"UNKNOWN TRANSITION nosuch\n"}}, {"EXIT#", {}, true}},
         "can fire: A3_execution, S_ready\nP_thread_pool: 2 tokens\n  0\n  0\n" + kShownReport +
             "next: S_ready in 250 ms\ntime: 00:00:01@01/01/1970\nreplication: 0\nnet:\n" + kNetLines +
             "breakpoints holding: 0\n(no reply)\nUNKNOWN TRANSITION nosuch\n"},
        {"replies split over two writes", {"FIRELIST", "NET", "FIRE S_ready"},
         {{"FIRELIST#", {"A3_execution;S_", "ready\n"}}, {"NET#", {kNetLines, "\n"}},
          {"FIRE S_ready#", {kReport.substr(0, 30), kReport.substr(30)}}},
         "can fire: A3_execution, S_ready\nnet:\n" + kNetLines + kShownReport, 0, "", "", 3},
        {"AUTOFIRE without an event", {"--wait", "0", "AUTOFIRE", "BREAKS"},
         {{"AUTOFIRE#", {}}, {"BREAKS#", {"\n"}}}, "(no reply)\nbreakpoints holding: none\n"},
        {"AUTOFIRE with an event", {"--wait", "60", "AUTOFIRE"}, {{"AUTOFIRE#", {kReport}}}, kShownReport},
        {"a single-step dialogue", {"SINGLESTEP", "next", "PLACE P_thread_pool", "FIRELIST", "EXIT", "TIME"},
         {{"SINGLESTEP#", {"Fired: S_ready#\n"}}, {"NEXT#", {"Fired: A3_execution#\n"}},
          {"PLACE P_thread_pool#", {"0\n", "Fired: A4#\n"}}, {"FIRELIST#", {"A5\nS_ready\n\n", "Fired: A5#\n"}},
          {"EXIT#", {"Thanx!\n"}}, {"TIME#", {"00:00:03@01/01/1970\n"}}},
         "fired: S_ready\nfired: A3_execution\nP_thread_pool: 1 token\n  0\nfired: A4\ncan fire: A5, S_ready\n"
         "fired: A5\nsingle-step mode ended\ntime: 00:00:03@01/01/1970\n", 0, "", "", 2},
        {"single-step mode ended by the game", {"SINGLESTEP", "NEXT", "FIRELIST"},
         {{"SINGLESTEP#", {"Fired: S_ready#\n"}}, {"NEXT#", {"Thanx!\n"}}, {"FIRELIST#", {"\n"}}},
         "fired: S_ready\nsingle-step mode ended\ncan fire: nothing\n"},
        {"closed mid-reply", {"FIRELIST", "TIME"}, {{"FIRELIST#", {"A3_exec"}, true}}, "", 1,
         "closed the connection in the reply to FIRELIST# after 7 bytes: \"A3_exec\""},
        {"closed between commands", {"TIME", "FIRELIST"}, {{"TIME#", {"00:00:00@01/01/1970\n"}, true}},
         "time: 00:00:00@01/01/1970\n", 1, "the server closed the connection"},
        {"closed after EXIT", {"EXIT", "TIME"}, {{"EXIT#", {}, true}}, "", 0, "1 more command(s) not sent"},
        {"raw bytes", {"--raw", "--wait", "0", "REPLICATION", "NET", "AUTOFIRE"},
         {{"REPLICATION#", {"0"}}, {"NET#", {kNet}}, {"AUTOFIRE#", {}}}, "0" + kNet, 0, "(no reply)"},
        {"interactive, ended by EOF in single-step mode", {},
         {{"FIRELIST#", {"A\n"}}, {"SINGLESTEP#", {"Fired: A#\n"}}, {"EXIT#", {"Thanx!\n"}}, {"EXIT#", {}}},
         "can fire: A\nfired: A\nsingle-step mode ended\n", 0, "", "firelist\n\n  singlestep\n"},
        {"interactive, ended by quit", {}, {{"TIME#", {"00:00:00@01/01/1970\n"}}, {"EXIT#", {}}},
         "time: 00:00:00@01/01/1970\n", 0, "", "time\nquit\nTIME\n"},
        {"more than the reply in one write", {"TIME", "FIRELIST"},
         {{"TIME#", {"00:00:01@01/01/1970\nEXTRA\n"}}, {"FIRELIST#", {"A\n"}}},
         "time: 00:00:01@01/01/1970\n(late reply) EXTRA\ncan fire: A\n"},
        {"a long reply in many writes", {"NET", "TIME"},
         {{"NET#", {"Places:\n" + kManyPlaces.substr(0, kManyPlaces.size() / 2), kManyPlaces.substr(kManyPlaces.size() / 2),
                    "Transitions:\n\tS_ready -> S_ready\n\n"}},
          {"TIME#", {"00:00:02@01/01/1970\n"}}},
         "net:\nPlaces:\n" + kManyPlaces + "Transitions:\n\tS_ready -> S_ready\ntime: 00:00:02@01/01/1970\n", 0, "", "",
         2},
    };
    for (const Session& s : sessions) {
        SCOPED_TRACE(s.name);
        testsupport::TempDir dir;
        FakeGame game(s.script);
        std::vector<std::string> args = {"--port", std::to_string(game.port())};
        args.insert(args.end(), s.args.begin(), s.args.end());
        std::string line = "printf '" + s.input + "' | " + SCPN_PLAY_EXE;
        for (const std::string& a : args) line += " " + a;
        const testsupport::RunResult r = s.input.empty() ? testsupport::run(SCPN_PLAY_EXE, args, dir.path())
                                                           : testsupport::run("/bin/sh", {"-c", line}, dir.path());
        std::vector<std::string> expected;
        for (const Turn& t : s.script) expected.push_back(t.expect);
        EXPECT_EQ(game.finish(), expected);
        EXPECT_EQ(r.exitStatus, s.status) << r.err;
        EXPECT_EQ(r.out, s.out);
        EXPECT_NE(r.err.find(s.errPart), std::string::npos) << r.err;
        EXPECT_EQ(game.splitsSeen, s.splits);
    }
}

TEST(PlayClient, RefusesAReplyLongerThan64MiB) {
    // A reply that never ends, 64 MiB and a bit: the client gives up at its
    // limit, says so and ends with status 1, instead of reading on.
    for (const char* command : {"TIME", "NET"}) {
        SCOPED_TRACE(command);
        const std::string reply((std::size_t{64} << 20) + 4096, 'x');
        FakeGame game({{std::string(command) + "#", {reply}}});
        testsupport::TempDir dir;
        const testsupport::RunResult r =
            testsupport::run(SCPN_PLAY_EXE, {"--port", std::to_string(game.port()), command, "FIRELIST"}, dir.path());
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find(std::string("scpn-play: the reply to ") + command +
                             "# is longer than 67108864 bytes (64 MiB)"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(game.finish(), std::vector<std::string>{std::string(command) + "#"});
    }
}

TEST(PlayClient, RefusesBadCommandLinesAndMissingGames) {
    const std::unique_ptr<socket_t> closed(socket_t::create_global(nullptr));
    const std::string port = std::to_string(static_cast<win_socket*>(closed.get())->get_port());
    closed->close();  // nothing listens there now
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--port", "0"}, 2},           {{"--port", "x1"}, 2},        {{"--wait", "-1"}, 2},
        {{"--host", "a:1"}, 2},         {{"--bogus"}, 2},             {{"--port"}, 2},
        {{"--port", port, "TIME#NET"}, 2}, {{"--port", port, "--attempts", "1", "TIME"}, 1},
    };
    testsupport::TempDir dir;
    for (const auto& [args, status] : cases) {
        const testsupport::RunResult r = testsupport::run(SCPN_PLAY_EXE, args, dir.path());
        EXPECT_EQ(r.exitStatus, status) << args[0] << r.err;
        EXPECT_NE(r.err.find(status == 2 ? "usage: scpn-play" : "cannot connect to the token game at 127.0.0.1:"),
                  std::string::npos)
            << r.err;
    }
}

// The client against the real game: a session on port 2020 that looks at the
// net, fires by hand, steps once and ends the game.
TEST(PlayClient, PlaysTheRealTokenGame) {
    testsupport::PortLock port(2020);
    testsupport::WorkDir dir;
    testsupport::RunningProcess game(SCPNSIM_EXE, {"-t", "--mstart", "0", "--seed", "3"}, dir.path());
    ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI..")) << game.wait().out;
    const testsupport::RunResult r = testsupport::run(
        SCPN_PLAY_EXE, {"--wait", "1", "firelist", "place P_thread_pool", "fire S_ready", "place nosuch", "time",
                        "singlestep", "exit", "exit"},
        dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.rfind("can fire: P_In_ready, S1_ready, S2_ready, S3_ready, S_ready\n"
                          "P_thread_pool: 4 tokens\n  0\n  0\n  0\n  0\nplaces changed:",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("UNKNOWN PLACE nosuch\ntime: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nfired: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nsingle-step mode ended\n"), std::string::npos) << r.out;
    const testsupport::RunResult g = game.wait();
    EXPECT_EQ(g.exitStatus, 0) << g.out;
    EXPECT_NE(g.out.find("\nTOKENGAME COMPLETE.\n"), std::string::npos) << g.out;
}
