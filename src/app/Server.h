#pragma once
// Turns the command line into one run: the model name, the options and
// their checks, logging, the random seed, and the choice of driver.
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "buildnet.h"
#include "core/DateTime.h"

class Simulation;
class MessagePassing;
struct RunOptions;

// Everything a simulation driver is created with, gathered from the
// command line in the order the driver takes it.
struct SimulationSettings {
    std::string netName;
    std::string resultPort;
    DateTime start;
    DateTime stop;
    unsigned int samplingPoints = 1;
    int simulationType = 0;  // 0 transient, 1 stationary, 2 RESTART
    bool modelTimeAxis = false;
    bool percentRule = true;
    double epsMax = 0.01;
    double samplingInterval = 0.0;
    unsigned int maxRunTime = 0;
    // RESTART only
    int repeats = 0;
    bool parallel = false;  // transient replications shared over MPI
    double thrmin = 0.0;
    double thrmax = 0.0;
    int thrnumber = 0;
};

class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // How start() ended: the program's exit status, and whether a run took
    // place (the run summary follows one). A malformed command line, --help,
    // --version, a refused option or traces that cannot be written end the
    // program before any run.
    struct Outcome {
        int status = 0;  // 0 after a run whose results were written, 1 otherwise
        bool ran = true;
    };
    // The whole run: the options, their checks, logging, the random seed and
    // the mode's driver.
    Outcome start(int argc, char** argv);

    // The file name of the program path without directory and without its
    // last extension.
    static std::string modelName(const std::string& programPath);
    // The package seed made of a 32-bit seed: bits 31-22, 21-12 and 11-0, twice.
    static std::array<unsigned long, 6> splitSeed(unsigned long seed);

    // Replaces the simulation driver of the transient, stationary and
    // RESTART modes (tests use it to run start-up and the summary without
    // a model); null means the built-in driver.
    using SimulationRunner = void (*)(const SimulationSettings& settings, double alpha);
    static SimulationRunner simulationRunner;

    // The driver's settings for the simulation the options ask for.
    static SimulationSettings simulationSettings(const std::string& netName, const RunOptions& options);

private:
    // Prints the seed and its six parts and hands them to the random package.
    static void applySeed(unsigned long seed);
    // Runs the mode the options ask for (they have passed every check).
    Outcome dispatch(const std::string& netName, const RunOptions& options);
    Outcome startSimulation(const std::string& netName, const RunOptions& options);
    // Opens the traces when the options ask for them; false (reported) when
    // the folder cannot hold them.
    static bool startLogging(const RunOptions& options);
    // Opens the three traces in `folder` (created when missing); the reason
    // when the folder cannot hold them.
    static std::optional<std::string> openLogs(const std::string& folder);
    // Builds the compiled model and loads its stored tokens.
    void buildModel();
    void runSimulation(const SimulationSettings& settings);
    // Starts the message passing of a parallel run; false (after a message)
    // when this program was built without it.
    bool startMessagePassing();
    void runProfiling(const std::string& netName, const std::string& resultPort, long fcount,
                      long lcount);
    void runTokenGame(const std::string& netName, const std::string& resultPort,
                      const DateTime& start);

    double alpha;
    ImplementedNetClass net;
    // The message passing of a parallel run (--parallel); ends with the server.
    std::unique_ptr<MessagePassing> messagePassing;
    Simulation* currentDriver;
    int exitStatus = 0;
};
