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
    int getRefCount() const { return reference_count; }
    void incrementRefCount() { ++reference_count; }
    void decrementRefCount() { --reference_count; }
    void setPercentRule(bool on) { percent_rule = on; }
    bool PercentRule() const { return percent_rule; }
    void setPrecPortion(double portion) { PrecPortion = portion; }
    void setEpsMax(double eps) { EpsMax = eps; }

    // --- run preparation by the simulation driver ---------------------------------
    // Start of a run (its first replication): one empty batch-value block per
    // sampling point (a stationary run has one) and, per sampling point, a
    // running mean and a running sum of squared deviations of 0. All
    // iterators are placed at the beginnings.
    void prepareRun(unsigned samplingPoints);
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
    // Appends one batch value to the block that currently receives values.
    // `weight` is the batch's share of the estimate: the model time the batch
    // lasted for a time-averaged measure, 1 otherwise. Returns false (and
    // stores nothing) when prepareRun has not created any block.
    bool addBatchValue(double v, double weight = 1.0);
    // Number of batch values the stationary analysis would read (those of
    // the first block; 0 without blocks).
    std::size_t batchCount() const;
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
    // Analyses all batch values of the first block: mean, variance,
    // half-width, relative half-width, accuracy decision. With a mean of
    // exactly 0 the relative half-width is 0, the accuracy is not decided and
    // the result tells whether any partial sum of the values was non-zero.
    // With fewer than two values nothing can be estimated: nothing is
    // appended and precision_reached is returned unchanged (the driver
    // analyses only from five values on). The two times are not used.
    //
    // Batches of a fixed number of events last different model times, and a
    // time average over the whole run weights each batch by its length: the
    // estimate is the ratio R = sum(w_i y_i) / sum(w_i) of the batch
    // integrals to the batch lengths, and its variance that of the ratio
    // estimator, s^2 / wbar^2 with s^2 = sum(w_i^2 (y_i - R)^2) / (n - 1) and
    // wbar the mean weight. With equal weights these are the plain mean and
    // sample variance of the batch values; an equal mean of them would
    // over-weight the short batches and converge to a wrong value. The
    // half-width is t * sqrt(variance / n) as before.
    bool makeStationaryAnalysis(double& alpha, double startTime, double currentTime);
    // The accuracy decision over `points` sampling points after `samples`
    // replications or batches: at most floor(points - points * PrecPortion)
    // relative half-widths may be >= EpsMax. With the per-cent rule on,
    // PrecPortion drops by 0.1 per thousand samples (down to 0). single looks
    // at the last relative half-width only; none at all counts as a miss.
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

    std::list<std::list<double>> SampleBlocks;         // batch values, one block per sampling point
    std::list<std::list<double>>::iterator s_iter;     // block receiving batch values
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

private:
    // Running sums of the first block's batch values, folded in as values
    // arrive, so that each stationary analysis is constant work however many
    // thousands of batches a long run closes. The weighted sums are taken
    // about the first value (z = y - shift), which keeps the difference of
    // large sums that gives the variance free of cancellation.
    struct BatchStatistics {
        std::size_t count = 0;      // values folded in
        double sum = 0.0;           // their plain sum, in order
        bool someNonZero = false;   // a partial sum differed from 0
        double shift = 0.0;         // the first value
        double w = 0.0;             // sum of weights
        double wz = 0.0;            // sum of w * z
        double ww = 0.0;            // sum of w^2
        double wwz = 0.0;           // sum of w^2 * z
        double wwzz = 0.0;          // sum of w^2 * z^2
    } batchStats;
    void foldBatchValue(double v, double weight);

    // What a replication cut short must give back: the result lists of the
    // replication before, and the running mean and sum of every sampling
    // point it updated, as they were.
    struct ReplicationUndo {
        bool open = false;
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
