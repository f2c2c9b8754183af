#include "RunFeed.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "ResultStream.h"

namespace dashboard {

namespace {

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// The value after an option in a command line, if the option is there.
std::optional<std::string> optionValue(const std::vector<std::string>& args, const std::string& name) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name) return args[i + 1];
    return std::nullopt;
}

bool hasSwitch(const std::vector<std::string>& args, const std::string& shortName, const std::string& longName) {
    for (const std::string& a : args)
        if (a == shortName || a == longName) return true;
    return false;
}

}  // namespace

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end != begin + text.size() || errno == ERANGE || !std::isfinite(v)) return std::nullopt;
    return v;
}

void RunFeed::beginRun() {
    std::lock_guard lock(mutex_);
    ++runId_;
    partial_.clear();
    skipping_ = false;
    time_.clear();
    lastTime_.reset();
    replicationsSeen_ = 0;
    channelEnded_ = false;
    status_ = "running";
    model_.reset();
    timeAxis_.reset();
    // A run the dashboard started keeps what its command line said.
    if (!launched_) {
        mode_.reset();
        start_.reset();
        stop_.reset();
        seed_.reset();
        confidence_.reset();
        epsmax_.reset();
        replications_.reset();
        verdict_.reset();
        exitStatus_.reset();
        command_.reset();
        console_.clear();
        consoleDropped_ = 0;
    }
    connected_ = true;
    began_ = std::chrono::steady_clock::now();
    frozenElapsed_.reset();
    garbage_ = 0;
    series_.clear();
    seriesIndex_.clear();
    csvRows_.clear();
    changed();
}

void RunFeed::feed(const char* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (skipping_) {
                skipping_ = false;
                ++garbage_;
            } else {
                handleLine(partial_);
            }
            partial_.clear();
            continue;
        }
        if (skipping_) continue;
        partial_.push_back(c);
        if (partial_.size() > kMaxLine) {
            partial_.clear();
            skipping_ = true;
        }
    }
    changed();
}

void RunFeed::endOfStream() {
    std::lock_guard lock(mutex_);
    if (!partial_.empty() || skipping_) ++garbage_;  // a line cut off
    partial_.clear();
    skipping_ = false;
    connected_ = false;
    if (!frozenElapsed_)
        frozenElapsed_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    // A started program may still be printing its verdict; it ends the run
    // when it exits.
    if (!launched_ || exitStatus_) status_ = "ended";
    changed();
}

void RunFeed::handleLine(const std::string& raw) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t semicolon = line.find(';');
    const std::size_t angle = line.find('<');
    if (semicolon != std::string::npos && (angle == std::string::npos || semicolon < angle)) {
        const std::string key = line.substr(0, semicolon);
        const std::string value = line.substr(semicolon + 1);
        if (key == "NETNAME" && !value.empty()) {
            model_ = value;
        } else if (key == "XTICKFORMAT" && (value == "0" || value == "3")) {
            timeAxis_ = value == "0" ? "model" : "calendar";
        } else if ((key == "STARTTIME" || key == "ENDTIME") && parseNumber(value)) {
            (key == "STARTTIME" ? start_ : stop_) = value;
            if (!launched_ && start_ && stop_) mode_ = "transient";
        } else if (const std::optional<double> t = key == "TIME" ? parseNumber(value) : std::nullopt) {
            // In a transient run simulated time only goes back when the next
            // replication starts.
            if (lastTime_ && *t < *lastTime_ && mode_ == "transient") replicationEnded();
            lastTime_ = t;
            time_ = value;
            if (!launched_ && !mode_) mode_ = start_ ? "transient" : "stationary or RESTART";
        } else if (key == "EXIT" && value == "0") {
            if (!channelEnded_ && lastTime_ && mode_ == "transient") ++replicationsSeen_;
            channelEnded_ = true;
            frozenElapsed_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
        } else {
            ++garbage_;
        }
        return;
    }
    const std::optional<monitor::Row> row = monitor::parseElementLine(line, time_);
    if (!row || row->element.empty() || time_.empty()) {
        ++garbage_;
        return;
    }
    const std::optional<double> t = parseNumber(row->time);
    const std::optional<double> mean = parseNumber(row->mean);
    std::vector<double> point;
    if (row->kind == "estimate") {
        const std::optional<double> lower = parseNumber(row->lower), upper = parseNumber(row->upper);
        if (!t || !mean || !lower || !upper) {
            ++garbage_;
            return;
        }
        point = {*t, *mean, *lower, *upper};
    } else if (row->kind == "place" || row->kind == "transition" || row->kind == "display") {
        if (!t || !mean || !row->lower.empty()) {
            ++garbage_;
            return;
        }
        point = {*t, *mean};
    } else {
        ++garbage_;
        return;
    }
    Series& s = series_[seriesIndex(row->element, row->kind)];
    s.points.push_back(std::move(point));
    ++s.total;
    if (s.points.size() > kMaxKeptPoints) {
        // Every second point goes; the newest stays.
        std::vector<std::vector<double>> kept;
        kept.reserve(s.points.size() / 2 + 1);
        for (std::size_t i = s.points.size() % 2 == 0 ? 1 : 0; i < s.points.size(); i += 2)
            kept.push_back(std::move(s.points[i]));
        s.points.swap(kept);
    }
    csvRows_.push_back(monitor::csvLine(*row));
}

