// A transition on its own: construction, structure, the enabling test, the
// enabling degree, the binding search with its random choice, the event list
// and the time-guard optimisation.
#include "engine/Transition.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "engine/EngineTestDoubles.h"
#include "engine/EventSelection.h"
#include "support/TestSupport.h"

using namespace enginetest;
using testsupport::CaptureStream;
using testsupport::TempDir;

namespace {

// A transition made through the attribute form of the constructor.
class AttributeTransition : public Transition {
public:
    AttributeTransition(NetClass* net, const std::map<std::string, std::string>& attributes)
        : Transition(4, "Attr", net, attributes, PlaceIdentMap(), "page", 1.0, 0, false, false, false,
                     false) {}
    TempBindingList* generateBindingList() override { return new TempBindingList; }
    void moveTokens(TokenList&) override {}
};

// Every token bound by some binding of `t`.
TokenList boundTokens(const Transition& t) {
    TokenList all;
    for (Binding* b : t.getEvents())
        if (b->getBoundTokens() != nullptr) all.insert(all.end(), b->getBoundTokens()->begin(), b->getBoundTokens()->end());
    return all;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and set-up

TEST(TransitionConstruction, StoresArgumentsAndStartsIdle) {
    Env env;
    TestTransition::Options o;
    o.infinite = true;
    o.priority = 3;
    o.weight = 2.5;
    o.localGuard = true;
    TestTransition t(7, "T7", &env.net, o);
    EXPECT_EQ(t.getID(), 7);
    EXPECT_EQ(t.getName(), "T7");
    EXPECT_EQ(t.getType(), "Transition");
    EXPECT_EQ(t.getNet(), &env.net);
    EXPECT_EQ(t.getPriority(), 3);
    EXPECT_EQ(t.getFiringWeight(), 2.5);
    EXPECT_TRUE(t.getIsInfinite());
    EXPECT_TRUE(t.hasLocalGuard());
    EXPECT_EQ(t.getPagePath(), "page");
    EXPECT_EQ(t.getPlaceIdents(), (PlaceIdentMap{{"local", "net"}}));
    EXPECT_EQ(t.getFireCount(), 0);
    EXPECT_FALSE(t.isWatched());
    EXPECT_FALSE(t.isDisplaying());
    EXPECT_FALSE(t.isImmediate());
    EXPECT_FALSE(t.isLogging());
    EXPECT_FALSE(t.isFiring());
    EXPECT_FALSE(t.getInEventList());
    EXPECT_TRUE(t.getEvents().empty());
    EXPECT_TRUE(t.getNotBoundTokens().empty());
    EXPECT_TRUE(t.getInPlaces().empty());
    EXPECT_TRUE(t.getOutPlaces().empty());
    EXPECT_TRUE(t.getCouldEnableTransitions().empty());
    EXPECT_TRUE(t.getCouldDisableTransitions().empty());
    EXPECT_EQ(t.getNextEvent(), nullptr);

    t.setWatch(true);
    t.setDisplaying(true);
    t.setImmediate(true);
    EXPECT_TRUE(t.isWatched());
    EXPECT_TRUE(t.isDisplaying());
    EXPECT_TRUE(t.isImmediate());
}

TEST(TransitionConstruction, TakesItsDelayStreamBeforeItsChoiceStream) {
    Env env;
    TransitionStreams expected;
    ASSERT_TRUE(expected.seeded);
    reseed();
    TestTransition t(1, "T", &env.net);
    EXPECT_EQ(t.nextDelayUniform(), expected.delay.randu01());
    EXPECT_EQ(t.nextChoiceUniform(), expected.random.randu01());
}

TEST(TransitionConstruction, AttributeFormReadsDisplayWatchAndTimedFlags) {
    Env env;
    AttributeTransition on(&env.net, {{"display_expr", "x+1"}, {"watch", "true"}, {"timed_trans", "false"}});
    EXPECT_TRUE(on.isDisplaying());
    EXPECT_TRUE(on.isWatched());
    EXPECT_TRUE(on.isImmediate());
    EXPECT_FALSE(on.isLogging());

    AttributeTransition off(&env.net, {{"display_expr", ""}, {"watch", "TRUE"}, {"timed_trans", "true"}});
    EXPECT_FALSE(off.isDisplaying());
    EXPECT_FALSE(off.isWatched());
    EXPECT_FALSE(off.isImmediate());

    AttributeTransition none(&env.net, {});
    EXPECT_FALSE(none.isDisplaying());
    EXPECT_FALSE(none.isWatched());
    EXPECT_FALSE(none.isImmediate());
    EXPECT_FALSE(none.isLogging());
}

TEST(TransitionConstruction, AttributeFormOpensTheLogfile) {
    Env env;
    TempDir dir;
    LogDir logDir(dir.path().string());
    AttributeTransition withDesc(&env.net, {{"logfile_name", "a.log"}, {"logfile_desc", "my header"}});
    EXPECT_TRUE(withDesc.isLogging());
    EXPECT_EQ(withDesc.getLogfileName(), dir.path().string() + "/a.log");
    EXPECT_EQ(dir.read("a.log"), "my header\n");

    AttributeTransition withoutDesc(&env.net, {{"logfile_name", "b.log"}});
    EXPECT_TRUE(withoutDesc.isLogging());
    EXPECT_EQ(dir.read("b.log"), "\t******** LOGFILE of Transition Attr *********\n");
}

// ---------------------------------------------------------------------------
// Per-transition log file

TEST(TransitionLogfile, EachCallAppendsOneHeaderLine) {
    Env env;
    TempDir dir;
    LogDir logDir(dir.path().string());
    TestTransition t(1, "T", &env.net);
    t.setLogfile("t.log", "");
    EXPECT_TRUE(t.isLogging());
    EXPECT_EQ(t.getLogfileName(), dir.path().string() + "/t.log");
    EXPECT_EQ(dir.read("t.log"), "\t******** LOGFILE of Transition T *********\n");
    t.setLogfile("t.log", "Jobs of T");
    EXPECT_TRUE(t.isLogging());
    EXPECT_EQ(dir.read("t.log"), "\t******** LOGFILE of Transition T *********\nJobs of T\n");
}

TEST(TransitionLogfile, EmptyNameMeansNoLogging) {
    Env env;
    TempDir dir;
    LogDir logDir(dir.path().string());
    TestTransition t(1, "T", &env.net);
    t.setLogfile("t.log", "");
    ASSERT_TRUE(t.isLogging());
    t.setLogfile("", "ignored");
    EXPECT_FALSE(t.isLogging());
    EXPECT_EQ(dir.read("t.log"), "\t******** LOGFILE of Transition T *********\n");
}

TEST(TransitionLogfile, MissingFolderIsReportedAndLoggingStaysOff) {
    Env env;
    TempDir dir;
    const std::string folder = dir.file("missing");
    LogDir logDir(folder);
    TestTransition t(1, "T", &env.net);
    CaptureStream out(std::cout);
    t.setLogfile("t.log", "header");
    EXPECT_EQ(out.text(), folder + "/t.log couldn't be opened!\n");
    EXPECT_FALSE(t.isLogging());
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(TransitionLogfile, OpeningIsTraced) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    TestTransition t(1, "T", &env.net);
    t.setLogfile("t.log", "");
    const auto ls = lines(traces.trans());
    EXPECT_NE(findLine(ls, "Opening " + dir.path().string() + "/t.log ..."), -1);
    EXPECT_TRUE(dir.exists("t.log"));
}

// ---------------------------------------------------------------------------
// Structure

TEST(TransitionStructure, LinkingRecordsPlacesInOrderAndTracesArcs) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    Place* q = makePlace(env.net, 2, "Q");
    Place* r = makePlace(env.net, 3, "R");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(q)->in(p)->out(r)->out(q);
    EXPECT_EQ(t->getInPlaces(), (std::list<Place*>{q, p}));
    EXPECT_EQ(t->getOutPlaces(), (std::list<Place*>{r, q}));
    const std::string text = traces.trans();
    EXPECT_NE(text.find("T, weight:1, priority:0\n <- Q (Place)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("T, weight:1, priority:0\n <- P (Place)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("T, weight:1, priority:0\n -> R (Place)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("T, weight:1, priority:0\n -> Q (Place)\n"), std::string::npos) << text;
}

TEST(TransitionStructure, TextForms) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* q = makePlace(env.net, 2, "Q");
    TestTransition::Options o;
    o.weight = 2.5;
    o.priority = 3;
    auto* t = new TestTransition(1, "T", &env.net, o);
    env.net.addTransition(t);
    t->in(p)->out(q);
    std::ostringstream s;
    s << *t;
    EXPECT_EQ(s.str(), "T, weight:2.5, priority:3\n");
    CaptureStream out(std::cout);
    t->printPlaces();
    EXPECT_EQ(out.text(), "\t<-\n\t\tP\n\t->\n\t\tQ\n");
}

TEST(TransitionStructure, AddMeasureCountsAReferenceAndKeepsEachMeasureOnce) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    auto* m = new RecordingMeasure("M", &env.net, p);
    p->addMeasure(m);  // the place owns it
    {
        TestTransition t(1, "T", &env.net);
        t.addMeasure(m);
        t.addMeasure(m);
        EXPECT_EQ(m->getRefCount(), 3);
        EXPECT_EQ(t.getMeasures().size(), 1u);
    }
    // A transition that goes lets go of every reference it took; the place
    // still holds the measure.
    EXPECT_EQ(m->getRefCount(), 1);
}

TEST(TransitionStructure, AffectedTransitionListsFollowTheArcsAndNeverHoldTheTransitionItself) {
    Env env;
    Place* p1 = makePlace(env.net, 1, "P1");
    Place* p2 = makePlace(env.net, 2, "P2");
    Place* p3 = makePlace(env.net, 3, "P3");
    Place* p4 = makePlace(env.net, 4, "P4");
    TestTransition::Options guarded;
    guarded.localGuard = true;
    auto* t = new TestTransition(1, "T", &env.net, guarded);
    auto* a = addTransition(env.net, 2, "A");
    auto* b = addTransition(env.net, 3, "B");
    auto* c = new TestTransition(4, "C", &env.net, guarded);
    auto* d = addTransition(env.net, 5, "D");
    auto* e = addTransition(env.net, 6, "E");
    env.net.addTransition(t);
    env.net.addTransition(c);
    // T: inputs P1, P4, P3; outputs P2, P3 (a self-loop through P3).
    t->in(p1)->in(p4)->in(p3)->out(p2)->out(p3);
    a->out(p1)->out(p4);  // producer into two of T's inputs: listed twice
    c->out(p2);           // producer into T's output with a local guard
    d->out(p2);           // producer into T's output without one
    b->in(p2);            // consumer of T's output
    e->in(p3);            // consumer of the self-loop place
    t->updateAffectedTransitionList();
    EXPECT_EQ(t->getCouldEnableTransitions(), (std::list<Transition*>{a, a, c, b, e}));
    EXPECT_EQ(t->getCouldDisableTransitions(), (std::list<Transition*>{c, d}));

    // From A's point of view: T consumes from A's outputs twice and may
    // enable A again each time; A is no producer into its own output list.
    a->updateAffectedTransitionList();
    EXPECT_EQ(a->getCouldEnableTransitions(), (std::list<Transition*>{t, t}));
    EXPECT_TRUE(a->getCouldDisableTransitions().empty());
}

// ---------------------------------------------------------------------------
// Start-up

TEST(TransitionStartup, GathersPlacesMeasuresGuardsAndSearches) {
    Env env;
    Place* p1 = makePlace(env.net, 1, "P1");
    Place* p2 = makePlace(env.net, 2, "P2");
    Place* p3 = makePlace(env.net, 3, "P3");
    Place* g = makePlace(env.net, 4, "G");
    auto* m1 = new RecordingMeasure("M1", &env.net, p1);
    auto* m2 = new RecordingMeasure("M2", &env.net, p2);
    p1->addMeasure(m1);
    p3->addMeasure(m1);
    p2->addMeasure(m2);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p1)->in(p3)->out(p2)->out(p3);
    t->guardPlaces = {g};
    Ptr<Token> a = put(p1);
    Ptr<Token> b = put(p3);
    t->startup();
    EXPECT_EQ(t->getAffectedPlaces(), (std::list<Place*>{p1, p3, p2, p3}));
    EXPECT_EQ(t->getMeasures(), (std::set<MeasureObj*>{m1, m2}));
    EXPECT_EQ(g->getGlobalGuardTransitions(), (std::list<Transition*>{t}));
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(*t->getNextEvent()->getBoundTokens(), (TokenList{a, b}));
    EXPECT_TRUE(t->getInEventList());
}

TEST(TransitionStartup, TracesItsProgressAroundTheFirstSearch) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    put(p);
    t->startup();
    const auto ls = lines(traces.trans());
    long at = -1;
    for (const char* step : {"T startup 1 ...", "T startup 2 ...", "T startup 3 ...", "T startup 4 ...",
                             "T startup 5 ...", "T search configuration...", "T startup 6 ..."}) {
        const long next = findLine(ls, step, at + 1);
        EXPECT_GT(next, at) << step;
        at = next;
    }
}

