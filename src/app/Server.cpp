#include "app/Server.h"

#include <tclap/CmdLine.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <limits>

#include "app/BoolText.h"
#include "app/StrictValue.h"
#include "app/MainClass.h"
#include "engine/RandomWrapper.h"
#include "io/MarkingFile.h"
#include "platform/FolderLock.h"
#include "platform/MessagePassing.h"
#include "platform/net/TcpSocket.h"
#ifdef SCPN_HAVE_MPI
#include "platform/mpi/MpiMessagePassing.h"
#endif
#include "sim/Performance.h"
#include "sim/Simulation.h"
#include "sim/TokenGame.h"

namespace {

// Reports a failed check of the option values the way the parser reports its
// own errors (message and brief usage on the error stream), then ends the
// process with status 1.
[[noreturn]] void failCheck(TCLAP::CmdLine& cmd, const std::string& text) {
    TCLAP::ArgException e(text, "undefined", "Generic ArgException");
    try {
        cmd.getOutput()->failure(cmd, e);
    } catch (TCLAP::ExitException&) {
    }
    std::exit(1);
}

// A seed larger than 32 bits cannot be split into the package seed without
// losing bits, so it is refused rather than silently truncated.
constexpr unsigned long kMaxSeed = 0xFFFFFFFFUL;

}  // namespace

Server::Server()
    : alpha(0.0), modelTimeAxis(false), simulationType(0), maxRunTime(0), currentDriver(nullptr) {}

Server::~Server() = default;

std::string Server::modelName(const std::string& programPath) {
    const std::size_t slash = programPath.find_last_of("\\/");
    std::string file = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    const std::size_t dot = file.rfind('.');
    if (dot != std::string::npos) file.erase(dot);
    return file;
}

std::array<unsigned long, 6> Server::splitSeed(unsigned long seed) {
    const unsigned long a = (seed >> 22) & 0x3ff;
    const unsigned long b = (seed >> 12) & 0x3ff;
    const unsigned long c = seed & 0xfff;
    return {a, b, c, a, b, c};
}

