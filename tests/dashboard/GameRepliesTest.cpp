// The dashboard checks every reply of the token game before the page sees
// it: well-formed replies are read, anything else is refused.
#include <gtest/gtest.h>

#include <string>

#include "GameClient.h"
#include "support/TestSupport.h"

using namespace dashboard;

TEST(GameReplies, ChangeReportsAreReadAndMalformedOnesRefused) {
    const auto r = parseChangeReport("PLACES:P1;P2;P1#TRANSITIONS:T1#BREAKPOINTS:0;2#\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->places, (std::vector<std::string>{"P1", "P2", "P1"}));
    EXPECT_EQ(r->transitions, (std::vector<std::string>{"T1"}));
    EXPECT_EQ(r->breakpoints, (std::vector<int>{0, 2}));
    const auto none = parseChangeReport("PLACES:#TRANSITIONS:#BREAKPOINTS:#\n");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->places.empty() && none->transitions.empty() && none->breakpoints.empty());
    for (const char* bad : {"PLACES:P1#TRANSITIONS:T1#BREAKPOINTS:#",   // no line end
                                  "PLACES:P1#TRANSITIONS:T1#\n",               // a field missing
                                  "PLACES:<b>x</b>#TRANSITIONS:#BREAKPOINTS:#\n",  // not a name
                                  "PLACES:P1#TRANSITIONS:T1#BREAKPOINTS:x#\n", "UNKNOWN TRANSITION X\n", ""})
        EXPECT_FALSE(parseChangeReport(bad)) << bad;
}

TEST(GameReplies, FireListNetPlaceTimeAndBreakpoints) {
    EXPECT_EQ(*parseFireList("S_ready;P_In_ready\n"), (std::vector<std::string>{"S_ready", "P_In_ready"}));
    EXPECT_TRUE(parseFireList("\n")->empty());
    EXPECT_FALSE(parseFireList("S_ready;;X\n"));
    EXPECT_FALSE(parseFireList("S_ready"));
    EXPECT_FALSE(parseFireList("a b\n"));

    EXPECT_EQ(*parseNetPlaces("Places:\n\tA -> A\n\tB -> B\nTransitions:\n\tT -> T\n\n"),
              (std::vector<std::string>{"A", "B"}));
    EXPECT_FALSE(parseNetPlaces("Places:\n\tA -> A\n\n")) << "no transitions part";
    EXPECT_FALSE(parseNetPlaces("Places:\n\tA -> <img>\nTransitions:\n\n"));
    EXPECT_FALSE(parseNetPlaces("garbage\n\n"));

    EXPECT_EQ(*parsePlace("{1,2},{3,4},7\n"), (std::vector<std::string>{"{1,2}", "{3,4}", "7"}));
    EXPECT_TRUE(parsePlace("\n")->empty());
    EXPECT_FALSE(parsePlace("UNKNOWN PLACE X\n"));
    EXPECT_FALSE(parsePlace("1,2"));

    EXPECT_EQ(*parseTime("00:00:05@01/01/1970\n"), "00:00:05@01/01/1970");
    EXPECT_FALSE(parseTime("soon\n"));
    EXPECT_EQ(*parseBreakpoints("0;3\n"), (std::vector<int>{0, 3}));
    EXPECT_TRUE(parseBreakpoints("\n")->empty());
    EXPECT_FALSE(parseBreakpoints("0;x\n"));
}

TEST(GameReplies, WhatThePageMaySendIsChecked) {
    EXPECT_TRUE(validName("A3_execution"));
    for (const std::string& bad : std::vector<std::string>{"", "A#B", "A B", "x<script>", std::string(201, 'a'), "EXIT#"})
        EXPECT_FALSE(validName(bad)) << bad;
    EXPECT_TRUE(validBreakpoints("Binary_accuracy:>=:0.5;x;fsdf:<:10"));
    EXPECT_TRUE(validBreakpoints(""));
    EXPECT_FALSE(validBreakpoints("a:>:1#EXIT"));
    EXPECT_FALSE(validBreakpoints("a:>:1\nFIRE"));
}

TEST(GameReplies, PrioritiesComeFromTheModelDescription) {
    testsupport::TempDir dir;
    dir.write("m.xml", "<net><transition id=\"1\" name=\"A\" weight=\"0\" priority=\"2\" exp=\"true\">\n"
                       "</transition><transition name=\"B\" id=\"2\"/></net>");
    const auto p = readPriorities(dir.file("m.xml"));
    EXPECT_EQ(p.at("A"), 2);
    EXPECT_EQ(p.at("B"), 0);
    EXPECT_TRUE(readPriorities(dir.file("missing.xml")).empty());
    const auto model = readPriorities(std::string(SCPNSIM_SOURCE_DIR) + "/model/scpnsim.xml");
    EXPECT_EQ(model.size(), 53u);
}
