#include "PlayProtocol.h"

#include <cctype>
#include <utility>

namespace play {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(const std::string& text) {
    std::size_t from = 0, to = text.size();
    while (from < to && isBlank(text[from])) ++from;
    while (to > from && isBlank(text[to - 1])) --to;
    return text.substr(from, to - from);
}

bool startsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// The reply without the line end it was framed by.
std::string withoutLineEnd(const std::string& reply) {
    if (!reply.empty() && reply.back() == '\n') return reply.substr(0, reply.size() - 1);
    return reply;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, from)) {
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    parts.push_back(text.substr(from));
    return parts;
}

// The non-empty entries of a `separator`-joined list, joined by ", ", or
// `none` when there is none.
std::string listed(const std::string& text, char separator, const std::string& none) {
    std::string out;
    for (const std::string& entry : split(text, separator)) {
        if (entry.empty()) continue;
        if (!out.empty()) out += ", ";
        out += entry;
    }
    return out.empty() ? none : out;
}

// The commands of the normal mode in the order the server tries them.
const std::pair<const char*, Kind> kCommandOrder[] = {
    {"SINGLESTEP", Kind::SingleStep}, {"PLACE", Kind::Place},         {"FIRELIST", Kind::FireList},
    {"AUTOFIRE", Kind::AutoFire},     {"AUTOTRANS", Kind::AutoTrans}, {"FIRE", Kind::Fire},
    {"NET", Kind::Net},               {"TIME", Kind::Time},           {"REPLICATION", Kind::Replication},
    {"SETBREAKS", Kind::SetBreaks},   {"BREAKS", Kind::Breaks},       {"EXIT", Kind::Exit},
};

// The answers the server tells apart in single-step mode.
const std::pair<const char*, Kind> kStepOrder[] = {
    {"PLACE", Kind::Place},
    {"FIRELIST", Kind::FireList},
    {"EXIT", Kind::Exit},
};

}  // namespace

std::optional<std::string> normalise(const std::string& line, std::string& error) {
    std::string text = trimmed(line);
    while (!text.empty() && text.back() == '#') text.pop_back();
    text = trimmed(text);
    if (text.empty()) {
        error = "empty command";
        return std::nullopt;
    }
    if (text.find('#') != std::string::npos) {
        error = "\"" + text + "\" holds a '#', which ends a command: give one command at a time";
        return std::nullopt;
    }
    std::size_t end = 0;
    while (end < text.size() && !isBlank(text[end])) ++end;
    std::string wire = text.substr(0, end);
    for (char& c : wire) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string argument = trimmed(text.substr(end));
    if (!argument.empty()) wire += " " + argument;
    return wire + "#";
}

Kind kindOf(const std::string& wire, bool singleStep) {
    if (singleStep) {
        for (const auto& [prefix, kind] : kStepOrder)
            if (startsWith(wire, prefix)) return kind;
        return Kind::Other;
    }
    for (const auto& [prefix, kind] : kCommandOrder)
        if (startsWith(wire, prefix)) return kind;
    return Kind::Other;
}

std::vector<Frame> framesOf(Kind kind, bool singleStep) {
    if (singleStep) {
        // Every answer but EXIT fires the next event, whose report (or the
        // end of the mode) follows what was asked for.
        switch (kind) {
            case Kind::Place: return {Frame::Line, Frame::Line};
            case Kind::FireList: return {Frame::UntilEmptyLine, Frame::Line};
            default: return {Frame::Line};
        }
    }
    switch (kind) {
        case Kind::AutoFire: return {Frame::LineOrNothing};
        case Kind::Net: return {Frame::UntilEmptyLine};
        case Kind::Replication: return {Frame::Byte};
        case Kind::Exit: return {};
        case Kind::Other: return {Frame::Silence};
        default: return {Frame::Line};
    }
}

std::optional<Exchange> prepare(const std::string& line, bool singleStep, std::string& error) {
    const std::optional<std::string> wire = normalise(line, error);
    if (!wire) return std::nullopt;
    Exchange e;
    e.wire = *wire;
    e.singleStep = singleStep;
    e.kind = kindOf(e.wire, singleStep);
    e.frames = framesOf(e.kind, singleStep);
    const std::size_t blank = e.wire.find(' ');
    if (blank != std::string::npos) e.argument = e.wire.substr(blank + 1, e.wire.size() - blank - 2);
    return e;
}

std::optional<std::size_t> partLength(Frame frame, const std::string& received) {
    return partLength(frame, received, 0);
}

std::optional<std::size_t> partLength(Frame frame, const std::string& received, std::size_t searched) {
    if (searched > received.size()) searched = received.size();
    switch (frame) {
        case Frame::Line:
        case Frame::LineOrNothing: {
            const std::size_t end = received.find('\n', searched);
            if (end != std::string::npos) return end + 1;
            return std::nullopt;
        }
        case Frame::UntilEmptyLine: {
            if (startsWith(received, "\n")) return 1;
            const std::size_t end = received.find("\n\n", searched > 0 ? searched - 1 : 0);
            if (end != std::string::npos) return end + 2;
            return std::nullopt;
        }
        case Frame::Byte:
            if (!received.empty()) return 1;
            return std::nullopt;
        case Frame::Silence: return std::nullopt;
    }
    return std::nullopt;
}