void Server::start(int argc, char** argv) {
    if (currentDriver != nullptr) {
        std::cout << "Simulation already running" << std::endl;
        return;
    }

    const std::string netName = modelName(argc > 0 ? argv[0] : "");
    std::cout << "netname: " << netName << std::endl;

    TCLAP::CmdLine cmd("REVU Simulation", ' ', "none", true);

    TCLAP::SwitchArg tokengame("t", "tokengame", "Tokengame mode", false);
    TCLAP::SwitchArg statSimulation("S", "stat_simulation", "Stationary Simulation mode", false);
    TCLAP::SwitchArg transSimulation("T", "trans_simulation", "Transient Simulation mode", false);
    TCLAP::SwitchArg restartSimulation("R", "restart_simulation", "RESTART Simulation mode", false);
    TCLAP::SwitchArg performance("p", "performance", "Profiling mode", false);
    std::vector<TCLAP::Arg*> modes{&tokengame, &statSimulation, &transSimulation,
                                   &restartSimulation, &performance};
    cmd.xorAdd(modes);

    TCLAP::ValueArg<std::string> resport("", "resport", "Result port", false, "NULL",
                                         "NULL or xxx.xxx.xxx.xxx (IP)");
    TCLAP::ValueArg<std::string> startArg("", "start", "Start time", false, "",
                                          "hh:mm:ss@mm/dd/yyyy");
    TCLAP::ValueArg<std::string> stopArg("", "stop", "Stop time", false, "", "hh:mm:ss@mm/dd/yyyy");
    TCLAP::ValueArg<StrictValue<double>> mstart("", "mstart", "Start time", false, 0.0, "Value >= 0");
    TCLAP::ValueArg<StrictValue<double>> mstop("", "mstop", "Stop time", false, 0.0,
                                               "Value >  Start time >= 0");
    TCLAP::ValueArg<StrictValue<long>> fcount("", "fcount", "Number of transitions to fire before stop.",
                                              false, 0L, "integer>0");
    TCLAP::ValueArg<StrictValue<long>> lcount("", "lcount",
                                              "How many times to repeat each profiling run.", false,
                                              0L, "integer>0");
    TCLAP::SwitchArg log("l", "log", "Enable logging", false);
    TCLAP::ValueArg<std::string> logdir("", "logdir", "Directory for logging output.", false, "",
                                        "Path to directory");
    TCLAP::ValueArg<StrictValue<unsigned long>> seed(
        "", "seed", "Random seed", false, static_cast<unsigned long>(std::time(nullptr)), "integer");
    TCLAP::ValueArg<StrictValue<double>> confidence("", "confidence", "Confidence Interval.", false,
                                                    80.0, "80.0 <= double <= 99.8");
    TCLAP::ValueArg<StrictValue<double>> epsmax("", "epsmax", "Max. relative fault.", false, 1.0,
                                                "1.0 < double < 100.0");
    TCLAP::ValueArg<StrictValue<unsigned int>> secmax("", "secmax", "Max. runtime in seconds.", false,
                                                      1u, "integer>0");
    TCLAP::ValueArg<StrictValue<unsigned int>> nofsampling("", "nofsampling",
                                                           "Number of sampling points.", false, 1u,
                                                           "integer>0");
    TCLAP::ValueArg<BoolText> percentage("", "percentage", "Per cent rule on or off.", false,
                                         BoolText(true), "true-on or false-off");
    // Accepted for compatibility with existing command lines; no run reads it.
    TCLAP::ValueArg<BoolText> inittrans("", "inittrans", "Ignore InitTrans on or off.", false,
                                        BoolText(true), "true-on or false-off");
    TCLAP::ValueArg<StrictValue<double>> thrmin("", "thrmin", "Thresholds min value", false, 0.0,
                                                "1.0 < double < 100.0");
    TCLAP::ValueArg<StrictValue<double>> thrmax("", "thrmax", "Thresholds max value", false, 0.0,
                                                "1.0 < double < 100.0");
    TCLAP::ValueArg<StrictValue<int>> thrnumber("", "thrnumber", "Thresholds number", false, 0,
                                                "integer>0");
    TCLAP::ValueArg<StrictValue<int>> repeats("", "repeats", "Number of RESTART repeats", false, 0,
                                              "integer>0");
    // RESTART batches end at sampling points this far apart in model time.
    TCLAP::ValueArg<StrictValue<double>> batchtime(
        "", "batchtime", "Model time between RESTART batch ends (default: (stop - start) / 100, or 100)",
        false, 0.0, "double > 0");

    // Transient runs only: the replications are shared by the processes
    // that mpirun (or a batch scheduler) started.
    TCLAP::SwitchArg parallel("", "parallel",
                              "Share the replications of a transient run among the processes of an "
                              "MPI run (mpirun -np N)",
                              false);

    cmd.add(parallel);
    cmd.add(resport);
    cmd.add(startArg);
    cmd.add(stopArg);
    cmd.add(mstart);
    cmd.add(mstop);
    cmd.add(fcount);
    cmd.add(lcount);
    cmd.add(log);
    cmd.add(logdir);
    cmd.add(seed);
    cmd.add(confidence);
    cmd.add(epsmax);
    cmd.add(secmax);
    cmd.add(nofsampling);
    cmd.add(percentage);
    cmd.add(inittrans);
    cmd.add(thrmin);
    cmd.add(thrmax);
    cmd.add(thrnumber);
    cmd.add(repeats);
    cmd.add(batchtime);

    // Parse errors, --help and --version end the process inside parse().
    cmd.parse(argc, argv);

    if (parallel.getValue() && !transSimulation.isSet())
        failCheck(cmd, "--parallel applies to transient simulations (-T) only; stationary, RESTART, "
                       "token game and profiling runs are not shared among processes.");
#ifndef SCPN_HAVE_MPI
    if (parallel.getValue())
        failCheck(cmd, "This scpnsim was built without MPI, so --parallel is not available (install "
                       "Open MPI and build again).");
#endif
    // The other processes of a parallel run trace into folders of their own
    // and leave the result port to process 0.
    const int parallelRank = parallel.getValue() ? std::max(launcherRank(), 0) : 0;

    // Logging. The files are opened (and so emptied) only once every check
    // of the options has passed, so that a mistyped command line does not
    // destroy the traces of the last run.
    std::string logFolder = logdir.getValue().empty() ? "Log" : logdir.getValue();
    if (parallelRank > 0) logFolder += "/rank" + std::to_string(parallelRank);
    if (log.getValue()) {
        std::cout << "logging on (folder: " << logFolder << ")" << std::endl;
    } else {
        std::cout << "logging off" << std::endl;
    }
    auto startLogging = [&]() {
        if (log.getValue()) openLogs(logFolder);
    };

    // Seed.
    const unsigned long seedValue = seed.getValue();
    if (seedValue > kMaxSeed) failCheck(cmd, "Seed must be an integer from 0 to 4294967295.");
    std::cout << "Random seed set to " << seedValue << std::endl;
    const std::array<unsigned long, 6> seeds = splitSeed(seedValue);
    for (int i = 0; i < 6; ++i)
        std::cout << "Setting individual seed number " << i << " to " << seeds[i] << std::endl;
    const bool accepted = RandomWrapper::SetPackageSeed(seeds.data());
    std::cout << "Was the seed accepted? " << (accepted ? "true" : "false") << std::endl;

    // Result port.
    const std::string resultPort = parallelRank > 0 ? std::string("NULL") : resport.getValue();
    // A malformed address would have the run wait for a front end that can
    // never connect: refuse it before anything starts.
    if (resultPort != "NULL") {
        std::string host;
        int port = 0;
        if (!win_socket::parse_address(resultPort.c_str(), host, port) || host.empty() || port < 1)
            failCheck(cmd, "Result port \"" + resultPort +
                               "\" is malformed: give HOST:PORT with a port from 1 to 65535, or NULL for no "
                               "result port.");
    }
    std::cout << "Result port set to " << resultPort << std::endl;

    if (performance.isSet()) {
        if (!fcount.isSet()) failCheck(cmd, "Missing argument firecount.");
        if (!lcount.isSet()) failCheck(cmd, "Missing argument loopcount.");
        startLogging();
        buildModel();
        std::cout << "Running in profiling mode " << fcount.getValue() << "*" << lcount.getValue()
                  << std::endl;
        runProfiling(netName, resultPort, fcount.getValue(), lcount.getValue());
    } else {
        // The start time: a calendar stamp or a plain model-time number.
        DateTime startTime;
        if (startArg.isSet()) {
            if (!DateTime::Check(startArg.getValue())) failCheck(cmd, "Format of start time invalid.");
            startTime = DateTime(startArg.getValue());
            modelTimeAxis = false;
        } else if (mstart.isSet()) {
            if (mstart.getValue() < 0.0) failCheck(cmd, "Start time < 0.0");
            startTime = DateTime(mstart.getValue());
            modelTimeAxis = true;
        } else {
            failCheck(cmd, "Missing argument starttime.");
        }
        // DateTime::MAX stands for "no event at all": a run from there could
        // fire nothing and would report an empty success.
        if (!(startTime < DateTime::MAX))
            failCheck(cmd, "Start time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that "
                           "stands for no event.");

        if (statSimulation.isSet() || transSimulation.isSet() || restartSimulation.isSet()) {
            simulationType = statSimulation.isSet() ? 1 : (transSimulation.isSet() ? 0 : 2);

            DateTime stopTime;
            if (stopArg.isSet()) {
                if (!DateTime::Check(stopArg.getValue())) failCheck(cmd, "Format of stoptime invalid.");
                stopTime = DateTime(stopArg.getValue());
            } else if (mstop.isSet()) {
                stopTime = DateTime(mstop.getValue());
                if ((simulationType == 1 && stopTime < startTime) ||
                    (simulationType == 0 && stopTime <= startTime))
                    failCheck(cmd, "Stop time < Start time.");
            } else {
                failCheck(cmd, "Missing argument stop.");
            }
            if (!(stopTime < DateTime::MAX))
                failCheck(cmd, "Stop time must lie before 00:00:00@12/31/9999 (315538070400 s), the time that "
                               "stands for no event.");

            // A transient run observes at least one sampling point (the stop
            // time), and at most as many as the memory of the statistics allows.
            if (simulationType == 0 && nofsampling.getValue() == 0)
                failCheck(cmd, "Number of sampling points must be at least 1.");
            if (simulationType == 0 && nofsampling.getValue() > Simulation::kMaxSamplingPoints)
                failCheck(cmd, "Number of sampling points must be at most " +
                                   std::to_string(Simulation::kMaxSamplingPoints) + ".");
            checkAccuracyOptions(cmd, confidence.getValue(), epsmax.getValue());
            if (simulationType == 2) {
                checkRestartOptions(cmd, repeats.getValue(), thrmin.getValue(), thrmax.getValue(),
                                    thrnumber.getValue());
                if (batchtime.isSet() && !(batchtime.getValue() > 0.0 && std::isfinite(batchtime.getValue())))
                    failCheck(cmd, "RESTART batch time must be a positive number.");
                // The sampling points are start + k * batch: a batch time that
                // added to the start or stop time leaves it unchanged would
                // never move a point on, and one that makes k exceed 2^53
                // before the stop time (or, without one, before the time of
                // no event) no longer tells the points apart.
                const double batch = restartBatchTime(batchtime.isSet(), batchtime.getValue(), startTime, stopTime);
                const bool hasStop = !(stopTime == DateTime(0.0));
                const double span = (hasStop ? stopTime : DateTime::MAX) - startTime;
                if (!(startTime + batch > startTime) || (hasStop && !(stopTime + batch > stopTime)) ||
                    !(span / batch <= 9007199254740992.0))
                    failCheck(cmd, "RESTART batch time is too small to advance the clock between the start "
                                   "and the stop time.");
            } else if (batchtime.isSet()) {
                failCheck(cmd, "--batchtime applies to RESTART simulations (-R) only.");
            }

            if (secmax.isSet()) {
                maxRunTime = secmax.getValue() == 0 ? Simulation::kNoRunTimeLimit
                                                    : static_cast<unsigned int>(secmax.getValue());
            }

            // Calendar stamps in the wrong order pass the checks above; the
            // run is refused below, after the model is built, but no trace is
            // opened (and emptied) for it.
            const bool stopBeforeStart =
                simulationType == 0 && !(stopTime.FullDateTime() - startTime.FullDateTime() > 0.0);
            if (!stopBeforeStart) startLogging();
            buildModel();
            std::cout << "Running simulation from " << startTime << " to " << stopTime
                      << " :: displayaddress=" << resultPort << std::endl;

            SimulationSettings settings;
            settings.netName = netName;
            settings.resultPort = resultPort;
            settings.start = startTime;
            settings.stop = stopTime;
            settings.samplingPoints = simulationType == 0 ? nofsampling.getValue().value : 1u;
            settings.simulationType = simulationType;
            settings.modelTimeAxis = modelTimeAxis;
            settings.percentRule = percentage.getValue();
            settings.epsMax = epsmax.getValue() / 100.0;
            settings.samplingInterval =
                simulationType == 0 ? (stopTime - startTime) / 100.0 : 0.0;
            if (simulationType == 2) settings.samplingInterval = restartBatchTime(batchtime.isSet(), batchtime.getValue(), startTime, stopTime);
            settings.maxRunTime = maxRunTime;
            settings.repeats = repeats.getValue();
            settings.thrmin = thrmin.getValue();
            settings.thrmax = thrmax.getValue();
            settings.thrnumber = thrnumber.getValue();
            settings.parallel = parallel.getValue();

            if (stopBeforeStart) {
                std::cout << "Stop time of simulation must be after the start time." << std::endl;
                std::exit(1);
            }

            alpha = 1.0 - confidence.getValue() / 100.0;
            runSimulation(settings);
        } else if (tokengame.isSet()) {
            startLogging();
            buildModel();
            std::cout << "Running tokengame from " << startTime
                      << " :: displayaddress=" << resultPort << std::endl;
            runTokenGame(netName, resultPort, startTime);
        }
    }

    if (log.getValue()) MainClass::getLog()->close();
}

