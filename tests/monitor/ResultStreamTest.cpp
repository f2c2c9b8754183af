// The monitor's reading of a result channel: lines cut anywhere by the
// transport, element lines of every kind, and the CSV rows they become.
#include "ResultStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
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

TEST(ResultStream, TheNetNameBecomesAFileNameInTheWorkingFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"scpnsim", "scpnsim"},
        {"My-Net_2.v1", "My-Net_2.v1"},
        {"../../x", "_._.._x"},
        {"/abs/path", "_abs_path"},
        {"..", "_."},
        {".hidden", "_hidden"},
        {"a b\\c:d\te", "a_b_c_d_e"},
        {"caf\xc3\xa9", "caf__"},
        {std::string("nul\0byte", 8), "nul_byte"},
        {"", "scpn"},
    };
    for (const auto& [name, stem] : cases) EXPECT_EQ(monitor::fileStem(name), stem) << name;
    const std::string longName(1000, 'n');
    EXPECT_EQ(monitor::fileStem(longName), std::string(monitor::kMaxStemLength, 'n'));
    for (const auto& [name, stem] : cases) {
        const std::string s = monitor::fileStem(name);
        EXPECT_EQ(s.find('/'), std::string::npos);
        EXPECT_NE(s.front(), '.');
    }
}

TEST(ResultStream, NothingAfterTheEndMessageIsHandled) {
    std::vector<std::string> lines;
    std::vector<Row> rows;
    monitor::ResultStream stream([&](const std::string& l) { lines.push_back(l); },
                                 [&](const Row& r) { rows.push_back(r); });
    const std::string wire = "NETNAME;n\nTIME;1\na<Place>;1\nEXIT;0\nTIME;2\nafter<Place>;2\nNETNAME;other\n";
    stream.feed(wire.data(), wire.size());
    stream.feed("more<Place>;3\n", 14);
    EXPECT_EQ(lines, (std::vector<std::string>{"NETNAME;n", "TIME;1", "a<Place>;1", "EXIT;0"}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].element, "a");
    EXPECT_TRUE(stream.ended());
    EXPECT_FALSE(stream.failed());
    EXPECT_EQ(stream.netName(), "n");
}

TEST(ResultStream, ALineMayHoldUpToTheLimitAndALongerOneStopsTheStream) {
    const std::size_t limit = monitor::ResultStream::kMaxLine;
    for (std::size_t piece : {std::size_t{1000}, std::size_t{4096}, limit + 10}) {
        SCOPED_TRACE(piece);
        // Exactly the limit, cut into pieces: taken whole.
        std::vector<std::string> lines;
        monitor::ResultStream stream([&](const std::string& l) { lines.push_back(l); }, nullptr);
        const std::string wire = "NETNAME;n\n" + std::string(limit, 'x') + "\nTIME;1\n";
        for (std::size_t at = 0; at < wire.size(); at += piece)
            stream.feed(wire.data() + at, std::min(piece, wire.size() - at));
        EXPECT_FALSE(stream.failed()) << stream.error();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1].size(), limit);
        EXPECT_EQ(lines[2], "TIME;1");

        // One byte more, ended or not: refused once it is known, the lines
        // before it handled, nothing after it.
        for (const char* tail : {"\nTIME;2\n", ""}) {
            lines.clear();
            monitor::ResultStream longer([&](const std::string& l) { lines.push_back(l); }, nullptr);
            const std::string more = "NETNAME;n\n" + std::string(limit + 1, 'x') + tail;
            for (std::size_t at = 0; at < more.size(); at += piece)
                longer.feed(more.data() + at, std::min(piece, more.size() - at));
            EXPECT_TRUE(longer.failed());
            EXPECT_NE(longer.error().find("longer than the 65536 a line may have"), std::string::npos)
                << longer.error();
            EXPECT_EQ(lines, std::vector<std::string>{"NETNAME;n"});
            EXPECT_TRUE(longer.pending().empty());
            EXPECT_FALSE(longer.ended());
            longer.feed("\nEXIT;0\n", 8);
            EXPECT_FALSE(longer.ended());
        }
    }
}
