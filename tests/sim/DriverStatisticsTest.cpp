// The model's binary classifier, run by the stationary driver for a long
// stretch of model time: the share of each outcome follows the firing
// weights of the competing immediate transitions.
//
// A job reaching "Binary_ct" (true class) is taken either by
// "Binary_ct_tp" (weight 0.990099...) or by "Binary_ct_fn" (weight
// 0.0099009...): both are immediate with priority 1, so every resolution
// among the candidates of that moment picks one of them with a chance
// proportional to its weight, and of the two the true positive wins with
// probability 0.990099 / (0.990099 + 0.0099009) = 100/101. Other candidates
// of the same moment only postpone that decision. So recall tp/(tp+fn) tends
// to 100/101.
//
// "Binary_cf" receives jobs only from "Binary_ClassOther": "Binary_OOD",
// its competitor for fresh jobs, has weight 0 and is never chosen. There
// "Binary__cf_tn" (weight 8/13) competes with "Binary_cf_fp" (5/13), so
// specificity tn/(tn+fp) tends to 8/13.
//
// Both are binomial proportions. Six runs of 5000 model seconds give about
// 28,000 recall decisions and 900 specificity decisions; the tolerance is
// five binomial standard errors sqrt(p(1-p)/n) at the number n of decisions
// actually made (about 0.003 and 0.08), so a correct driver fails with a
// probability of about one in a million for an arbitrary seed. A driver that
// ignored the weights (a uniform choice, 1/2) would miss recall by hundreds
// of standard errors and specificity by about seven; swapped weights miss
// both by far more. The seed is fixed, so the outcome does not change from
// run to run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "buildnet.h"
#include "core/Place.h"
#include "engine/RandomWrapper.h"
#include "measures/MeasureObj.h"
#include "sim/Simulation.h"
#include "support/TestSupport.h"

namespace {

MeasureObj* storedMeasure(const NetClass& net, const std::string& name) {
    for (MeasureObj* m : net.getStoredMeasureList())
        if (m->getName() == name) return m;
    return nullptr;
}

}  // namespace

TEST(DriverStatistics, ClassifierRecallAndSpecificityFollowTheFiringWeights) {
    // Several independent runs on fresh nets: tokens pile up in the outcome
    // places during a run, and short runs keep the test fast.
    constexpr int kRuns = 6;
    constexpr double kStop = 5000.0;  // model seconds per run
    testsupport::WorkDir dir;
    testsupport::ScopedCwd cwd(dir.path());
    const unsigned long seed[6] = {12345, 23456, 34567, 45678, 56789, 67890};
    ASSERT_TRUE(RandomWrapper::SetPackageSeed(seed));

    double tp = 0, fn = 0, tn = 0, fp = 0;
    for (int run = 0; run < kRuns; ++run) {
        ImplementedNetClass net;
        net.buildNet();
        const DateTime start(0.0);
        double alpha = 0.2;
        std::string out;
        {
            // No wall-clock limit, an unreachable accuracy and no per-cent
            // rule (which would call any measure accurate after 10,000
            // batches): the run ends on the model time.
            Simulation sim(&net, "scpnsim", "NULL", start, DateTime(kStop), 1, 1, true, false, 1e-12, 0.0,
                           std::numeric_limits<unsigned int>::max());
            sim.init();
            testsupport::CaptureStream capture(std::cout);
            sim.run_stationary(alpha);
            out = capture.text();
            ASSERT_GT(sim.getCurrentSimulationTime(), DateTime(kStop)) << out;
        }
        // The model has no steady state (its queues grow), which the verdict
        // says when the batch means show it.
        ASSERT_TRUE(out.find("\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME.") != std::string::npos ||
                    out.find("\nABORTED SIMULATION. NO STEADY STATE FOUND.") != std::string::npos)
            << out;

        const double runTp = net.getPlace("Binary_tp")->getMarkingSize();
        const double runFn = net.getPlace("Binary_fn")->getMarkingSize();
        const double runTn = net.getPlace("Binary_tn")->getMarkingSize();
        const double runFp = net.getPlace("Binary_fp")->getMarkingSize();
        // The model's measures read these places.
        MeasureObj* recall = storedMeasure(net, "Binary_recall");
        MeasureObj* specificity = storedMeasure(net, "Binary_specificity");
        ASSERT_NE(recall, nullptr);
        ASSERT_NE(specificity, nullptr);
        EXPECT_NEAR(recall->measure(-1.0), runTp / (runTp + runFn), 1e-9);
        EXPECT_NEAR(specificity->measure(-1.0), runTn / (runTn + runFp), 1e-9);
        tp += runTp;
        fn += runFn;
        tn += runTn;
        fp += runFp;
    }
    std::cout << "[          ] outcomes: tp " << tp << ", fn " << fn << ", tn " << tn << ", fp " << fp
              << std::endl;

    const double pRecall = 100.0 / 101.0;
    const double nRecall = tp + fn;
    ASSERT_GE(nRecall, 10000.0);
    const double seRecall = std::sqrt(pRecall * (1.0 - pRecall) / nRecall);
    EXPECT_NEAR(tp / nRecall, pRecall, 5.0 * seRecall) << "n = " << nRecall;

    const double pSpecificity = 8.0 / 13.0;
    const double nSpecificity = tn + fp;
    ASSERT_GE(nSpecificity, 400.0);
    const double seSpecificity = std::sqrt(pSpecificity * (1.0 - pSpecificity) / nSpecificity);
    EXPECT_NEAR(tn / nSpecificity, pSpecificity, 5.0 * seSpecificity) << "n = " << nSpecificity;

    // The share of jobs labelled "other" is ClassOther's weight (ClassTruth
    // and ClassOther weigh 1 together); nothing took the out-of-distribution
    // branch, whose weight is 0.
    const double nAll = nRecall + nSpecificity;
    const double pOther = 0.031175059952038398;
    EXPECT_NEAR(nSpecificity / nAll, pOther, 5.0 * std::sqrt(pOther * (1.0 - pOther) / nAll));
}

