#pragma once
// Base of the performance measures.
//
// A measure is a named quantity of the model whose value a simulation run
// estimates with a confidence interval. The compiled model derives one class
// per measure and says how the value is observed (measure, accum); this base
// keeps the statistics, runs the confidence analysis of a transient run
// (independent replications, one estimate per sampling point) and of a
// stationary run (batch values of one long run, one estimate), decides
// whether the requested accuracy is reached and writes the measure's block
// of the results file.
//
// Places and transitions that refer to a measure count themselves in its
// reference count; the last place to let go deletes it. The registry lists
// measures without owning them.
#include <cstddef>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/DefaultGM.h"
#include "measures/BatchMeans.h"

class Binding;
class Place;
class Transition;

class MeasureObj : public DefaultGM {
public:
    // From this many samples (replications or batches) on the per-cent rule
    // lets a growing share of the sampling points miss the accuracy.
    static constexpr unsigned PREC_LIMIT = 1000;

    // Element type "Result". Not yet watched-for-accuracy: PrecPortion 1,
    // precision not reached, first value pending, reference count 0. The
    // window (firstTime, lastTime, value), EpsMax and the per-cent rule start
    // at 0 / off here; the model's subclass and the driver set them.
    MeasureObj(const char* name, NetClass* net, bool watch);
    ~MeasureObj() override;

    // The measure's value; -1 asks for the value of the current window.
    virtual double measure(double arg) = 0;
    // Accumulates over the whole run instead of being averaged.
    virtual bool accumulative() = 0;
    // A time average, fed on every event.
    virtual bool timeaverage() = 0;
    // Folds one executed event into `value` (and advances lastTime).
    virtual void accum(const Binding* b, double weight) = 0;
    // Called after every firing of a transition that refers to the measure;
    // does nothing here.
    virtual void notify();

    // --- observation window ---------------------------------------------------
    // Opens a new window at t: firstTime = lastTime = t, value = 0.
    void reset(DateTime t);
    // lastTime = t (used when a saved simulation state is restored).
    void setLastTime(DateTime t);

    // --- accessors ----------------------------------------------------------------
    // getName() is the element name (inherited); callers take a copy.
    std::string getMeasureName() const { return name; }
    bool getWatch() const { return watch; }
    bool precisionReached() const { return precision_reached; }
    // The holders' references (see core/MeasureKeeper.h): hold takes one,
    // release gives one back and frees the measure with the last.
    int getRefCount() const { return reference_count; }
    static void hold(MeasureObj* m) { ++m->reference_count; }
    static void release(MeasureObj* m);
    void setPercentRule(bool on) { percent_rule = on; }
    bool PercentRule() const { return percent_rule; }
    void setPrecPortion(double portion) { PrecPortion = portion; }
    void setEpsMax(double eps) { EpsMax = eps; }

