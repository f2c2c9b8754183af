#include "app/Server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "app/MainClass.h"
#include "app/OptionParser.h"
#include "app/RunOptions.h"
#include "engine/RandomWrapper.h"
#include "io/MarkingFile.h"
#include "platform/FolderLock.h"
#include "platform/MessagePassing.h"
#ifdef SCPN_HAVE_MPI
#include "platform/mpi/MpiMessagePassing.h"
#endif
#include "sim/Performance.h"
#include "sim/Simulation.h"
#include "sim/TokenGame.h"

Server::Server() : alpha(0.0), currentDriver(nullptr) {}

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

Server::Outcome Server::start(int argc, char** argv) {
    if (currentDriver != nullptr) {
        std::cout << "Simulation already running" << std::endl;
        return {exitStatus, true};
    }

    const std::string netName = modelName(argc > 0 ? argv[0] : "");
    std::cout << "netname: " << netName << std::endl;

    OptionParser parser;
    RunOptions options;
    if (const std::optional<int> status = parser.parse(argc, argv, options)) return {*status, false};
    if (options.parallel) options.parallelRank = std::max(launcherRank(), 0);

    // Some settings are printed as soon as they are checked; the traces are
    // opened (and so emptied) only once every check has passed, so that a
    // mistyped command line does not destroy the traces of the last run.
    if (const auto failure = checkParallelOptions(options)) return {parser.refuse(*failure), false};
    if (options.log) {
        std::cout << "logging on (folder: " << options.logFolder() << ")" << std::endl;
    } else {
        std::cout << "logging off" << std::endl;
    }
    if (const auto failure = checkSeed(options)) return {parser.refuse(*failure), false};
    applySeed(options.seed);
    if (const auto failure = checkResultPort(options)) return {parser.refuse(*failure), false};
    std::cout << "Result port set to " << options.resultPort() << std::endl;
    if (const auto failure = checkRunOptions(options)) return {parser.refuse(*failure), false};

    const Outcome outcome = dispatch(netName, options);
    if (outcome.ran && options.log) MainClass::getLog()->close();
    return outcome;
}

void Server::applySeed(unsigned long seed) {
    std::cout << "Random seed set to " << seed << std::endl;
    const std::array<unsigned long, 6> seeds = splitSeed(seed);
    for (int i = 0; i < 6; ++i)
        std::cout << "Setting individual seed number " << i << " to " << seeds[i] << std::endl;
    const bool accepted = RandomWrapper::SetPackageSeed(seeds.data());
    std::cout << "Was the seed accepted? " << (accepted ? "true" : "false") << std::endl;
}

Server::Outcome Server::dispatch(const std::string& netName, const RunOptions& options) {
    const Outcome noTraces{1, false};
    switch (options.mode) {
        case RunOptions::Mode::Profiling:
            if (!startLogging(options)) return noTraces;
            buildModel();
            std::cout << "Running in profiling mode " << *options.fcount << "*" << *options.lcount << std::endl;
            runProfiling(netName, options.resultPort(), *options.fcount, *options.lcount);
            return {exitStatus, true};
        case RunOptions::Mode::TokenGame:
            if (!startLogging(options)) return noTraces;
            buildModel();
            std::cout << "Running tokengame from " << options.startTime()
                      << " :: displayaddress=" << options.resultPort() << std::endl;
            runTokenGame(netName, options.resultPort(), options.startTime());
            return {exitStatus, true};
        default:
            return startSimulation(netName, options);
    }
}

Server::Outcome Server::startSimulation(const std::string& netName, const RunOptions& options) {
    // Calendar stamps in the wrong order pass the checks; the run is refused
    // after the model is built, but no trace is opened (and emptied) for it.
    const bool stopBeforeStart = options.stopBeforeStart();
    if (!stopBeforeStart && !startLogging(options)) return {1, false};
    buildModel();
    std::cout << "Running simulation from " << options.startTime() << " to " << options.stopTime()
              << " :: displayaddress=" << options.resultPort() << std::endl;
    const SimulationSettings settings = simulationSettings(netName, options);
    if (stopBeforeStart) {
        std::cout << "Stop time of simulation must be after the start time." << std::endl;
        return {1, false};
    }
    alpha = 1.0 - options.confidence / 100.0;
    runSimulation(settings);
    return {exitStatus, true};
}

SimulationSettings Server::simulationSettings(const std::string& netName, const RunOptions& options) {
    const int type = options.simulationType();
    SimulationSettings settings;
    settings.netName = netName;
    settings.resultPort = options.resultPort();
    settings.start = options.startTime();
    settings.stop = options.stopTime();
    settings.samplingPoints = type == 0 ? options.nofsampling : 1u;
    settings.simulationType = type;
    settings.modelTimeAxis = options.modelTimeAxis();
    settings.percentRule = options.percentage;
    settings.epsMax = options.epsmax / 100.0;
    settings.samplingInterval = type == 0 ? (settings.stop - settings.start) / 100.0 : 0.0;
    if (type == 2) settings.samplingInterval = options.restartBatchTime();
    settings.maxRunTime = options.maxRunTime();
    settings.repeats = options.repeats;
    settings.thrmin = options.thrmin;
    settings.thrmax = options.thrmax;
    settings.thrnumber = options.thrnumber;
    settings.parallel = options.parallel;
    return settings;
}

// ---------------------------------------------------------------------------
// Building the model and running the drivers.

bool Server::startLogging(const RunOptions& options) {
    if (!options.log) return true;
    const std::string folder = options.logFolder();
    const std::optional<std::string> why = openLogs(folder);
    if (!why) return true;
    std::cout << std::flush;
    std::cerr << "ERROR: cannot write the traces in the folder \"" << folder << "\": " << *why << std::endl;
    return false;
}

std::optional<std::string> Server::openLogs(const std::string& folder) {
    // A missing folder is created, as the default "Log" is missing in every
    // new working directory; what cannot be created or written ends the
    // program before the run, since the traces were asked for.
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        if (ec) return ec.message();
        std::filesystem::create_directories(folder, ec);
        if (ec) return ec.message();
    } else if (!std::filesystem::is_directory(folder, ec)) {
        return "it is not a folder";
    }
    // Before a trace is opened (and so emptied): a run already tracing there
    // keeps its traces, and this one is refused.
    std::string whyNoLock;
    const folderlock::Outcome lock = folderlock::take(folder, whyNoLock);
    if (lock == folderlock::Outcome::Busy)
        return "another run is writing its traces there (it holds " + folderlock::lockFile(folder) +
               "); let it end, or give this run another --logdir";
    Logging* logs = MainClass::getLog();
    logs->setLogFolder(folder);
    logs->open();
    if (!logs->isSimLogging() || !logs->isTransLogging() || !logs->isServerLogging())
        return std::string(std::strerror(errno));
    // A folder that takes the traces but no lock file (a ".lock" that is a
    // folder, say) cannot keep a second run out.
    if (lock == folderlock::Outcome::Failed) return whyNoLock;
    return std::nullopt;
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
