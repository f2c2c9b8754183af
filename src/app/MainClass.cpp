#include "app/MainClass.h"

#include <iostream>

#include "app/Server.h"
#include "core/DateTime.h"
#include "core/Token.h"
#include "engine/Transition.h"

Logging MainClass::log;

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
    std::cout << "MainClass::main() beginning..." << std::endl;
    std::cout << "Simulation called with arguments" << std::endl;
    for (int i = 0; i < argc; ++i) std::cout << argv[i] << " ";
    std::cout << std::endl;

    const DateTime startStamp = DateTime::Today();
    std::cout << "starting simulation at " << startStamp << std::endl;

    Server* server = new Server();
    server->start(argc, argv);
    delete server;

    const DateTime endStamp = DateTime::Today();
    const int secs = static_cast<int>(endStamp - startStamp);
    const Elapsed e = split(secs);
    std::cout << "total simulation time: " << secs << " seconds (" << e.days << " days, " << e.hours
              << " hours, " << e.minutes << " minutes, " << e.seconds << " seconds)" << std::endl;
    std::cout << "Total # tokens allocated: " << Token::tokenCounter << std::endl;
    std::cout << "Max # tokens at the same time: " << Token::maxConcTokenCounter << std::endl;
    std::cout << "Global fire count: " << Transition::globalFireCount << std::endl;
    return 0;
}