    // --- run preparation by the simulation driver ---------------------------------
    // Start of a run (its first replication): one empty batch-value block per
    // sampling point (a stationary run has one) and, per sampling point, a
    // running mean and a running sum of squared deviations of 0. All
    // iterators are placed at the beginnings.
    void prepareRun(unsigned samplingPoints, const BatchMeans::Rules& rules = BatchMeans::Rules{});
    // Start of a replication: the block receiving batch values is the first
    // one, the four result lists are emptied and every iterator is at its
    // beginning (the running means and sums are kept). The lists of the
    // replication before are kept aside until the next one starts, so that
    // a replication cut short can be taken back (abandonReplication).
    void prepareReplication();
    // Takes back a replication that did not reach its end (the wall-clock
    // limit cut it): the result lists of the last complete replication return
    // and the observations this one folded into the running means and sums
    // are removed again, so that every estimate rests on whole replications.
    void abandonReplication();
    // Ends a replication that reached its end: nothing of it can be taken
    // back any more.
    void completeReplication();
    // Folds one batch value into the block that currently receives values.
    // `weight` is the batch's share of the estimate: the model time the batch
    // lasted for a time-averaged measure, 1 otherwise. A block keeps longer
    // batches made of these values, not the values (see BatchMeans), so its
    // memory stays fixed however long the run. Returns false (and stores
    // nothing) when prepareRun has not created any block.
    bool addBatchValue(double v, double weight = 1.0);
    // Number of batch values the stationary analysis would read (those of
    // the first block; 0 without blocks).
    std::size_t batchCount() const;
    // What the last stationary analysis found (batches, their length, the
    // correlation test); not valid before the first one.
    const BatchMeans::Estimate& batchEstimate() const { return batchEstimate_; }
    // The last stationary analysis found the batch means, on the longest
    // batches it could form from enough of them, strongly correlated and
    // moving one way: the measure drifts, it shows no steady state within the
    // run, and its interval is not to be trusted.
    bool showsNoSteadyState() const;
    // The last stationary analysis found them strongly correlated (at the
    // level that with a trend means a drift) but not drifting: the run is too
    // short for this measure's interval.
    bool stillCorrelated() const;
    // The measure counts as accurate only because the per-cent rule let
    // points (or its one stationary estimate) miss the accuracy; the last
    // accuracy decision's misses, among how many points, and the largest
    // relative half-width among its points.
    bool reachedOnlyByRule() const { return precision_reached && reachedByRule_; }
    unsigned missedPoints() const { return missedPoints_; }
    unsigned decidedPoints() const { return decidedPoints_; }
    double largestEpsilon() const { return largestEpsilon_; }
    // Transient runs: the observations the newest estimate rests on (the
    // replications that observed its sampling points); 0 before the first.
    unsigned long observationCount() const { return observations_; }
    // Observations without spread (values that agree to about six digits)
    // are no evidence of accuracy until there are this many: had a value
    // differing by as much as the mean itself a probability of epsMax or
    // more per observation, one of that many would have shown it with
    // probability 1 - alpha/2 at least ((1 - p)^n <= e^(-pn) = alpha/2). With
    // epsMax 0 the count is infinite.
    static double spreadlessMinimum(double alpha, double epsMax);
    // The latest estimate for the result channel: mean = last entry of the
    // means, halfWidth = last entry of the half-widths. A missing entry reads
    // as 0; the result is true only when both entries exist.
    bool lastEstimate(double& mean, double& halfWidth) const;
    // The latest relative half-width, 0 when none exists.
    double lastEpsilon() const;
    // Whether the driver still has to open the first window of the run.
    bool getFirstValue() const { return firstValue; }
    void setFirstValue(bool pending) { firstValue = pending; }

    // --- confidence analysis ---------------------------------------------------------
    // Folds observation x of the current sampling point into its running mean
    // and variance (Welford); a is the number of observations of this point
    // already folded in, so x is observation a + 1. A negative a, or a call
    // with no sampling point left in the replication, changes nothing. Appends the mean and the
    // variance (sum of squared deviations / n) and moves on to the next
    // sampling point; with a > 0 also the half-width for the two-sided level
    // 1 - alpha/2 and the relative half-width. With check set (the last
    // sampling point of a replication) the accuracy of all points is decided.
    // Returns precision_reached.
    bool makeTransientAnalysis(double& alpha, double x, int a, bool check);
    // Analyses the batch values of the first block (see BatchMeans: longer
    // batches made of them, whole from the start, batches long enough that
    // their means show no significant lag-1 correlation): mean, variance,
    // half-width, relative half-width, accuracy decision. Each analysis
    // replaces the last one's entries in the four result lists, so that
    // they do not grow with the run. The estimate counts as accurate only
    // when it rests on at least the rules' minimum number of batches worth
    // 200 independent values, the correlation test accepts them and, if
    // they show no spread, on at least spreadlessMinimum values; and it is
    // decided at reviews only (a power of two of values). With a mean of
    // exactly 0 the relative half-width is 0 and nothing shows the accuracy:
    // it is granted only by the per-cent rule, from 10,000 values on, as to
    // any other measure. With fewer than two values nothing can be
    // estimated: nothing is appended and precision_reached is returned
    // unchanged (the driver analyses only from five values on). The two
    // times are not used.
    //
    // Batches of a fixed number of events last different model times, and a
    // time average over the whole run weights each batch by its length: the
    // estimate is the ratio of the batch integrals to the batch lengths, and
    // its variance that of the ratio estimator (an equal mean of the batch
    // values would over-weight the short batches and converge to a wrong
    // value).
    bool makeStationaryAnalysis(double& alpha, double startTime, double currentTime);
    // The accuracy decision over `points` sampling points after `samples`
    // replications or batches: at most floor(points - points * PrecPortion)
    // points may miss, a point missing when its relative half-width is not
    // below EpsMax in size (a NaN misses, and so does a negative one as
    // large as EpsMax: the sign only shows that of the mean). With the
    // per-cent rule on, PrecPortion drops by 0.1 per thousand samples (down
    // to 0). single looks at the last relative half-width only; none at all
    // counts as a miss. Points whose estimate is no evidence yet (see
    // unprovenPoints) miss too. A relative half-width that is not a number
    // is never accurate, not even by the per-cent rule.
    bool measure_reached_precision(unsigned samples, unsigned points, bool single);

