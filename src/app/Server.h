#pragma once
// Turns the command line into one run: the model name, the options and
// their checks, logging, the random seed, and the choice of driver.
#include <array>
#include <memory>
#include <string>

#include "buildnet.h"
#include "core/DateTime.h"

class Simulation;
class MessagePassing;
namespace TCLAP {
class CmdLine;
}

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

    // The whole run. Returns after a completed run; a parse error or a
    // failed option check ends the process with status 1.
    void start(int argc, char** argv);

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

    // 0 after a run whose results were written, 1 otherwise.
    int getExitStatus() const { return exitStatus; }

private:
    // Refuses a confidence outside 80 to 99.8 and a negative tolerance.
    static void checkAccuracyOptions(TCLAP::CmdLine& cmd, double confidence, double epsmax);
    // Refuses repeats below 1 and thresholds that give no levels.
    static void checkRestartOptions(TCLAP::CmdLine& cmd, int repeats, double thrmin, double thrmax, int thrnumber);

public:
    // Model time between the batch ends of a RESTART run when neither
    // --batchtime nor a stop time gives it.
    static constexpr double kDefaultRestartBatchTime = 100.0;
    // The batch time of a RESTART run: the given one, else a hundredth of
    // the run's span, else kDefaultRestartBatchTime.
    static double restartBatchTime(bool given, double batchtime, const DateTime& start, const DateTime& stop);

private:
    // Opens the three traces in `folder` (created when missing); a folder
    // that cannot hold them ends the program with status 1.
    static void openLogs(const std::string& folder);
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
    bool modelTimeAxis;
    int simulationType;
    unsigned int maxRunTime;
    ImplementedNetClass net;
    // The message passing of a parallel run (--parallel); ends with the server.
    std::unique_ptr<MessagePassing> messagePassing;
    Simulation* currentDriver;
    int exitStatus = 0;
};
