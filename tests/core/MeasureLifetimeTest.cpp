// The lifetime of measures: held by places, transitions and the registry,
// freed by the release of their last holder, and carried with their
// statistics from one build of the net to the next.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/MeasureKeeper.h"
#include "core/NetClass.h"
#include "core/Place.h"
#include "measures/MeasureObj.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using testnet::TestNet;
using testnet::TestTransition;

namespace {

// Every measure made and every destruction, by the measure's serial
// number: a measure destroyed twice shows up with a count of 2.
struct Census {
    int made = 0;
    std::map<int, int> destructions;
    int destroyed() const {
        int n = 0;
        for (const auto& entry : destructions) n += entry.second;
        return n;
    }
    int live() const { return made - destroyed(); }
    bool eachDestroyedAtMostOnce() const {
        return std::all_of(destructions.begin(), destructions.end(),
                           [](const auto& entry) { return entry.second == 1; });
    }
};

class CountedMeasure : public MeasureObj {
public:
    CountedMeasure(const char* name, NetClass* net, Census* census, bool timeAverage = true)
        : MeasureObj(name, net, false), census_(census), serial_(census->made++), timeAverage_(timeAverage) {}
    ~CountedMeasure() override { ++census_->destructions[serial_]; }

    double measure(double) override { return 0.0; }
    bool accumulative() override { return false; }
    bool timeaverage() override { return timeAverage_; }
    void accum(const Binding*, double) override {}

private:
    Census* census_;
    int serial_;
    bool timeAverage_;
};

MeasureObj* listed(NetClass& net, const std::string& name) {
    for (MeasureObj* m : net.getMeasureList())
        if (m->getName() == name) return m;
    return nullptr;
}

bool holds(Place& p, const MeasureObj* m) {
    const std::vector<MeasureObj*>& held = p.getMeasures();
    return std::find(held.begin(), held.end(), m) != held.end();
}

// What a compiled model's buildNet does: new places, a transition and new
// measure objects, attached and registered. "Shared" is read by both
// places and the transition, "OnPlace" by P1, "Lone" by nothing;
// "Snapshot" is instantaneous (a stationary run drops it).
void buildModel(TestNet& n, Census& census) {
    auto* p1 = new Place(1, "P1", &n, false, 0);
    auto* p2 = new Place(2, "P2", &n, false, 0);
    auto* t = new TestTransition(1, "T", &n);
    n.addPlace(p1);
    n.addPlace(p2);
    n.addTransition(t);
    auto* shared = new CountedMeasure("Shared", &n, &census);
    p1->addMeasure(shared);
    p2->addMeasure(shared);
    t->addMeasure(shared);
    n.addMeasure(shared);
    auto* onPlace = new CountedMeasure("OnPlace", &n, &census);
    p1->addMeasure(onPlace);
    n.addMeasure(onPlace);
    n.addMeasure(new CountedMeasure("Lone", &n, &census));
    auto* snapshot = new CountedMeasure("Snapshot", &n, &census, false);
    p2->addMeasure(snapshot);
    n.addMeasure(snapshot);
}

}  // namespace

TEST(MeasureLifetime, AMeasureSharedByPlacesAndATransitionLivesUntilTheLastLetsGo) {
    Census census;
    TestNet net;
    auto* m = new CountedMeasure("M", &net, &census);
    auto* p1 = new Place(1, "P1", &net, false, 0);
    auto* p2 = new Place(2, "P2", &net, false, 0);
    auto* t = new TestTransition(1, "T", &net);
    p1->addMeasure(m);
    p2->addMeasure(m);
    t->addMeasure(m);
    EXPECT_EQ(m->getRefCount(), 3);
    delete p1;
    delete t;
    EXPECT_EQ(census.live(), 1);
    EXPECT_EQ(m->getRefCount(), 1);
    delete p2;
    EXPECT_EQ(census.live(), 0);
    EXPECT_TRUE(census.eachDestroyedAtMostOnce());
}

