#pragma once
// What the dashboard knows of the simulation it watches: the result
// channel's lines turned into a run header and series over simulated time,
// plus what the simulation printed when the dashboard started it. Thread-
// safe: the result-port reader, the program's output reader and the HTTP
// handlers share one feed.
//
// Everything here is text from another process and is kept as text; the
// JSON it is served as escapes it, and the page shows it as text only.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace dashboard {

struct Series {
    std::string name;
    std::string kind;  // "estimate", "place", "transition", "display"
    // [t, mean, lower, upper] for estimates, [t, value] otherwise.
    std::vector<std::vector<double>> points;
    std::size_t total = 0;  // points received (kept ones may be thinned)
    // How often the series began again: the token counts and fire counts of
    // a transient run start afresh with every replication (simulated time
    // goes back to the start), so only the replication under way is kept;
    // estimates span the replications and never restart.
    long restarts = 0;
};

// A page's position in the feed: what it has been sent.
struct Cursor {
    long runId = -1;
    std::vector<std::size_t> sent;  // per series: points sent
    std::vector<long> restarts;     // per series: the restart those points belong to
    std::size_t console = 0;        // console lines sent
    long runVersion = -1;
};

class RunFeed {
public:
    // The most points kept per series: beyond it every second point goes
    // (the page draws a few hundred per chart anyway; the CSV keeps all).
    static constexpr std::size_t kMaxKeptPoints = 200000;
    // The most points per series in one message to a page.
    static constexpr std::size_t kMaxSentPoints = 2000;
    // A line longer than this is garbage (and is not kept growing).
    static constexpr std::size_t kMaxLine = 65536;

    // A new simulation connected: everything of the last one is dropped.
    void beginRun();
    // Bytes from the result port; complete lines are handled at once.
    void feed(const char* data, std::size_t size);
    // The result port's connection ended.
    void endOfStream();

    // A simulation the dashboard started: its command line (mode, times,
    // seed, confidence, accuracy are read from it) and its output lines.
    void launched(const std::vector<std::string>& command);
    void consoleLine(const std::string& line);
    void programEnded(int exitStatus);

    // The whole state as the page's snapshot.
    nlohmann::json snapshot() const;
    // What a page at `cursor` has not seen yet (everything, with "reset",
    // after a new run began), or nothing when there is nothing new; moves
    // the cursor on.
    std::optional<nlohmann::json> delta(Cursor& cursor) const;
    // Waits until something changes or `timeout` passes.
    void waitForChange(std::chrono::milliseconds timeout) const;
    // Every element line received, as CSV.
    std::string csv() const;

    long garbageLines() const;

private:
    void handleLine(const std::string& line);
    void changed();
    void replicationEnded();
    nlohmann::json runJson() const;
    static nlohmann::json thinned(const Series& s, std::size_t from);
    std::size_t seriesIndex(const std::string& name, const std::string& kind);

    mutable std::mutex mutex_;
    mutable std::condition_variable changedCv_;
    long runId_ = 0;
    long version_ = 0;
    std::string partial_;
    bool skipping_ = false;  // dropping the rest of an over-long line
    std::string time_;       // the last TIME; as sent
    std::optional<double> lastTime_;
    long replicationsSeen_ = 0;  // replications of a transient run seen to their end on the channel
    bool channelEnded_ = false;  // EXIT;0 received
    // Run header.
    std::string status_ = "waiting";
    std::optional<std::string> model_, mode_, start_, stop_, timeAxis_, seed_, confidence_, verdict_;
    std::optional<double> epsmax_;
    std::optional<long> replications_;  // as the program printed it
    std::optional<int> exitStatus_;
    std::optional<std::string> command_;
    bool launched_ = false;
    bool connected_ = false;
    std::chrono::steady_clock::time_point began_{};
    std::optional<double> frozenElapsed_;
    long garbage_ = 0;
    std::vector<Series> series_;  // in the order of first appearance (the page's ids)
    // Where each series is in series_, by kind + '\n' + name (a name never
    // holds a line break): a run may name tens of thousands of elements.
    std::unordered_map<std::string, std::size_t> seriesIndex_;
    std::vector<std::string> csvRows_;
    std::deque<std::string> console_;
    std::size_t consoleDropped_ = 0;  // lines before console_.front()
};

// Parses a real number as the channel writes them; nothing for anything else
// (also for infinities and NaN).
std::optional<double> parseNumber(const std::string& text);

}  // namespace dashboard
