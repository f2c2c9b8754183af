#include "measures/MeasureObj.h"

#include "core/NetClass.h"

#include <cmath>
#include <iterator>
#include <iomanip>

#include "measures/Quantiles.h"

namespace {

// The RESTART importance function is a measure too, but has no estimate of
// its own and is left out of the results file.
const char* const kImportanceFunction = "ImportanceFunction";

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

void MeasureObj::notify() {}

void MeasureObj::reset(DateTime t) {
    firstTime = lastTime = t.FullDateTime();
    value = 0.0;
}

void MeasureObj::setLastTime(DateTime t) { lastTime = t.FullDateTime(); }

// --- run preparation --------------------------------------------------------------

void MeasureObj::prepareRun(unsigned samplingPoints) {
    SampleBlocks.assign(samplingPoints, std::list<double>());
    mean_transient.assign(samplingPoints, 0.0);
    m2.assign(samplingPoints, 0.0);
    batchStats = BatchStatistics();
    prepareReplication();
}

void MeasureObj::prepareReplication() {
    s_iter = SampleBlocks.begin();
    undo.open = true;
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
    s_iter->push_back(v);
    if (s_iter == SampleBlocks.begin()) foldBatchValue(v, weight);
    return true;
}

void MeasureObj::foldBatchValue(double v, double weight) {
    BatchStatistics& b = batchStats;
    b.sum += v;
    if (b.sum != 0.0) b.someNonZero = true;
    if (b.count++ == 0) b.shift = v;
    const double z = v - b.shift;
    b.w += weight;
    b.wz += weight * z;
    b.ww += weight * weight;
    b.wwz += weight * weight * z;
    b.wwzz += weight * weight * z * z;
}

std::size_t MeasureObj::batchCount() const {
    return SampleBlocks.empty() ? 0 : SampleBlocks.front().size();
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
        if (check) precision_reached =
            measure_reached_precision(static_cast<unsigned>(a) + 1, points, false);
    }
    return precision_reached;
}

bool MeasureObj::makeStationaryAnalysis(double& alpha, double, double) {
    // With fewer than two batch values neither a variance nor a half-width
    // exists; nothing is appended and the accuracy stays as it was.
    if (SampleBlocks.empty() || SampleBlocks.front().size() < 2) return precision_reached;
    const BatchStatistics& b = batchStats;
    const std::size_t count = SampleBlocks.front().size();
    const double n = static_cast<double>(count);

    // Batches of no model time at all (every event at one instant) carry no
    // weight; if all are such, each counts alike.
    const bool weighted = b.w > 0.0;
    const double w = weighted ? b.w : n;
    const double wz = weighted ? b.wz : b.sum - n * b.shift;
    const double c = wz / w;  // the estimate minus the shift
    const double mean = weighted ? b.shift + c : b.sum / n;
    AveragedMean.push_back(mean);

    double residuals = 0.0;  // sum of w_i^2 (z_i - c)^2
    double meanWeight = 1.0;
    if (weighted) {
        residuals = b.wwzz - 2.0 * c * b.wwz + c * c * b.ww;
        meanWeight = b.w / n;
    } else {
        for (double v : SampleBlocks.front()) residuals += (v - mean) * (v - mean);
    }
    if (residuals < 0.0) residuals = 0.0;  // rounding of a (near) constant series
    const double variance = residuals / (n - 1.0) / (meanWeight * meanWeight);
    Variance.push_back(variance);

    const double t = student_distr(static_cast<int>(count) - 1, 1.0 - alpha / 2.0);
    const double h = std::sqrt(variance) * t / std::sqrt(n);
    DeltaX.push_back(h);

    if (mean == 0.0) {
        // No relative error can be formed; the answer only says whether the
        // values moved away from 0 at all.
        Epsilon.push_back(0.0);
        return b.someNonZero;
    }
    Epsilon.push_back(h / mean);  // the sign of the mean is kept
    precision_reached = measure_reached_precision(static_cast<unsigned>(count), 1, true);
    return precision_reached;
}

bool MeasureObj::measure_reached_precision(unsigned samples, unsigned points, bool single) {
    if (percent_rule && samples >= PREC_LIMIT) {
        const double portion = 1.0 - static_cast<double>(samples / PREC_LIMIT) / 10.0;
        PrecPortion = portion < 0.0 ? 0.0 : portion;
    }
    const double p = static_cast<double>(points);
    const double allowed = std::floor(p - p * PrecPortion);

    unsigned misses = 0;
    if (single) {
        // No relative half-width at all counts as a miss: nothing shows the
        // accuracy.
        if (Epsilon.empty() || Epsilon.back() >= EpsMax) misses = 1;
    } else {
        for (double eps : Epsilon) {
            if (eps >= EpsMax) ++misses;
        }
    }
    return static_cast<double>(misses) <= allowed;
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
