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

// The start of a file name made from the net name the peer sent, safe to
// put in the working folder: only letters, digits, '.', '_' and '-' stay
// (anything else, '/' above all, becomes '_'), a leading '.' becomes '_' (no
// hidden file, no "..") and at most kMaxStemLength characters are kept;
// "scpn" when nothing is left.
constexpr std::size_t kMaxStemLength = 64;
std::string fileStem(const std::string& netName);

// Splits the byte stream into lines and follows the run: its net name, the
// current time, the rows, and whether the end message came.
//
// Nothing after the end message ("EXIT;...") is handled, even when it came
// in the same read. A line may hold up to kMaxLine bytes before its line
// end: the simulation's lines are far shorter, so a longer one means the
// peer is not a simulation (or is broken), and the stream stops there
// (failed() tells, error() says why) rather than keep an unbounded line.
class ResultStream {
public:
    static constexpr std::size_t kMaxLine = 65536;

    // `onLine` sees every complete line (without its line end), `onRow`
    // every element line as a row.
    ResultStream(std::function<void(const std::string&)> onLine, std::function<void(const Row&)> onRow);

    // Feeds received bytes; complete lines are handled at once. Each byte is
    // looked at once, however the stream is cut. Does nothing once the
    // stream has ended or failed.
    void feed(const char* data, std::size_t size);

    const std::string& netName() const { return netName_; }
    bool ended() const { return ended_; }              // "EXIT;0" arrived
    bool failed() const { return !error_.empty(); }   // a line longer than kMaxLine came
    const std::string& error() const { return error_; }
    const std::string& pending() const { return partial_; }  // bytes of an unfinished line

private:
    void handle(const std::string& line);
    void refuseLongLine(std::size_t length, bool complete);

    std::function<void(const std::string&)> onLine_;
    std::function<void(const Row&)> onRow_;
    std::string partial_;
    std::string error_;
    std::string time_;
    std::string netName_;
    bool ended_ = false;
};

}  // namespace monitor