void RunFeed::replicationEnded() {
    ++replicationsSeen_;
    for (Series& s : series_) {
        if (s.kind == "estimate") continue;
        s.points.clear();
        ++s.restarts;
    }
}

std::size_t RunFeed::seriesIndex(const std::string& name, const std::string& kind) {
    const auto [at, added] = seriesIndex_.try_emplace(kind + '\n' + name, series_.size());
    if (added) series_.push_back(Series{name, kind, {}, 0});
    return at->second;
}

void RunFeed::launched(const std::vector<std::string>& command) {
    std::lock_guard lock(mutex_);
    launched_ = true;
    std::string text;
    for (const std::string& a : command) text += (text.empty() ? "" : " ") + a;
    command_ = text;
    if (hasSwitch(command, "-T", "--trans_simulation")) mode_ = "transient";
    else if (hasSwitch(command, "-S", "--stat_simulation")) mode_ = "stationary";
    else if (hasSwitch(command, "-R", "--restart_simulation")) mode_ = "RESTART";
    start_ = optionValue(command, "--start");
    if (!start_) start_ = optionValue(command, "--mstart");
    stop_ = optionValue(command, "--stop");
    if (!stop_) stop_ = optionValue(command, "--mstop");
    confidence_ = optionValue(command, "--confidence").value_or("80");
    epsmax_ = parseNumber(optionValue(command, "--epsmax").value_or("1"));
    status_ = "waiting";
    changed();
}

void RunFeed::consoleLine(const std::string& raw) {
    std::lock_guard lock(mutex_);
    const std::string line = raw.size() > 4096 ? raw.substr(0, 4096) : raw;
    console_.push_back(line);
    while (console_.size() > 200) {
        console_.pop_front();
        ++consoleDropped_;
    }
    static const std::string seed = "Random seed set to ", reps = "replications completed: ";
    if (startsWith(line, seed)) {
        seed_ = line.substr(seed.size());
    } else if (startsWith(line, reps)) {
        const std::string count = line.substr(reps.size(), line.find(' ', reps.size()) - reps.size());
        if (const std::optional<double> n = parseNumber(count)) replications_ = static_cast<long>(*n);
    } else if (line == "SIMULATION SUCCESSFUL" || startsWith(line, "ABORT SIMULATION") ||
               startsWith(line, "ABORTED SIMULATION") || line == "RESTART simulation finished." ||
               startsWith(line, "RUN INTERRUPTED") || startsWith(line, "PARALLEL RUN FAILED") ||
               startsWith(line, "ERROR: ")) {
        // The verdict lines of every mode (stationary runs say "ABORTED").
        verdict_ = line;
    }
    changed();
}

void RunFeed::programEnded(int exitStatus) {
    std::lock_guard lock(mutex_);
    exitStatus_ = exitStatus;
    if (!verdict_ && exitStatus != 0) verdict_ = "the simulation ended with status " + std::to_string(exitStatus);
    if (!connected_) {
        status_ = "ended";
        if (!frozenElapsed_ && began_ != std::chrono::steady_clock::time_point{})
            frozenElapsed_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    }
    changed();
}

void RunFeed::changed() {
    ++version_;
    changedCv_.notify_all();
}

void RunFeed::waitForChange(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    const long seen = version_;
    changedCv_.wait_for(lock, timeout, [&] { return version_ != seen; });
}

long RunFeed::garbageLines() const {
    std::lock_guard lock(mutex_);
    return garbage_;
}