TEST(DriverStatistics, AStationaryRunsMarkingGrowsByDesignButNoTokenLeaks) {
    // The four outcome places of the classifier are sinks: every classified
    // copy of a job stays there, so the marking (and the memory of a long
    // stationary run) grows with the model time by design. Jobs also queue
    // for the few threads (forks make two jobs of one), and those queues
    // wander upwards too: the model has no stationary marking. But every
    // token alive lies on a place, and none outlives its net.
    testsupport::WorkDir dir;
    testsupport::ScopedCwd cwd(dir.path());
    const unsigned long seed[6] = {7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(RandomWrapper::SetPackageSeed(seed));
    const std::vector<std::string> outcomes = {"Binary_tp", "Binary_fn", "Binary_tn", "Binary_fp"};
    std::vector<long> sinkTokens, otherTokens;
    for (double stop : {2000.0, 8000.0}) {
        const long aliveBefore = Token::concTokenCounter;
        {
            ImplementedNetClass net;
            net.buildNet();
            const DateTime start(0.0);
            double alpha = 0.2;
            Simulation sim(&net, "scpnsim", "NULL", start, DateTime(stop), 1, 1, true, false, 1e-12, 0.0,
                           std::numeric_limits<unsigned int>::max());
            sim.init();
            testsupport::CaptureStream capture(std::cout);
            sim.run_stationary(alpha);
            long onPlaces = 0, inSinks = 0;
            for (const auto& [name, place] : net.getPlaces()) {
                onPlaces += place->getMarkingSize();
                if (std::find(outcomes.begin(), outcomes.end(), name) != outcomes.end())
                    inSinks += place->getMarkingSize();
            }
            EXPECT_EQ(Token::concTokenCounter - aliveBefore, onPlaces) << stop;
            sinkTokens.push_back(inSinks);
            otherTokens.push_back(onPlaces - inSinks);
        }
        // The run's nets are gone, and so is every token they made.
        EXPECT_EQ(Token::concTokenCounter, aliveBefore) << stop;
    }
    // Four times the model time, about four times the classified jobs, and
    // they are most of the marking.
    EXPECT_NEAR(static_cast<double>(sinkTokens[1]) / sinkTokens[0], 4.0, 0.4);
    for (std::size_t k = 0; k < sinkTokens.size(); ++k) EXPECT_GT(sinkTokens[k], 2 * otherTokens[k]);
}