TEST(TransitionStartup, EmptyMarkingLeavesTheEventListEmpty) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->startup();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    EXPECT_EQ(t->generateCalls, 1);
}

// ---------------------------------------------------------------------------
// Space in the output places

TEST(TransitionSpace, FullOutputDisablesUnlessTheSamePlaceIsAlsoAnInput) {
    Env env;
    Place* src = makePlace(env.net, 1, "Src");
    Place* full = makePlace(env.net, 2, "Full", 2);
    put(src);
    put(full);
    put(full);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(src)->out(full);
    EXPECT_FALSE(t->checkSpace());
    t->startup();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(t->generateCalls, 0);

    Place* loop = makePlace(env.net, 3, "Loop", 2);
    put(loop);
    put(loop);
    TestTransition* u = addTransition(env.net, 2, "U");
    u->in(loop)->out(loop);
    EXPECT_TRUE(u->checkSpace());
    u->startup();
    EXPECT_EQ(u->getEvents().size(), 1u);
}

TEST(TransitionSpace, SelfLoopPassesOnlyWhenWhatItTakesMakesRoom) {
    Env env;
    Place* loop = makePlace(env.net, 1, "Loop", 3);
    put(loop);
    put(loop);
    TestTransition* takesOne = addTransition(env.net, 1, "T1");
    takesOne->in(loop, 1)->out(loop, 3);  // 2 + 3 - 1 = 4 > 3
    EXPECT_FALSE(takesOne->checkSpace());
    TestTransition* takesTwo = addTransition(env.net, 2, "T2");
    takesTwo->in(loop, 2)->out(loop, 3);  // 2 + 3 - 2 = 3 fits
    EXPECT_TRUE(takesTwo->checkSpace());
}

