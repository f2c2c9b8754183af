#include "app/OptionParser.h"

#include <tclap/CmdLine.h>

#include <ctime>
#include <vector>

#include "app/BoolText.h"
#include "app/StrictValue.h"

// The options in the order the usage lists them (the modes first).
struct OptionParser::Args {
    TCLAP::CmdLine cmd{"REVU Simulation", ' ', "none", true};

    TCLAP::SwitchArg tokengame{"t", "tokengame", "Tokengame mode", false};
    TCLAP::SwitchArg statSimulation{"S", "stat_simulation", "Stationary Simulation mode", false};
    TCLAP::SwitchArg transSimulation{"T", "trans_simulation", "Transient Simulation mode", false};
    TCLAP::SwitchArg restartSimulation{"R", "restart_simulation", "RESTART Simulation mode", false};
    TCLAP::SwitchArg performance{"p", "performance", "Profiling mode", false};

    TCLAP::ValueArg<std::string> resport{"", "resport", "Result port", false, "NULL",
                                         "NULL or xxx.xxx.xxx.xxx (IP)"};
    TCLAP::ValueArg<std::string> start{"", "start", "Start time", false, "", "hh:mm:ss@mm/dd/yyyy"};
    TCLAP::ValueArg<std::string> stop{"", "stop", "Stop time", false, "", "hh:mm:ss@mm/dd/yyyy"};
    TCLAP::ValueArg<StrictValue<double>> mstart{"", "mstart", "Start time", false, 0.0, "Value >= 0"};
    TCLAP::ValueArg<StrictValue<double>> mstop{"", "mstop", "Stop time", false, 0.0, "Value >  Start time >= 0"};
    TCLAP::ValueArg<StrictValue<long>> fcount{"", "fcount", "Number of transitions to fire before stop.",
                                              false, 0L, "integer>0"};
    TCLAP::ValueArg<StrictValue<long>> lcount{"", "lcount", "How many times to repeat each profiling run.",
                                              false, 0L, "integer>0"};
    TCLAP::SwitchArg log{"l", "log", "Enable logging", false};
    TCLAP::ValueArg<std::string> logdir{"", "logdir", "Directory for logging output.", false, "",
                                        "Path to directory"};
    TCLAP::ValueArg<StrictValue<unsigned long>> seed{
        "", "seed", "Random seed", false, static_cast<unsigned long>(std::time(nullptr)), "integer"};
    TCLAP::ValueArg<StrictValue<double>> confidence{"", "confidence", "Confidence Interval.", false, 80.0,
                                                    "80.0 <= double <= 99.8"};
    TCLAP::ValueArg<StrictValue<double>> epsmax{"", "epsmax", "Max. relative fault.", false, 1.0,
                                                "1.0 < double < 100.0"};
    TCLAP::ValueArg<StrictValue<unsigned int>> secmax{"", "secmax", "Max. runtime in seconds.", false, 1u,
                                                      "integer>0"};
    TCLAP::ValueArg<StrictValue<unsigned int>> nofsampling{"", "nofsampling", "Number of sampling points.", false,
                                                           1u, "integer>0"};
    TCLAP::ValueArg<BoolText> percentage{"", "percentage", "Per cent rule on or off.", false, BoolText(true),
                                         "true-on or false-off"};
    // Accepted for compatibility with existing command lines; no run reads it.
    TCLAP::ValueArg<BoolText> inittrans{"", "inittrans", "Ignore InitTrans on or off.", false, BoolText(true),
                                        "true-on or false-off"};
    TCLAP::ValueArg<StrictValue<double>> thrmin{"", "thrmin", "Thresholds min value", false, 0.0,
                                                "1.0 < double < 100.0"};
    TCLAP::ValueArg<StrictValue<double>> thrmax{"", "thrmax", "Thresholds max value", false, 0.0,
                                                "1.0 < double < 100.0"};
    TCLAP::ValueArg<StrictValue<int>> thrnumber{"", "thrnumber", "Thresholds number", false, 0, "integer>0"};
    TCLAP::ValueArg<StrictValue<int>> repeats{"", "repeats", "Number of RESTART repeats", false, 0, "integer>0"};
    // RESTART batches end at sampling points this far apart in model time.
    TCLAP::ValueArg<StrictValue<double>> batchtime{
        "", "batchtime", "Model time between RESTART batch ends (default: (stop - start) / 100, or 100)", false,
        0.0, "double > 0"};
    // Transient runs only: the replications are shared by the processes
    // that mpirun (or a batch scheduler) started.
    TCLAP::SwitchArg parallel{"", "parallel",
                              "Share the replications of a transient run among the processes of an MPI run "
                              "(mpirun -np N)",
                              false};

