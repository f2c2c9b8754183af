#include "GameClient.h"

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/net/Socket.h"

namespace dashboard {

struct GameClient::Connection {
    std::unique_ptr<socket_t> socket;
    int write(const char* data, std::size_t size) { return socket->write(data, size); }
    int read(void* buf, std::size_t min, std::size_t max, std::time_t timeout) {
        return socket->read(buf, min, max, timeout);
    }
    void close() { socket->close(); }
};

namespace {

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// Splits at every separator; "" gives no parts, "a;" gives "a" and "".
std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    std::string current;
    for (char c : text) {
        if (c == separator) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

std::optional<std::string> withoutLineEnd(const std::string& reply) {
    if (reply.empty() || reply.back() != '\n') return std::nullopt;
    return reply.substr(0, reply.size() - 1);
}

std::optional<std::vector<std::string>> namesOf(const std::string& list) {
    std::vector<std::string> names = split(list, ';');
    for (const std::string& n : names)
        if (!validName(n)) return std::nullopt;
    return names;
}

std::optional<std::vector<int>> positionsOf(const std::string& list) {
    std::vector<int> positions;
    for (const std::string& p : split(list, ';')) {
        if (p.empty() || p.size() > 6 || p.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        positions.push_back(std::stoi(p));
    }
    return positions;
}

}  // namespace

bool validName(const std::string& name) {
    static const std::regex pattern("[A-Za-z0-9_]{1,200}");
    return std::regex_match(name, pattern);
}

bool validBreakpoints(const std::string& list) {
    static const std::regex pattern("[A-Za-z0-9_.:;<>=+-]{0,2000}");
    return std::regex_match(list, pattern);
}

std::optional<ChangeReport> parseChangeReport(const std::string& reply) {
    const std::optional<std::string> body = withoutLineEnd(reply);
    if (!body) return std::nullopt;
    const std::vector<std::string> fields = split(*body, '#');
    if (fields.size() != 4 || !fields[3].empty() || !startsWith(fields[0], "PLACES:") ||
        !startsWith(fields[1], "TRANSITIONS:") || !startsWith(fields[2], "BREAKPOINTS:"))
        return std::nullopt;
    ChangeReport report;
    auto places = namesOf(fields[0].substr(7));
    auto transitions = namesOf(fields[1].substr(12));
    auto breakpoints = positionsOf(fields[2].substr(12));
    if (!places || !transitions || !breakpoints) return std::nullopt;
    report.places = *places;
    report.transitions = *transitions;
    report.breakpoints = *breakpoints;
    return report;
}

std::optional<std::vector<std::string>> parseFireList(const std::string& reply) {
    const std::optional<std::string> body = withoutLineEnd(reply);
    if (!body) return std::nullopt;
    return namesOf(*body);
}

std::optional<std::vector<std::string>> parseNetPlaces(const std::string& reply) {
    // "Places:\n" then "\tkey -> name\n" lines, "Transitions:\n" and its
    // lines, then an empty line.
    if (!startsWith(reply, "Places:\n") || reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\n\n") != 0)
        return std::nullopt;
    std::istringstream in(reply.substr(8));
    std::vector<std::string> places;
    bool inPlaces = true, sawTransitions = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) break;
        if (line == "Transitions:") {
            if (!inPlaces) return std::nullopt;
            inPlaces = false;
            sawTransitions = true;
            continue;
        }
        const std::size_t arrow = line.find(" -> ");
        if (line.size() < 2 || line[0] != '\t' || arrow == std::string::npos) return std::nullopt;
        const std::string name = line.substr(arrow + 4);
        if (!validName(name)) return std::nullopt;
        if (inPlaces) places.push_back(name);
    }
    if (!sawTransitions) return std::nullopt;
    return places;
}

std::optional<std::vector<int>> parseBreakpoints(const std::string& reply) {
    const std::optional<std::string> body = withoutLineEnd(reply);
    if (!body) return std::nullopt;
    return positionsOf(*body);
}

std::optional<std::string> parseTime(const std::string& reply) {
    static const std::regex pattern("[0-9]{2}:[0-9]{2}:[0-9]{2}@[0-9]{2}/[0-9]{2}/-?[0-9]{1,6}\n");
    if (!std::regex_match(reply, pattern)) return std::nullopt;
    return reply.substr(0, reply.size() - 1);
}

std::optional<std::vector<std::string>> parsePlace(const std::string& reply) {
    const std::optional<std::string> body = withoutLineEnd(reply);
    if (!body || startsWith(*body, "UNKNOWN ") || body->find('\n') != std::string::npos) return std::nullopt;
    return play::splitTokens(*body);
}

std::map<std::string, int> readPriorities(const std::string& modelFile) {
    std::map<std::string, int> priorities;
    std::ifstream in(modelFile);
    if (!in) return priorities;
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    // Each <transition ...> start tag: its name and priority attributes.
    static const std::regex tag("<transition\\b[^>]*>");
    static const std::regex name("\\bname=\"([A-Za-z0-9_]+)\"");
    static const std::regex priority("\\bpriority=\"(-?[0-9]{1,9})\"");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string t = it->str();
        std::smatch n, p;
        if (std::regex_search(t, n, name)) {
            priorities[n[1]] = std::regex_search(t, p, priority) ? std::stoi(p[1]) : 0;
        }
    }
    return priorities;
}

GameClient::GameClient(std::string address, std::map<std::string, int> priorities)
    : address_(std::move(address)), priorities_(std::move(priorities)) {}

GameClient::~GameClient() {
    if (socket_) socket_->close();
}

void GameClient::lose(const std::string& why) {
    gone_ = true;
    error_ = why;
    if (socket_) socket_->close();
    socket_.reset();
}

nlohmann::json GameClient::outcome(bool ok, const std::string& message, nlohmann::json extra) {
    nlohmann::json out = extra.is_object() ? extra : nlohmann::json::object();
    out["ok"] = ok && !gone_;
    if (!ok || gone_) out["error"] = gone_ ? error_ : message;
    else if (!message.empty()) out["message"] = message;
    out["state"] = stateLocked();
    return out;
}

nlohmann::json GameClient::connect() {
    std::lock_guard lock(mutex_);
    if (socket_) return outcome(true, "already connected");
    std::unique_ptr<socket_t> s(socket_t::connect(address_.c_str(), socket_t::sock_global_domain, 1, 1));
    if (!s || !s->is_ok()) {
        error_ = "no token game answers at " + address_ + " (start one with scpnsim -t)";
        nlohmann::json out{{"ok", false}, {"error", error_}};
        return out;
    }
    socket_ = std::make_unique<Connection>();
    socket_->socket = std::move(s);
    gone_ = false;
    error_.clear();
    return outcome(true, "connected to " + address_);
}

nlohmann::json GameClient::disconnect() {
    std::lock_guard lock(mutex_);
    if (socket_) {
        // Ends the game's command loop, as a front end leaving does.
        socket_->write("EXIT#", 5);
        socket_->close();
        socket_.reset();
    }
    return nlohmann::json{{"ok", true}};
}

std::optional<std::string> GameClient::exchange(const std::string& command, play::Frame frame) {
    if (!socket_) return std::nullopt;
    const std::string wire = command + "#";
    if (socket_->write(wire.data(), wire.size()) <= 0) {
        lose("the token game closed the connection (it has gone away)");
        return std::nullopt;
    }
    std::string part;
    while (!play::partLength(frame, part)) {
        const bool mayNotCome = frame == play::Frame::LineOrNothing && part.empty();
        char c;
        const int n = socket_->read(&c, 1, 1, mayNotCome ? 2 : kReplyWait);
        if (n < 0) {
            lose("the token game closed the connection (it has gone away)");
            return std::nullopt;
        }
        if (n == 0) {
            if (mayNotCome) return part;
            lose("the token game did not answer " + command + " within " + std::to_string(kReplyWait) +
                 " s; the connection was given up (the game has gone away)");
            return std::nullopt;
        }
        part += c;
        if (part.size() > (1u << 24)) {
            lose("the token game sent an over-long reply to " + command);
            return std::nullopt;
        }
    }
    return part;
}

nlohmann::json GameClient::stateLocked() {
    nlohmann::json s{{"connected", socket_ != nullptr}, {"address", address_}, {"gone", gone_},
                     {"error", error_.empty() ? nlohmann::json() : nlohmann::json(error_)},
                     {"lastFired", lastFired_.empty() ? nlohmann::json() : nlohmann::json(lastFired_)},
                     {"breakpoints", breakpoints_}};
    s["enabled"] = nlohmann::json::array();
    s["places"] = nlohmann::json::array();
    s["triggered"] = nlohmann::json::array();
    s["time"] = nullptr;
    if (!socket_) return s;
    auto unexpected = [&](const std::string& what) {
        lose("the token game's reply to " + what + " was not of the expected form; the connection was given up");
        s["connected"] = false;
        s["gone"] = true;
        s["error"] = error_;
        return s;
    };
    const auto fireList = exchange("FIRELIST", play::Frame::Line);
    if (!fireList) return s["connected"] = false, s["gone"] = true, s["error"] = error_, s;
    const auto enabled = parseFireList(*fireList);
    if (!enabled) return unexpected("FIRELIST");
    for (const std::string& t : *enabled) {
        auto p = priorities_.find(t);
        s["enabled"].push_back({{"name", t}, {"priority", p == priorities_.end() ? nlohmann::json() : nlohmann::json(p->second)}});
    }
    const auto net = exchange("NET", play::Frame::UntilEmptyLine);
    if (!net) return s["connected"] = false, s["gone"] = true, s["error"] = error_, s;
    const auto places = parseNetPlaces(*net);
    if (!places) return unexpected("NET");
    for (const std::string& p : *places) {
        const auto content = exchange("PLACE " + p, play::Frame::Line);
        if (!content) return s["connected"] = false, s["gone"] = true, s["error"] = error_, s;
        const auto tokens = parsePlace(*content);
        if (!tokens) return unexpected("PLACE " + p);
        s["places"].push_back({{"name", p}, {"tokens", *tokens}});
    }
    const auto time = exchange("TIME", play::Frame::Line);
    if (!time) return s["connected"] = false, s["gone"] = true, s["error"] = error_, s;
    const auto t = parseTime(*time);
    if (!t) return unexpected("TIME");
    s["time"] = *t;
    const auto breaks = exchange("BREAKS", play::Frame::Line);
    if (!breaks) return s["connected"] = false, s["gone"] = true, s["error"] = error_, s;
    const auto triggered = parseBreakpoints(*breaks);
    if (!triggered) return unexpected("BREAKS");
    s["triggered"] = *triggered;
    return s;
}

nlohmann::json GameClient::state() {
    std::lock_guard lock(mutex_);
    return stateLocked();
}

nlohmann::json GameClient::fire(const std::string& transition) {
    std::lock_guard lock(mutex_);
    if (!socket_) return outcome(false, "not connected to a token game");
    const auto reply = exchange("FIRE " + transition, play::Frame::Line);
    if (!reply) return outcome(false, error_);
    const auto report = parseChangeReport(*reply);
    if (!report) {
        if (startsWith(*reply, "UNKNOWN TRANSITION")) return outcome(false, "the net has no transition " + transition);
        lose("the token game's reply to FIRE was not of the expected form; the connection was given up");
        return outcome(false, error_);
    }
    lastFired_ = transition;
    return outcome(true, "fired " + transition, {{"triggered", report->breakpoints}});
}

nlohmann::json GameClient::step() {
    std::lock_guard lock(mutex_);
    if (!socket_) return outcome(false, gone_ ? error_ : "not connected to a token game");
    const auto list = exchange("FIRELIST", play::Frame::Line);
    if (!list) return outcome(false, error_);
    const auto enabled = parseFireList(*list);
    if (!enabled) {
        lose("the token game's reply to FIRELIST was not of the expected form; the connection was given up");
        return outcome(false, error_);
    }
    if (enabled->empty()) return outcome(true, "no event is left: nothing fired");
    const auto reply = exchange("AUTOFIRE", play::Frame::LineOrNothing);
    if (!reply) return outcome(false, error_);
    if (reply->empty()) return outcome(true, "no event is left: nothing fired");
    const auto report = parseChangeReport(*reply);
    if (!report) {
        lose("the token game's reply to AUTOFIRE was not of the expected form; the connection was given up");
        return outcome(false, error_);
    }
    return outcome(true, "fired the next event", {{"triggered", report->breakpoints}});
}

nlohmann::json GameClient::run(int steps) {
    std::lock_guard lock(mutex_);
    if (!socket_) return outcome(false, gone_ ? error_ : "not connected to a token game");
    int fired = 0;
    std::string stoppedBy = "steps";
    std::vector<int> triggered;
    while (fired < steps) {
        const auto list = exchange("FIRELIST", play::Frame::Line);
        if (!list) return outcome(false, error_, {{"fired", fired}});
        const auto enabled = parseFireList(*list);
        if (!enabled) {
            lose("the token game's reply to FIRELIST was not of the expected form; the connection was given up");
            return outcome(false, error_, {{"fired", fired}});
        }
        if (enabled->empty()) {
            stoppedBy = "dead";
            break;
        }
        const auto reply = exchange("AUTOFIRE", play::Frame::LineOrNothing);
        if (!reply) return outcome(false, error_, {{"fired", fired}});
        if (reply->empty()) {
            stoppedBy = "dead";
            break;
        }
        const auto report = parseChangeReport(*reply);
        if (!report) {
            lose("the token game's reply to AUTOFIRE was not of the expected form; the connection was given up");
            return outcome(false, error_, {{"fired", fired}});
        }
        ++fired;
        if (!report->breakpoints.empty()) {
            stoppedBy = "breakpoint";
            triggered = report->breakpoints;
            break;
        }
    }
    std::string message = "fired " + std::to_string(fired) + " event" + (fired == 1 ? "" : "s");
    if (stoppedBy == "breakpoint") message += "; stopped by breakpoint";
    if (stoppedBy == "dead") message += "; no event is left";
    return outcome(true, message, {{"fired", fired}, {"stoppedBy", stoppedBy}, {"triggered", triggered}});
}

nlohmann::json GameClient::setBreakpoints(const std::string& list) {
    std::lock_guard lock(mutex_);
    if (!socket_) return outcome(false, gone_ ? error_ : "not connected to a token game");
    const auto reply = exchange("SETBREAKS " + list, play::Frame::Line);
    if (!reply) return outcome(false, error_);
    const auto triggered = parseBreakpoints(*reply);
    if (!triggered) {
        lose("the token game's reply to SETBREAKS was not of the expected form; the connection was given up");
        return outcome(false, error_);
    }
    breakpoints_ = list;
    return outcome(true, "breakpoints set", {{"triggered", *triggered}});
}

}  // namespace dashboard