TEST(TransitionSpace, UnboundedPlacesAlwaysPassAndEveryOutputCounts) {
    Env env;
    Place* unbounded = makePlace(env.net, 1, "Unbounded");
    Place* small = makePlace(env.net, 2, "Small", 1);
    for (int i = 0; i < 5; ++i) put(unbounded);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->out(unbounded, 1000000);
    EXPECT_TRUE(t->checkSpace());
    t->out(small, 2);
    EXPECT_FALSE(t->checkSpace());
}

TEST(TransitionSpace, RefusalIsTraced) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* full = makePlace(env.net, 1, "Full", 1);
    put(full);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->out(full);
    EXPECT_FALSE(t->checkSpace());
    EXPECT_NE(findLine(lines(traces.trans()), "T checkSpace(): Full (Place) can't take token..."), -1);
}

// ---------------------------------------------------------------------------
// Enabling degree

TEST(TransitionDegree, MinimumOverInputsAndBoundedOutputs) {
    Env env;
    Place* a = makePlace(env.net, 1, "A");
    Place* b = makePlace(env.net, 2, "B");
    Place* o = makePlace(env.net, 3, "O", 10);
    for (int i = 0; i < 5; ++i) put(a);
    for (int i = 0; i < 3; ++i) put(b);
    for (int i = 0; i < 8; ++i) put(o);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(a, 2)->in(b, 1)->out(o, 1);
    EXPECT_EQ(t->getEnablingDegree(), 2);
    put(o);  // only one more fits into O
    EXPECT_EQ(t->getEnablingDegree(), 1);
}

TEST(TransitionDegree, InputsAloneWhenThereAreNoOutputs) {
    Env env;
    Place* a = makePlace(env.net, 1, "A");
    Place* b = makePlace(env.net, 2, "B");
    for (int i = 0; i < 7; ++i) put(a);
    for (int i = 0; i < 10; ++i) put(b);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(a, 2)->in(b, 1);
    EXPECT_EQ(t->getEnablingDegree(), 3);
    TestTransition* noPlaces = addTransition(env.net, 2, "None", true);
    EXPECT_EQ(noPlaces->getEnablingDegree(), INT_MAX);
}

TEST(TransitionDegree, ArcOfMultiplicityZeroImposesNothing) {
    Env env;
    Place* a = makePlace(env.net, 1, "A");
    Place* empty = makePlace(env.net, 2, "Empty");
    for (int i = 0; i < 4; ++i) put(a);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(a, 1)->in(empty, 0);
    EXPECT_EQ(t->getEnablingDegree(), 4);
}

