#include "core/NetClass.h"

#include <gtest/gtest.h>

#include <iostream>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "core/Place.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using testnet::CountingToken;
using testnet::handleCount;
using testnet::intToken;
using testnet::TestMeasure;
using testnet::TestNet;
using testnet::TestTransition;
using testsupport::CaptureStream;

namespace {

std::vector<std::string> names(const std::list<MeasureObj*>& measures) {
    std::vector<std::string> out;
    for (MeasureObj* m : measures) out.push_back(m->getName());
    return out;
}

// Owns measures that no place holds (a registry only lists them).
struct MeasureBin {
    std::vector<MeasureObj*> items;
    template <class M>
    M* keep(M* m) {
        items.push_back(m);
        return m;
    }
    ~MeasureBin() {
        for (MeasureObj* m : items) delete m;
    }
};

const std::string kAccumulativeWarning =
    "Warning: accumulative performance measures are only allowed in transient simulation. "
    "Ignoring Measure ";
const std::string kInstantaneousWarning =
    "Warning: instantaneous performance measures are only allowed in transient simulation. "
    "Ignoring Measure ";

}  // namespace

// ---------------------------------------------------------------------------
// Registration and lookup

TEST(NetClassRegistry, PlacesAndTransitionsAreFoundByName) {
    TestNet net;
    auto* p = new Place(1, "P_thread_pool", &net, false, 0);
    auto* t = new TestTransition(4, "A3_execution", &net);
    net.addPlace(p);
    net.addTransition(t);
    CaptureStream out(std::cout);
    EXPECT_EQ(net.getPlace("P_thread_pool"), p);
    EXPECT_EQ(net.getPlace(std::string("P_thread_pool")), p);
    EXPECT_EQ(net.getTransition("A3_execution"), t);
    EXPECT_EQ(net.getPlaces().size(), 1u);
    EXPECT_EQ(net.getTransitions().size(), 1u);
    EXPECT_EQ(out.text(), "");
}

TEST(NetClassRegistry, UnknownPlaceNameIsReported) {
    TestNet net;
    net.addPlace(new Place(1, "P", &net, false, 0));
    CaptureStream out(std::cout);
    EXPECT_EQ(net.getPlace("C1_sem"), nullptr);
    EXPECT_EQ(net.getPlace(std::string("p")), nullptr);
    EXPECT_EQ(out.text(), "Couldn't find Place: C1_sem\nCouldn't find Place: p\n");
}

TEST(NetClassRegistry, UnknownTransitionNameIsReported) {
    TestNet net;
    CaptureStream out(std::cout);
    EXPECT_EQ(net.getTransition("T9"), nullptr);
    EXPECT_EQ(out.text(), "Couldn't find Transition: T9\n");
}

TEST(NetClassRegistry, LookupByIdentifierIsSilentAndTakesFirstInNameOrder) {
    TestNet net;
    auto* b = new Place(7, "B", &net, false, 0);
    auto* a = new Place(7, "A", &net, false, 0);
    auto* c = new Place(3, "C", &net, false, 0);
    net.addPlace(b);
    net.addPlace(a);
    net.addPlace(c);
    auto* tz = new TestTransition(5, "Z", &net);
    auto* ty = new TestTransition(5, "Y", &net);
    net.addTransition(tz);
    net.addTransition(ty);

    CaptureStream out(std::cout);
    EXPECT_EQ(net.getPlace(7), a);
    EXPECT_EQ(net.getPlace(3), c);
    EXPECT_EQ(net.getPlace(99), nullptr);
    EXPECT_EQ(net.getTransition(5), ty);
    EXPECT_EQ(net.getTransition(6), nullptr);
    EXPECT_EQ(out.text(), "");
}

