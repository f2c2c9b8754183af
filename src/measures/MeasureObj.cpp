#include "measures/MeasureObj.h"

#include "core/MeasureKeeper.h"
#include "core/NetClass.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <iomanip>

#include "measures/Quantiles.h"
#include "platform/Assert.h"

namespace {

// The RESTART importance function is a measure too, but has no estimate of
// its own and is left out of the results file.
const char* const kImportanceFunction = "ImportanceFunction";

// Observations whose standard deviation is below this share of their mean
// agree to about six digits: they show no spread.
constexpr double kNoSpread = 1e-6;

// What core does with measures (core/MeasureKeeper.h): the holder count
// kept here, and the measure deleted by the last holder.
class Keeper final : public MeasureKeeper {
public:
    void hold(MeasureObj* m) override { MeasureObj::hold(m); }
    void release(MeasureObj* m) override { MeasureObj::release(m); }
    const std::string& name(const MeasureObj* m) const override { return m->getName(); }
    bool accumulative(MeasureObj* m) override { return m->accumulative(); }
    bool timeAverage(MeasureObj* m) override { return m->timeaverage(); }
};

Keeper keeper;

}  // namespace

MeasureObj::MeasureObj(const char* measureName, NetClass* owner, bool watchIt)
    : DefaultGM(measureName, "Result", owner),
      firstTime(0.0),
      lastTime(0.0),
      value(0.0),
      firstValue(true),
      calls(0),
      reference_count(0),
      EpsMax(0.0),
      watch(watchIt),
      percent_rule(false),
      PrecPortion(1.0),
      precision_reached(false),
      name(measureName ? measureName : "") {
    MeasureKeeper::install(&keeper);
    importanceFunction = name == kImportanceFunction;
    // The iterators are declared before their containers, so they are placed
    // here, once the containers exist.
    s_iter = SampleBlocks.begin();
    m_iter = AveragedMean.begin();
    d_iter = DeltaX.begin();
    v_iter = Variance.begin();
    e_iter = Epsilon.begin();
    mean_transient_iter = mean_transient.begin();
    m2_iter = m2.begin();
}

MeasureObj::~MeasureObj() = default;

void MeasureObj::release(MeasureObj* m) {
    // A release without its hold would free a measure someone still uses.
    SCPN_ASSERT(m->reference_count > 0, "measures/MeasureObj");
    if (--m->reference_count == 0) delete m;
}

void MeasureObj::notify() {}

void MeasureObj::reset(DateTime t) {
    firstTime = lastTime = t.FullDateTime();
    value = 0.0;
}

void MeasureObj::setLastTime(DateTime t) { lastTime = t.FullDateTime(); }

// --- run preparation --------------------------------------------------------------

void MeasureObj::prepareRun(unsigned samplingPoints, const BatchMeans::Rules& rules) {
    SampleBlocks.assign(samplingPoints, BatchMeans(rules));
    mean_transient.assign(samplingPoints, 0.0);
    m2.assign(samplingPoints, 0.0);
    batchEstimate_ = BatchMeans::Estimate();
    reachedByRule_ = false;
    missedPoints_ = decidedPoints_ = 0;
    largestEpsilon_ = 0.0;
    observations_ = 0;
    prepareReplication();
}

void MeasureObj::prepareReplication() {
    s_iter = SampleBlocks.begin();
    undo.open = true;
    undo.unproven = unprovenPoints;
    undo.observations = observations_;
    unprovenPoints = 0;
    undo.points.clear();
    undo.mean.swap(AveragedMean);
    undo.variance.swap(Variance);
    undo.deltaX.swap(DeltaX);
    undo.epsilon.swap(Epsilon);
    AveragedMean.clear();
    DeltaX.clear();
    Variance.clear();
    Epsilon.clear();
    mean_transient_iter = mean_transient.begin();
    m2_iter = m2.begin();
    m_iter = AveragedMean.begin();
    d_iter = DeltaX.begin();
    v_iter = Variance.begin();
    e_iter = Epsilon.begin();
}

void MeasureObj::abandonReplication() {
    if (!undo.open) return;
    undo.open = false;
    for (auto it = undo.points.rbegin(); it != undo.points.rend(); ++it) {
        if (it->index >= mean_transient.size() || it->index >= m2.size()) continue;
        mean_transient[it->index] = it->mean;
        m2[it->index] = it->m2;
    }
    undo.points.clear();
    unprovenPoints = undo.unproven;
    observations_ = undo.observations;
    AveragedMean.swap(undo.mean);
    Variance.swap(undo.variance);
    DeltaX.swap(undo.deltaX);
    Epsilon.swap(undo.epsilon);
    undo.mean.clear();
    undo.variance.clear();
    undo.deltaX.clear();
    undo.epsilon.clear();
    m_iter = AveragedMean.begin();
    d_iter = DeltaX.begin();
    v_iter = Variance.begin();
    e_iter = Epsilon.begin();
}