TEST(TransitionDegree, PlacesThatAreInputAndOutput) {
    Env env;
    // Takes 3, puts back 1: the net loss of 2 per firing limits the degree.
    Place* shrinking = makePlace(env.net, 1, "Shrinking");
    for (int i = 0; i < 7; ++i) put(shrinking);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(shrinking, 3)->out(shrinking, 1);
    EXPECT_EQ(t->getEnablingDegree(), 2);  // min(7/3, 7/2)

    // Takes 1, puts 3: grows by 2 per firing in a place of capacity 10.
    Place* growing = makePlace(env.net, 2, "Growing", 10);
    for (int i = 0; i < 4; ++i) put(growing);
    TestTransition* u = addTransition(env.net, 2, "U", true);
    u->in(growing, 1)->out(growing, 3);
    EXPECT_EQ(u->getEnablingDegree(), 3);  // min(4/1, (10-4)/2)

    // Takes 2, puts 2 into a full place: no change, so no limit from the output.
    Place* balanced = makePlace(env.net, 3, "Balanced", 4);
    for (int i = 0; i < 4; ++i) put(balanced);
    TestTransition* v = addTransition(env.net, 3, "V", true);
    v->in(balanced, 2)->out(balanced, 2);
    EXPECT_EQ(v->getEnablingDegree(), 2);
}

TEST(TransitionDegree, RoundsTowardZeroAndNeverGoesNegative) {
    Env env;
    Place* a = makePlace(env.net, 1, "A");
    Place* o = makePlace(env.net, 2, "O", 10);
    Place* over = makePlace(env.net, 3, "Over", 3);
    Place* unbounded = makePlace(env.net, 4, "Unbounded");
    for (int i = 0; i < 20; ++i) put(a);
    for (int i = 0; i < 5; ++i) put(o);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(a)->out(o, 2)->out(unbounded, 5);
    EXPECT_EQ(t->getEnablingDegree(), 2);  // (10 - 5) / 2
    for (int i = 0; i < 5; ++i) put(over);  // more than its capacity
    TestTransition* u = addTransition(env.net, 2, "U", true);
    u->in(a)->out(over);
    EXPECT_EQ(u->getEnablingDegree(), 0);
}

// ---------------------------------------------------------------------------
// What the model's search sees

TEST(TransitionMarking, SingleServerSeesThePlaceOrItsFirstTokens) {
    Env env;
    Place* firstOnly = makePlace(env.net, 1, "First", 0, true);
    Place* all = makePlace(env.net, 2, "All");
    Ptr<Token> f1 = put(firstOnly), f2 = put(firstOnly), f3 = put(firstOnly);
    Ptr<Token> a1 = put(all), a2 = put(all), a3 = put(all);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(firstOnly, 2)->in(all, 2);
    EXPECT_EQ(t->getPlaceMarking(*firstOnly), (TokenList{f1, f2}));
    EXPECT_EQ(t->getPlaceMarking(*all), (TokenList{a1, a2, a3}));
}

TEST(TransitionMarking, InfiniteServerSeesItsUnboundTokensWhicheverPlaceItAsks) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* q = makePlace(env.net, 2, "Q");
    Ptr<Token> early = put(p);  // lies there before the arc exists: never recorded
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p)->in(q);
    Ptr<Token> p1 = put(p), q1 = put(q), p2 = put(p);
    EXPECT_EQ(&t->getPlaceMarking(*p), &t->getNotBoundTokens());
    EXPECT_EQ(&t->getPlaceMarking(*q), &t->getNotBoundTokens());
    EXPECT_EQ(t->getNotBoundTokens(), (TokenList{p1, q1, p2}));
    EXPECT_FALSE(holds(t->getNotBoundTokens(), early));

    p->removeToken(p1);
    EXPECT_EQ(t->getNotBoundTokens(), (TokenList{q1, p2}));
}

TEST(TransitionMarking, UnboundListIsKeptForInfiniteServersOnly) {
    Env env;
    TestTransition* single = addTransition(env.net, 1, "S");
    TestTransition* infinite = addTransition(env.net, 2, "I", true);
    Ptr<Token> tok(new Token_int(1));
    single->addNotBoundToken(tok);
    EXPECT_TRUE(single->getNotBoundTokens().empty());
    infinite->addNotBoundToken(tok);
    infinite->addNotBoundToken(tok);
    EXPECT_EQ(countOf(infinite->getNotBoundTokens(), tok), 2);
    infinite->removeNotBoundToken(tok);  // every handle to it goes
    EXPECT_TRUE(infinite->getNotBoundTokens().empty());
}

// ---------------------------------------------------------------------------
// The enabling test before a search

TEST(TransitionAvailable, EvaluatesSpaceThenGuardAndSearchesOnlyWhenBothHold) {
    Env env;
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O", 1);
    put(p);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p)->out(o);
    t->journal = &journal;

    TempBindingList* list = t->getAvailableBindingList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->size(), 1u);
    for (TokenList* c : *list) delete c;
    delete list;
    EXPECT_EQ(journal, (std::vector<std::string>{"T.checkSpace", "T.globalGuard", "T.generate"}));

    journal.clear();
    t->guard = [] { return false; };
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"T.checkSpace", "T.globalGuard"}));

    journal.clear();
    t->guard = nullptr;
    put(o);  // no more space
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"T.checkSpace", "T.globalGuard"}));
}

TEST(TransitionAvailable, TracesGuardAndConjunction) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* o = makePlace(env.net, 1, "O", 1);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->out(o);
    t->guard = [] { return false; };
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    put(o);
    t->guard = nullptr;
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    const auto ls = lines(traces.trans());
    EXPECT_NE(findLine(ls, "T so we check()...  GlobalGuard(): FALSE ==> Space()&&GlobalGuard() FALSE"), -1);
    EXPECT_NE(findLine(ls, "T so we check()...  GlobalGuard(): TRUE ==> Space()&&GlobalGuard() FALSE"), -1);
}

// ---------------------------------------------------------------------------
// Binding search of a single-server transition

