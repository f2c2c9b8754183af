// The token-game client without a server: what a typed line becomes on the
// wire, how each reply is framed, how it reads, and when single-step mode ends.
#include "PlayProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using play::Frame;
using play::Kind;

namespace {

play::Exchange exchangeFor(const std::string& line, bool singleStep) {
    std::string error;
    const std::optional<play::Exchange> e = play::prepare(line, singleStep, error);
    EXPECT_TRUE(e.has_value()) << line << ": " << error;
    return e.value_or(play::Exchange{});
}

}  // namespace

TEST(PlayProtocol, LinesBecomeOneCommandWithAnUpperCaseWord) {
    const std::pair<const char*, const char*> cases[] = {
        {"firelist", "FIRELIST#"},         {"  Time ##  ", "TIME#"},
        {"next\r\n", "NEXT#"},             {"place   p_thread_pool  ", "PLACE p_thread_pool#"},
        {"fire\tS_ready#", "FIRE S_ready#"}, {"setbreaks a:>=:2;b:<:0.5", "SETBREAKS a:>=:2;b:<:0.5#"},
    };
    for (const auto& [line, wire] : cases) {
        std::string error;
        EXPECT_EQ(play::normalise(line, error).value_or("refused: " + error), wire) << line;
    }
    for (const char* refused : {"", "   ", " ## ", "TIME#FIRELIST", "PLACE a#b#"}) {
        std::string error;
        EXPECT_FALSE(play::normalise(refused, error).has_value()) << refused;
        EXPECT_FALSE(error.empty()) << refused;
    }
}

TEST(PlayProtocol, EachCommandHasTheKindAndFramingOfItsReply) {
    const struct {
        const char* line;
        bool singleStep;
        Kind kind;
        std::vector<Frame> frames;
    } cases[] = {
        {"singlestep", false, Kind::SingleStep, {Frame::Line}},   {"PLACE P", false, Kind::Place, {Frame::Line}},
        {"FIRELIST", false, Kind::FireList, {Frame::Line}},       {"FIRE T", false, Kind::Fire, {Frame::Line}},
        {"AUTOFIRE", false, Kind::AutoFire, {Frame::LineOrNothing}},
        {"AUTOTRANS", false, Kind::AutoTrans, {Frame::Line}},     {"BREAKS", false, Kind::Breaks, {Frame::Line}},
        {"NET", false, Kind::Net, {Frame::UntilEmptyLine}},       {"TIME", false, Kind::Time, {Frame::Line}},
        {"REPLICATION", false, Kind::Replication, {Frame::Byte}}, {"EXIT", false, Kind::Exit, {}},
        {"SETBREAKS a:=:1", false, Kind::SetBreaks, {Frame::Line}},
        {"HELLO", false, Kind::Other, {Frame::Silence}},          {"TIMEOUT", false, Kind::Time, {Frame::Line}},
        {"PLACE P", true, Kind::Place, {Frame::Line, Frame::Line}},
        {"FIRELIST", true, Kind::FireList, {Frame::UntilEmptyLine, Frame::Line}},
        {"EXIT", true, Kind::Exit, {Frame::Line}},               {"TIME", true, Kind::Other, {Frame::Line}},
    };
    for (const auto& c : cases) {
        const play::Exchange e = exchangeFor(c.line, c.singleStep);
        EXPECT_EQ(e.kind, c.kind) << c.line;
        EXPECT_EQ(e.frames, c.frames) << c.line;
    }
    EXPECT_EQ(exchangeFor("place  P_thread_pool", false).argument, "P_thread_pool");
}

