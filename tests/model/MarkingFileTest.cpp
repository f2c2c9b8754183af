// The marking file "marking.xml": which elements become tokens of the
// model's integer places, that it is read once, what it may hold, how it is
// checked against the net, and how a file that cannot be read ends the program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "Token_Data.h"
#include "core/Place.h"
#include "io/MarkingFile.h"
#include "model/ModelNet.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using modeltest::BuiltNet;
using modeltest::placeNames;
using testsupport::CaptureStream;
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
        "  <other><token place=\"P_thread_pool\" value=\"  -8 \"/></other>\n"
        "  <token place=\"C1_sem\"/>\n"
        "  <token place=\"P_thread_pool\" value=\"+9\">text <b>inside</b></token>\n"
        "  <token place=\"P_thread_pool\" value=\"-9223372036854775808\"/>\n"
        "</anything>\n");
    EXPECT_EQ(values(n.place("P_thread_pool")), (std::vector<long>{11, 0, -8, 9, LONG_MIN}));
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
    // Later calls load the marking read first, even from a changed file,
    // until it is forgotten.
    dir.write("marking.xml", "<m><token place=\"Queue\" value=\"8\"/></m>");
    Token_int::addInitialTokens(&queue);
    EXPECT_EQ(values(queue), (std::vector<long>{3, -1, 3, -1}));
    MarkingFile::forget();
    Token_int::addInitialTokens(&queue);
    EXPECT_EQ(values(queue), (std::vector<long>{3, -1, 3, -1, 8}));
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

