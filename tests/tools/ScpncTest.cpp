// Tests of the model compiler scpnc: the built program is run on small
// descriptions in a temporary folder, and its output files, messages and exit
// status are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs scpnc on description `name` of `dir`, writing into `dir`/out.
RunResult compile(const TempDir& dir, const std::string& name = "model.xml") {
    return testsupport::run(SCPNC_EXE, {dir.file(name), dir.file("out")}, dir.path());
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A description that uses every element. Its line numbers matter to no test.
const char* const kValid = R"(<?xml version="1.0" encoding="UTF-8"?>
<model name="small">
  <colour name="Data">
    <attribute name="n" type="string"/>
    <attribute name="s" type="long" default="7"/>
    <attribute name="gT" type="DateTime"/>
    <attribute name="d" type="bool"/>
    <attribute name="w" type="double"/>
  </colour>
  <place id="1" name="P_in"/>
  <place id="2" name="Pool" capacity="3" first-tokens-only="true" watch="true"/>
  <place id="3" name="P_out"/>
  <place id="4" name="Copies"/>
  <transition id="1" name="Binary__cf_tn" weight="0" priority="0" exp="true"
              immediate="false" watch="true" infinite="false">
    <input place="P_in"/>
    <input place="Pool"/>
    <output place="P_out"/>
    <output place="Pool"/>
    <output place="Copies"/>
    <bind var="x" colour="Data" place="P_in"/>
    <bind var="pool" colour="int" place="Pool"/>
    <delay>Uni(0.5, 2.0 + x->get_s())</delay>
    <fire>
      <set var="x" attribute="s" value="x->get_s() + 1"/>
      <put var="x" place="P_out"/>
      <put new="int" value="3" place="Pool"/>
      <put copy="x" place="Copies"/>
      <put new="Data" place="Copies"/>
    </fire>
  </transition>
  <transition id="2" name="A3_execution" weight="0.9688249400479616" priority="1" exp="false"
              immediate="true" watch="false" infinite="false" take-first="true" page-path="a/b">
    <input place="P_out" multiplicity="2"/>
    <output place="P_in"/>
    <bind var="x" colour="Data" place="P_out"/>
    <bind var="y" colour="Data" place="P_out"/>
    <fire>
      <put var="y" place="P_in"/>
    </fire>
  </transition>
  <measure name="C1_in_use" watch="true" timeaverage="true" state="true">
    <attach place="P_out"/>
    <attach transition="A3_execution"/>
    <accum>
      const double now = binding->getTime().FullDateTime();
      value += weight * (now - lastTime) * count("P_out");
      lastTime = now;
    </accum>
    <value>
      return dt == 0.0 ? 0.0 : value / dt;
    </value>
  </measure>
  <measure name="Fires" accumulative="true">
    <value>return transition("A3_execution") == nullptr ? -1.0 : 1.0;</value>
  </measure>
  <initial place="Pool" colour="int" from="marking-file"/>
  <initial place="P_in" colour="Data" from="marking-file"/>
</model>
)";

const std::set<std::string> kValidFiles = {
    "buildnet.h",
    "buildnet.cpp",
    "model_sources.cpp",
    "scpnc-files.txt",
    "Token_Data.h",
    "Token_Data.cpp",
    "Transition_Binary____cf__tn.h",
    "Transition_Binary____cf__tn.cpp",
    "Transition_A3__execution.h",
    "Transition_A3__execution.cpp",
    "MeasureObj_C1__in__use.h",
    "MeasureObj_C1__in__use.cpp",
    "MeasureObj_Fires.h",
    "MeasureObj_Fires.cpp",
};

// `text` contains each of `parts`, in this order.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        const std::size_t found = text.find(part, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing or out of order: " << part << "\n--- in:\n" << text;
        at = found + part.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

// ---------------------------------------------------------------------------
// A valid description

TEST(ScpncValid, WritesOneFilePairPerClassAndNothingElse) {
    TempDir dir;
    dir.write("model.xml", kValid);
    const RunResult r = compile(dir);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(filesIn(dir.path() / "out"), kValidFiles);
}

