// The transient run shared by the processes of a parallel run.
//
// Process 0 analyses: it hands out replication numbers, takes the recorded
// measure values back and folds them into the statistics strictly in
// replication order, exactly as the sequential run folds the replications it
// simulates. Whenever nothing waits to be analysed it simulates replications
// itself, so on N cores N processes simulate. Every replication k draws
// from substream k of every random stream (the streams of the rebuilt net
// and the driver's own), so replication k yields the same values on any
// process, and the run stops at the same replication with the same results
// for any number of processes. Replications simulated beyond the stopping
// one are discarded.
//
// Messages (vectors of doubles): WORK [k] to a process; RESULT [k, values of
// every measure at every sampling point] back; STOP to every process at the
// end, answered by DONE once it simulates no more. A process that reached
// the wall-clock limit on its own also says DONE.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>
#include <unordered_map>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "platform/MessagePassing.h"
#include "platform/StopRequest.h"
#include "sim/ReplicationOrder.h"
#include "sim/ReplicationValues.h"
#include "sim/Simulation.h"
#include "sim/TransientRun.h"

namespace {

enum Tag { kWork = 1, kResult = 2, kStop = 3, kDone = 4 };

// Replications a process holds at once: one being simulated and the next
// ones already there, so it never waits for process 0 between two.
constexpr int kCredit = 3;
// How long process 0 waits for the others to confirm the end of the run.
constexpr auto kEndTimeout = std::chrono::seconds(30);
// Pause of a process with nothing to do before it looks for messages again.
constexpr auto kIdlePause = std::chrono::microseconds(200);

}  // namespace

// Process 0 of a parallel run: hands out replication numbers, takes the
// records back, analyses them in order and simulates replications itself
// whenever nothing waits to be analysed; at the end every other process
// confirms that it stopped. It keeps a record of where its time went.
class Simulation::ParallelAnalysis {
public:
    ParallelAnalysis(Simulation& sim, const RngStream::Seed& seed, TransientRun& run)
        : sim_(sim),
          seed_(seed),
          run_(run),
          processes_(sim.parallel->size()),
          recordSize_(run.schedule.size() * sim.net->getMeasureList().size()),
          order_(std::max(64L, 8L * processes_)),
          held_(static_cast<std::size_t>(processes_), 0),
          active_(static_cast<std::size_t>(processes_), true) {
        active_[0] = false;  // this process is not sent messages
    }

    // The whole of process 0's part; true when the run finished accurate.
    bool run() {
        run_.guard.cutReplicationsOnSignal();
        try {
            handOut();
            while (!decided_) {
                drain();
                analyseArrived();
                if (decided_) break;
                endIfSignalled();
                if (!sim_.withinRunTime() && sim_.elapsedSeconds() >= 1) break;
                handOut();
                simulateOne();
            }
        } catch (const MessagePassing::Failure& e) {
            lost(e.what());
            return false;
        }
        printTimes();
        finish();
        return finished_;
    }

private:
    using Clock = std::chrono::steady_clock;
    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    // Every other process that still works gets replications up to its credit.
    void handOut() {
        for (int w = 1; w < processes_; ++w) {
            const auto i = static_cast<std::size_t>(w);
            while (active_[i] && held_[i] < kCredit) {
                const long k = order_.take();
                if (k < 0) return;
                sim_.parallel->send(w, kWork, {static_cast<double>(k)});
                holder_[k] = w;
                ++held_[i];
            }
        }
    }

    // Takes every message waiting: a process that is done, or a record.
    void drain() {
        MessagePassing::Message msg;
        while (sim_.parallel->poll(msg)) {
            const auto i = static_cast<std::size_t>(msg.source);
            if (msg.source <= 0 || msg.source >= processes_) continue;
            if (msg.tag == kDone) {
                active_[i] = false;
                held_[i] = 0;
            } else if (msg.tag == kResult) {
                const long k = msg.data.empty() ? -1 : static_cast<long>(msg.data[0]);
                auto h = holder_.find(k);
                if (msg.data.size() != recordSize_ + 1 || h == holder_.end() || h->second != msg.source ||
                    !order_.arrive(k, std::move(msg.data)))
                    throw MessagePassing::Failure("process " + std::to_string(msg.source) +
                                                  " sent a result that does not fit this run");
                holder_.erase(h);
                --held_[i];
                ++received_;
                bytesReceived_ += static_cast<double>(sizeof(double) * (recordSize_ + 1));
            }
        }
    }