// ---------------------------------------------------------------------------
// Building the model and running the drivers.

void Server::checkAccuracyOptions(TCLAP::CmdLine& cmd, double confidence, double epsmax) {
    // The quantile table covers two-sided levels 0.9 to 0.999, that is a
    // confidence of 80 to 99.8; outside it every half-width would be 0 and
    // every run "accurate".
    if (!(confidence >= 80.0 && confidence <= 99.8))
        failCheck(cmd, "Confidence must be from 80.0 to 99.8.");
    if (epsmax < 0.0) failCheck(cmd, "Max. relative fault must not be negative.");
}

void Server::checkRestartOptions(TCLAP::CmdLine& cmd, int repeats, double thrmin, double thrmax, int thrnumber) {
    // Every up-crossing divides the weight of a path by repeats: 0 or less
    // would make the weights meaningless.
    if (repeats < 1) failCheck(cmd, "Number of RESTART repeats must be at least 1.");
    // The levels are slices of (thrmax - thrmin) / (thrnumber + 1).
    if (thrnumber < 0) failCheck(cmd, "Thresholds number must not be negative.");
    // The top level is thrnumber + 2, which must be an int; and a path may
    // hold one split per level, so repeats^(thrnumber + 2) must not make its
    // weight too small for a double.
    if (thrnumber > std::numeric_limits<int>::max() - 2)
        failCheck(cmd, "Thresholds number must be at most " + std::to_string(std::numeric_limits<int>::max() - 2) +
                           ".");
    if ((static_cast<double>(thrnumber) + 2.0) * std::log10(static_cast<double>(repeats)) > 300.0)
        failCheck(cmd, "Thresholds number and repeats give path weights below 1e-300: repeats^(thrnumber + 2) "
                       "must stay below 1e300.");
    if (!(thrmax > thrmin) || !std::isfinite(thrmax - thrmin))
        failCheck(cmd, "Thresholds max value must be greater than thresholds min value.");
}

