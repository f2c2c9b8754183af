// The model's eight measures evaluated on known markings and event sequences.
#include <gtest/gtest.h>

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
#include "engine/Binding.h"
#include "model/ModelNet.h"

using modeltest::BuiltNet;

namespace {

MeasureObj* measureNamed(BuiltNet& n, const std::string& name) {
    for (MeasureObj* m : n.net.getMeasureList())
        if (m->getName() == name) return m;
    throw std::runtime_error("no measure " + name);
}

// Puts `count` tokens of both colours on a place (measures count tokens of any colour).
void fill(BuiltNet& n, const char* place, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        if (i % 2 == 0)
            n.addData(place);
        else
            n.addInt(place, 0);
    }
}

// An event of `transition` due at time `at` (seconds), as the driver hands it
// to the measures.
struct Event {
    Event(Transition& transition, double at)
        : binding(1, &transition, DateTime(at), transition.getPriority(), 1.0, true, new TokenList()) {}
    Binding binding;
};

// Exposes the running state of a measure object made by a test.
template <class M>
class Probe : public M {
public:
    explicit Probe(NetClass* net) : M(net) {}
    double first() const { return this->firstTime; }
    double last() const { return this->lastTime; }
    double accumulated() const { return this->value; }
};

struct Outcome {
    unsigned tp, fn, tn, fp;
};

}  // namespace

// ---------------------------------------------------------------------------
// Classifier measures

TEST(ModelMeasures, ClassifierMeasuresOnKnownOutcomeCounts) {
    const double eps = 1e-8;
    for (const Outcome& o : std::vector<Outcome>{{3, 1, 4, 2}, {5, 0, 0, 7}, {0, 6, 2, 0}, {1, 1, 1, 1},
                                                 {9, 2, 0, 0}, {0, 0, 3, 8}}) {
        SCOPED_TRACE(::testing::Message() << "tp=" << o.tp << " fn=" << o.fn << " tn=" << o.tn
                                          << " fp=" << o.fp);
        BuiltNet n;
        fill(n, "Binary_tp", o.tp);
        fill(n, "Binary_fn", o.fn);
        fill(n, "Binary_tn", o.tn);
        fill(n, "Binary_fp", o.fp);
        const unsigned tp = o.tp, fn = o.fn, tn = o.tn, fp = o.fp;
        const double accuracy = static_cast<double>(tp + tn) / ((((tp + eps) + tn) + fp) + fn);
        const double f1 = tp / ((tp + eps) + (fn + fp) / 2.0);
        const double precision = tp / ((tp + eps) + fp);
        const double recall = tp / ((tp + eps) + fn);
        const double specificity = tn / ((tn + eps) + fp);
        for (double dt : {-1.0, 0.0, 2.5}) {
            EXPECT_EQ(measureNamed(n, "Binary_accuracy")->measure(dt), accuracy);
            EXPECT_EQ(measureNamed(n, "Binary_f1Score")->measure(dt), f1);
            EXPECT_EQ(measureNamed(n, "Binary_precision")->measure(dt), precision);
            EXPECT_EQ(measureNamed(n, "Binary_recall")->measure(dt), recall);
            EXPECT_EQ(measureNamed(n, "Binary_specificity")->measure(dt), specificity);
            EXPECT_EQ(measureNamed(n, "PlaceTP")->measure(dt), static_cast<double>(tp));
        }
    }
}

TEST(ModelMeasures, ClassifierMeasuresOfTheReferenceMarking) {
    BuiltNet n;
    fill(n, "Binary_tp", 3);
    fill(n, "Binary_fn", 1);
    fill(n, "Binary_tn", 4);
    fill(n, "Binary_fp", 2);
    EXPECT_DOUBLE_EQ(measure_Binary__accuracy->measure(-1), 7 / 10.00000001);
    EXPECT_DOUBLE_EQ(measure_Binary__precision->measure(-1), 3 / 5.00000001);
    EXPECT_DOUBLE_EQ(measure_Binary__recall->measure(-1), 3 / 4.00000001);
    EXPECT_DOUBLE_EQ(measure_Binary__specificity->measure(-1), 4 / 6.00000001);
    EXPECT_DOUBLE_EQ(measure_Binary__f1Score->measure(-1), 3 / 4.50000001);
    EXPECT_EQ(measure_PlaceTP->measure(-1), 3.0);
}

