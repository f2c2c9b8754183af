// The monitor's reading of a result channel: lines cut anywhere by the
// transport, element lines of every kind, and the CSV rows they become.
#include "ResultStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using monitor::Row;

TEST(ResultStream, LinesSplitAnywhereAreJoinedAndFollowTheRun) {
    const std::string wire =
        "NETNAME;scpnsim\nXTICKFORMAT;0\nSTARTTIME;0\nENDTIME;100\nTIME;0\n"
        "TIME;25\nC1_in_use<Result:Mean>,<-ConfMin>,<+ConfMax>;1.5,1.25,1.75\n"
        "TIME;26.5\nS_ready<Transition>;3\n"
        "TIME;27\nP_thread_pool<Place>;4\n"
        "TIME;28\nA3_execution<Transition:Display>;0.3333333333333333\n"
        "EXIT;0\n";
    // Every way of cutting the stream in two gives the same lines and rows.
    for (std::size_t cut = 0; cut <= wire.size(); cut += 7) {
        std::vector<std::string> lines;
        std::vector<Row> rows;
        monitor::ResultStream stream([&](const std::string& l) { lines.push_back(l); },
                                     [&](const Row& r) { rows.push_back(r); });
        stream.feed(wire.data(), cut);
        EXPECT_FALSE(stream.ended() && cut < wire.size()) << cut;
        stream.feed(wire.data() + cut, wire.size() - cut);
        ASSERT_EQ(lines.size(), 14u) << cut;
        EXPECT_EQ(lines.front(), "NETNAME;scpnsim");
        EXPECT_EQ(lines.back(), "EXIT;0");
        EXPECT_TRUE(stream.ended());
        EXPECT_EQ(stream.netName(), "scpnsim");
        EXPECT_TRUE(stream.pending().empty());
        ASSERT_EQ(rows.size(), 4u) << cut;
        EXPECT_EQ(monitor::csvLine(rows[0]), "25,C1_in_use,estimate,1.5,1.25,1.75\n");
        EXPECT_EQ(monitor::csvLine(rows[1]), "26.5,S_ready,transition,3,,\n");
        EXPECT_EQ(monitor::csvLine(rows[2]), "27,P_thread_pool,place,4,,\n");
        EXPECT_EQ(monitor::csvLine(rows[3]), "28,A3_execution,display,0.3333333333333333,,\n");
    }
}

TEST(ResultStream, OnlyElementLinesBecomeRows) {
    for (const char* line : {"TIME;3", "NETNAME;x", "garbage", "<Place>;3", "name;3", "EXIT;0", ""})
        EXPECT_FALSE(monitor::parseElementLine(line, "1").has_value()) << line;
    const auto row = monitor::parseElementLine("odd,name<Place>;7", "2");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(monitor::csvLine(*row), "2,\"odd,name\",place,7,,\n");
    EXPECT_EQ(monitor::csvHeader(), "time,element,kind,mean,lower,upper\n");
}