double Server::restartBatchTime(bool given, double batchtime, const DateTime& start, const DateTime& stop) {
    // A RESTART run closes a batch at every sampling point, so the points
    // must be apart: a hundred between start and stop when a stop time is
    // given, else every 100 units of model time, unless the user says.
    if (given) return batchtime;
    const double span = stop - start;
    return stop == DateTime(0.0) || !(span > 0.0) ? kDefaultRestartBatchTime : span / 100.0;
}

void Server::openLogs(const std::string& folder) {
    // A missing folder is created, as the default "Log" is missing in every
    // new working directory; what cannot be created or written ends the
    // program before the run, since the traces were asked for.
    auto refuse = [&](const std::string& why) {
        std::cout << std::flush;
        std::cerr << "ERROR: cannot write the traces in the folder \"" << folder << "\": " << why
                  << std::endl;
        std::exit(1);
    };
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        if (ec) refuse(ec.message());
        std::filesystem::create_directories(folder, ec);
        if (ec) refuse(ec.message());
    } else if (!std::filesystem::is_directory(folder, ec)) {
        refuse("it is not a folder");
    }
    // Before a trace is opened (and so emptied): a run already tracing there
    // keeps its traces, and this one is refused.
    std::string whyNoLock;
    const folderlock::Outcome lock = folderlock::take(folder, whyNoLock);
    if (lock == folderlock::Outcome::Busy)
        refuse("another run is writing its traces there (it holds " + folderlock::lockFile(folder) +
               "); let it end, or give this run another --logdir");
    Logging* logs = MainClass::getLog();
    logs->setLogFolder(folder);
    logs->open();
    if (!logs->isSimLogging() || !logs->isTransLogging() || !logs->isServerLogging())
        refuse(std::strerror(errno));
    // A folder that takes the traces but no lock file (a ".lock" that is a
    // folder, say) cannot keep a second run out.
    if (lock == folderlock::Outcome::Failed) refuse(whyNoLock);
}