TEST(ModelMeasures, EmptyOutcomePlacesGiveZero) {
    BuiltNet n;
    for (const char* name : {"Binary_accuracy", "Binary_f1Score", "Binary_precision", "Binary_recall",
                             "Binary_specificity", "PlaceTP"})
        EXPECT_EQ(measureNamed(n, name)->measure(-1), 0.0) << name;
}

TEST(ModelMeasures, InstantaneousMeasuresFollowTheMarkingAndIgnoreEvents) {
    BuiltNet n;
    MeasureObj* accuracy = measureNamed(n, "Binary_accuracy");
    MeasureObj* placeTP = measureNamed(n, "PlaceTP");
    fill(n, "Binary_tp", 2);
    EXPECT_EQ(placeTP->measure(-1), 2.0);
    Event e(n.transition("Binary_ct_tp"), 4.0);
    accuracy->accum(&e.binding, 1.0);
    placeTP->accum(&e.binding, 1.0);
    EXPECT_EQ(placeTP->measure(-1), 2.0);
    n.place("Binary_tp").removeToken(n.place("Binary_tp").getFullMarking().front());
    EXPECT_EQ(placeTP->measure(-1), 1.0);
    EXPECT_EQ(accuracy->measure(-1), 1.0 / (1.0 + 1e-8));
}

// ---------------------------------------------------------------------------
// C1_in_use

TEST(ModelMeasures, C1InUseIsZeroWithAllFiveSlotsFree) {
    BuiltNet n(modeltest::markingWithValues({0}, {0, 0, 0, 0, 0}));
    MeasureObj* m = measureNamed(n, "C1_in_use");
    m->reset(DateTime(0.0));
    Event e(n.transition("C1_ready"), 2.0);
    m->accum(&e.binding, 1.0);
    EXPECT_EQ(m->measure(-1), 0.0);
    EXPECT_EQ(m->measure(1.0), 0.0);
}

TEST(ModelMeasures, C1InUseAccumulatesBusySlotsTimesDuration) {
    BuiltNet n(modeltest::markingWithValues({0}, {0, 0, 0}));
    MeasureObj* m = measureNamed(n, "C1_in_use");
    m->reset(DateTime(0.0));
    Event e(n.transition("C1_ready"), 2.0);
    m->accum(&e.binding, 1.0);
    // Three tokens for two time units: (5 - 3) * 2 = 4.
    EXPECT_EQ(m->measure(1.0), 4.0);
    EXPECT_EQ(m->measure(4.0), 1.0);
    EXPECT_EQ(m->measure(-1), 4.0 / (2.0 - 0.0));
    EXPECT_EQ(m->measure(0.0), 0.0);

    // One slot fewer from time 2 to time 5, counted with weight 0.5.
    n.place("C1_sem").removeToken(n.place("C1_sem").getFullMarking().front());
    Event later(n.transition("C1_execution"), 5.0);
    m->accum(&later.binding, 0.5);
    const double expected = 4.0 + 0.5 * (5.0 - 2.0) * (5.0 - 2.0);
    EXPECT_EQ(m->measure(1.0), expected);
    EXPECT_EQ(m->measure(-1), expected / (5.0 - 0.0));
}