void MeasureObj::completeReplication() {
    undo.open = false;
    undo.points.clear();
    undo.mean.clear();
    undo.variance.clear();
    undo.deltaX.clear();
    undo.epsilon.clear();
}

bool MeasureObj::addBatchValue(double v, double weight) {
    if (s_iter == SampleBlocks.end()) return false;
    s_iter->add(v, weight);
    return true;
}

std::size_t MeasureObj::batchCount() const {
    return SampleBlocks.empty() ? 0 : SampleBlocks.front().units();
}

bool MeasureObj::stillCorrelated() const {
    const BatchMeans::Estimate& e = batchEstimate_;
    return e.valid && e.correlated && !e.drifting && !SampleBlocks.empty() &&
           e.batches >= SampleBlocks.front().rules().minimumBatches;
}

bool MeasureObj::showsNoSteadyState() const {
    const BatchMeans::Estimate& e = batchEstimate_;
    return e.valid && e.drifting && !SampleBlocks.empty() &&
           e.batches >= SampleBlocks.front().rules().minimumBatches;
}

double MeasureObj::spreadlessMinimum(double alpha, double epsMax) {
    if (!(epsMax > 0.0) || !(alpha > 0.0)) return HUGE_VAL;
    return std::ceil(std::log(2.0 / alpha) / epsMax);
}

bool MeasureObj::lastEstimate(double& mean, double& halfWidth) const {
    mean = AveragedMean.empty() ? 0.0 : AveragedMean.back();
    halfWidth = DeltaX.empty() ? 0.0 : DeltaX.back();
    return !AveragedMean.empty() && !DeltaX.empty();
}

double MeasureObj::lastEpsilon() const { return Epsilon.empty() ? 0.0 : Epsilon.back(); }

// --- confidence analysis ------------------------------------------------------------

bool MeasureObj::makeTransientAnalysis(double& alpha, double x, int a, bool check) {
    // Without a prepared sampling point left (more calls in a replication
    // than points, or no prepareRun) or with a negative count there is
    // nothing to fold the observation into.
    if (a < 0 || mean_transient_iter == mean_transient.end() || m2_iter == m2.end()) {
        return precision_reached;
    }
    const unsigned points = check ? static_cast<unsigned>(AveragedMean.size()) + 1 : 0;
    const double n = static_cast<double>(a) + 1.0;

    // Welford's update of the running mean and sum of squared deviations.
    const double mean = *mean_transient_iter;
    const double sum = *m2_iter;
    const double d = x - mean;
    const double newMean = mean + d / n;
    const double newSum = sum + d * (x - newMean);
    const double variance = newSum / n;

    Variance.push_back(variance);
    AveragedMean.push_back(newMean);
    observations_ = static_cast<unsigned long>(a) + 1;
    if (undo.open)
        undo.points.push_back({static_cast<std::size_t>(mean_transient_iter - mean_transient.begin()),
                               mean, sum});
    *mean_transient_iter++ = newMean;
    *m2_iter++ = newSum;

    if (a > 0) {
        const double t = student_distr(a, 1.0 - alpha / 2.0);
        const double h = std::sqrt(variance) * t / std::sqrt(n);
        DeltaX.push_back(h);
        // A mean of exactly 0 has no relative error to divide out.
        Epsilon.push_back(newMean == 0.0 ? 0.0 : h / newMean);
        // Observations that all agree have an interval of (nearly) no width
        // whatever the distribution they come from: a handful of them is no
        // evidence. (A ratio that is 1 in most replications, or every
        // measure at the start time, shows this.)
        const bool spreadless = !(std::sqrt(variance) > kNoSpread * std::fabs(newMean));
        if (spreadless && n < spreadlessMinimum(alpha, EpsMax)) ++unprovenPoints;
        if (check) precision_reached =
            measure_reached_precision(static_cast<unsigned>(a) + 1, points, false);
    }
    return precision_reached;
}