TEST(PlayProtocol, APartEndsExactlyWhereItsFrameSays) {
    const struct {
        Frame frame;
        const char* received;
        std::optional<std::size_t> length;
    } cases[] = {
        {Frame::Line, "A3_execution;S_re", std::nullopt}, {Frame::Line, "A;S\n", 4},
        {Frame::Line, "Fired: A#\nFired", 10},            {Frame::LineOrNothing, "", std::nullopt},
        {Frame::UntilEmptyLine, "Places:\n\tP -> P\n", std::nullopt},
        {Frame::UntilEmptyLine, "Places:\nTransitions:\n\n", 22},
        {Frame::UntilEmptyLine, "\n", 1},                 {Frame::UntilEmptyLine, "A\nB\n\nFired", 5},
        {Frame::Byte, "", std::nullopt},                  {Frame::Byte, "0TIME", 1},
        {Frame::Silence, "anything\n", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(play::partLength(c.frame, c.received), c.length) << c.received;
}

TEST(PlayProtocol, APartGrowingByteByByteEndsWhereTheWholeSearchSays) {
    // Searching only what came since the last look finds the same end as
    // searching everything, also when a two-byte end is cut between looks.
    const std::string replies[] = {"A;S\nmore", "Places:\n\tP -> P\nTransitions:\n\nFired", "\nX", "A\n\n",
                                   "no end at all", "\n\n\n"};
    for (Frame frame : {Frame::Line, Frame::LineOrNothing, Frame::UntilEmptyLine, Frame::Byte, Frame::Silence})
        for (const std::string& reply : replies)
            for (std::size_t step = 1; step <= 3; ++step) {
                std::string received;
                std::size_t searched = 0;
                std::optional<std::size_t> found;
                for (std::size_t at = 0; at < reply.size() && !found; at += step) {
                    received = reply.substr(0, std::min(reply.size(), at + step));
                    found = play::partLength(frame, received, searched);
                    if (!found) {
                        EXPECT_FALSE(play::partLength(frame, received).has_value()) << reply;
                        searched = received.size();
                    }
                }
                EXPECT_EQ(found, play::partLength(frame, received)) << reply << " step " << step;
                EXPECT_EQ(found, play::partLength(frame, reply)) << reply << " step " << step;
            }
}

TEST(PlayProtocol, RepliesReadAsLabelledTextAndSingleStepModeLastsWhileEventsAreFired) {
    const struct {
        const char* line;
        bool singleStep;
        std::vector<std::string> parts;
        const char* shown;
        bool singleStepAfter;
    } cases[] = {
        {"FIRELIST", false, {"A3_execution;S_ready\n"}, "can fire: A3_execution, S_ready\n", false},
        {"FIRELIST", false, {"\n"}, "can fire: nothing\n", false},
        {"PLACE P_thread_pool", false, {"0,0,0,0\n"}, "P_thread_pool: 4 tokens\n  0\n  0\n  0\n  0\n", false},
        {"PLACE C1_sem", false, {"\n"}, "C1_sem: 0 tokens\n", false},
        {"PLACE J", false, {"{id=1; k={a=1,b=2}},{id=3}\n"}, "J: 2 tokens\n  {id=1; k={a=1,b=2}}\n  {id=3}\n", false},
        {"PLACE nosuch", false, {"UNKNOWN PLACE nosuch\n"}, "UNKNOWN PLACE nosuch\n", false},
        {"FIRE S_ready", false, {"PLACES:P_a;P_b#TRANSITIONS:S_ready;A3#BREAKPOINTS:0;2#\n"},
         "places changed:      P_a, P_b\ncan fire now:        S_ready, A3\nbreakpoints holding: 0, 2\n", false},
        {"AUTOFIRE", false, {"PLACES:#TRANSITIONS:#BREAKPOINTS:#\n"},
         "places changed:      none\ncan fire now:        nothing\nbreakpoints holding: none\n", false},
        {"AUTOFIRE", false, {""}, "(no reply)\n", false},
        {"FIRE x", false, {"PLACES:a#TRANSITIONS:b\n"}, "PLACES:a#TRANSITIONS:b\n", false},  // as it came
        {"AUTOTRANS", false, {"TRANSITION:S_ready#DELAY:1500#\n"}, "next: S_ready in 1500 ms\n", false},
        {"AUTOTRANS", false, {"\n"}, "next: nothing (no event)\n", false},
        {"TIME", false, {"00:00:01@01/01/1970\n"}, "time: 00:00:01@01/01/1970\n", false},
        {"NET", false, {"Places:\n\tP -> P\nTransitions:\n\n"}, "net:\nPlaces:\n\tP -> P\nTransitions:\n", false},
        {"REPLICATION", false, {"0"}, "replication: 0\n", false},
        {"BREAKS", false, {"0;1\n"}, "breakpoints holding: 0;1\n", false},
        {"SETBREAKS a:=:1", false, {"\n"}, "breakpoints holding: none\n", false},
        {"HELLO", false, {""}, "(no reply)\n", false},
        {"SINGLESTEP", false, {"Fired: S_ready#\n"}, "fired: S_ready\n", true},
        {"SINGLESTEP", false, {"Thanx!\n"}, "single-step mode ended\n", false},
        {"NEXT", true, {"Thanx!\n"}, "single-step mode ended\n", false},
        {"PLACE C1_sem", true, {"0,0\n", "Fired: B#\n"}, "C1_sem: 2 tokens\n  0\n  0\nfired: B\n", true},
        {"FIRELIST", true, {"A\nB\n\n", "Fired: C#\n"}, "can fire: A, B\nfired: C\n", true},
        {"FIRELIST", true, {"\n", "Thanx!\n"}, "can fire: nothing\nsingle-step mode ended\n", false},
        {"TIME", false, {"Fired: x#\n"}, "time: Fired: x#\n", false},  // only the dialogue changes the mode
    };
    for (const auto& c : cases) {
        const play::Exchange e = exchangeFor(c.line, c.singleStep);
        EXPECT_EQ(play::formatReply(e, c.parts), c.shown) << c.line;
        EXPECT_EQ(play::singleStepAfter(e, c.parts, c.singleStep), c.singleStepAfter) << c.line;
    }
}