TEST(NetClassRegistry, LocalPlaceNamesResolveThroughTheTransitionsMap) {
    TestNet net;
    auto* pool = new Place(1, "P_thread_pool", &net, false, 0);
    net.addPlace(pool);
    std::map<std::string, std::string> idents = {{"pool", "P_thread_pool"}, {"sem", "C1_sem"}};

    CaptureStream out(std::cout);
    EXPECT_EQ(net.getPlace(&idents, "pool"), pool);
    EXPECT_EQ(out.text(), "");
    // Unknown local name: reported under the local name.
    EXPECT_EQ(net.getPlace(&idents, "queue"), nullptr);
    // Known local name of an unregistered place: reported under the net name.
    EXPECT_EQ(net.getPlace(&idents, "sem"), nullptr);
    EXPECT_EQ(out.text(), "Couldn't find Place: queue\nCouldn't find Place: C1_sem\n");
}

TEST(NetClassRegistry, SecondElementWithSameNameIsNotRegistered) {
    TestNet net;
    auto* first = new Place(1, "P", &net, false, 0);
    auto* second = new Place(2, "P", &net, false, 0);
    net.addPlace(first);
    net.addPlace(second);
    EXPECT_EQ(net.getPlaces().size(), 1u);
    EXPECT_EQ(net.getPlace("P"), first);
    EXPECT_EQ(net.getPlace(2), nullptr);

    int destroyed = 0;
    auto* t1 = new TestTransition(1, "T", &net);
    auto* t2 = new TestTransition(2, "T", &net);
    t2->destroyed = &destroyed;
    net.addTransition(t1);
    net.addTransition(t2);
    EXPECT_EQ(net.getTransitions().size(), 1u);
    EXPECT_EQ(net.getTransition("T"), t1);

    // The rejected ones are not the registry's to delete.
    delete second;
    delete t2;
    EXPECT_EQ(destroyed, 1);
}

TEST(NetClassRegistry, DestructionDeletesRegisteredPlacesAndTransitions) {
    int measuresGone = 0;
    int transitionsGone = 0;
    {
        TestNet net;
        for (int i = 0; i < 3; ++i) {
            const std::string name = "P" + std::to_string(i);
            auto* p = new Place(i, name.c_str(), &net, false, 0);
            // A place releases its measures when it is deleted.
            p->addMeasure(TestMeasure::timeAveraged(name.c_str(), &net, &measuresGone));
            net.addPlace(p);
            auto* t = new TestTransition(i, ("T" + std::to_string(i)).c_str(), &net);
            t->destroyed = &transitionsGone;
            net.addTransition(t);
        }
        EXPECT_EQ(measuresGone, 0);
        EXPECT_EQ(transitionsGone, 0);
    }
    EXPECT_EQ(measuresGone, 3);
    EXPECT_EQ(transitionsGone, 3);
}

TEST(NetClassRegistry, DestructionLeavesListedMeasuresAlone) {
    MeasureBin bin;
    int destroyed = 0;
    {
        TestNet net;
        net.addMeasure(bin.keep(TestMeasure::instantaneous("M", &net, &destroyed)));
    }
    EXPECT_EQ(destroyed, 0);
}

TEST(NetClassRegistry, TokenHeldInABindingSurvivesTheNetAndForgetsTheTransition) {
    Ptr<Token> token = intToken(1);
    {
        TestNet net;
        auto* p = new Place(1, "P", &net, false, 0);
        auto* t = new TestTransition(1, "T", &net);
        net.addPlace(p);
        net.addTransition(t);
        NetClass::linkIntoTransition(p, t, 1);
        p->addToken(token);
        t->searchConfiguration();
        ASSERT_TRUE(token->containsTransition(t));
    }
    EXPECT_TRUE(token->getTransitions().empty());
    EXPECT_EQ(handleCount(token), 1u);
}

// ---------------------------------------------------------------------------
// Arcs

TEST(NetClassArcs, LinkingIntoTransitionSetsPlaceMultiplicityAndInputPlace) {
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* t = new TestTransition(42, "T", &net);
    net.addPlace(p);
    net.addTransition(t);
    NetClass::linkIntoTransition(p, t, 2);
    EXPECT_EQ(p->getOutTransitionMultiplicity(42), 2);
    EXPECT_EQ(p->getInTransitionMultiplicity(42), 0);
    EXPECT_EQ(p->getOutTransitions(), (std::list<Transition*>{t}));
    EXPECT_EQ(t->getInPlaces(), (std::list<Place*>{p}));
    EXPECT_TRUE(t->getOutPlaces().empty());
}

