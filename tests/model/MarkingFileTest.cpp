// The marking file "marking.xml": which elements become tokens of the
// model's integer places, and how a file that cannot be read ends the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Place.h"
#include "model/ModelNet.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using modeltest::BuiltNet;
using modeltest::placeNames;
using testsupport::runScpnsim;
using testsupport::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<long> values(const Place& place) {
    std::vector<long> out;
    for (const Ptr<Token>& t : place.getFullMarking()) {
        Ptr<Token_int> i = ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(t);
        EXPECT_TRUE(i != 0) << place.getName() << " holds a token of colour " << t->getName();
        if (i != 0) out.push_back(i->getValue());
    }
    return out;
}

// The last line of a text that ends with a line end.
std::string lastLine(const std::string& text) {
    if (text.empty() || text.back() != '\n') return "";
    const std::size_t start = text.rfind('\n', text.size() - 2);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

const std::vector<std::string> kRunArgs = {"-S", "--mstart", "0", "--mstop", "1", "--seed", "1"};
const char* const kSummary = "total simulation time: ";

}  // namespace

// ---------------------------------------------------------------------------
// What is read

TEST(MarkingFileTokens, EveryTokenElementOfAPlaceAtAnyDepthInDocumentOrder) {
    BuiltNet n(
        "<?xml version=\"1.0\"?>\n"
        "<anything>\n"
        "  <token place=\"C1_sem\" value=\"5\"/>\n"
        "  <layer a=\"1\"><layer><layer><token place=\"P_thread_pool\" value=\"11\"/></layer></layer></layer>\n"
        "  <token place=\"P_thread_pool\"/>\n"
        "  <token place=\"Binary_tp\" value=\"1\"/>\n"
        "  <token place=\"p_thread_pool\" value=\"2\"/>\n"
        "  <token place=\"P_thread_pool \" value=\"3\"/>\n"
        "  <token value=\"4\"/>\n"
        "  <tokens place=\"P_thread_pool\" value=\"5\"/>\n"
        "  <Token place=\"P_thread_pool\" value=\"6\"/>\n"
        "  <other><token place=\"P_thread_pool\" value=\"  -8x\"/></other>\n"
        "  <token place=\"C1_sem\" value=\"abc\"/>\n"
        "  <token place=\"P_thread_pool\" value=\"+9\">text <b>inside</b></token>\n"
        "</anything>\n");
    EXPECT_EQ(values(n.place("P_thread_pool")), (std::vector<long>{11, 0, -8, 9}));
    EXPECT_EQ(values(n.place("C1_sem")), (std::vector<long>{5, 0}));
    // Elements for places that no loader asks for change nothing.
    for (const std::string& p : placeNames())
        if (p != "P_thread_pool" && p != "C1_sem") {
            EXPECT_EQ(n.place(p).getMarkingSize(), 0) << p;
        }
}

TEST(MarkingFileTokens, AFileWithoutTokensOfThePlacesLeavesThemEmpty) {
    BuiltNet n("<marking><token place=\"Binary_main\" value=\"1\"/></marking>");
    EXPECT_EQ(n.place("P_thread_pool").getMarkingSize(), 0);
    EXPECT_EQ(n.place("C1_sem").getMarkingSize(), 0);
    EXPECT_EQ(n.place("Binary_main").getMarkingSize(), 0);
}

TEST(MarkingFileTokens, IntegerLoaderFillsAnyPlaceByItsName) {
    TempDir dir;
    dir.write("marking.xml",
              "<m><token place=\"Queue\" value=\"3\"/><x><token place=\"Queue\" value=\"-1\"/></x>"
              "<token place=\"queue\" value=\"7\"/></m>");
    testsupport::ScopedCwd cwd(dir.path());
    testnet::TestNet net;
    Place queue(1, "Queue", &net, false, 0);
    Token_int::addInitialTokens(&queue);
    EXPECT_EQ(values(queue), (std::vector<long>{3, -1}));
    // Each call reads the file anew.
    Token_int::addInitialTokens(&queue);
    EXPECT_EQ(values(queue), (std::vector<long>{3, -1, 3, -1}));
    std::vector<long> ids;
    for (const Ptr<Token>& t : queue.getFullMarking()) ids.push_back(t->getID());
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

TEST(MarkingFileTokensDeathTest, MissingFileEndsTheBuildWithStatus1) {
    TempDir dir;
    EXPECT_EXIT(
        {
            testsupport::ScopedCwd cwd(dir.path());
            ImplementedNetClass net;
            net.buildNet();
        },
        ::testing::ExitedWithCode(1), "");
}

// ---------------------------------------------------------------------------
// Through the executable

TEST(MarkingFileRun, MissingFileIsReportedAndEndsWithStatus1) {
    TempDir dir;
    auto r = runScpnsim(kRunArgs, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    const std::string line = lastLine(r.out);
    EXPECT_EQ(line.rfind("Xerces SAX Exception message is: ", 0), 0u) << r.out;
    EXPECT_TRUE(contains(line, "marking.xml")) << line;
    EXPECT_FALSE(contains(r.out, kSummary)) << r.out;
    EXPECT_FALSE(contains(r.out, "Running simulation from")) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(MarkingFileRun, MalformedFilesAreReportedAndEndWithStatus1) {
    for (const std::string& text :
         {std::string("<marking><token place=\"P_thread_pool\" value=\"0\""),
          std::string("<marking><token place=\"P_thread_pool\" value=\"0\"/></markin>"),
          std::string("not xml at all"), std::string("")}) {
        SCOPED_TRACE(text);
        TempDir dir;
        dir.write("marking.xml", text);
        auto r = runScpnsim(kRunArgs, dir.path());
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(lastLine(r.out).rfind("Xerces SAX Exception message is: ", 0), 0u) << r.out;
        EXPECT_FALSE(contains(r.out, kSummary)) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(MarkingFileRun, NestedTokensAndForeignElementsRunToCompletion) {
    TempDir dir;
    dir.write("marking.xml",
              "<?xml version=\"1.0\"?>\n"
              "<setup><pool><deep><token place=\"P_thread_pool\" value=\"0\"/></deep>"
              "<token place=\"P_thread_pool\"/></pool>\n"
              "<note>free text</note><token place=\"Binary_main\" value=\"1\"/>\n"
              "<sem><token place=\"C1_sem\"/><token place=\"C1_sem\"/><token place=\"C1_sem\"/>"
              "<token place=\"C1_sem\"/><token place=\"C1_sem\"/></sem></setup>\n");
    auto r = runScpnsim(kRunArgs, dir.path());
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_TRUE(contains(r.out, kSummary)) << r.out;
    EXPECT_FALSE(contains(r.out, "Xerces")) << r.out;
}
