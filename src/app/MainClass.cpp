#include "app/MainClass.h"

#include <fstream>
#include <iostream>
#include <new>
#include <string>

#include "app/Server.h"
#include "core/DateTime.h"
#include "core/Token.h"
#include "engine/Transition.h"
#include "platform/MessagePassing.h"
#include "platform/StopRequest.h"

Logging MainClass::log;

namespace {
// The kernel reaches the log manager through its own layer.
[[maybe_unused]] const bool logInstalled = (Logging::installProcess(MainClass::getLog()), true);
}  // namespace

Logging* MainClass::getLog() { return &log; }

MainClass::Elapsed MainClass::split(int secs) {
    Elapsed e;
    e.days = secs / 86400;
    e.hours = secs / 3600 - 24 * e.days;
    e.minutes = secs / 60 - 1440 * e.days - 60 * e.hours;
    e.seconds = secs % 60;
    return e;
}

int MainClass::main(int argc, char** argv) {
    // The other processes of a parallel run check the same command line and
    // files as process 0, which reports; they print nothing of their own.
    static std::ofstream quiet;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--parallel" && launcherRank() > 0) {
            std::cout.rdbuf(quiet.rdbuf());
            std::cerr.rdbuf(quiet.rdbuf());
        }
    std::cout << "MainClass::main() beginning..." << std::endl;
    std::cout << "Simulation called with arguments" << std::endl;
    for (int i = 0; i < argc; ++i) std::cout << argv[i] << " ";
    std::cout << std::endl;

    const DateTime startStamp = DateTime::Today();
    std::cout << "starting simulation at " << startStamp << std::endl;

    stoprequest::install();
    Server* server = new Server();
    Server::Outcome outcome;
    try {
        outcome = server->start(argc, argv);
    } catch (const std::bad_alloc&) {
        // The previous results stay as they were: results.log is only ever
        // replaced whole.
        std::cout << std::flush;
        std::cerr << "ERROR: the run needs more memory than this machine can give; it ends "
                     "without results."
                  << std::endl;
        return 1;
    }
    delete server;
    // A program that ended before any run has no summary to give.
    if (!outcome.ran) return outcome.status;

    const DateTime endStamp = DateTime::Today();
    const int secs = static_cast<int>(endStamp - startStamp);
    const Elapsed e = split(secs);
    std::cout << "total simulation time: " << secs << " seconds (" << e.days << " days, " << e.hours
              << " hours, " << e.minutes << " minutes, " << e.seconds << " seconds)" << std::endl;
    std::cout << "Total # tokens allocated: " << Token::tokenCounter << std::endl;
    std::cout << "Max # tokens at the same time: " << Token::maxConcTokenCounter << std::endl;
    std::cout << "Global fire count: " << Transition::globalFireCount << std::endl;
    return outcome.status;
}