TEST(ScpncValid, FileListAndUnitySourceNameEveryClassFile) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string list = slurp(dir.path() / "out" / "scpnc-files.txt");
    for (const std::string& f : kValidFiles)
        if (f != "scpnc-files.txt") {
            EXPECT_TRUE(contains(list, f + "\n")) << f;
        }
    EXPECT_TRUE(inOrder(slurp(dir.path() / "out" / "model_sources.cpp"),
                        {"#include \"Token_Data.cpp\"\n", "#include \"Transition_Binary____cf__tn.cpp\"\n",
                         "#include \"Transition_A3__execution.cpp\"\n",
                         "#include \"MeasureObj_C1__in__use.cpp\"\n", "#include \"MeasureObj_Fires.cpp\"\n"}));
}

TEST(ScpncValid, ClassNamesDoubleEveryUnderscore) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const fs::path out = dir.path() / "out";
    EXPECT_TRUE(contains(slurp(out / "Transition_Binary____cf__tn.h"),
                         "class Transition_Binary____cf__tn : public Transition {"));
    EXPECT_TRUE(contains(slurp(out / "Transition_A3__execution.h"),
                         "class Transition_A3__execution : public Transition {"));
    EXPECT_TRUE(contains(slurp(out / "MeasureObj_C1__in__use.h"),
                         "class MeasureObj_C1__in__use : public MeasureObj {"));
    EXPECT_TRUE(contains(slurp(out / "MeasureObj_C1__in__use.h"),
                         "extern MeasureObj_C1__in__use* measure_C1__in__use;"));
    EXPECT_TRUE(contains(slurp(out / "MeasureObj_C1__in__use.cpp"),
                         "MeasureObj_C1__in__use* measure_C1__in__use = nullptr;"));
    EXPECT_TRUE(contains(slurp(out / "Token_Data.h"), "class Token_Data final : public Token {"));
    EXPECT_TRUE(contains(slurp(out / "buildnet.h"), "class ImplementedNetClass : public NetClass {"));
}

TEST(ScpncValid, BuildNetCreatesPlacesTransitionsArcsMeasuresAndLoadsInOrder) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string net = slurp(dir.path() / "out" / "buildnet.cpp");
    EXPECT_TRUE(inOrder(
        net,
        {"void ImplementedNetClass::buildNet() {",
         "Place* P__in = new Place(1, \"P_in\", this, false, 0);\n    P__in->setWatch(false);\n"
         "    addPlace(P__in);",
         "Place* Pool = new Place(2, \"Pool\", this, true, 3);\n    Pool->setWatch(true);\n    addPlace(Pool);",
         "Place* P__out = new Place(3, \"P_out\", this, false, 0);",
         "Place* Copies = new Place(4, \"Copies\", this, false, 0);",
         "PlaceIdentMap places_Binary____cf__tn;\n"
         "    places_Binary____cf__tn[\"P_in\"] = \"P_in\";\n"
         "    places_Binary____cf__tn[\"Pool\"] = \"Pool\";\n"
         "    places_Binary____cf__tn[\"P_out\"] = \"P_out\";\n",
         "Transition* Binary____cf__tn = new Transition_Binary____cf__tn(1, \"Binary__cf_tn\", this, "
         "places_Binary____cf__tn, \"\", 0, 0, true, false, false, false);\n"
         "    Binary____cf__tn->setDisplaying(false);\n"
         "    Binary____cf__tn->setWatch(true);\n"
         "    Binary____cf__tn->setImmediate(false);\n"
         "    Binary____cf__tn->setLogfile(\"\", \"\");\n"
         "    addTransition(Binary____cf__tn);",
         "Transition* A3__execution = new Transition_A3__execution(2, \"A3_execution\", this, "
         "places_A3__execution, \"a/b\", 0.9688249400479616, 1, false, true, false, false);",
         "linkPlaceToTransition(\"P_in\", \"Binary__cf_tn\", 1);\n"
         "    linkPlaceToTransition(\"Pool\", \"Binary__cf_tn\", 1);\n"
         "    linkTransitionToPlace(\"Binary__cf_tn\", \"P_out\", 1);\n"
         "    linkTransitionToPlace(\"Binary__cf_tn\", \"Pool\", 1);\n"
         "    linkTransitionToPlace(\"Binary__cf_tn\", \"Copies\", 1);\n"
         "    linkPlaceToTransition(\"P_out\", \"A3_execution\", 2);\n"
         "    linkTransitionToPlace(\"A3_execution\", \"P_in\", 1);",
         "measure_C1__in__use = new MeasureObj_C1__in__use(this);\n"
         "    P__out->addMeasure(measure_C1__in__use);\n"
         "    A3__execution->addMeasure(measure_C1__in__use);\n"
         "    addMeasure(measure_C1__in__use);",
         "measure_Fires = new MeasureObj_Fires(this);\n    addMeasure(measure_Fires);",
         "Token_int::addInitialTokens(Pool);\n    Token_Data::addInitialTokens(P__in);\n}"}));
    // A place appears once in a transition's map even when it is both input and output.
    const std::string entry = "places_Binary____cf__tn[\"Pool\"] = \"Pool\";";
    EXPECT_EQ(net.find(entry), net.rfind(entry));
}