void Server::buildModel() {
    net.buildNet();
    MarkingFile::checkAgainstNet(net);
    net.createTokens();
}

Server::SimulationRunner Server::simulationRunner = nullptr;

void Server::runSimulation(const SimulationSettings& settings) {
    if (simulationRunner != nullptr) {
        simulationRunner(settings, alpha);
        return;
    }
    if (settings.parallel && !startMessagePassing()) {
        exitStatus = 1;
        return;
    }
    currentDriver = new Simulation(&net, settings.netName, settings.resultPort, settings.start,
                                   settings.stop, static_cast<int>(settings.samplingPoints),
                                   settings.simulationType, settings.modelTimeAxis,
                                   settings.percentRule, settings.epsMax, settings.samplingInterval,
                                   settings.maxRunTime);
    if (messagePassing) currentDriver->setParallel(messagePassing.get());
    currentDriver->init();
    if (settings.simulationType == 0)
        currentDriver->run_transient(alpha);
    else if (settings.simulationType == 1)
        currentDriver->run_stationary(alpha);
    else
        currentDriver->run_restart(alpha, settings.repeats, settings.thrmin, settings.thrmax, settings.thrnumber);
    // Process 0 of a parallel run writes the results of all of them.
    if (!messagePassing || messagePassing->rank() == 0) currentDriver->shutdown();
    if (!currentDriver->resultsSaved() || currentDriver->parallelRunFailed()) exitStatus = 1;
    delete currentDriver;
    currentDriver = nullptr;
}

bool Server::startMessagePassing() {
#ifdef SCPN_HAVE_MPI
    messagePassing = std::make_unique<MpiMessagePassing>(nullptr, nullptr);
    return true;
#else
    return false;
#endif
}

void Server::runProfiling(const std::string& netName, const std::string& resultPort, long fcount, long lcount) {
    // The driver keeps a reference to its start time.
    static const DateTime start;
    Performance* run = new Performance(&net, netName, resultPort, start, fcount, lcount);
    currentDriver = run;
    run->run();
    run->shutdown();
    if (!run->resultsSaved()) exitStatus = 1;
    delete run;
    currentDriver = nullptr;
}

void Server::runTokenGame(const std::string& netName, const std::string& resultPort, const DateTime& start) {
    // The game's driver lives here, not in currentDriver.
    TokenGame* game = new TokenGame(&net, netName, resultPort, start);
    game->run();
    game->shutdown();
    if (!game->served()) exitStatus = 1;  // no front end could play
    delete game;
}
