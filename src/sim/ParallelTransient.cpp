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
#include "sim/Simulation.h"

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

void Simulation::run_transient_parallel(double& alphaArg) {
    prepareTransientRun(alphaArg);
    // Every process built the same net from the same seed, so the package
    // seed here is the same everywhere: the root of every replication's
    // substreams.
    replicationSeed = RngStream::PackageSeed();
    stoprequest::Polling polling;
    Binding marker(startTime);
    if (parallel->rank() != 0) {
        workParallel(marker);
        return;
    }
    std::cout << "parallel transient run: " << parallel->size() << " process"
              << (parallel->size() == 1 ? "" : "es")
              << "; replication k draws from substream k of every random stream" << std::endl;
    const bool finished = analyseParallel(marker);
    if (!parallelFailed_) printTransientVerdict(finished);
}

bool Simulation::recordReplication(long k, Binding& marker, std::vector<double>& values) {
    const unsigned long substream = static_cast<unsigned long>(k);
    RngStream::SetPackageSeedSubstream(replicationSeed, substream);
    random.useSubstream(substream);
    resetCurrentTime();
    rebuildNet();
    initTransitions();
    recording = &values;
    bool unused = true;
    const bool complete = simulateReplication(marker, unused);
    recording = nullptr;
    return complete;
}

bool Simulation::analyseReplication(const std::vector<double>& values, std::size_t offset) {
    const std::size_t measures = net->getMeasureList().size();
    const std::size_t points = static_cast<std::size_t>(samplingPoints);
    initMeasureList(loopCount == 0);
    bool finished = true;
    for (std::size_t p = 0; p < points; ++p) {
        pointIndex = p;
        nextSamplingTime = samplingPointTime(p);
        replayValues = values.data() + offset + p * measures;
        const bool precise = updateSamplingPoints(false);
        finished = finished && loopCount > 5 && precise;
    }
    replayValues = nullptr;
    for (MeasureObj* m : net->getMeasureList()) m->completeReplication();
    ++loopCount;
    if (analysisState != 1 && loopCount > 5) analysisState = 1;
    return finished;
}