TEST(ModelMeasures, C1InUseRightAfterAResetIsZero) {
    BuiltNet n(modeltest::markingWithValues({0}, {}));
    MeasureObj* m = measureNamed(n, "C1_in_use");
    m->reset(DateTime(0.0));
    Event e(n.transition("C1_ready"), 3.0);
    m->accum(&e.binding, 1.0);
    ASSERT_EQ(m->measure(1.0), 15.0);
    m->reset(DateTime(7.0));
    EXPECT_EQ(m->measure(-1), 0.0);
    EXPECT_EQ(m->measure(0.0), 0.0);
    EXPECT_EQ(m->measure(2.0), 0.0);
    // The new window starts at the reset time.
    Event next(n.transition("C1_ready"), 9.0);
    m->accum(&next.binding, 1.0);
    EXPECT_EQ(m->measure(-1), 5.0 * 2.0 / (9.0 - 7.0));
}

TEST(ModelMeasures, C1InUseStartsWithAnEmptyWindow) {
    BuiltNet n;
    Probe<MeasureObj_C1__in__use> probe(&n.net);
    EXPECT_EQ(probe.first(), 0.0);
    EXPECT_EQ(probe.last(), 0.0);
    EXPECT_EQ(probe.accumulated(), 0.0);
    EXPECT_EQ(probe.measure(-1), 0.0);
    Event e(n.transition("C1_ready"), 1.5);
    probe.accum(&e.binding, 1.0);
    EXPECT_EQ(probe.last(), 1.5);
    EXPECT_EQ(probe.first(), 0.0);
    // The marking file of BuiltNet gives five slots: nothing is busy.
    EXPECT_EQ(probe.accumulated(), 0.0);
}

// ---------------------------------------------------------------------------
// fsdf

TEST(ModelMeasures, FsdfCountsOnlyEventsOfBinaryCtTp) {
    BuiltNet n;
    Probe<MeasureObj_fsdf> probe(&n.net);
    EXPECT_EQ(probe.first(), 0.0);
    EXPECT_EQ(probe.last(), 0.0);
    EXPECT_EQ(probe.measure(-1), 0.0);

    Event tp(n.transition("Binary_ct_tp"), 1.0);
    probe.accum(&tp.binding, 1.0);
    EXPECT_EQ(probe.measure(-1), 1.0);
    EXPECT_EQ(probe.last(), 1.0);

    for (const char* other : {"Binary_ct_fn", "Binary__cf_tn", "Binary_cf_fp", "S_ready", "C1_ready"}) {
        Event e(n.transition(other), 2.0);
        probe.accum(&e.binding, 1.0);
        EXPECT_EQ(probe.measure(-1), 1.0) << other;
        EXPECT_EQ(probe.last(), 2.0) << other;
    }
    Event weighted(n.transition("Binary_ct_tp"), 3.0);
    probe.accum(&weighted.binding, 0.25);
    EXPECT_EQ(probe.measure(-1), 1.25);
    EXPECT_EQ(probe.measure(0.0), 1.25);
    EXPECT_EQ(probe.measure(10.0), 1.25);
    EXPECT_EQ(probe.last(), 3.0);
}

TEST(ModelMeasures, FsdfGrowsWithEveryFiringOfBinaryCtTp) {
    BuiltNet n(modeltest::markingWithValues({}, {}));
    MeasureObj* fsdf = measureNamed(n, "fsdf");
    fsdf->reset(DateTime(0.0));
    n.addData("Binary_ct");
    n.addData("Binary_ct");
    n.startAll();
    // Firing feeds the measures of the transition: fsdf is attached to Binary_ct_tp.
    Transition& tp = n.transition("Binary_ct_tp");
    tp.fire(tp.getNextEvent(), 1.0);
    EXPECT_EQ(fsdf->measure(-1), 1.0);
    Transition& fn = n.transition("Binary_ct_fn");
    fn.fire(fn.getNextEvent(), 1.0);
    EXPECT_EQ(fsdf->measure(-1), 1.0);
    EXPECT_EQ(n.place("Binary_tp").getMarkingSize(), 1);
    EXPECT_EQ(n.place("Binary_fn").getMarkingSize(), 1);
    EXPECT_EQ(measureNamed(n, "PlaceTP")->measure(-1), 1.0);
}