TEST(NetClassArcs, LinkingOutOfTransitionSetsPlaceMultiplicityAndOutputPlace) {
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* t = new TestTransition(42, "T", &net);
    net.addPlace(p);
    net.addTransition(t);
    NetClass::linkOutOfTransition(t, p, 3);
    EXPECT_EQ(p->getInTransitionMultiplicity(42), 3);
    EXPECT_EQ(p->getOutTransitionMultiplicity(42), 0);
    EXPECT_EQ(p->getInTransitions(), (std::list<Transition*>{t}));
    EXPECT_EQ(t->getOutPlaces(), (std::list<Place*>{p}));
    EXPECT_TRUE(t->getInPlaces().empty());
}

TEST(NetClassArcs, LinkingByNameResolvesBothEnds) {
    TestNet net;
    auto* in = new Place(1, "In", &net, false, 0);
    auto* out = new Place(2, "Out", &net, false, 0);
    auto* t = new TestTransition(8, "T", &net);
    net.addPlace(in);
    net.addPlace(out);
    net.addTransition(t);
    CaptureStream capture(std::cout);
    net.linkPlaceToTransition("In", "T", 2);
    net.linkTransitionToPlace("T", "Out", 4);
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(in->getOutTransitionMultiplicity(8), 2);
    EXPECT_EQ(out->getInTransitionMultiplicity(8), 4);
    EXPECT_EQ(t->getInPlaces(), (std::list<Place*>{in}));
    EXPECT_EQ(t->getOutPlaces(), (std::list<Place*>{out}));
}

TEST(NetClassArcs, LinkingUnknownNamesReportsThem) {
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* t = new TestTransition(8, "T", &net);
    net.addPlace(p);
    net.addTransition(t);
    CaptureStream capture(std::cout);
    net.linkPlaceToTransition("Nowhere", "T", 1);
    net.linkPlaceToTransition("P", "Nobody", 1);
    const std::string text = capture.text();
    EXPECT_NE(text.find("Couldn't find Place: Nowhere\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Couldn't find Transition: Nobody\n"), std::string::npos) << text;
    EXPECT_TRUE(t->getInPlaces().empty());
    EXPECT_EQ(p->getOutTransitionMultiplicity(8), 0);
}

// ---------------------------------------------------------------------------
// Measure lists and rebuilding

TEST(NetClassMeasures, ClearMapsForgetsTheBuildWithoutDeletingIt) {
    MeasureBin bin;
    TestNet net;
    int placeMeasureGone = 0;
    int transitionsGone = 0;
    auto* p = new Place(1, "P", &net, false, 0);
    p->addMeasure(TestMeasure::timeAveraged("onPlace", &net, &placeMeasureGone));
    auto* t = new TestTransition(1, "T", &net);
    t->destroyed = &transitionsGone;
    net.addPlace(p);
    net.addTransition(t);
    net.addMeasure(bin.keep(TestMeasure::instantaneous("M1", &net)));
    net.addMeasure(bin.keep(TestMeasure::accumulating("M2", &net)));
    net.addMeasure(bin.keep(TestMeasure::timeAveraged("M3", &net)));

    net.clearMaps();
    EXPECT_TRUE(net.getPlaces().empty());
    EXPECT_TRUE(net.getTransitions().empty());
    EXPECT_TRUE(net.getMeasureList().empty());
    EXPECT_EQ(names(net.getStoredMeasureList()), (std::vector<std::string>{"M1", "M2", "M3"}));
    EXPECT_EQ(placeMeasureGone, 0);
    EXPECT_EQ(transitionsGone, 0);

    CaptureStream out(std::cout);
    net.loadMeasureList(0);
    EXPECT_EQ(names(net.getMeasureList()), (std::vector<std::string>{"M1", "M2", "M3"}));
    EXPECT_EQ(out.text(), "");

    // The old build is still intact and now ours to delete.
    EXPECT_EQ(p->getName(), "P");
    delete p;
    delete t;
    EXPECT_EQ(placeMeasureGone, 1);
    EXPECT_EQ(transitionsGone, 1);
}