TEST(ScpncValid, BuildNetDispatchesCopiesAndUpcastsOnTheColourName) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string net = slurp(dir.path() / "out" / "buildnet.cpp");
    EXPECT_TRUE(inOrder(net, {"Ptr<Token> ImplementedNetClass::copyToken(Ptr<Token> oldToken) {",
                              "if (colour == \"int\") {", "return Ptr<Token>(new Token_int(*cast, true));",
                              "if (colour == \"Data\") {", "return Ptr<Token>(new Token_Data(*cast, true));",
                              "return Ptr<Token>();\n}"}));
    EXPECT_TRUE(inOrder(net, {"Ptr<Token> ImplementedNetClass::upcastToken(Ptr<Token> token) {",
                              "if (colour == \"int\") {",
                              "return Ptr<Token>(ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(token));",
                              "if (colour == \"Data\") {",
                              "return Ptr<Token>(ReferenceCountedSmartPointer::Dynamic_Cast<Token_Data>(token));",
                              "return Ptr<Token>();\n}"}));
    EXPECT_TRUE(inOrder(net, {"void ImplementedNetClass::createTokens() {\n    //", "}\n",
                              "#ifndef SCPN_NO_MAIN", "int main(int argc, char** argv) {",
                              "MainClass* program = new MainClass();",
                              "const int status = program->main(argc, argv);", "delete program;",
                              "return status;", "#endif"}));
}

TEST(ScpncValid, TransitionClassHoldsItsPlacesAndMovesTokensPerInscription) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const fs::path out = dir.path() / "out";
    // Variables in binding order, then the output places no variable is bound from.
    EXPECT_TRUE(inOrder(slurp(out / "Transition_Binary____cf__tn.h"),
                        {"const Place& x_Place;", "const Place& pool_Place;", "const Place& nona1_Place;",
                         "const Place& nona2_Place;"}));
    EXPECT_FALSE(contains(slurp(out / "Transition_Binary____cf__tn.h"), "nona3_Place"));
    const std::string t = slurp(out / "Transition_Binary____cf__tn.cpp");
    EXPECT_TRUE(inOrder(t, {"x_Place(*net->getPlace(&places, \"P_in\"))",
                            "pool_Place(*net->getPlace(&places, \"Pool\"))",
                            "nona1_Place(*net->getPlace(&places, \"P_out\"))",
                            "nona2_Place(*net->getPlace(&places, \"Copies\"))"}));
    EXPECT_TRUE(inOrder(t, {"getFiringDelay(TokenList& binding) const {",
                            "Ptr<Token_Data> x = ReferenceCountedSmartPointer::Dynamic_Cast<Token_Data>(*next);",
                            "return delay.Uni(0.5, 2.0 + x->get_s());"}));
    // The delay names x only: pool is not unpacked.
    EXPECT_FALSE(contains(t, "Ptr<Token_int> pool ="));
    EXPECT_TRUE(inOrder(t, {"generateBindingList() {", "for (const Ptr<Token>& x_token : getPlaceMarking(x_Place)) {",
                            "if (!ReferenceCountedSmartPointer::hasColour<Token_Data>(x_token)) continue;",
                            "for (const Ptr<Token>& pool_token : getPlaceMarking(pool_Place)) {",
                            "if (!ReferenceCountedSmartPointer::hasColour<Token_int>(pool_token)) continue;",
                            "binding->push_back(x_token);",
                            "binding->push_back(pool_token);", "result->push_back(binding);",
                            "return result;"}));
    EXPECT_TRUE(inOrder(t, {"moveTokens(TokenList& binding) {", "const Ptr<Token>& x_token = *next++;",
                            "Ptr<Token_Data> x = ReferenceCountedSmartPointer::Dynamic_Cast<Token_Data>(x_token);",
                            "const_cast<Place&>(x_Place).removeToken(x_token);",
                            "const Ptr<Token>& pool_token = *next++;",
                            "const_cast<Place&>(pool_Place).removeToken(pool_token);", "x->set_s(x->get_s() + 1);",
                            "const_cast<Place&>(nona1_Place).addToken(x_token);",
                            "const_cast<Place&>(pool_Place).addToken(Ptr<Token>(new Token_int(3)));",
                            "const_cast<Place&>(nona2_Place).addToken(Ptr<Token>(new Token_Data(*x, false)));",
                            "const_cast<Place&>(nona2_Place).addToken(Ptr<Token>(new Token_Data()));"}));
    for (const char* fixed :
         {"Timeguard(const DateTime&) { return 0; }", "hasTimeguard() const { return false; }",
          "log(TokenList&) {}", "display(TokenList&) { return 0; }", "globalGuard() { return true; }",
          "initGlobalGuards() {}"})
        EXPECT_TRUE(contains(t, fixed)) << fixed;
}