    // --- results file ------------------------------------------------------------------
    // Writes the measure's block of the results file to `file` and the same
    // information to `console`. kind 0 is a transient run (one row per
    // sampling point at start + k * interval), any other kind a stationary
    // or RESTART run (one estimate). Numbers are written in scientific
    // notation with six digits after the point, right-aligned; that format
    // stays set on the streams afterwards. The measure named
    // "ImportanceFunction" writes nothing.
    void writeResult(std::ostream& file, std::ostream& console, int kind, const DateTime* start,
                     double* interval);

    // True for the RESTART importance function, which has no estimate.
    bool isImportanceFunction() const { return importanceFunction; }

private:
    template <class T>
    struct NameCache {
        unsigned long generation = ~0UL;
        std::vector<std::pair<const char*, T*>> entries;
    };
    mutable NameCache<Place> placeCache;
    mutable NameCache<Transition> transitionCache;
    bool importanceFunction = false;

protected:
    // The net's place or transition of that name (null when there is none),
    // looked up once per build of the net: the model's measure code asks
    // for them by name at every event. `name` is a string literal of that
    // code; its address is the key.
    Place* placeNamed(const char* name) const;
    Transition* transitionNamed(const char* name) const;

    std::list<BatchMeans> SampleBlocks;                // batch values, one block per sampling point
    std::list<BatchMeans>::iterator s_iter;            // block receiving batch values
    std::list<double>::iterator m_iter, d_iter, v_iter, e_iter;  // walk the four result lists
    std::list<double> AveragedMean;  // per analysis: point estimate
    std::list<double> Variance;      // per analysis: variance estimate
    std::list<double> DeltaX;        // per analysis with >= 2 observations: half-width
    std::list<double> Epsilon;       // per half-width: half-width / mean (0 for a mean of 0)
    std::vector<double> mean_transient;                  // running mean per sampling point
    std::vector<double>::iterator mean_transient_iter;   // current sampling point
    std::vector<double> m2;                              // running sum of squared deviations
    std::vector<double>::iterator m2_iter;
    double firstTime;         // start of the current window (seconds)
    double lastTime;          // time of the last accumulation (seconds)
    double value;             // accumulated in the current window
    bool firstValue;          // the first window of the run is not yet open
    unsigned calls;           // not read
    int reference_count;      // places and transitions holding the measure
    double EpsMax;            // largest relative half-width that counts as accurate
    bool watch;               // estimates go to the result channel
    bool percent_rule;        // per-cent rule on
    double PrecPortion;       // share of sampling points that must be accurate
    bool precision_reached;   // accuracy found reached; the driver stops analysing
    std::string name;         // the measure's name (the same text as the element name)

    // Points of the current replication (or the one stationary estimate)
    // whose estimate is no evidence of accuracy yet, whatever their relative
    // half-width: values without spread from fewer observations than
    // spreadlessMinimum, or batch means still correlated, or too few batches.
    // The accuracy decision counts them as misses.
    unsigned unprovenPoints = 0;

private:
    BatchMeans::Estimate batchEstimate_;
    bool reachedByRule_ = false;
    unsigned missedPoints_ = 0;
    unsigned decidedPoints_ = 0;
    double largestEpsilon_ = 0.0;
    unsigned long observations_ = 0;

    // What a replication cut short must give back: the result lists of the
    // replication before, and the running mean and sum of every sampling
    // point it updated, as they were.
    struct ReplicationUndo {
        bool open = false;
        unsigned unproven = 0;
        unsigned long observations = 0;
        std::list<double> mean, variance, deltaX, epsilon;
        struct Point {
            std::size_t index;
            double mean, m2;
        };
        std::vector<Point> points;
    } undo;

private:
    void writeAccuracyWarning(std::ostream& os) const;
    void writeTransientTable(std::ostream& file, std::ostream& console, const DateTime* start,
                             const double* interval);
    void writeStationaryBlock(std::ostream& file, std::ostream& console);
};