TEST(NetClassMeasures, NonTransientRunsKeepOnlyTimeAveragedMeasures) {
    for (int kind : {1, 2}) {
        MeasureBin bin;
        TestNet net;
        net.addMeasure(bin.keep(TestMeasure::accumulating("Throughput", &net)));
        net.addMeasure(bin.keep(TestMeasure::timeAveraged("Utilisation", &net)));
        net.addMeasure(bin.keep(TestMeasure::instantaneous("Snapshot", &net)));
        net.addMeasure(bin.keep(TestMeasure::timeAveraged("Queue", &net)));
        net.storeMeasureList();

        CaptureStream out(std::cout);
        net.loadMeasureList(kind);
        EXPECT_EQ(names(net.getMeasureList()), (std::vector<std::string>{"Utilisation", "Queue"}))
            << "kind " << kind;
        EXPECT_EQ(out.text(), kAccumulativeWarning + "Throughput\n" + kInstantaneousWarning +
                                  "Snapshot\n")
            << "kind " << kind;
        // The full list is kept for the next run.
        EXPECT_EQ(net.getStoredMeasureList().size(), 4u);
    }
}

TEST(NetClassMeasures, AccumulativeRuleComesFirst) {
    MeasureBin bin;
    TestNet net;
    net.addMeasure(bin.keep(new TestMeasure("Both", &net, true, true)));
    net.storeMeasureList();
    CaptureStream out(std::cout);
    net.loadMeasureList(1);
    EXPECT_TRUE(net.getMeasureList().empty());
    EXPECT_EQ(out.text(), kAccumulativeWarning + "Both\n");
}

TEST(NetClassMeasures, WarningsFollowListOrder) {
    MeasureBin bin;
    TestNet net;
    net.addMeasure(bin.keep(TestMeasure::instantaneous("I1", &net)));
    net.addMeasure(bin.keep(TestMeasure::accumulating("A1", &net)));
    net.addMeasure(bin.keep(TestMeasure::instantaneous("I2", &net)));
    net.storeMeasureList();
    CaptureStream out(std::cout);
    net.loadMeasureList(2);
    EXPECT_TRUE(net.getMeasureList().empty());
    EXPECT_EQ(out.text(), kInstantaneousWarning + "I1\n" + kAccumulativeWarning + "A1\n" +
                              kInstantaneousWarning + "I2\n");
}

TEST(NetClassMeasures, LoadingRefillsFromTheStoredListOnly) {
    MeasureBin bin;
    TestNet net;
    net.addMeasure(bin.keep(TestMeasure::timeAveraged("Old", &net)));
    net.storeMeasureList();
    net.addMeasure(bin.keep(TestMeasure::timeAveraged("Unstored", &net)));
    net.loadMeasureList(0);
    EXPECT_EQ(names(net.getMeasureList()), (std::vector<std::string>{"Old"}));

    // Storing replaces the stored list rather than adding to it.
    net.addMeasure(bin.keep(TestMeasure::timeAveraged("New", &net)));
    net.storeMeasureList();
    EXPECT_EQ(names(net.getStoredMeasureList()), (std::vector<std::string>{"Old", "New"}));
    net.loadMeasureList(0);
    net.loadMeasureList(0);
    EXPECT_EQ(names(net.getMeasureList()), (std::vector<std::string>{"Old", "New"}));
}