TEST(ScpncValid, ImmediateTransitionUsesTheBaseDelayAndNeverBindsOneTokenTwice) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string t = slurp(dir.path() / "out" / "Transition_A3__execution.cpp");
    EXPECT_TRUE(contains(t, "return Transition::getFiringDelay(binding);"));
    // Two variables from one place: enumerated on copies, the same token skipped.
    EXPECT_TRUE(inOrder(t, {"const TokenList x_tokens = getPlaceMarking(x_Place);",
                            "const TokenList y_tokens = getPlaceMarking(y_Place);",
                            "if (y_token == x_token) continue;"}));
    EXPECT_TRUE(contains(t, "const_cast<Place&>(nona1_Place).addToken(y_token);"));
}

TEST(ScpncValid, MeasureClassHasNameFlagsStateAndBodies) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string m = slurp(dir.path() / "out" / "MeasureObj_C1__in__use.cpp");
    EXPECT_TRUE(inOrder(m, {"MeasureObj(\"C1_in_use\", net, true) {\n    lastTime = 0;\n    firstTime = lastTime;\n"
                            "    value = 0;\n}",
                            "double MeasureObj_C1__in__use::measure([[maybe_unused]] double dt) {\n"
                            "    return dt == 0.0 ? 0.0 : value / dt;\n}",
                            "bool MeasureObj_C1__in__use::accumulative() { return false; }",
                            "bool MeasureObj_C1__in__use::timeaverage() { return true; }",
                            "    const double now = binding->getTime().FullDateTime();\n"
                            "    value += weight * (now - lastTime) * count(\"P_out\");\n"
                            "    lastTime = now;\n}",
                            "return static_cast<unsigned int>(placeNamed(place)->getMarkingSize());",
                            "return transitionNamed(name);"}));
    const std::string f = slurp(dir.path() / "out" / "MeasureObj_Fires.cpp");
    EXPECT_TRUE(contains(f, "MeasureObj(\"Fires\", net, false) {}"));
    EXPECT_TRUE(contains(f, "bool MeasureObj_Fires::accumulative() { return true; }"));
    EXPECT_TRUE(contains(f, "bool MeasureObj_Fires::timeaverage() { return false; }"));
    EXPECT_TRUE(contains(f, "void MeasureObj_Fires::accum(const Binding*, double) {}"));
}