    // Analyses the records that are next in order, until the run is decided.
    void analyseArrived() {
        while (!decided_ && order_.next(values_)) {
            const auto began = Clock::now();
            finished_ = sim_.analyseReplication(run_.schedule, values_, values_.size() - recordSize_);
            analysing_ += Clock::now() - began;
            // As in the sequential run, a replication that ends past the
            // limit ends the run unfinished, accurate or not.
            if (!sim_.withinRunTime()) {
                finished_ = false;
                decided_ = true;
            } else if (finished_) {
                decided_ = true;
            } else {
                sim_.reportReplicationProgress(run_);
            }
        }
    }

    // A signal (or the launcher ending the run after a process died): the
    // results analysed so far are saved, and the process ends.
    void endIfSignalled() {
        if (!stoprequest::pending()) return;
        sim_.parallel->markBroken();
        sim_.resultsInHaste = true;
        // The launcher ends this process shortly after its signal: the
        // results are saved first, and the line says what happened only
        // once it is true.
        sim_.shutdown();
        std::cout << "\nRUN INTERRUPTED by " << stoprequest::pendingName() << " after " << sim_.loopCount
                  << " replications: a process of the parallel run has ended, or the run was stopped. "
                  << (sim_.resultsSaved() ? "results.log holds the replications analysed so far."
                                          : "results.log could not be written.")
                  << std::endl;
        stoprequest::finish();
    }

    // Simulates the next replication here, or pauses when there is none.
    void simulateOne() {
        const long k = order_.take();
        const auto began = Clock::now();
        if (k < 0) {
            std::this_thread::sleep_for(kIdlePause);
            waiting_ += Clock::now() - began;
            return;
        }
        holder_[k] = 0;
        values_.clear();
        if (sim_.recordReplication(k, seed_, run_, values_)) {
            holder_.erase(k);
            order_.arrive(k, std::move(values_));
        }
        simulating_ += Clock::now() - began;
    }

    // The end: every other process stops simulating and confirms; what it
    // still sends is discarded.
    void finish() {
        try {
            // Also to those that stopped on their own: each waits for it.
            for (int w = 1; w < processes_; ++w) sim_.parallel->send(w, kStop, {});
            const auto deadline = Clock::now() + kEndTimeout;
            MessagePassing::Message msg;
            while (std::any_of(active_.begin(), active_.end(), [](bool a) { return a; })) {
                if (Clock::now() > deadline) {
                    lost("a process did not confirm the end of the run within 30 s");
                    return;
                }
                if (!sim_.parallel->poll(msg)) {
                    std::this_thread::sleep_for(kIdlePause);
                    continue;
                }
                if (msg.tag == kDone && msg.source > 0 && msg.source < processes_)
                    active_[static_cast<std::size_t>(msg.source)] = false;
            }
        } catch (const MessagePassing::Failure& e) {
            lost(e.what());
        }
    }

    void lost(const std::string& why) {
        std::cout << "\nPARALLEL RUN FAILED: " << why << ". results.log holds the " << sim_.loopCount
                  << " replications analysed so far." << std::endl;
        sim_.parallelFailed_ = true;
        sim_.parallel->markBroken();
    }

    // Where process 0's time went, and what the messages cost.
    void printTimes() const {
        const double total = seconds(Clock::now() - began_);
        std::cout << "process 0: " << seconds(analysing_) << " s analysing, " << seconds(simulating_)
                  << " s simulating, " << seconds(waiting_) << " s waiting for others";
        if (total > 0.0)
            std::cout << " (analysing " << 100.0 * seconds(analysing_) / total << " % of " << total << " s)";
        std::cout << "; " << received_ << " replications received from other processes, "
                  << (received_ > 0 ? bytesReceived_ / static_cast<double>(received_) + sizeof(double) : 0.0)
                  << " bytes of messages per replication" << std::endl;
    }