TEST(NetClassMeasures, RestoreNetBuildsLoadsTokensThenFiltersMeasures) {
    MeasureBin bin;
    TestNet net;
    net.addMeasure(bin.keep(TestMeasure::timeAveraged("Kept", &net)));
    net.addMeasure(bin.keep(TestMeasure::instantaneous("Dropped", &net)));
    net.clearMaps();

    std::vector<size_t> measuresSeenByBuild;
    net.onBuild = [&](TestNet& n) {
        measuresSeenByBuild.push_back(n.getMeasureList().size());
        n.addPlace(new Place(1, "P", &n, false, 0));
    };
    bool placeExistedForTokens = false;
    net.onCreateTokens = [&](TestNet& n) {
        placeExistedForTokens = n.getPlaces().count("P") == 1;
        n.getPlaces().at("P")->addToken(intToken(5));
    };
    CaptureStream out(std::cout);
    net.restoreNet(1);
    EXPECT_EQ(net.calls, (std::vector<std::string>{"buildNet", "createTokens"}));
    EXPECT_EQ(measuresSeenByBuild, (std::vector<size_t>{0}));
    EXPECT_TRUE(placeExistedForTokens);
    EXPECT_EQ(net.getPlaces().at("P")->content(), "5");
    EXPECT_EQ(names(net.getMeasureList()), (std::vector<std::string>{"Kept"}));
    EXPECT_EQ(out.text(), kInstantaneousWarning + "Dropped\n");
}

// ---------------------------------------------------------------------------
// Text form

TEST(NetClassText, WriteMapsListsPlacesInNameOrder) {
    TestNet net;
    net.addPlace(new Place(1, "B", &net, false, 0));
    net.addPlace(new Place(2, "A", &net, false, 0));
    EXPECT_EQ(net.writeMaps(), "Places:\n\tA -> A\n\tB -> B\nTransitions:\n");
}

TEST(NetClassText, WriteMapsListsTransitionsToo) {
    TestNet net;
    EXPECT_EQ(net.writeMaps(), "Places:\nTransitions:\n");
    net.addPlace(new Place(1, "P_thread_pool", &net, false, 0));
    net.addTransition(new TestTransition(2, "T_b", &net));
    net.addTransition(new TestTransition(1, "T_a", &net));
    EXPECT_EQ(net.writeMaps(),
              "Places:\n\tP_thread_pool -> P_thread_pool\nTransitions:\n\tT_a -> T_a\n\tT_b -> T_b\n");
}

// ---------------------------------------------------------------------------
// Colour-aware copies (the kernel's own colour)

TEST(NetClassTokens, CopyOfIntegerTokenKeepsIdentityDataAndTransitions) {
    TestNet net;
    TestTransition t(1, "T", &net);
    Ptr<Token> original(new Token_int(31));
    original->addTransition(&t);
    const long ids = Token::tokenCounter;
    const long alive = Token::concTokenCounter;

    Ptr<Token> copy = net.copyToken(original);
    ASSERT_FALSE(copy == 0);
    EXPECT_FALSE(copy == original);  // a new object ...
    EXPECT_TRUE(*copy == *original);  // ... with the source's identifier
    EXPECT_EQ(copy->getName(), "int");
    EXPECT_EQ(copy->content(), "31");
    EXPECT_EQ(copy->getTransitions(), (Token::TransitionList{&t}));
    EXPECT_EQ(Token::tokenCounter, ids);
    EXPECT_EQ(Token::concTokenCounter, alive + 1);
    EXPECT_EQ(handleCount(copy), 1u);
    EXPECT_EQ(handleCount(original), 1u);
}

TEST(NetClassTokens, UnknownColoursAndEmptyHandlesGiveEmptyHandles) {
    TestNet net;
    Ptr<Token> other(new CountingToken(nullptr, "Data"));
    EXPECT_TRUE(net.copyToken(other) == 0);
    EXPECT_TRUE(net.upcastToken(other) == 0);
    EXPECT_EQ(handleCount(other), 1u);
    EXPECT_TRUE(net.copyToken(Ptr<Token>()) == 0);
    EXPECT_TRUE(net.upcastToken(Ptr<Token>()) == 0);
}

TEST(NetClassTokens, UpcastOfIntegerTokenSharesTheCounter) {
    TestNet net;
    Ptr<Token> original(new Token_int(8));
    Ptr<Token> up = net.upcastToken(original);
    EXPECT_TRUE(up == original);
    EXPECT_EQ(up.GetRefObject(), original.GetRefObject());
    EXPECT_EQ(handleCount(original), 2u);
}