TEST(ScpncValid, RecordColourHasAccessorsLoggedSettersTextFormAndReader) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const std::string h = slurp(dir.path() / "out" / "Token_Data.h");
    EXPECT_TRUE(inOrder(h, {"Token_Data();", "Token_Data(const Token_Data& other, bool copyTransition);",
                            "Token_Data& operator=(const Token_Data& other);",
                            "const std::string& get_n() const;", "long get_s() const;",
                            "const DateTime& get_gT() const;", "bool get_d() const;", "double get_w() const;",
                            "void set_n(const std::string& newValue);", "void set_w(double newValue);",
                            "void readTokenData(", "static void addInitialTokens(Place* place);"}));
    const std::string c = slurp(dir.path() / "out" / "Token_Data.cpp");
    EXPECT_TRUE(inOrder(c, {"n(\"\")", "s(7)", "gT(DateTime())", "d(false)", "w(0.0)"}));
    EXPECT_TRUE(contains(c, "const std::string Token_Data::getName() const { return \"Data\"; }"));
    EXPECT_TRUE(inOrder(c, {"static bool locked = false;", "if (locked) return \"NULL\";",
                            "<< \"n=\" << \"\\\"\" << n << \"\\\"\"", "<< \"; s=\" << s", "<< \"; gT=\" << gT",
                            "<< \"}\";", "locked = false;"}));
    EXPECT_TRUE(contains(c, "log->getTokenLog() << \"set : Data.s to \" << newValue << \"\\n\";"));
    EXPECT_TRUE(inOrder(c, {"set_n(MarkingFile::attribute(node, \"n\"));",
                            "set_s(std::atol(MarkingFile::attribute(node, \"s\").c_str()));",
                            "if (text.size() < 15)", "is not a time, keeping the default",
                            "set_gT(DateTime(text));", "set_d(MarkingFile::attribute(node, \"d\") == \"true\");",
                            "set_w(std::atof(MarkingFile::attribute(node, \"w\").c_str()));"}));
}

TEST(ScpncValid, GeneratedCodeCompilesWithoutWarnings) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    // Both translation units of the model library, and the entry point.
    const std::vector<std::vector<std::string>> units = {
        {"-DSCPN_NO_MAIN", "buildnet.cpp"}, {"-DSCPN_NO_MAIN", "model_sources.cpp"}, {"buildnet.cpp"}};
    for (const std::vector<std::string>& unit : units) {
        std::vector<std::string> args = {"-std=c++20", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                                         "-I.", "-I" + std::string(SCPNSIM_SOURCE_DIR) + "/src"};
        args.insert(args.end(), unit.begin(), unit.end());
        const RunResult r = testsupport::run(SCPNC_TEST_CXX, args, dir.path() / "out");
        EXPECT_EQ(r.exitStatus, 0) << unit.back() << "\n" << r.err;
    }
}

// ---------------------------------------------------------------------------
// Rewriting

TEST(ScpncOutput, UnchangedFilesAreNotRewritten) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    const fs::path file = dir.path() / "out" / "Transition_A3__execution.cpp";
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(file, old);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    EXPECT_EQ(fs::last_write_time(file), old);
}

TEST(ScpncOutput, FilesOfElementsNoLongerDescribedAreRemoved) {
    TempDir dir;
    dir.write("model.xml", kValid);
    ASSERT_EQ(compile(dir).exitStatus, 0);
    std::string smaller = kValid;
    const std::size_t from = smaller.find("  <measure name=\"Fires\"");
    const std::size_t to = smaller.find("  <initial");
    smaller.erase(from, to - from);
    dir.write("model.xml", smaller);
    dir.write("out/notes.txt", "not ours");
    ASSERT_EQ(compile(dir).exitStatus, 0);
    std::set<std::string> expected = kValidFiles;
    expected.erase("MeasureObj_Fires.h");
    expected.erase("MeasureObj_Fires.cpp");
    expected.insert("notes.txt");
    EXPECT_EQ(filesIn(dir.path() / "out"), expected);
    EXPECT_FALSE(contains(slurp(dir.path() / "out" / "model_sources.cpp"), "Fires"));
}

// ---------------------------------------------------------------------------
// Errors: exit status 1, one "<file>:<line>: error: <what>" line, nothing written

namespace {

struct Failure {
    RunResult result;
    std::string file;
};

// Compiles `description` into an output folder that already holds a file;
// the folder must come out unchanged.
Failure compileFailing(const std::string& description) {
    TempDir dir;
    dir.write("model.xml", description);
    fs::create_directory(dir.path() / "out");
    dir.write("out/buildnet.h", "old");
    Failure f{compile(dir), dir.file("model.xml")};
    EXPECT_EQ(f.result.exitStatus, 1);
    EXPECT_EQ(filesIn(dir.path() / "out"), std::set<std::string>{"buildnet.h"});
    EXPECT_EQ(dir.read("out/buildnet.h"), "old");
    EXPECT_EQ(f.result.out, "");
    return f;
}

// The only error line, with the description's path stripped.
std::string errorLine(const Failure& f) {
    std::string err = f.result.err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind(f.file + ":", 0), 0u) << err;
    if (err.rfind(f.file, 0) == 0) err = err.substr(f.file.size());
    if (!err.empty() && err.back() == '\n') err.pop_back();
    return err;
}