bool singleStepAfter(const Exchange& exchange, const std::vector<std::string>& parts, bool before) {
    if (!exchange.singleStep && exchange.kind != Kind::SingleStep) return before;
    // The mode goes on while the server reports a fired event; "Thanx!"
    // (or anything else) ends it.
    return !parts.empty() && startsWith(parts.back(), "Fired:");
}

std::string formatAsItCame(const std::string& reply) {
    if (reply.empty()) return "(no reply)\n";
    return reply.back() == '\n' ? reply : reply + "\n";
}

std::string formatFireList(const std::string& reply) {
    return "can fire: " + listed(withoutLineEnd(reply), ';', "nothing") + "\n";
}

std::string formatStepFireList(const std::string& reply) {
    return "can fire: " + listed(reply, '\n', "nothing") + "\n";
}

std::string formatChangeReport(const std::string& reply) {
    const std::vector<std::string> fields = split(withoutLineEnd(reply), '#');
    if (fields.size() != 4 || !fields[3].empty() || !startsWith(fields[0], "PLACES:") ||
        !startsWith(fields[1], "TRANSITIONS:") || !startsWith(fields[2], "BREAKPOINTS:"))
        return formatAsItCame(reply);
    return "places changed:      " + listed(fields[0].substr(7), ';', "none") + "\n" +
           "can fire now:        " + listed(fields[1].substr(12), ';', "nothing") + "\n" +
           "breakpoints holding: " + listed(fields[2].substr(12), ';', "none") + "\n";
}

std::vector<std::string> splitTokens(const std::string& content) {
    std::vector<std::string> tokens;
    if (content.empty()) return tokens;
    std::string current;
    int depth = 0;
    for (char c : content) {
        if (c == '{') ++depth;
        if (c == '}' && depth > 0) --depth;
        if (c == ',' && depth == 0) {
            tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    tokens.push_back(current);
    return tokens;
}

std::string formatPlace(const std::string& place, const std::string& reply) {
    if (startsWith(reply, "UNKNOWN")) return formatAsItCame(reply);
    const std::vector<std::string> tokens = splitTokens(withoutLineEnd(reply));
    std::string out = place + ": " + std::to_string(tokens.size()) + (tokens.size() == 1 ? " token\n" : " tokens\n");
    for (const std::string& t : tokens) out += "  " + t + "\n";
    return out;
}

std::string formatAutoTrans(const std::string& reply) {
    if (reply == "\n") return "next: nothing (no event)\n";
    const std::vector<std::string> fields = split(withoutLineEnd(reply), '#');
    if (fields.size() != 3 || !fields[2].empty() || !startsWith(fields[0], "TRANSITION:") ||
        !startsWith(fields[1], "DELAY:"))
        return formatAsItCame(reply);
    return "next: " + fields[0].substr(11) + " in " + fields[1].substr(6) + " ms\n";
}

std::string formatTime(const std::string& reply) { return "time: " + withoutLineEnd(reply) + "\n"; }

std::string formatNet(const std::string& reply) {
    // The empty line that ends the reply is the frame, not the net.
    std::string text = reply;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) text.pop_back();
    return "net:\n" + formatAsItCame(text);
}

std::string formatReplication(const std::string& reply) { return "replication: " + reply + "\n"; }

std::string formatBreaks(const std::string& reply) {
    const std::string list = withoutLineEnd(reply);
    return "breakpoints holding: " + (list.empty() ? std::string("none") : list) + "\n";
}

std::string formatStepEvent(const std::string& reply) {
    if (reply == "Thanx!\n") return "single-step mode ended\n";
    if (startsWith(reply, "Fired: ") && reply.size() >= 9 && reply.compare(reply.size() - 2, 2, "#\n") == 0)
        return "fired: " + reply.substr(7, reply.size() - 9) + "\n";
    return formatAsItCame(reply);
}

std::string formatReply(const Exchange& exchange, const std::vector<std::string>& parts) {
    auto part = [&](std::size_t k) { return k < parts.size() ? parts[k] : std::string(); };
    if (exchange.singleStep) {
        switch (exchange.kind) {
            case Kind::Place: return formatPlace(exchange.argument, part(0)) + formatStepEvent(part(1));
            case Kind::FireList: return formatStepFireList(part(0)) + formatStepEvent(part(1));
            default: return formatStepEvent(part(0));
        }
    }
    switch (exchange.kind) {
        case Kind::SingleStep: return formatStepEvent(part(0));
        case Kind::Place: return formatPlace(exchange.argument, part(0));
        case Kind::FireList: return formatFireList(part(0));
        case Kind::AutoFire:
        case Kind::Fire: return part(0).empty() ? formatAsItCame("") : formatChangeReport(part(0));
        case Kind::AutoTrans: return formatAutoTrans(part(0));
        case Kind::Net: return formatNet(part(0));
        case Kind::Time: return formatTime(part(0));
        case Kind::Replication: return formatReplication(part(0));
        case Kind::SetBreaks:
        case Kind::Breaks: return formatBreaks(part(0));
        case Kind::Exit: return "";
        case Kind::Other: return formatAsItCame(part(0));
    }
    return formatAsItCame(part(0));
}

}  // namespace play