bool MeasureObj::makeStationaryAnalysis(double& alpha, double, double) {
    // With fewer than two batch values neither a variance nor a half-width
    // exists; nothing is appended and the accuracy stays as it was.
    if (SampleBlocks.empty() || SampleBlocks.front().units() < 2) return precision_reached;
    const BatchMeans& block = SampleBlocks.front();
    const BatchMeans::Estimate e = block.analyse(alpha);
    if (!e.valid) return precision_reached;
    batchEstimate_ = e;
    const std::size_t units = block.units();
    const unsigned samples = static_cast<unsigned>(std::min<std::size_t>(units, ~0u));

    // Only the newest estimate is ever read: the lists hold one entry each
    // instead of one per analysis, which a long run would pile up.
    AveragedMean.assign(1, e.mean);
    Variance.assign(1, e.variance);
    DeltaX.assign(1, e.halfWidth);

    if (e.mean == 0.0) {
        // No relative error can be formed, so nothing shows the accuracy
        // (values that moved and came back to a sum of exactly 0 no more
        // than values that never moved). Accuracy is granted only by the
        // per-cent rule, as to every measure from its last step on, so that
        // a measure that never leaves 0 cannot hold a run forever.
        Epsilon.assign(1, 0.0);
        if (percent_rule && samples >= 10 * PREC_LIMIT) {
            precision_reached = true;
            reachedByRule_ = true;
            missedPoints_ = decidedPoints_ = 1;
            largestEpsilon_ = 0.0;
        }
        return precision_reached;
    }
    Epsilon.assign(1, e.halfWidth / e.mean);  // the sign of the mean is kept
    // Accuracy is decided at reviews only, when the values have doubled
    // since the last one: a decision at every batch would take the first of
    // thousands of chances that a noisy variance falls below the bound, and
    // stop on estimates that are too low with intervals that are too narrow.
    // Where the per-cent rule grants accuracy, every analysis decides.
    const bool review = (units >= 32 && (units & (units - 1)) == 0) || (percent_rule && units >= 10 * PREC_LIMIT);
    const bool evidence = review && e.independent && e.batches >= block.rules().minimumBatches &&
                          e.effectiveSize >= block.rules().minimumEffective &&
                          !(e.noSpread && samples < spreadlessMinimum(alpha, EpsMax));
    unprovenPoints = evidence ? 0 : 1;
    precision_reached = measure_reached_precision(samples, 1, true);
    return precision_reached;
}

bool MeasureObj::measure_reached_precision(unsigned samples, unsigned points, bool single) {
    if (percent_rule && samples >= PREC_LIMIT) {
        const double portion = 1.0 - static_cast<double>(samples / PREC_LIMIT) / 10.0;
        PrecPortion = portion < 0.0 ? 0.0 : portion;
    }
    const double p = static_cast<double>(points);
    const double allowed = std::floor(p - p * PrecPortion);

    // A relative half-width counts by its size (a negative mean makes it
    // negative) and a NaN never counts as accurate.
    auto misses = [this](double eps) { return !(std::fabs(eps) < EpsMax); };
    unsigned missed = 0;
    double largest = 0.0;
    if (single) {
        // No relative half-width at all counts as a miss: nothing shows the
        // accuracy.
        if (Epsilon.empty() || misses(Epsilon.back()) || unprovenPoints > 0) missed = 1;
        if (!Epsilon.empty()) largest = std::fabs(Epsilon.back());  // NaN stays NaN
    } else {
        for (double eps : Epsilon) {
            if (misses(eps)) ++missed;
            // A NaN, once met, stays the largest: it is the worst there is.
            if (!std::isnan(largest) && !(std::fabs(eps) <= largest)) largest = std::fabs(eps);
        }
        missed += unprovenPoints;
    }
    // Not a number is never accurate, whatever the per-cent rule allows.
    const bool reached = static_cast<double>(missed) <= allowed && !std::isnan(largest);
    reachedByRule_ = reached && missed > 0;
    missedPoints_ = missed;
    decidedPoints_ = points;
    largestEpsilon_ = largest;
    return reached;
}

// --- results file -----------------------------------------------------------------------

void MeasureObj::writeAccuracyWarning(std::ostream& os) const {
    os << "WARNING:\n\t" << "Measure " << name
       << ": Has not reached predefined accuracy!\n\tCurrent Values:\n" << std::endl;
}

void MeasureObj::writeResult(std::ostream& file, std::ostream& console, int kind,
                             const DateTime* start, double* interval) {
    if (name == kImportanceFunction) return;
    file << "Measure: " << name << "\n";
    console << "Measure: " << name << "\n";
    if (kind == 0) {
        writeTransientTable(file, console, start, interval);
    } else {
        writeStationaryBlock(file, console);
    }
}

