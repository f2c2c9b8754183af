#pragma once
// The client side of the token game: what a line the user typed becomes on
// the wire, how the server frames its reply to it, and how the reply reads
// for a person.
//
// The server takes one '#'-terminated command per message and decides what
// it is by the first of these prefixes that the message starts with:
// SINGLESTEP, PLACE, FIRELIST, AUTOFIRE, AUTOTRANS, FIRE, NET, TIME,
// REPLICATION, SETBREAKS, BREAKS, EXIT; anything else it ignores without a
// reply. In single-step mode every message answers the event just fired:
// PLACE and FIRELIST ask for a look before the next event, EXIT leaves the
// mode, anything else fires the next event.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace play {

// What a message asks the server for.
enum class Kind {
    SingleStep,
    Place,
    FireList,
    AutoFire,
    AutoTrans,
    Fire,
    Net,
    Time,
    Replication,
    SetBreaks,
    Breaks,
    Exit,
    Other,  // a word the server does not know (in single-step mode: fire the next event)
};

// How one part of a reply ends.
enum class Frame {
    Line,            // one line, up to and including its '\n'
    LineOrNothing,   // one line, or nothing at all (AUTOFIRE without an event)
    UntilEmptyLine,  // lines up to and including the first empty one (NET; FIRELIST in single-step mode)
    Byte,            // exactly one byte (REPLICATION)
    Silence,         // nothing is expected; whatever comes within the wait is shown as it is
};

// One message and the reply it gets.
struct Exchange {
    std::string wire;           // the message as sent, ending in '#'
    Kind kind = Kind::Other;
    std::string argument;       // the text after the command word (place, transition, breakpoints)
    bool singleStep = false;    // sent as the answer to an event in single-step mode
    std::vector<Frame> frames;  // the parts of the reply, in order; none after EXIT
};

// Turns a line into a message: blanks around it and a final '#' go, the
// command word (up to the first blank) is upper-cased, one blank separates
// it from the argument, which is kept as typed, and '#' is appended.
// Nothing (and `error` says why) for an empty line or one with a '#' inside,
// which the server would take for several commands at once.
std::optional<std::string> normalise(const std::string& line, std::string& error);

// The kind of a normalised message, by the server's rule for the mode.
Kind kindOf(const std::string& wire, bool singleStep);

// The parts of the reply to a message of `kind`.
std::vector<Frame> framesOf(Kind kind, bool singleStep);

// The message a line becomes, with its kind, argument and framing.
std::optional<Exchange> prepare(const std::string& line, bool singleStep, std::string& error);

// The length of the complete part at the start of `received`, nothing while
// more bytes are needed. A Silence part is never complete: it ends with the
// wait.
std::optional<std::size_t> partLength(Frame frame, const std::string& received);
// The same for a reply that grows: the first `searched` bytes of `received`
// were looked at before and held no complete part, so only the bytes after
// them (and the one before, where a two-byte end may begin) are searched.
// Reading a reply of n bytes in pieces thus costs O(n), not O(n^2).
std::optional<std::size_t> partLength(Frame frame, const std::string& received, std::size_t searched);

// True when the server is still in single-step mode after the reply `parts`
// to `exchange`, which was sent in mode `before`.
bool singleStepAfter(const Exchange& exchange, const std::vector<std::string>& parts, bool before);

// Readable forms of the replies, each ending in '\n'. A reply that does not
// have the expected form (such as "UNKNOWN ...") is shown as it came.
std::string formatFireList(const std::string& reply);
std::string formatStepFireList(const std::string& reply);
std::string formatChangeReport(const std::string& reply);
std::string formatPlace(const std::string& place, const std::string& reply);
std::string formatAutoTrans(const std::string& reply);
std::string formatTime(const std::string& reply);
std::string formatNet(const std::string& reply);
std::string formatReplication(const std::string& reply);
std::string formatBreaks(const std::string& reply);
std::string formatStepEvent(const std::string& reply);
// A reply as it came, with a line end when it has none; "(no reply)" for none.
std::string formatAsItCame(const std::string& reply);

// The readable form of the whole reply to an exchange (one entry of `parts`
// per frame; an empty entry where a part may be missing and was).
std::string formatReply(const Exchange& exchange, const std::vector<std::string>& parts);

// The token texts of a place's content: split at the commas between tokens,
// not at those inside a record token's braces.
std::vector<std::string> splitTokens(const std::string& content);

}  // namespace play
