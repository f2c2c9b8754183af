// The compiled model's net after buildNet(): its places, transitions, arcs
// and measures, with identifiers, flags and list orders, and a rebuild.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "MeasureObj_Binary__accuracy.h"
#include "MeasureObj_Binary__f1Score.h"
#include "MeasureObj_Binary__precision.h"
#include "MeasureObj_Binary__recall.h"
#include "MeasureObj_Binary__specificity.h"
#include "MeasureObj_C1__in__use.h"
#include "MeasureObj_PlaceTP.h"
#include "MeasureObj_fsdf.h"
#include "model/ModelNet.h"

using modeltest::BuiltNet;
using modeltest::placeNames;
using modeltest::TransitionRow;
using modeltest::transitionRows;
using testsupport::CaptureStream;

namespace {

std::vector<std::string> names(const std::list<Transition*>& transitions) {
    std::vector<std::string> out;
    for (const Transition* t : transitions) out.push_back(t->getName());
    return out;
}

std::vector<std::string> names(const std::list<Place*>& places) {
    std::vector<std::string> out;
    for (const Place* p : places) out.push_back(p->getName());
    return out;
}

template <class Container>
std::vector<std::string> measureNames(const Container& measures) {
    std::vector<std::string> out;
    for (const MeasureObj* m : measures) out.push_back(m->getName());
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Places

TEST(ModelStructure, FiftyTwoPlacesWithIdentifiersInOrder) {
    BuiltNet n;
    ASSERT_EQ(n.net.getPlaces().size(), 52u);
    const auto& expected = placeNames();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        Place* p = n.net.getPlace(static_cast<int>(i + 1));
        ASSERT_NE(p, nullptr) << "identifier " << i + 1;
        EXPECT_EQ(p->getName(), expected[i]) << "identifier " << i + 1;
        EXPECT_EQ(p->getType(), "Place");
        EXPECT_EQ(p->getNet(), &n.net);
    }
    EXPECT_EQ(n.place("P_thread_pool").getID(), 1);
    EXPECT_EQ(n.place("Binary_fp").getID(), 52);
}

TEST(ModelStructure, PlacesAreUnboundedUnwatchedAndHandOutAllTokens) {
    BuiltNet n;
    for (const auto& entry : n.net.getPlaces()) {
        const Place* p = entry.second;
        EXPECT_EQ(p->getCapacity(), 0u) << entry.first;
        EXPECT_FALSE(p->isFirstTokensOnly()) << entry.first;
        EXPECT_FALSE(p->getWatch()) << entry.first;
        EXPECT_TRUE(p->getGlobalGuardTransitions().empty()) << entry.first;
    }
}

// ---------------------------------------------------------------------------
// Transitions

TEST(ModelStructure, FiftyThreeTransitionsWithIdentifiersInOrder) {
    BuiltNet n;
    ASSERT_EQ(n.net.getTransitions().size(), 53u);
    for (const TransitionRow& r : transitionRows()) {
        Transition* t = n.net.getTransition(r.id);
        ASSERT_NE(t, nullptr) << "identifier " << r.id;
        EXPECT_EQ(t->getName(), r.name) << "identifier " << r.id;
        EXPECT_EQ(t->getNet(), &n.net);
    }
    EXPECT_EQ(n.transition("S_ready").getID(), 1);
    EXPECT_EQ(n.transition("Binary_cf_fp").getID(), 53);
}

TEST(ModelStructure, TransitionFlagsAndWeights) {
    BuiltNet n;
    int timed = 0;
    int immediate = 0;
    for (const TransitionRow& r : transitionRows()) {
        SCOPED_TRACE(r.name);
        const Transition& t = n.transition(r.name);
        // The weights are written digit for digit, so they compare exactly.
        EXPECT_EQ(t.getFiringWeight(), r.weight);
        EXPECT_EQ(t.getPriority(), r.priority);
        EXPECT_EQ(t.isExp(), r.exp);
        EXPECT_EQ(t.isImmediate(), r.immediate);
        EXPECT_EQ(t.isWatched(), r.watch);
        EXPECT_FALSE(t.isTakeFirst());
        EXPECT_FALSE(t.getIsInfinite());
        EXPECT_FALSE(t.hasLocalGuard());
        EXPECT_FALSE(t.isDisplaying());
        EXPECT_FALSE(t.isLogging());
        EXPECT_EQ(t.getLogfileName(), "");
        EXPECT_EQ(t.getPagePath(), "");
        EXPECT_EQ(t.getFireCount(), 0);
        timed += t.isExp() ? 1 : 0;
        immediate += t.isImmediate() ? 1 : 0;
    }
    EXPECT_EQ(timed, 23);
    EXPECT_EQ(immediate, 30);
}

TEST(ModelStructure, ClassifierChoicesAreComplementaryPairs) {
    BuiltNet n;
    auto w = [&](const char* name) { return n.transition(name).getFiringWeight(); };
    EXPECT_DOUBLE_EQ(w("Binary_ClassTruth"), 404.0 / 417.0);
    EXPECT_DOUBLE_EQ(w("Binary_ClassTruth") + w("Binary_ClassOther"), 1.0);
    EXPECT_DOUBLE_EQ(w("Binary_ct_tp"), 100.0 / 101.0);
    EXPECT_DOUBLE_EQ(w("Binary_ct_tp") + w("Binary_ct_fn"), 1.0);
    EXPECT_DOUBLE_EQ(w("Binary__cf_tn"), 8.0 / 13.0);
    EXPECT_DOUBLE_EQ(w("Binary__cf_tn") + w("Binary_cf_fp"), 1.0);
    EXPECT_EQ(w("Binary_OOD"), 0.0);
    EXPECT_EQ(w("Binary_not_OOD"), 1.0);
}

TEST(ModelStructure, EachTransitionMapsExactlyItsPlacesToThemselves) {
    BuiltNet n;
    for (const TransitionRow& r : transitionRows()) {
        PlaceIdentMap expected;
        for (const std::string& p : r.inputs) expected[p] = p;
        for (const std::string& p : r.outputs) expected[p] = p;
        EXPECT_EQ(n.transition(r.name).getPlaceIdents(), expected) << r.name;
    }
}

// ---------------------------------------------------------------------------
// Arcs

TEST(ModelStructure, ArcsOfEveryTransitionInColumnOrder) {
    BuiltNet n;
    std::size_t arcs = 0;
    for (const TransitionRow& r : transitionRows()) {
        SCOPED_TRACE(r.name);
        const Transition& t = n.transition(r.name);
        EXPECT_EQ(names(t.getInPlaces()), r.inputs);
        EXPECT_EQ(names(t.getOutPlaces()), r.outputs);
        for (const std::string& p : r.inputs)
            EXPECT_EQ(n.place(p).getOutTransitionMultiplicity(r.id), 1) << p;
        for (const std::string& p : r.outputs)
            EXPECT_EQ(n.place(p).getInTransitionMultiplicity(r.id), 1) << p;
        arcs += t.getInPlaces().size() + t.getOutPlaces().size();
    }
    EXPECT_EQ(arcs, 127u);
}

TEST(ModelStructure, EveryPlaceListsItsTransitionsInIdentifierOrder) {
    BuiltNet n;
    std::size_t arcs = 0;
    for (const std::string& p : placeNames()) {
        std::vector<std::string> consumers;
        std::vector<std::string> producers;
        for (const TransitionRow& r : transitionRows()) {
            if (std::find(r.inputs.begin(), r.inputs.end(), p) != r.inputs.end()) consumers.push_back(r.name);
            if (std::find(r.outputs.begin(), r.outputs.end(), p) != r.outputs.end()) producers.push_back(r.name);
        }
        EXPECT_EQ(names(n.place(p).getOutTransitions()), consumers) << p;
        EXPECT_EQ(names(n.place(p).getInTransitions()), producers) << p;
        arcs += n.place(p).getOutTransitions().size() + n.place(p).getInTransitions().size();
    }
    EXPECT_EQ(arcs, 127u);
}

TEST(ModelStructure, ThreadPoolFeedsTwelveTransitionsAndIsFedByTwelve) {
    BuiltNet n;
    const Place& pool = n.place("P_thread_pool");
    EXPECT_EQ(names(pool.getOutTransitions()),
              (std::vector<std::string>{"S_ready", "P_In_ready", "S1_ready", "S2_ready", "S3_ready",
                                        "C1_execution", "A_execution", "P_Out_execution",
                                        "P_execution", "Act1_execution", "Act2_execution",
                                        "A3_execution"}));
    EXPECT_EQ(names(pool.getInTransitions()),
              (std::vector<std::string>{"C1_post_execution", "S_post_execution", "A_post_execution",
                                        "P_In_post_execution", "P_Out_post_execution",
                                        "P_post_execution", "S1_post_execution",
                                        "S2_post_execution", "Act1_post_execution",
                                        "Act2_post_execution", "S3_post_execution",
                                        "A3_post_execution"}));
}

// ---------------------------------------------------------------------------
// Measures

TEST(ModelMeasureRegistration, EightMeasuresInOrderWithFlags) {
    BuiltNet n;
    const std::list<MeasureObj*>& list = n.net.getMeasureList();
    EXPECT_EQ(measureNames(list),
              (std::vector<std::string>{"C1_in_use", "Binary_accuracy", "Binary_specificity",
                                        "Binary_recall", "Binary_precision", "Binary_f1Score",
                                        "fsdf", "PlaceTP"}));
    struct Flags {
        bool watch;
        bool timeaverage;
        bool accumulative;
    };
    const std::map<std::string, Flags> expected = {
        {"C1_in_use", {true, true, false}},           {"Binary_accuracy", {false, false, false}},
        {"Binary_specificity", {false, false, false}}, {"Binary_recall", {false, false, false}},
        {"Binary_precision", {false, false, false}},   {"Binary_f1Score", {false, false, false}},
        {"fsdf", {true, false, true}},                 {"PlaceTP", {true, false, false}}};
    for (MeasureObj* m : list) {
        SCOPED_TRACE(m->getName());
        const Flags& f = expected.at(m->getName());
        EXPECT_EQ(m->getWatch(), f.watch);
        EXPECT_EQ(m->timeaverage(), f.timeaverage);
        EXPECT_EQ(m->accumulative(), f.accumulative);
        EXPECT_EQ(m->getMeasureName(), m->getName());
        EXPECT_EQ(m->getNet(), &n.net);
    }
}

TEST(ModelMeasureRegistration, GlobalPointersHoldTheRegisteredObjects) {
    BuiltNet n;
    const std::vector<MeasureObj*> registered(n.net.getMeasureList().begin(),
                                              n.net.getMeasureList().end());
    ASSERT_EQ(registered.size(), 8u);
    EXPECT_EQ(registered[0], measure_C1__in__use);
    EXPECT_EQ(registered[1], measure_Binary__accuracy);
    EXPECT_EQ(registered[2], measure_Binary__specificity);
    EXPECT_EQ(registered[3], measure_Binary__recall);
    EXPECT_EQ(registered[4], measure_Binary__precision);
    EXPECT_EQ(registered[5], measure_Binary__f1Score);
    EXPECT_EQ(registered[6], measure_fsdf);
    EXPECT_EQ(registered[7], measure_PlaceTP);
}

TEST(ModelMeasureRegistration, MeasuresAreAttachedToTheirPlacesAndTransition) {
    BuiltNet n;
    const std::map<std::string, std::vector<std::string>> placeMeasures = {
        {"C1_sem", {"C1_in_use"}},
        {"Binary_tp", {"Binary_accuracy", "Binary_recall", "Binary_precision", "Binary_f1Score", "PlaceTP"}},
        {"Binary_tn", {"Binary_accuracy", "Binary_specificity"}},
        {"Binary_fp", {"Binary_accuracy", "Binary_specificity", "Binary_precision", "Binary_f1Score"}},
        {"Binary_fn", {"Binary_accuracy", "Binary_recall", "Binary_f1Score"}}};
    for (const std::string& p : placeNames()) {
        auto it = placeMeasures.find(p);
        const std::vector<std::string> expected = it == placeMeasures.end() ? std::vector<std::string>{}
                                                                            : it->second;
        EXPECT_EQ(measureNames(n.place(p).getMeasures()), expected) << p;
    }
    // Before start-up a transition holds only the measures attached to it.
    for (const TransitionRow& r : transitionRows()) {
        const std::vector<std::string> expected =
            r.name == "Binary_ct_tp" ? std::vector<std::string>{"fsdf"} : std::vector<std::string>{};
        EXPECT_EQ(measureNames(n.transition(r.name).getMeasures()), expected) << r.name;
    }
    // Every attachment holds one reference.
    const std::map<std::string, int> references = {
        {"C1_in_use", 1},      {"Binary_accuracy", 4}, {"Binary_specificity", 2}, {"Binary_recall", 2},
        {"Binary_precision", 2}, {"Binary_f1Score", 3}, {"fsdf", 1},               {"PlaceTP", 1}};
    for (MeasureObj* m : n.net.getMeasureList())
        EXPECT_EQ(m->getRefCount(), references.at(m->getName())) << m->getName();
}

// ---------------------------------------------------------------------------
// Initial marking and rebuilding

TEST(ModelStructure, InitialMarkingComesFromTheMarkingFile) {
    BuiltNet n(modeltest::markingWithValues({3, 1, 4}, {1, 5, 9, 2, 6}));
    auto values = [&](const char* name) {
        std::vector<long> out;
        for (const Ptr<Token>& t : n.place(name).getFullMarking()) {
            Ptr<Token_int> i = ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(t);
            EXPECT_TRUE(i != 0) << name << " holds a token of colour " << t->getName();
            if (i != 0) out.push_back(i->getValue());
        }
        return out;
    };
    EXPECT_EQ(values("P_thread_pool"), (std::vector<long>{3, 1, 4}));
    EXPECT_EQ(values("C1_sem"), (std::vector<long>{1, 5, 9, 2, 6}));
    for (const std::string& p : placeNames())
        if (p != "P_thread_pool" && p != "C1_sem") {
            EXPECT_EQ(n.place(p).getMarkingSize(), 0) << p;
        }
    // Then the stored tokens are asked for (the database tests check what
    // comes of it); the file's tokens stay as they are.
    CaptureStream out(std::cout);
    n.net.createTokens();
    EXPECT_EQ(out.text().rfind("... try to connect to the database : scpn ...\nthe following DSNs are available:\n", 0),
              0u)
        << out.text();
    EXPECT_EQ(values("P_thread_pool"), (std::vector<long>{3, 1, 4}));
}

TEST(ModelStructure, RebuildGivesTheSameNetWithNewTokens) {
    BuiltNet n(modeltest::markingWithValues({7, 8}, {1}));
    std::vector<long> firstIds;
    for (const Ptr<Token>& t : n.place("P_thread_pool").getFullMarking()) firstIds.push_back(t->getID());
    const Place* oldPool = &n.place("P_thread_pool");

    n.net.rebuildForRun(0);

    ASSERT_EQ(n.net.getPlaces().size(), 52u);
    ASSERT_EQ(n.net.getTransitions().size(), 53u);
    EXPECT_NE(&n.place("P_thread_pool"), oldPool);
    for (std::size_t i = 0; i < placeNames().size(); ++i)
        EXPECT_EQ(n.net.getPlace(static_cast<int>(i + 1))->getName(), placeNames()[i]);
    for (const TransitionRow& r : transitionRows()) {
        EXPECT_EQ(n.transition(r.name).getID(), r.id);
        EXPECT_EQ(names(n.transition(r.name).getInPlaces()), r.inputs) << r.name;
    }
    std::vector<long> values;
    for (const Ptr<Token>& t : n.place("P_thread_pool").getFullMarking()) {
        values.push_back(ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(t)->getValue());
        EXPECT_EQ(std::count(firstIds.begin(), firstIds.end(), t->getID()), 0);
    }
    EXPECT_EQ(values, (std::vector<long>{7, 8}));
    EXPECT_EQ(n.place("C1_sem").getMarkingSize(), 1);
    EXPECT_EQ(measureNames(n.net.getMeasureList()).size(), 8u);
}

TEST(ModelStructure, ARebuiltNetRefersToTheMeasuresOfTheRun) {
    // The run's statistics live in the measure objects of the first build;
    // every later build must feed those, not objects of its own that no
    // result ever reads.
    BuiltNet n(modeltest::markingWithValues({7, 8}, {1}));
    const std::list<MeasureObj*> runMeasures = n.net.getMeasureList();
    for (int rebuild = 0; rebuild < 3; ++rebuild) {
        n.net.rebuildForRun(0);
        EXPECT_EQ(n.net.getMeasureList(), runMeasures);
        auto ofTheRun = [&](MeasureObj* m) {
            return std::find(runMeasures.begin(), runMeasures.end(), m) != runMeasures.end();
        };
        for (const auto& [name, place] : n.net.getPlaces())
            for (MeasureObj* m : place->getMeasures()) EXPECT_TRUE(ofTheRun(m)) << name;
        for (const auto& [name, transition] : n.net.getTransitions())
            for (MeasureObj* m : transition->getMeasures()) EXPECT_TRUE(ofTheRun(m)) << name;
        const auto& fsdfHolders = n.transition("Binary_ct_tp").getMeasures();
        ASSERT_EQ(fsdfHolders.size(), 1u);
        EXPECT_EQ((*fsdfHolders.begin())->getName(), "fsdf");
        EXPECT_EQ(n.place("Binary_tp").getMeasures().size(), 5u);
    }
    // Each measure is held by the registry and by the places and
    // transitions of the current build only.
    for (MeasureObj* m : runMeasures) {
        int holders = 1;
        for (const auto& [name, place] : n.net.getPlaces())
            holders += static_cast<int>(std::count(place->getMeasures().begin(), place->getMeasures().end(), m));
        if (m->getName() == "fsdf") ++holders;
        EXPECT_EQ(m->getRefCount(), holders) << m->getName();
    }
}