bool Simulation::analyseParallel(Binding& marker) {
    const int processes = parallel->size();
    const std::size_t recordSize =
        static_cast<std::size_t>(samplingPoints) * net->getMeasureList().size();
    ReplicationOrder order(std::max(64L, 8L * processes));
    std::unordered_map<long, int> holder;  // replication -> process simulating it
    std::vector<int> held(static_cast<std::size_t>(processes), 0);
    std::vector<bool> active(static_cast<std::size_t>(processes), true);
    active[0] = false;  // this process is not sent messages
    std::vector<double> values;
    signalCutsReplication = true;
    // Where process 0's time goes, and what the messages cost, for the
    // summary line at the end.
    using Clock = std::chrono::steady_clock;
    Clock::duration analysing{}, simulating{}, waiting{};
    const Clock::time_point runBegan = Clock::now();
    long received = 0;
    double bytesReceived = 0.0;

    auto handOut = [&]() {
        for (int w = 1; w < processes; ++w) {
            const auto i = static_cast<std::size_t>(w);
            while (active[i] && held[i] < kCredit) {
                const long k = order.take();
                if (k < 0) return;
                parallel->send(w, kWork, {static_cast<double>(k)});
                holder[k] = w;
                ++held[i];
            }
        }
    };
    auto lost = [&](const std::string& why) {
        std::cout << "\nPARALLEL RUN FAILED: " << why << ". results.log holds the " << loopCount
                  << " replications analysed so far." << std::endl;
        parallelFailed_ = true;
        parallel->markBroken();
    };

    bool finished = false;
    bool decided = false;
    try {
        handOut();
        MessagePassing::Message msg;
        while (!decided) {
            while (parallel->poll(msg)) {
                const auto i = static_cast<std::size_t>(msg.source);
                if (msg.source <= 0 || msg.source >= processes) continue;
                if (msg.tag == kDone) {
                    active[i] = false;
                    held[i] = 0;
                } else if (msg.tag == kResult) {
                    const long k = msg.data.empty() ? -1 : static_cast<long>(msg.data[0]);
                    auto h = holder.find(k);
                    if (msg.data.size() != recordSize + 1 || h == holder.end() || h->second != msg.source ||
                        !order.arrive(k, std::move(msg.data)))
                        throw MessagePassing::Failure("process " + std::to_string(msg.source) +
                                                      " sent a result that does not fit this run");
                    holder.erase(h);
                    --held[i];
                    ++received;
                    bytesReceived += static_cast<double>(sizeof(double) * (recordSize + 1));
                }
            }
            while (!decided && order.next(values)) {
                const auto began = Clock::now();
                finished = analyseReplication(values, values.size() - recordSize);
                analysing += Clock::now() - began;
                // As in the sequential run, a replication that ends past the
                // limit ends the run unfinished, accurate or not.
                if (!withinRunTime()) {
                    finished = false;
                    decided = true;
                } else if (finished) {
                    decided = true;
                } else {
                    reportReplicationProgress();
                }
            }
            if (decided) break;
            if (stoprequest::pending()) {
                parallel->markBroken();
                resultsInHaste = true;
                // The launcher ends this process shortly after its signal:
                // the results are saved first, and the line says what
                // happened only once it is true.
                shutdown();
                std::cout << "\nRUN INTERRUPTED by " << stoprequest::pendingName() << " after " << loopCount
                          << " replications: a process of the parallel run has ended, or the run was stopped. "
                          << (resultsSaved() ? "results.log holds the replications analysed so far."
                                             : "results.log could not be written.")
                          << std::endl;
                stoprequest::finish();
            }
            if (!withinRunTime() && elapsedSeconds() >= 1) break;
            handOut();
            const long k = order.take();
            const auto began = Clock::now();
            if (k < 0) {
                std::this_thread::sleep_for(kIdlePause);
                waiting += Clock::now() - began;
                continue;
            }
            holder[k] = 0;
            values.clear();
            if (recordReplication(k, marker, values)) {
                holder.erase(k);
                order.arrive(k, std::move(values));
            }
            simulating += Clock::now() - began;
        }
    } catch (const MessagePassing::Failure& e) {
        lost(e.what());
        return false;
    }

    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    const double total = seconds(Clock::now() - runBegan);
    std::cout << "process 0: " << seconds(analysing) << " s analysing, " << seconds(simulating)
              << " s simulating, " << seconds(waiting) << " s waiting for others";
    if (total > 0.0) std::cout << " (analysing " << 100.0 * seconds(analysing) / total << " % of " << total << " s)";
    std::cout << "; " << received << " replications received from other processes, "
              << (received > 0 ? bytesReceived / static_cast<double>(received) + sizeof(double) : 0.0)
              << " bytes of messages per replication" << std::endl;

    // The end: every other process stops simulating and confirms; what it
    // still sends is discarded.
    try {
        // Also to those that stopped on their own: each waits for it.
        for (int w = 1; w < processes; ++w) parallel->send(w, kStop, {});
        const auto deadline = std::chrono::steady_clock::now() + kEndTimeout;
        MessagePassing::Message msg;
        while (std::any_of(active.begin(), active.end(), [](bool a) { return a; })) {
            if (std::chrono::steady_clock::now() > deadline) {
                lost("a process did not confirm the end of the run within 30 s");
                return finished;
            }
            if (!parallel->poll(msg)) {
                std::this_thread::sleep_for(kIdlePause);
                continue;
            }
            if (msg.tag == kDone && msg.source > 0 && msg.source < processes)
                active[static_cast<std::size_t>(msg.source)] = false;
        }
    } catch (const MessagePassing::Failure& e) {
        lost(e.what());
    }
    return finished;
}

void Simulation::workParallel(Binding& marker) {
    bool stop = false;
    externalStop = [&]() {
        MessagePassing::Message msg;
        if (!stop && parallel->pollFrom(0, kStop, msg)) stop = true;
        return stop;
    };
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
            if (!recordReplication(k, marker, values)) break;
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
    externalStop = nullptr;
}