TEST(MarkingFileRun, AnythingButARegularFileIsRefusedAtOnce) {
    // A FIFO nobody writes to held the start-up for ever; a folder or a
    // device is no marking either. Each is refused before it is read.
    struct Case {
        const char* kind;
        void (*make)(const std::filesystem::path&);
    };
    const Case cases[] = {
        {"a FIFO", [](const std::filesystem::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }},
        {"a character device",
         [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        TempDir dir;
        c.make(dir.path() / "marking.xml");
        testsupport::RunningProcess run(SCPNSIM_EXE, kRunArgs, dir.path());
        // Generous: the refusal comes at start-up; a hang is killed with the child.
        ASSERT_TRUE(run.waitForOutput("not a regular file", 30));
        const auto r = run.wait();
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(lastLine(r.out), std::string("ERROR: marking.xml is ") + c.kind +
                                       ", not a regular file; a marking is read only from a regular file.\n")
            << r.out;
        EXPECT_FALSE(contains(r.out, "Running simulation from")) << r.out;
    }
}

// ---------------------------------------------------------------------------
// One read per process

TEST(MarkingFileOnce, RecordTokensComeFromTheFirstReadAtEveryLoad) {
    TempDir dir;
    dir.write("marking.xml", "<m><token place=\"Jobs\" n=\"first\" gT=\"01:02:03@04/05/2006\"/></m>");
    testsupport::ScopedCwd cwd(dir.path());
    testnet::TestNet net;
    Place jobs(1, "Jobs", &net, false, 0);
    Token_Data::addInitialTokens(&jobs);
    std::filesystem::remove(dir.path() / "marking.xml");
    Token_Data::addInitialTokens(&jobs);
    ASSERT_EQ(jobs.getMarkingSize(), 2);
    for (const Ptr<Token>& t : jobs.getFullMarking())
        EXPECT_EQ(ReferenceCountedSmartPointer::Dynamic_Cast<Token_Data>(t)->get_n(), "first");
}

TEST(MarkingFileOnce, AHundredThousandTokensLoadForEveryBuild) {
    // Read once and indexed by place, a large marking costs each build only
    // its tokens (bench/marking-load.py measures it; a read that walked the
    // token list quadratically took minutes here).
    BuiltNet n(modeltest::markingWithValues(std::vector<long>(100000, 1), {2}));
    n.net.rebuildForRun(0);
    EXPECT_EQ(n.place("P_thread_pool").getMarkingSize(), 100000);
    EXPECT_EQ(n.place("C1_sem").getMarkingSize(), 1);
    MarkingFile::forget();
}

// ---------------------------------------------------------------------------
// Files the run refuses (status 1, the reason as the last line)

namespace {

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

void expectRefused(const std::string& marking, const std::string& lineStart) {
    SCOPED_TRACE(marking.substr(0, 200));
    TempDir dir;
    dir.write("marking.xml", marking);
    auto r = runScpnsim(kRunArgs, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(lastLine(r.out).rfind(lineStart, 0), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "Running simulation from")) << r.out;
}

}  // namespace

TEST(MarkingFileRun, IntegerValuesOtherThanWholeNumbersAreRefusedWithTheirPlaceAndPosition) {
    const std::string notWhole = "which is not a whole number.\n";
    const std::string range = "which is out of range (-9223372036854775808 to 9223372036854775807).\n";
    for (const auto& [value, reason] : std::vector<std::pair<std::string, std::string>>{
             {"abc", notWhole}, {"12abc", notWhole}, {"1.5", notWhole}, {"", notWhole}, {" ", notWhole},
             {"+-5", notWhole}, {"1 2", notWhole}, {"0x10", notWhole}, {"9223372036854775808", range},
             {"-9223372036854775809", range}})
        expectRefused("<m>\n<token place=\"P_thread_pool\"/>\n<token place=\"C1_sem\" value=\"" + value +
                          "\"/>\n</m>\n",
                      "ERROR: marking.xml: token element 2 (line 3) for place \"C1_sem\" has the value \"" +
                          value + "\", " + reason);
}

TEST(MarkingFileRun, EntityBombsExternalEntitiesAndOversizedFilesAreRefused) {
    auto withEntity = [](const std::string& declaration, const std::string& body) {
        return "<!DOCTYPE m [" + declaration + "]>\n<m><token place=\"C1_sem\"/>" + body + "</m>\n";
    };
    std::string laughs = "<!ENTITY l0 \"<token place='C1_sem'/>\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + repeat("&l" + std::to_string(i - 1) + ";", 10) +
                  "\">";
    const std::string sax = "Xerces SAX Exception message is: ";
    const std::string most = ", the most a marking may have.";
    for (const auto& [marking, line] : std::vector<std::pair<std::string, std::string>>{
             {withEntity(laughs, "&l9;"), sax + "parser has encountered more than '10000' entity expansions"},
             {withEntity("<!ENTITY z SYSTEM \"/dev/zero\">", "&z;"), sax + "unable to open external entity"},
             {withEntity("<!ENTITY % z SYSTEM \"/dev/zero\"> %z;", ""),
              sax + "unable to open external entity"},
             {withEntity("<!ENTITY t \"" + repeat("<token/>", 1000) + "\">", repeat("&t;", 1000)),
              "ERROR: marking.xml holds more than 1000000 token elements" + most},
             {withEntity("<!ENTITY x \"" + repeat("<x/>", 1000) + "\">", repeat("&x;", 2001)),
              "ERROR: marking.xml expands to more than 2000000 elements" + most},
             {withEntity("<!ENTITY c \"" + std::string(100000, 'c') + "\">", repeat("&c;", 700)),
              "ERROR: marking.xml expands to more than 67108864 characters of text and attribute values" +
                  most}})
        expectRefused(marking, line);
}

TEST(MarkingFileRun, AHugeAttributeOrCommentIsStoppedWhileItIsParsed) {
    // One 60 KB entity referenced 9,000 times in one attribute value (540 M
    // characters) cost 22 s and 2.1 GB before the character bound saw it; a
    // huge comment is built up in full though no handler ever looks at it.
    const std::string memory = "ERROR: marking.xml needs more than 33554432 bytes of memory to be parsed";
    expectRefused("<!DOCTYPE m [<!ENTITY e \"" + std::string(60000, 'e') + "\">]>\n<m><token place=\"C1_sem\" n=\"" +
                      repeat("&e;", 9000) + "\"/></m>\n",
                  memory);
    expectRefused("<m><token place=\"C1_sem\"/><!--" + std::string(20'000'000, 'c') + "--></m>\n", memory);
}

// ---------------------------------------------------------------------------
// The marking against the net

TEST(MarkingFileCheck, PlacesNoLoaderReadsAreReportedAfterTheBuild) {
    BuiltNet n("<m><token place=\"P_thread_pool\"/><token place=\"Binary_main\"/>"
               "<token place=\"Binary_main\"/></m>");
    CaptureStream out(std::cout);
    MarkingFile::checkAgainstNet(n.net);
    EXPECT_EQ(out.text(),
              "WARNING: marking.xml: the net reads no initial tokens of place \"Binary_main\" from the file; "
              "its 2 token(s) are ignored.\n");
}

TEST(MarkingFileRun, UnknownPlacesAreWarnedAndAMarkingOfNoneOfTheNetsPlacesEndsTheRun) {
    const std::string warning = "WARNING: marking.xml: ";
    const std::vector<std::tuple<std::string, int, std::vector<std::string>>> rows = {
        {"<m><token place=\"p_thread_pool\"/><token place=\"p_thread_pool\"/><token place=\"C1_Sem\"/></m>",
         1,
         {warning + "the net has no place \"p_thread_pool\"; its 2 token(s) are ignored.",
          warning + "the net has no place \"C1_Sem\"; its 1 token(s) are ignored.",
          "ERROR: marking.xml: none of its 3 token(s) goes to a place the net reads from the file "
          "(C1_sem, P_thread_pool)."}},
        {"<m><token value=\"1\"/><token place=\"Binary_main\"/><token place=\"C1_sem\"/></m>", 0,
         {warning + "1 token element(s) name no place; they are ignored.",
          warning + "the net reads no initial tokens of place \"Binary_main\" from the file; its 1 token(s) "
                    "are ignored."}},
        // No tokens at all: a dead marking, which the run reports.
        {"<m><note/></m>", 0, {}},
        {testsupport::markingXml(), 0, {}},
    };
    for (const auto& [marking, status, expected] : rows) {
        SCOPED_TRACE(marking);
        TempDir dir;
        dir.write("marking.xml", marking);
        auto r = runScpnsim(kRunArgs, dir.path());
        EXPECT_EQ(r.exitStatus, status) << r.out;
        std::vector<std::string> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (line.find(" marking.xml: ") != std::string::npos) lines.push_back(line);
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(contains(r.out, kSummary), status == 0) << r.out;
    }
}

TEST(MarkingFileRun, AFileChangedDuringARunChangesNoReplication) {
    // Same seed, same verdict by accuracy: the run whose marking file is
    // emptied of threads while it runs gives the same results as one left
    // alone, as every replication is built from the marking read at start-up.
    const std::vector<std::string> args = {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "3",
                                           "--epsmax", "25", "--secmax", "0", "--seed", "11"};
    testsupport::WorkDir alone, changed;
    const testsupport::RunResult reference = runScpnsim(args, alone.path());
    ASSERT_EQ(reference.exitStatus, 0) << reference.err;

    testsupport::RunningProcess run(SCPNSIM_EXE, args, changed.path());
    ASSERT_TRUE(run.waitForOutput("Running simulation from"));
    run.sendSignal(SIGSTOP);
    changed.write("marking.xml", testsupport::markingXml(0, 1));
    run.sendSignal(SIGCONT);
    const testsupport::RunResult r = run.wait();
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(changed.read("results.log"), alone.read("results.log"));
}