    Simulation& sim_;
    const RngStream::Seed& seed_;
    TransientRun& run_;
    const int processes_;
    const std::size_t recordSize_;
    ReplicationOrder order_;
    std::unordered_map<long, int> holder_;  // replication -> process simulating it
    std::vector<int> held_;                 // replications each process holds
    std::vector<bool> active_;              // processes that still simulate
    std::vector<double> values_;
    bool finished_ = false;
    bool decided_ = false;
    // The timing record.
    const Clock::time_point began_ = Clock::now();
    Clock::duration analysing_{}, simulating_{}, waiting_{};
    long received_ = 0;
    double bytesReceived_ = 0.0;
};

void Simulation::run_transient_parallel(double& alphaArg) {
    prepareTransientRun(alphaArg);
    // Every process built the same net from the same seed, so the package
    // seed here is the same everywhere: the root of every replication's
    // substreams.
    const RngStream::Seed seed = RngStream::PackageSeed();
    stoprequest::Polling polling;
    TransientRun run(*this);
    if (parallel->rank() != 0) {
        workParallel(seed, run);
        return;
    }
    std::cout << "parallel transient run: " << parallel->size() << " process"
              << (parallel->size() == 1 ? "" : "es")
              << "; replication k draws from substream k of every random stream" << std::endl;
    const bool finished = ParallelAnalysis(*this, seed, run).run();
    if (!parallelFailed_) printTransientVerdict(finished);
}

bool Simulation::recordReplication(long k, const RngStream::Seed& seed, TransientRun& run,
                                   std::vector<double>& record) {
    const unsigned long substream = static_cast<unsigned long>(k);
    RngStream::SetPackageSeedSubstream(seed, substream);
    random.useSubstream(substream);
    resetCurrentTime();
    rebuildNet();
    initTransitions();
    RecordedValues values(*net, record);
    bool unused = true;
    return simulateReplication(run, values, unused);
}

bool Simulation::analyseReplication(TransientSchedule& schedule, const std::vector<double>& values,
                                    std::size_t offset) {
    const std::size_t measures = net->getMeasureList().size();
    initMeasureList(loopCount == 0);
    bool finished = true;
    for (schedule.beginReplication(); !schedule.done(); schedule.advance()) {
        nextSamplingTime = schedule.at(schedule.index());
        const bool precise = updateSamplingPoints(schedule, values.data() + offset + schedule.index() * measures);
        finished = finished && loopCount > 5 && precise;
    }
    completeReplication();
    return finished;
}

void Simulation::workParallel(const RngStream::Seed& seed, TransientRun& run) {
    bool stop = false;
    run.guard.stopWhen([&]() {
        MessagePassing::Message msg;
        if (!stop && parallel->pollFrom(0, kStop, msg)) stop = true;
        return stop;
    });
    std::vector<long> queue;
    std::vector<double> values;
    try {
        MessagePassing::Message msg;
        while (!stop) {
            while (parallel->poll(msg)) {
                if (msg.source != 0) continue;
                if (msg.tag == kStop) stop = true;
                else if (msg.tag == kWork && msg.data.size() == 1) queue.push_back(static_cast<long>(msg.data[0]));
            }
            if (stop) break;
            if (stoprequest::pending()) stoprequest::finish();
            if (queue.empty()) {
                std::this_thread::sleep_for(kIdlePause);
                continue;
            }
            const long k = queue.front();
            queue.erase(queue.begin());
            values.assign(1, static_cast<double>(k));
            // Cut short by the wall-clock limit or by the end of the run.
            if (!recordReplication(k, seed, run, values)) break;
            parallel->send(0, kResult, values);
        }
        parallel->send(0, kDone, {});
        // Process 0 ends the run with one STOP to every process; one that
        // stopped on its own still takes it, so that none is left unread.
        while (!stop) {
            if (stoprequest::pending()) stoprequest::finish();
            MessagePassing::Message msg;
            if (parallel->pollFrom(0, kStop, msg)) stop = true;
            else std::this_thread::sleep_for(kIdlePause);
        }
    } catch (const MessagePassing::Failure& e) {
        // Standard error through C's stdio: this process's streams are quiet.
        std::fprintf(stderr, "scpnsim process %d: %s; the parallel run cannot go on.\n", parallel->rank(),
                     e.what());
        parallel->abortAll(1);
    }
}