// A one-transition model; `transitionBody` goes inside <transition>.
std::string oneTransition(const std::string& transitionBody, const std::string& extraTop = "") {
    return "<?xml version=\"1.0\"?>\n"                                                   // 1
           "<model name=\"m\">\n"                                                        // 2
           "  <colour name=\"Data\">\n"                                                  // 3
           "    <attribute name=\"s\" type=\"long\"/>\n"                                 // 4
           "  </colour>\n"                                                               // 5
           "  <place id=\"1\" name=\"In\"/>\n"                                           // 6
           "  <place id=\"2\" name=\"Out\"/>\n"                                          // 7
           "  <transition id=\"1\" name=\"T\" weight=\"0\" priority=\"0\" exp=\"true\"\n"  // 8
           "              immediate=\"false\" watch=\"false\" infinite=\"false\">\n"     // 9
           "    <input place=\"In\"/>\n"                                                 // 10
           "    <output place=\"Out\"/>\n"                                               // 11
           + transitionBody +                                                            // 12...
           "  </transition>\n" + extraTop + "</model>\n";
}

}  // namespace

TEST(ScpncErrors, MalformedXmlIsReportedWithItsLine) {
    const Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\" name=\"A\">\n</model>\n");
    const std::string line = errorLine(f);
    EXPECT_EQ(line.rfind(":4: error: ", 0), 0u) << line;
}

TEST(ScpncErrors, UnreadableDescriptionIsReported) {
    TempDir dir;
    const RunResult r = compile(dir, "missing.xml");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, dir.file("missing.xml") + ": error: cannot open the description\n");
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

TEST(ScpncErrors, WrongNumberOfArgumentsShowsUsage) {
    TempDir dir;
    const RunResult r = testsupport::run(SCPNC_EXE, {"only-one.xml"}, dir.path());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "usage: scpnc <description.xml> <output-dir>\n");
}

TEST(ScpncErrors, UnknownPlaceInAnArc) {
    const Failure f = compileFailing(oneTransition("    <output place=\"Elsewhere\"/>\n"
                                                   "    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n"));
    EXPECT_EQ(errorLine(f), ":12: error: output arc of transition \"T\" names unknown place \"Elsewhere\"");
}

TEST(ScpncErrors, DuplicatePlaceName) {
    const Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\" name=\"A\"/>\n"
        "  <place id=\"2\" name=\"A\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f), ":4: error: duplicate place name \"A\"");
}

TEST(ScpncErrors, DuplicateAndOutOfOrderIdentifiers) {
    Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"2\" name=\"A\"/>\n"
        "  <place id=\"2\" name=\"B\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f), ":4: error: duplicate place identifier 2");
    f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"2\" name=\"A\"/>\n"
        "  <place id=\"1\" name=\"B\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f),
              ":4: error: place identifier 1 is out of order (places are listed in identifier order; the "
              "previous one is 2)");
}

TEST(ScpncErrors, UnknownColourOfAVariable) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Job\" place=\"In\"/>\n"));
    EXPECT_EQ(errorLine(f), ":12: error: variable \"x\" has unknown colour \"Job\"");
}

TEST(ScpncErrors, UnknownColourOfANewToken) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n"
                                                   "    <fire>\n"
                                                   "      <put new=\"Job\" place=\"Out\"/>\n"
                                                   "    </fire>\n"));
    EXPECT_EQ(errorLine(f), ":14: error: new token of unknown colour \"Job\"");
}

TEST(ScpncErrors, UnknownVariableInPut) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n"
                                                   "    <fire>\n"
                                                   "      <put var=\"y\" place=\"Out\"/>\n"
                                                   "    </fire>\n"));
    EXPECT_EQ(errorLine(f), ":14: error: unknown variable \"y\" in transition \"T\"");
}

TEST(ScpncErrors, MissingRequiredAttribute) {
    const Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\"\n         capacity=\"2\"/>\n"
        "</model>\n");
    // The line where the element's start tag begins.
    EXPECT_EQ(errorLine(f), ":3: error: missing required attribute \"name\" in <place>");
}

