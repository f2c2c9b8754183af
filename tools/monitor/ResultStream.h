#pragma once
// What a front end makes of the result channel of a simulation: the lines
// arrive as a byte stream ("KEY;value" lines and element lines
// "name<tag>;v[,lower,upper]"), and every element line becomes one row of
// estimates over simulated time.
#include <functional>
#include <optional>
#include <string>

namespace monitor {

// One value the simulation reported: a measure's estimate with its interval,
// the token count of a watched place, the fire count of a watched
// transition, or a transition's display value.
struct Row {
    std::string time;     // the last TIME; before it, as sent
    std::string element;  // the model's name of the measure, place or transition
    std::string kind;     // "estimate", "place", "transition", "display" (or the raw tag)
    std::string mean;     // the value
    std::string lower;    // the interval, for estimates only
    std::string upper;
};

// Parses one element line; nothing when the line is not one.
std::optional<Row> parseElementLine(const std::string& line, const std::string& time);

// The CSV text of a row (with its line end), and the header line.
std::string csvHeader();
std::string csvLine(const Row& row);

// Splits the byte stream into lines and follows the run: its net name, the
// current time, the rows, and whether the end message came.
class ResultStream {
public:
    // `onLine` sees every complete line (without its line end), `onRow`
    // every element line as a row.
    ResultStream(std::function<void(const std::string&)> onLine, std::function<void(const Row&)> onRow);

    // Feeds received bytes; complete lines are handled at once.
    void feed(const char* data, std::size_t size);

    const std::string& netName() const { return netName_; }
    bool ended() const { return ended_; }              // "EXIT;0" arrived
    const std::string& pending() const { return partial_; }  // bytes of an unfinished line

private:
    void handle(const std::string& line);

    std::function<void(const std::string&)> onLine_;
    std::function<void(const Row&)> onRow_;
    std::string partial_;
    std::string time_;
    std::string netName_;
    bool ended_ = false;
};

}  // namespace monitor