    Args() {
        std::vector<TCLAP::Arg*> modes{&tokengame, &statSimulation, &transSimulation, &restartSimulation,
                                       &performance};
        cmd.xorAdd(modes);
        for (TCLAP::Arg* a : std::vector<TCLAP::Arg*>{
                 &parallel, &resport, &start, &stop, &mstart, &mstop, &fcount, &lcount, &log, &logdir, &seed,
                 &confidence, &epsmax, &secmax, &nofsampling, &percentage, &inittrans, &thrmin, &thrmax,
                 &thrnumber, &repeats, &batchtime})
            cmd.add(a);
        // Errors, --help and --version come back here instead of ending the
        // process inside the parser.
        cmd.setExceptionHandling(false);
    }

    RunOptions::Mode mode() const {
        using Mode = RunOptions::Mode;
        if (tokengame.isSet()) return Mode::TokenGame;
        if (statSimulation.isSet()) return Mode::Stationary;
        if (transSimulation.isSet()) return Mode::Transient;
        if (restartSimulation.isSet()) return Mode::Restart;
        return Mode::Profiling;
    }

    // The value of an option when it was given on the command line.
    template <typename T, typename Value>
    static std::optional<T> given(TCLAP::ValueArg<Value>& arg) {
        if (!arg.isSet()) return std::nullopt;
        return static_cast<T>(arg.getValue());
    }

    RunOptions values() {
        RunOptions o;
        o.mode = mode();
        o.resport = resport.getValue();
        o.start = given<std::string>(start);
        o.stop = given<std::string>(stop);
        o.mstart = given<double>(mstart);
        o.mstop = given<double>(mstop);
        o.fcount = given<long>(fcount);
        o.lcount = given<long>(lcount);
        o.log = log.getValue();
        o.logdir = logdir.getValue();
        o.seed = seed.getValue();
        o.confidence = confidence.getValue();
        o.epsmax = epsmax.getValue();
        o.secmax = given<unsigned int>(secmax);
        o.nofsampling = nofsampling.getValue();
        o.percentage = percentage.getValue();
        o.inittrans = inittrans.getValue();
        o.thrmin = thrmin.getValue();
        o.thrmax = thrmax.getValue();
        o.thrnumber = thrnumber.getValue();
        o.repeats = repeats.getValue();
        o.batchtime = given<double>(batchtime);
        o.parallel = parallel.getValue();
        return o;
    }
};

OptionParser::OptionParser() : args(std::make_unique<Args>()) {}

OptionParser::~OptionParser() = default;

std::optional<int> OptionParser::parse(int argc, char** argv, RunOptions& options) {
    try {
        args->cmd.parse(argc, argv);
    } catch (TCLAP::ArgException& e) {
        try {
            args->cmd.getOutput()->failure(args->cmd, e);
        } catch (TCLAP::ExitException& end) {
            return end.getExitStatus();
        }
        return 1;
    } catch (TCLAP::ExitException& end) {  // --help, --version
        return end.getExitStatus();
    }
    options = args->values();
    return std::nullopt;
}

int OptionParser::refuse(const std::string& message) {
    TCLAP::ArgException e(message, "undefined", "Generic ArgException");
    try {
        args->cmd.getOutput()->failure(args->cmd, e);
    } catch (TCLAP::ExitException&) {
    }
    return 1;
}