TEST(TransitionSearch, SingleServerBindsOneOfThreeCandidatesWithOneDrawEach) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    t->exponential = true;
    t->mean = 2.0;
    t->in(p);
    std::vector<Ptr<Token>> tok{put(p, 0), put(p, 1), put(p, 2)};
    env.clock(5.0);
    const long firstId = Binding::idCounter;

    t->searchConfiguration();

    ASSERT_EQ(t->getEvents().size(), 1u);
    ASSERT_EQ(t->candidateHistory.size(), 1u);
    EXPECT_EQ(t->candidateHistory[0].size(), 3u);
    Binding* b = t->getNextEvent();
    const long k = expected.random.randint(0, 2);
    EXPECT_EQ(*b->getBoundTokens(), TokenList{tok[k]});
    EXPECT_EQ(b->getTime().FullDateTime(), 5.0 + expected.delay.Exp(2.0));
    EXPECT_EQ(b->getBoundTransition(), t);
    EXPECT_TRUE(b->isFireEvent());
    EXPECT_EQ(b->getID(), firstId);
    EXPECT_TRUE(t->getInEventList());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(tok[i]->containsTransition(t), i == k) << i;
    // Exactly one number was taken from each stream.
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());
    EXPECT_EQ(t->nextDelayUniform(), expected.delay.randu01());
}

TEST(TransitionSearch, SingleServerDrawsEvenForALoneCandidate) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    Ptr<Token> only = put(p);
    t->searchConfiguration();
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(*t->getNextEvent()->getBoundTokens(), TokenList{only});
    EXPECT_EQ(expected.random.randint(0, 0), 0);
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());
}

TEST(TransitionSearch, SingleServerChoiceFollowsItsStreamAndReachesEveryCandidate) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    std::vector<Ptr<Token>> tok{put(p), put(p), put(p)};
    std::vector<int> seen(3, 0);
    for (int round = 0; round < 60; ++round) {
        t->searchConfiguration();
        ASSERT_EQ(t->getEvents().size(), 1u);
        const long k = expected.random.randint(0, 2);
        ASSERT_EQ(*t->getNextEvent()->getBoundTokens(), TokenList{tok[k]}) << "round " << round;
        ++seen[k];
        t->removeBinding(t->getNextEvent(), false);
    }
    for (int i = 0; i < 3; ++i) EXPECT_GT(seen[i], 0) << i;
    for (const Ptr<Token>& x : tok) EXPECT_TRUE(x->getTransitions().empty());
}

TEST(TransitionSearch, NoCandidateMeansNoBindingAndNoDraw) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->searchConfiguration();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());
    const auto ls = lines(traces.trans());
    const long searching = findLine(ls, "T search configuration...");
    EXPECT_NE(searching, -1);
    EXPECT_EQ(findLine(ls, "T is IS: FALSE"), searching + 1);
    EXPECT_NE(findLine(ls, "T found no configuration ;-("), -1);
}

TEST(TransitionSearch, NotEnabledMeansNoSearchAtAll) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    put(p);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->guard = [] { return false; };
    t->searchConfiguration();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(t->generateCalls, 0);
    EXPECT_EQ(findLine(lines(traces.trans()), "T search configuration..."), -1);
}

TEST(TransitionSearch, SuccessfulSearchIsTraced) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    put(p);
    put(p);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->searchConfiguration();
    ASSERT_EQ(t->getEvents().size(), 1u);
    std::ostringstream binding;
    binding << *t->getNextEvent();
    const auto ls = lines(traces.trans());
    const long choose = findLine(ls, "choose binding of 2");
    ASSERT_NE(choose, -1);
    EXPECT_GT(findLine(ls, "Binding extracted and checked into Eventlist: " + binding.str(), choose), choose);
}

// ---------------------------------------------------------------------------
// Binding search of an infinite-server transition

TEST(TransitionSearch, InfiniteServerAddsBindingsUpToItsDegree) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O", 3);
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p)->out(o);
    std::vector<Ptr<Token>> tok;
    for (int i = 0; i < 6; ++i) tok.push_back(put(p, i));
    ASSERT_EQ(t->getEnablingDegree(), 3);
    t->addBinding(new Binding(new TokenList{tok[0]}, t, env.sim->getCurrentSimulationTime()));
    ASSERT_EQ(t->getNotBoundTokens().size(), 5u);

    t->searchConfiguration();

    EXPECT_EQ(t->getEvents().size(), 3u);
    // The candidates are asked for again after every new binding.
    ASSERT_EQ(t->candidateHistory.size(), 3u);
    EXPECT_EQ(t->candidateHistory[0].size(), 5u);
    EXPECT_EQ(t->candidateHistory[1].size(), 4u);
    EXPECT_EQ(t->candidateHistory[2].size(), 3u);
    std::vector<Ptr<Token>> freeTokens(tok.begin() + 1, tok.end());
    const long k1 = expected.random.randint(0, 4);
    Ptr<Token> first = freeTokens[k1];
    freeTokens.erase(freeTokens.begin() + k1);
    const long k2 = expected.random.randint(0, 3);
    Ptr<Token> second = freeTokens[k2];
    freeTokens.erase(freeTokens.begin() + k2);
    TokenList bound = boundTokens(*t);
    EXPECT_EQ(bound.size(), 3u);
    EXPECT_TRUE(holds(bound, tok[0]));
    EXPECT_TRUE(holds(bound, first));
    EXPECT_TRUE(holds(bound, second));
    EXPECT_EQ(t->getNotBoundTokens(), TokenList(freeTokens.begin(), freeTokens.end()));
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());

    // Full to its degree: a further search adds nothing.
    t->searchConfiguration();
    EXPECT_EQ(t->getEvents().size(), 3u);
}

TEST(TransitionSearch, InfiniteServerStopsWhenTheCandidatesRunOut) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p, 2);
    for (int i = 0; i < 5; ++i) put(p);
    ASSERT_EQ(t->getEnablingDegree(), 2);
    t->searchConfiguration();
    EXPECT_EQ(t->getEvents().size(), 2u);
    EXPECT_EQ(t->getNotBoundTokens().size(), 1u);
    // Two bindings of two disjoint tokens each.
    TokenList bound = boundTokens(*t);
    std::set<Token*> distinct;
    for (const Ptr<Token>& x : bound) distinct.insert(x.GetRawPtr());
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_NE(findLine(lines(traces.trans()), "T is IS: TRUE"), -1);
}

