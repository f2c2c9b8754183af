#include "ResultStream.h"

#include <cstring>
#include <utility>

namespace monitor {

namespace {

std::string kindOf(const std::string& tag) {
    if (tag == "Result:Mean") return "estimate";
    if (tag == "Place") return "place";
    if (tag == "Transition") return "transition";
    const std::size_t colon = tag.find(':');
    if (colon != std::string::npos && tag.compare(colon, std::string::npos, ":Display") == 0) return "display";
    return tag;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::optional<Row> parseElementLine(const std::string& line, const std::string& time) {
    // name<tag>;values  or  name<Result:Mean>,<-ConfMin>,<+ConfMax>;mean,lower,upper
    const std::size_t open = line.find('<');
    const std::size_t semicolon = line.find(">;");
    if (open == std::string::npos || open == 0 || semicolon == std::string::npos || semicolon < open)
        return std::nullopt;
    const std::size_t close = line.find('>', open);
    Row row;
    row.time = time;
    row.element = line.substr(0, open);
    row.kind = kindOf(line.substr(open + 1, close - open - 1));
    const std::string values = line.substr(semicolon + 2);
    const std::size_t first = values.find(',');
    row.mean = values.substr(0, first);
    if (first != std::string::npos) {
        const std::size_t second = values.find(',', first + 1);
        row.lower = values.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (second != std::string::npos) row.upper = values.substr(second + 1);
    }
    return row;
}

std::string fileStem(const std::string& netName) {
    std::string stem;
    for (char c : netName) {
        if (stem.size() >= kMaxStemLength) break;
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '_' || c == '-' || (c == '.' && !stem.empty());
        stem += kept ? c : '_';
    }
    return stem.empty() ? "scpn" : stem;
}

std::string csvHeader() { return "time,element,kind,mean,lower,upper\n"; }

std::string csvLine(const Row& row) {
    return csvField(row.time) + "," + csvField(row.element) + "," + csvField(row.kind) + "," +
           csvField(row.mean) + "," + csvField(row.lower) + "," + csvField(row.upper) + "\n";
}

ResultStream::ResultStream(std::function<void(const std::string&)> onLine, std::function<void(const Row&)> onRow)
    : onLine_(std::move(onLine)), onRow_(std::move(onRow)) {}

void ResultStream::feed(const char* data, std::size_t size) {
    if (ended_ || failed()) return;
    // The bytes before the new ones hold no line end: only the new ones
    // are searched, so a line cut into many reads costs no more than one.
    const char* at = data;
    const char* const stop = data + size;
    while (at < stop) {
        const char* end = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)));
        if (end == nullptr) {
            if (partial_.size() + static_cast<std::size_t>(stop - at) > kMaxLine) {
                refuseLongLine(partial_.size() + static_cast<std::size_t>(stop - at), false);
                return;
            }
            partial_.append(at, stop);
            return;
        }
        if (partial_.size() + static_cast<std::size_t>(end - at) > kMaxLine) {
            refuseLongLine(partial_.size() + static_cast<std::size_t>(end - at), true);
            return;
        }
        partial_.append(at, end);
        std::string line;
        line.swap(partial_);
        at = end + 1;
        handle(line);
        if (ended_) return;  // what follows the end message is not part of the run
    }
}

void ResultStream::refuseLongLine(std::size_t length, bool complete) {
    error_ = "a line of " + std::string(complete ? "" : "at least ") + std::to_string(length) +
             " bytes came, longer than the " + std::to_string(kMaxLine) + " a line may have";
    partial_.clear();
}

void ResultStream::handle(const std::string& line) {
    if (onLine_) onLine_(line);
    const std::size_t semicolon = line.find(';');
    const std::string key = semicolon == std::string::npos ? line : line.substr(0, semicolon);
    const std::string value = semicolon == std::string::npos ? "" : line.substr(semicolon + 1);
    if (key == "TIME") {
        time_ = value;
    } else if (key == "NETNAME") {
        netName_ = value;
    } else if (key == "EXIT") {
        ended_ = true;
    } else if (auto row = parseElementLine(line, time_)) {
        if (onRow_) onRow_(*row);
    }
}

}  // namespace monitor