nlohmann::json RunFeed::runJson() const {
    auto text = [](const std::optional<std::string>& v) { return v ? nlohmann::json(*v) : nlohmann::json(); };
    nlohmann::json run;
    run["status"] = status_;
    run["model"] = text(model_);
    run["mode"] = text(mode_);
    run["start"] = text(start_);
    run["stop"] = text(stop_);
    run["timeAxis"] = text(timeAxis_);
    run["seed"] = text(seed_);
    run["confidence"] = text(confidence_);
    run["epsmax"] = epsmax_ ? nlohmann::json(*epsmax_) : nlohmann::json();
    // The program's own count when it printed one; until then (and for a
    // run started elsewhere) the replications seen on the channel. A
    // parallel run shows only process 0's replications on the channel, so
    // the larger of the two is the better one.
    const long seen = replicationsSeen_;
    if (replications_ || seen > 0) run["replications"] = std::max(replications_.value_or(0), seen);
    else run["replications"] = nlohmann::json();
    double elapsed = 0.0;
    if (frozenElapsed_) elapsed = *frozenElapsed_;
    else if (connected_) elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    run["elapsed"] = elapsed;
    run["verdict"] = text(verdict_);
    run["exitStatus"] = exitStatus_ ? nlohmann::json(*exitStatus_) : nlohmann::json();
    run["launched"] = launched_;
    run["command"] = text(command_);
    run["garbageLines"] = garbage_;
    run["lastTime"] = time_.empty() ? nlohmann::json() : nlohmann::json(time_);
    return run;
}

nlohmann::json RunFeed::thinned(const Series& s, std::size_t from) {
    nlohmann::json points = nlohmann::json::array();
    const std::size_t n = s.points.size() > from ? s.points.size() - from : 0;
    // Evenly spaced, always with the newest point.
    const std::size_t step = n > kMaxSentPoints ? (n - 1 + kMaxSentPoints - 2) / (kMaxSentPoints - 1) : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = from + i;
        if (i % step != 0 && k + 1 != s.points.size()) continue;
        points.push_back(s.points[k]);
    }
    return points;
}

nlohmann::json RunFeed::snapshot() const {
    std::lock_guard lock(mutex_);
    nlohmann::json state;
    state["runId"] = runId_;
    state["run"] = runJson();
    nlohmann::json series = nlohmann::json::array();
    nlohmann::json final = nlohmann::json::array();
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const Series& s = series_[i];
        series.push_back({{"id", i}, {"name", s.name}, {"kind", s.kind}, {"points", thinned(s, 0)}, {"total", s.total}});
        if (s.kind == "estimate" && !s.points.empty()) {
            const std::vector<double>& p = s.points.back();
            nlohmann::json row{{"name", s.name}, {"time", p[0]}, {"mean", p[1]}, {"lower", p[2]}, {"upper", p[3]}};
            row["relError"] = p[1] != 0.0 ? nlohmann::json((p[3] - p[2]) / 2.0 / std::fabs(p[1])) : nlohmann::json();
            final.push_back(row);
        }
    }
    state["series"] = series;
    state["final"] = final;
    state["console"] = nlohmann::json(std::vector<std::string>(console_.begin(), console_.end()));
    return state;
}

std::optional<nlohmann::json> RunFeed::delta(Cursor& cursor) const {
    std::lock_guard lock(mutex_);
    nlohmann::json out;
    const bool reset = cursor.runId != runId_;
    if (reset) {
        cursor.runId = runId_;
        cursor.sent.clear();
        cursor.console = consoleDropped_;
        cursor.runVersion = -1;
    }
    nlohmann::json points = nlohmann::json::object();
    cursor.sent.resize(series_.size(), 0);
    cursor.restarts.resize(series_.size(), 0);
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const Series& s = series_[i];
        // A series that began again is sent whole, marked so that the page
        // drops what it had.
        const bool restart = cursor.restarts[i] != s.restarts;
        if (restart) {
            cursor.sent[i] = 0;
            cursor.restarts[i] = s.restarts;
        }
        // Thinning on the server may have shortened the list under a page.
        if (cursor.sent[i] > s.points.size()) cursor.sent[i] = s.points.size();
        if (cursor.sent[i] == s.points.size() && !restart) continue;
        nlohmann::json entry = {{"name", s.name}, {"kind", s.kind}, {"points", thinned(s, cursor.sent[i])}};
        if (restart) entry["restart"] = true;
        points[std::to_string(i)] = std::move(entry);
        cursor.sent[i] = s.points.size();
    }
    nlohmann::json console = nlohmann::json::array();
    if (cursor.console < consoleDropped_) cursor.console = consoleDropped_;
    for (std::size_t i = cursor.console - consoleDropped_; i < console_.size(); ++i) console.push_back(console_[i]);
    cursor.console = consoleDropped_ + console_.size();
    const bool runChanged = cursor.runVersion != version_;
    if (!reset && points.empty() && console.empty() && !runChanged) return std::nullopt;
    cursor.runVersion = version_;
    out["runId"] = runId_;
    out["reset"] = reset;
    out["run"] = runJson();
    out["points"] = points;
    out["console"] = console;
    return out;
}

std::string RunFeed::csv() const {
    std::lock_guard lock(mutex_);
    std::string text = monitor::csvHeader();
    for (const std::string& row : csvRows_) text += row;
    return text;
}

}  // namespace dashboard