TEST(TransitionSearch, ExtractRandomBindingRemovesTheDrawnCandidate) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    std::vector<TokenList*> originals;
    auto* list = new TempBindingList;
    for (int i = 0; i < 4; ++i) {
        originals.push_back(new TokenList{Ptr<Token>(new Token_int(i))});
        list->push_back(originals.back());
    }
    TokenList* chosen = t->extractRandomBinding(list);
    const long k = expected.random.randint(0, 3);
    EXPECT_EQ(chosen, originals[k]);
    std::vector<TokenList*> rest = originals;
    rest.erase(rest.begin() + k);
    EXPECT_EQ(std::vector<TokenList*>(list->begin(), list->end()), rest);
    EXPECT_NE(findLine(lines(traces.trans()), "choose binding of 4"), -1);
    delete chosen;
    for (TokenList* c : *list) delete c;
    delete list;
}

// ---------------------------------------------------------------------------
// The event list

TEST(TransitionEvents, AddingRegistersTokensAndRemovingUnregistersThem) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p);
    Ptr<Token> a = put(p), b = put(p), c = put(p);
    Binding* ab = new Binding(new TokenList{a, b}, t, env.sim->getCurrentSimulationTime());
    t->addBinding(ab);
    EXPECT_TRUE(t->getInEventList());
    EXPECT_EQ(a->getTransitions(), (Token::TransitionList{t}));
    EXPECT_EQ(b->getTransitions(), (Token::TransitionList{t}));
    EXPECT_TRUE(c->getTransitions().empty());
    EXPECT_EQ(t->getNotBoundTokens(), TokenList{c});

    Binding* cOnly = new Binding(new TokenList{c}, t, env.sim->getCurrentSimulationTime());
    t->addBinding(cOnly);
    EXPECT_EQ(t->getEvents().size(), 2u);
    t->removeBinding(ab, false);
    EXPECT_TRUE(a->getTransitions().empty());
    EXPECT_TRUE(b->getTransitions().empty());
    EXPECT_EQ(t->getEvents().size(), 1u);
    EXPECT_TRUE(t->getInEventList());
    t->removeBinding(cOnly, false);
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    // Removing a binding does not give its tokens back to the free list.
    EXPECT_TRUE(t->getNotBoundTokens().empty());
}

TEST(TransitionEvents, RemovingWithNotificationMakesTheOtherHoldersLookAgain) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    TestTransition* u = addTransition(env.net, 2, "U");
    t->in(p);
    u->in(p);
    Ptr<Token> a = put(p);
    t->startup();
    u->startup();
    ASSERT_EQ(a->getTransitions(), (Token::TransitionList{t, u}));
    Binding* uBinding = u->getNextEvent();
    const long uId = uBinding->getID();

    // Without notification U keeps its binding.
    p->removeToken(a);
    t->removeBinding(t->getNextEvent(), false);
    EXPECT_EQ(u->getEvents().size(), 1u);
    EXPECT_EQ(u->getNextEvent()->getID(), uId);

    // With notification U withdraws it; nothing else is there to bind.
    Ptr<Token> b = put(p);
    t->searchConfiguration();
    ASSERT_EQ(*t->getNextEvent()->getBoundTokens(), TokenList{b});
    u->removeBinding(u->getNextEvent(), false);
    u->searchConfiguration();
    ASSERT_EQ(*u->getNextEvent()->getBoundTokens(), TokenList{b});
    p->removeToken(b);
    t->removeBinding(t->getNextEvent(), true);
    EXPECT_TRUE(u->getEvents().empty());
    EXPECT_TRUE(b->getTransitions().empty());
}

TEST(TransitionEvents, RemovalIsTraced) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->searchConfiguration();  // no inputs: one empty candidate
    ASSERT_EQ(t->getEvents().size(), 1u);
    t->removeBinding(t->getNextEvent(), false);
    EXPECT_NE(traces.trans().find("removeFromEventList()... T, weight:1, priority:0\n\n"), std::string::npos);
}

TEST(TransitionEvents, NextEventIsEarliestThenHighestPriorityThenOldest) {
    Env env;
    TestTransition* t = addTransition(env.net, 1, "T", true);
    auto add = [&](double delay, int priority) {
        t->fixedDelay = delay;
        t->setPriority(priority);
        Binding* b = new Binding(new TokenList{Ptr<Token>(new Token_int(0))}, t, DateTime(0.0));
        t->addBinding(b);
        return b;
    };
    EXPECT_EQ(t->getNextEvent(), nullptr);
    Binding* p1 = add(10.0, 1);
    EXPECT_EQ(t->getNextEvent(), p1);
    Binding* p2 = add(10.0, 2);
    EXPECT_EQ(t->getNextEvent(), p2);
    Binding* late = add(10.000001, 9);
    EXPECT_EQ(t->getNextEvent(), p2);
    Binding* early = add(9.0, 0);
    EXPECT_EQ(t->getNextEvent(), early);
    Binding* earlyToo = add(9.0, 0);
    EXPECT_EQ(t->getNextEvent(), early);
    std::vector<Binding*> order(t->getEvents().begin(), t->getEvents().end());
    EXPECT_EQ(order, (std::vector<Binding*>{early, earlyToo, p2, p1, late}));
}