TEST(ScpncErrors, AttributeNotInColour) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n"
                                                   "    <fire>\n"
                                                   "      <set var=\"x\" attribute=\"t\" value=\"1\"/>\n"
                                                   "      <put var=\"x\" place=\"Out\"/>\n"
                                                   "    </fire>\n"));
    EXPECT_EQ(errorLine(f), ":14: error: colour \"Data\" of variable \"x\" has no attribute \"t\"");
}

TEST(ScpncErrors, UnknownElementAndUnknownAttribute) {
    Failure f = compileFailing(oneTransition("    <guard>x</guard>\n"));
    EXPECT_EQ(errorLine(f), ":12: error: unknown element <guard> in <transition>");
    f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\" size=\"2\"/>\n"));
    EXPECT_EQ(errorLine(f), ":12: error: unknown attribute \"size\" in <bind>");
}

TEST(ScpncErrors, MalformedValues) {
    Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\" name=\"A\" watch=\"yes\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f), ":3: error: attribute \"watch\" in <place> must be \"true\" or \"false\", not \"yes\"");
    f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n"
                                     "    <delay>exp(1.0)</delay>\n"));
    EXPECT_EQ(errorLine(f),
              ":13: error: delay \"exp(1.0)\" is not a call of Exp, Det, Uni, DUni, Triang, Norm, LogNorm or Wei");
}

TEST(ScpncErrors, VariableFromAPlaceThatIsNotAnInput) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"Out\"/>\n"));
    const std::string err = f.result.err;
    EXPECT_TRUE(contains(err, f.file + ":12: error: variable \"x\" is bound from place \"Out\", which is not an "
                                       "input of transition \"T\"\n"))
        << err;
    EXPECT_TRUE(contains(err, f.file + ":10: error: input place \"In\" of transition \"T\" has multiplicity 1 "
                                       "but 0 variable(s) bound from it\n"))
        << err;
}

TEST(ScpncErrors, MeasureAttachedToUnknownTransition) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n",
                                                   "  <measure name=\"M\">\n"
                                                   "    <attach transition=\"U\"/>\n"
                                                   "    <value>return 0.0;</value>\n"
                                                   "  </measure>\n"));
    EXPECT_EQ(errorLine(f), ":15: error: measure \"M\" is attached to unknown transition \"U\"");
}

TEST(ScpncErrors, MeasureBodyCountsAnUnknownPlace) {
    const Failure f = compileFailing(oneTransition("    <bind var=\"x\" colour=\"Data\" place=\"In\"/>\n",
                                                   "  <measure name=\"M\">\n"
                                                   "    <value>\n"
                                                   "      const double in = count(\"In\");\n"
                                                   "      return in + count(\"Inn\");\n"
                                                   "    </value>\n"
                                                   "  </measure>\n"));
    EXPECT_EQ(errorLine(f), ":17: error: measure \"M\" uses count(\"Inn\") but there is no place \"Inn\"");
}

TEST(ScpncErrors, NamesThatCannotBecomeIdentifiers) {
    Failure f = compileFailing(
        "<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\" name=\"a-b\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f),
              ":3: error: place name \"a-b\" is not a name (letters, digits and underscores, starting with a letter)");
    f = compileFailing("<?xml version=\"1.0\"?>\n<model name=\"m\">\n  <place id=\"1\" name=\"new\"/>\n</model>\n");
    EXPECT_EQ(errorLine(f), ":3: error: place name \"new\" is reserved");
}

TEST(ScpncErrors, EveryErrorIsReported) {
    TempDir dir;
    dir.write("model.xml", oneTransition("    <bind var=\"x\" colour=\"Job\" place=\"In\"/>\n"
                                         "    <fire>\n"
                                         "      <put var=\"y\" place=\"Nowhere\"/>\n"
                                         "    </fire>\n"));
    const RunResult r = compile(dir);
    EXPECT_EQ(r.exitStatus, 1);
    const std::string file = dir.file("model.xml");
    EXPECT_TRUE(inOrder(r.err, {file + ":12: error: variable \"x\" has unknown colour \"Job\"\n",
                                file + ":14: error: unknown variable \"y\" in transition \"T\"\n",
                                file + ":14: error: <put> names unknown place \"Nowhere\"\n"}));
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}
