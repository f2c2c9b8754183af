#pragma once
// The dashboard's side of the token game: a TCP client of a running
// `scpnsim -t` that sends one command at a time, reads its reply exactly as
// the game frames it, checks the reply's form and hands the page structured,
// checked data only. A game that closes its connection, or answers out of
// form, is reported as gone.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "PlayProtocol.h"

namespace dashboard {

// The parts of a change report ("PLACES:a;b#TRANSITIONS:c#BREAKPOINTS:0;2#\n").
struct ChangeReport {
    std::vector<std::string> places;
    std::vector<std::string> transitions;
    std::vector<int> breakpoints;
};

// Checked readings of the game's replies; nothing when a reply is not of
// its form (or names something no model element could be called).
std::optional<ChangeReport> parseChangeReport(const std::string& reply);
std::optional<std::vector<std::string>> parseFireList(const std::string& reply);
std::optional<std::vector<std::string>> parseNetPlaces(const std::string& reply);
std::optional<std::vector<int>> parseBreakpoints(const std::string& reply);
std::optional<std::string> parseTime(const std::string& reply);
std::optional<std::vector<std::string>> parsePlace(const std::string& reply);

// What the page may send: model element names, and breakpoint lists
// (measure:relation:number entries separated by ';').
bool validName(const std::string& name);
bool validBreakpoints(const std::string& list);

// The transition priorities of a model description (<transition name=".."
// priority="..">); empty when the file cannot be read.
std::map<std::string, int> readPriorities(const std::string& modelFile);

class GameClient {
public:
    GameClient(std::string address, std::map<std::string, int> priorities);
    ~GameClient();
    GameClient(const GameClient&) = delete;
    GameClient& operator=(const GameClient&) = delete;

    nlohmann::json connect();
    nlohmann::json disconnect();
    // The game's state: enabled transitions with priorities, every place's
    // tokens, the model time, triggered breakpoints.
    nlohmann::json state();
    nlohmann::json fire(const std::string& transition);
    nlohmann::json step();
    nlohmann::json run(int steps);
    nlohmann::json setBreakpoints(const std::string& list);

    // Seconds to wait for a reply that must come.
    static constexpr long kReplyWait = 30;

private:
    // Sends "command#" and reads the reply's one part; nothing (and the
    // game marked gone) when the connection failed or no reply came.
    std::optional<std::string> exchange(const std::string& command, play::Frame frame);
    nlohmann::json stateLocked();
    nlohmann::json outcome(bool ok, const std::string& message, nlohmann::json extra = {});
    void lose(const std::string& why);

    std::mutex mutex_;
    std::string address_;
    std::map<std::string, int> priorities_;
    // The connection (kept opaque here: the HTTP library names a type of
    // its own like the platform's socket class).
    struct Connection;
    std::unique_ptr<Connection> socket_;
    bool gone_ = false;
    std::string error_;
    std::string lastFired_;
    std::string breakpoints_;
};

}  // namespace dashboard