TEST(TransitionEvents, SavedStateOperationsBypassTheBookkeeping) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    TestTransition* u = addTransition(env.net, 2, "U");
    t->in(p);
    Ptr<Token> a = put(p);
    Binding* restored = new Binding(42, t, DateTime(3.0), 1, 1.0, true, new TokenList{a});
    t->addRestoredBinding(restored);
    EXPECT_EQ(t->getNextEvent(), restored);
    EXPECT_TRUE(t->getInEventList());
    EXPECT_TRUE(a->getTransitions().empty());
    t->removeCurrentBindings();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    // removeCurrentBindings freed it: a saved state keeps value copies only.

    t->addRestoredNotBoundToken(a);  // appended whatever the kind of server
    EXPECT_EQ(t->getNotBoundTokens(), TokenList{a});
    t->removeCurrentNotBoundTokens();
    EXPECT_TRUE(t->getNotBoundTokens().empty());

    t->setCouldEnableTransitions({u, u});
    t->setCouldDisableTransitions({u});
    std::list<Transition*> copy = t->getCouldEnableTransitions();
    copy.clear();
    EXPECT_EQ(t->getCouldEnableTransitions(), (std::list<Transition*>{u, u}));
    EXPECT_EQ(t->getCouldDisableTransitions(), (std::list<Transition*>{u}));
}

// ---------------------------------------------------------------------------
// Time-guard optimisation

namespace {

// An immediate single-server transition whose guard opens at `opensAt`.
TestTransition* guarded(Env& env, int id, const char* name, double opensAt) {
    TestTransition* t = addTransition(env.net, id, name);
    t->setImmediate(true);
    t->timeguard = true;
    t->timeguardFn = [opensAt](const DateTime& at) {
        return std::max(0.0, opensAt - at.FullDateTime());
    };
    return t;
}

}  // namespace

TEST(TransitionTimeguard, OptimisesOnlyImmediateSingleServersWithAGuardOutsideSingleStep) {
    Env env;
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->setTimeguardOptimization(true);
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    t->setTimeguardOptimization(false);
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    t->setTimeguardOptimization(true);
    t->setImmediate(false);
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    t->setImmediate(true);
    t->timeguard = false;
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    t->timeguard = true;
    env.sim->singleStep = true;
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    env.sim->singleStep = false;
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());

    TestTransition::Options o;
    o.infinite = true;
    TestTransition u(2, "U", &env.net, o);
    u.setImmediate(true);
    u.timeguard = true;
    u.setTimeguardOptimization(true);
    EXPECT_FALSE(u.isOptimizingTimeguardTransition());
}

TEST(TransitionTimeguard, StartupSchedulesOneTemporaryBindingWhenTheGuardOpens) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = guarded(env, 1, "T", 7.0);
    t->in(p);
    put(p);
    env.clock(3.0);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* temp = t->getNextEvent();
    EXPECT_TRUE(temp->isTempBinding());
    EXPECT_EQ(temp->getBoundTokens(), nullptr);
    EXPECT_FALSE(temp->isFireEvent());
    EXPECT_EQ(temp->getTime().FullDateTime(), 7.0);
    EXPECT_TRUE(t->getInEventList());
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    EXPECT_EQ(t->generateCalls, 0);
}

TEST(TransitionTimeguard, TemporaryBindingIgnoresEveryChangeOfTheMarking) {
    Env env;
    Place* src = makePlace(env.net, 1, "Src");
    Place* p = makePlace(env.net, 2, "P");
    Place* g = makePlace(env.net, 3, "G");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    TestTransition* producer = addTransition(env.net, 2, "Producer");
    t->in(p);
    t->guardPlaces = {g};
    producer->in(src)->out(p)->out(g);
    put(src);
    put(src);
    producer->startup();
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* temp = t->getNextEvent();
    const long tempId = temp->getID();

    // The producer's firing adds to T's input and to the place its guard reads.
    producer->fire(producer->getNextEvent(), 1.0);
    ASSERT_EQ(p->getMarkingSize(), 1);
    t->couldEnableNotify();
    t->couldDisableNotify();
    t->placeNotify();
    g->removeToken(g->getFullMarking().front());

    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(t->getNextEvent(), temp);
    EXPECT_EQ(temp->getID(), tempId);
    EXPECT_EQ(temp->getTime().FullDateTime(), 4.0);
    EXPECT_TRUE(temp->isTempBinding());
    EXPECT_EQ(t->generateCalls, 0);
    EXPECT_EQ(t->guardCalls, 0);
}

TEST(TransitionTimeguard, SearchWaitsUntilTheGuardIsOpen) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->in(p);
    put(p);
    t->setTimeguardOptimization(true);
    t->searchConfiguration();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(t->generateCalls, 0);
    env.clock(4.0);
    t->searchConfiguration();
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_FALSE(t->getNextEvent()->isTempBinding());
    EXPECT_FALSE(t->getNextEvent()->isFireEvent());
}

TEST(TransitionTimeguard, ConversionGivesTheTemporaryBindingTokensAndEndsTheOptimisation) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->setPriority(2);
    t->in(p);
    std::vector<Ptr<Token>> tok{put(p), put(p)};
    t->startup();
    Binding* temp = t->getNextEvent();
    const long id = temp->getID();
    env.clock(4.0);

    EXPECT_TRUE(t->convertTimeguardBinding(temp));

    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(t->getNextEvent(), temp);
    ASSERT_NE(temp->getBoundTokens(), nullptr);
    const long k = expected.random.randint(0, 1);
    EXPECT_EQ(*temp->getBoundTokens(), TokenList{tok[k]});
    EXPECT_EQ(temp->getID(), id);
    EXPECT_EQ(temp->getTime().FullDateTime(), 4.0);
    EXPECT_EQ(temp->getPriority(), 2);
    EXPECT_FALSE(temp->isFireEvent());
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    // Its token knows it is held, like the token of any other binding.
    EXPECT_EQ(tok[k]->getTransitions(), (Token::TransitionList{t}));
    EXPECT_TRUE(tok[1 - k]->getTransitions().empty());

    std::ostringstream text;
    text << *temp;
    const auto ls = lines(traces.trans());
    const long converting = findLine(ls, "T convert temporary Timeguard binding...");
    ASSERT_NE(converting, -1);
    EXPECT_GT(findLine(ls, "Binding is converted to: " + text.str(), converting), converting);
}