void MeasureObj::writeTransientTable(std::ostream& file, std::ostream& console,
                                     const DateTime* start, const double* interval) {
    if (!precision_reached) {
        writeAccuracyWarning(file);
        writeAccuracyWarning(console);
    }
    file << "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
    console << "\tSim.Time\t" << std::right << std::setw(30) << "Mean Value" << "\tVariance"
            << "\t\tConf.Interval" << "\t\t\tEpsilon\n\n";

    const double t0 = start != nullptr ? start->FullDateTime() : 0.0;
    const double step = interval != nullptr ? *interval : 0.0;
    // The rows are walked from the beginnings of the lists: iterators set on
    // an empty list at the start of a replication do not see later entries.
    m_iter = AveragedMean.begin();
    v_iter = Variance.begin();
    d_iter = DeltaX.begin();
    e_iter = Epsilon.begin();
    for (unsigned k = 0; m_iter != AveragedMean.end(); ++k, ++m_iter) {
        const double time = t0 + k * step;
        const double mean = *m_iter;
        const double variance = v_iter != Variance.end() ? *v_iter++ : 0.0;
        file << "\t" << std::setprecision(6) << std::scientific << std::right << time << "\t"
             << mean << "\t" << variance;
        console << "\t" << std::setprecision(6) << std::right << std::scientific << time << "\t"
                << std::setw(30) << mean << "\t" << variance;
        if (d_iter != DeltaX.end() && e_iter != Epsilon.end()) {
            const double h = *d_iter++;
            const double eps = *e_iter++;
            file << "\t[" << mean - h << ";" << mean + h << "]" << "\t" << eps << std::endl;
            console << "\t\t[" << mean - h << ";" << mean + h << "]" << "\t" << eps << std::endl;
        } else {
            // A point analysed with a single observation has a mean and a
            // variance but no confidence interval; the row says so instead of
            // reading entries that do not exist.
            file << "\tno confidence interval: a single observation" << std::endl;
            console << "\t\tno confidence interval: a single observation" << std::endl;
        }
    }
    file << "\n\n\n";
    console << "\n\n\n";
}

void MeasureObj::writeStationaryBlock(std::ostream& file, std::ostream& console) {
    if (accumulative()) {
        // A measure that accumulates over the whole run has no stationary
        // estimate.
        file << "WARNING:\n\t" << "Measure " << name << ": Was chosen cumulative.\n" << std::endl;
        console << "WARNING:\n\t" << "Measure " << name << ": Was chosen cumulative.\n"
                << std::endl;
        return;
    }
    if (!precision_reached) {
        writeAccuracyWarning(file);
        writeAccuracyWarning(console);
    }
    // Before the first analysis (fewer than five batch values) the lists are
    // empty: the block then says that no estimate exists instead of showing
    // numbers.
    const bool haveEstimate =
        !AveragedMean.empty() && !Variance.empty() && !DeltaX.empty() && !Epsilon.empty();
    const char* const noEstimate = "\tno estimate: no confidence analysis of the batch values was made";

    file << "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
    if (haveEstimate) {
        const double mean = AveragedMean.back(), variance = Variance.back();
        const double h = DeltaX.back(), eps = Epsilon.back();
        file << "\t" << std::setprecision(6) << std::scientific << std::right << mean << "\t"
             << variance << "\t[" << mean - h << ";" << mean + h << "]" << "\t" << eps << std::endl
             << std::endl
             << std::endl;
    } else {
        file << noEstimate << std::endl << std::endl << std::endl;
    }

    console << "\tMean Value\t" << std::right << std::setw(30) << "Variance" << "\t\tConf.Interval"
            << "\t\t\tEpsilon\n\n";
    if (haveEstimate) {
        const double mean = AveragedMean.back(), variance = Variance.back();
        const double h = DeltaX.back(), eps = Epsilon.back();
        console << "\t" << std::setprecision(6) << std::scientific << std::right << mean << "\t"
                << std::setw(30) << variance << "\t\t[" << mean - h << ";" << mean + h << "]"
                << "\t" << eps << std::endl
                << std::endl
                << std::endl;
    } else {
        console << noEstimate << std::endl << std::endl << std::endl;
    }
}

// --- names the model's code asks for ---------------------------------------------

namespace {
template <class T, class Cache, class Lookup>
T* cachedByName(Cache& cache, const NetClass* net, const char* name, Lookup lookup) {
    if (cache.generation != net->getGeneration()) {
        cache.entries.clear();
        cache.generation = net->getGeneration();
    }
    for (const auto& entry : cache.entries)
        if (entry.first == name) return entry.second;
    T* found = lookup();
    cache.entries.emplace_back(name, found);
    return found;
}
}  // namespace

Place* MeasureObj::placeNamed(const char* name) const {
    return cachedByName<Place>(placeCache, net, name, [&] { return net->getPlace(name); });
}

Transition* MeasureObj::transitionNamed(const char* name) const {
    return cachedByName<Transition>(transitionCache, net, name, [&] { return net->getTransition(name); });
}