TEST(MeasureLifetime, RebindMovesEveryHolderOfTheOldMeasureAndFreesNothingItsCallerKeeps) {
    Census census;
    auto* old = new CountedMeasure("Old", nullptr, &census);
    auto* other = new CountedMeasure("Other", nullptr, &census);
    auto* replacement = new CountedMeasure("New", nullptr, &census);
    std::vector<MeasureObj*> held{old, other, old};
    for (MeasureObj* m : held) MeasureObj::hold(m);
    MeasureObj::hold(old);  // the caller's own reference, as a rebuild takes it
    MeasureObj::hold(replacement);
    MeasureKeeper::process().rebind(held, old, replacement);
    EXPECT_EQ(held, (std::vector<MeasureObj*>{replacement, other, replacement}));
    EXPECT_EQ(replacement->getRefCount(), 3);
    EXPECT_EQ(old->getRefCount(), 1);
    EXPECT_EQ(census.live(), 3);
    MeasureObj::release(old);
    EXPECT_EQ(census.live(), 2);
    for (MeasureObj* m : held) MeasureObj::release(m);
    MeasureObj::release(replacement);
    EXPECT_EQ(census.live(), 0);
    EXPECT_TRUE(census.eachDestroyedAtMostOnce());
}

TEST(MeasureLifetimeDeathTest, AReleaseWithoutItsHoldIsRefused) {
    EXPECT_DEATH(
        {
            Census census;
            auto* m = new CountedMeasure("M", nullptr, &census);
            MeasureObj::release(m);
        },
        "reference_count > 0");
}

TEST(MeasureLifetime, RebuildsKeepTheRunsMeasuresWithTheirStatisticsAndFreeEveryOtherOnce) {
    Census census;
    {
        TestNet net;
        net.onBuild = [&](TestNet& n) { buildModel(n, census); };
        net.buildNet();
        const std::list<MeasureObj*> runMeasures = net.getMeasureList();
        ASSERT_EQ(runMeasures.size(), 4u);
        for (MeasureObj* m : runMeasures) m->prepareRun(1);
        constexpr int kRebuilds = 5;
        for (int rebuild = 1; rebuild <= kRebuilds; ++rebuild) {
            for (MeasureObj* m : net.getMeasureList()) m->addBatchValue(rebuild);
            net.rebuildForRun(0);
            // The same objects, with every value folded in so far.
            EXPECT_EQ(net.getMeasureList(), runMeasures);
            for (MeasureObj* m : net.getMeasureList())
                EXPECT_EQ(m->batchCount(), static_cast<std::size_t>(rebuild));
            // The new build reads them, not objects of its own.
            MeasureObj* shared = listed(net, "Shared");
            EXPECT_TRUE(holds(*net.getPlace("P1"), shared));
            EXPECT_TRUE(holds(*net.getPlace("P2"), shared));
            EXPECT_TRUE(holds(*net.getPlace("P1"), listed(net, "OnPlace")));
            EXPECT_EQ(net.getTransition("T")->getMeasures(), (std::set<MeasureObj*>{shared}));
            // Registry, both places and the transition.
            EXPECT_EQ(shared->getRefCount(), 4);
            EXPECT_EQ(listed(net, "Lone")->getRefCount(), 1);
            // The fresh objects of the build are gone, each once.
            EXPECT_EQ(census.made, 4 * (rebuild + 1));
            EXPECT_EQ(census.live(), 4);
            EXPECT_TRUE(census.eachDestroyedAtMostOnce());
        }
    }
    EXPECT_EQ(census.live(), 0);
    EXPECT_TRUE(census.eachDestroyedAtMostOnce());
}

TEST(MeasureLifetime, RebuildsOfAStationaryRunLeaveNoDroppedMeasureBehind) {
    Census census;
    {
        TestNet net;
        net.onBuild = [&](TestNet& n) { buildModel(n, census); };
        net.buildNet();
        testsupport::CaptureStream out(std::cout);  // the warnings about the dropped measure
        for (int rebuild = 1; rebuild <= 6; ++rebuild) {
            net.rebuildForRun(1);
            EXPECT_EQ(listed(net, "Snapshot"), nullptr);
            EXPECT_EQ(net.getMeasureList().size(), 3u);
            // The run's three, the first Snapshot (the registry keeps what it
            // once stored) and at most the current build's own Snapshot.
            EXPECT_LE(census.live(), 5) << "rebuild " << rebuild;
            EXPECT_TRUE(census.eachDestroyedAtMostOnce());
        }
    }
    EXPECT_EQ(census.live(), 0);
    EXPECT_TRUE(census.eachDestroyedAtMostOnce());
}