TEST(TransitionTimeguard, ConvertedBindingIsWithdrawnWhenItsTokenIsConsumedElsewhere) {
    Env env;
    Place* p = makePlace(env.net, 1, "P", 0, true);  // both see only the oldest token
    Place* done = makePlace(env.net, 2, "Done");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    TestTransition* other = addTransition(env.net, 2, "Other");
    other->fixedDelay = 4.0;
    t->in(p);
    other->in(p)->out(done);
    Ptr<Token> first = put(p);
    Ptr<Token> second = put(p);
    t->startup();
    other->startup();
    env.clock(4.0);
    Binding* temp = t->getNextEvent();
    ASSERT_TRUE(t->convertTimeguardBinding(temp));
    ASSERT_EQ(*temp->getBoundTokens(), TokenList{first});

    other->fire(other->getNextEvent(), 1.0);

    ASSERT_FALSE(lies(p, first));
    // T let go of the consumed token and bound the other one with a plain search.
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* now = t->getNextEvent();
    ASSERT_NE(now->getBoundTokens(), nullptr);
    EXPECT_EQ(*now->getBoundTokens(), TokenList{second});
    EXPECT_FALSE(now->isFireEvent());
    EXPECT_EQ(now->getTime().FullDateTime(), 4.0);
    EXPECT_TRUE(first->getTransitions().empty());
}

TEST(TransitionTimeguard, ConversionWithoutCandidatesFailsAndKeepsTheTemporaryBinding) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->in(p);
    t->startup();
    Binding* temp = t->getNextEvent();
    env.clock(4.0);
    EXPECT_FALSE(t->convertTimeguardBinding(temp));
    EXPECT_EQ(t->getNextEvent(), temp);
    EXPECT_TRUE(temp->isTempBinding());
    EXPECT_EQ(temp->getTime().FullDateTime(), 4.0);
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    EXPECT_EQ(t->generateCalls, 1);
    const auto ls = lines(traces.trans());
    const long converting = findLine(ls, "T convert temporary Timeguard binding...");
    ASSERT_NE(converting, -1);
    EXPECT_GT(findLine(ls, "T found no configuration ;-(", converting), converting);
}

TEST(TransitionTimeguard, ConversionWithAClosedGlobalGuardFailsWithoutSearching) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->in(p);
    put(p);
    t->guard = [] { return false; };
    t->startup();
    Binding* temp = t->getNextEvent();
    env.clock(4.0);
    EXPECT_FALSE(t->convertTimeguardBinding(temp));
    EXPECT_TRUE(temp->isTempBinding());
    EXPECT_EQ(t->generateCalls, 0);
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
}

TEST(TransitionTimeguard, SingleStepModeSearchesAtOnce) {
    Env env;
    env.sim->singleStep = true;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->in(p);
    Ptr<Token> a = put(p);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* b = t->getNextEvent();
    ASSERT_NE(b->getBoundTokens(), nullptr);
    EXPECT_EQ(*b->getBoundTokens(), TokenList{a});
    EXPECT_FALSE(b->isFireEvent());
    EXPECT_EQ(b->getTime().FullDateTime(), 4.0);
}

// ---------------------------------------------------------------------------
// Invariants

TEST(TransitionDeathTest, SingleServerHoldsAtMostOneBinding) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    Ptr<Token> a = put(p), b = put(p);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_DEATH(t->addBinding(new Binding(new TokenList{b}, t, DateTime(0.0))),
                 "isInfinite \\|\\| bindings\\.empty\\(\\), file src/Transition");
    EXPECT_DEATH(t->searchConfiguration(), "isInfinite \\|\\| bindings\\.empty\\(\\), file src/Transition");
}

TEST(TransitionDeathTest, BindingWithoutTokensCannotBeAdded) {
    Env env;
    TestTransition* t = addTransition(env.net, 1, "T");
    EXPECT_DEATH(t->addBinding(new Binding(t, DateTime(0.0))),
                 "binding->getBoundTokens\\(\\) != NULL, file src/Transition");
}

TEST(TransitionDeathTest, TemporaryBindingNeedsAnEmptyEventList) {
    Env env;
    TestTransition* t = guarded(env, 1, "T", 4.0);
    t->searchConfiguration();  // no inputs: binds at once
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_DEATH(t->addTimeguardBinding(DateTime(1.0)), "failed: bindings\\.empty\\(\\), file src/Transition");
}

// The event loop looks only at the transitions the event selection lists as
// having events: every way of adding or removing events keeps that list exact.
TEST(TransitionEvents, TheSelectionKnowsWhichTransitionsHaveEvents) {
    Env env;
    EventSelection selection;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    TestTransition* u = addTransition(env.net, 2, "U");
    t->in(p);
    auto listed = [&] {
        std::vector<std::string> names;
        const std::vector<Transition*>& order = selection.order(env.net);
        const std::vector<std::uint64_t>& bits = selection.pending(env.net);
        for (std::size_t k = 0; k < order.size(); ++k)
            if (bits[k / 64] >> (k % 64) & 1) names.push_back(order[k]->getName());
        return names;
    };
    EXPECT_TRUE(listed().empty());
    Ptr<Token> a = put(p);
    t->startup();
    u->startup();  // no input place: one event
    EXPECT_EQ(listed(), (std::vector<std::string>{"T", "U"}));
    t->removeBinding(t->getNextEvent(), false);
    EXPECT_EQ(listed(), (std::vector<std::string>{"U"}));
    t->addRestoredBinding(new Binding(42, t, DateTime(3.0), 0, 1.0, true, new TokenList{a}));
    EXPECT_EQ(listed(), (std::vector<std::string>{"T", "U"}));
    u->removeCurrentBindings();
    EXPECT_EQ(listed(), (std::vector<std::string>{"T"}));
    // A transition registered later is seen once the order is remade.
    TestTransition* v = addTransition(env.net, 3, "A");
    v->startup();
    EXPECT_EQ(listed(), (std::vector<std::string>{"A", "T"}));
}
