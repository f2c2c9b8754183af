#pragma once
// The program's run: echoes the command line, hands it to the Server and
// prints the run summary. Also the home of the one process-wide log manager.
#include "platform/Logging.h"

class MainClass {
public:
    int main(int argc, char** argv);
    static Logging* getLog();

    // Splits whole seconds into the summary line's days, hours, minutes and
    // seconds; exposed for the summary's tests.
    struct Elapsed {
        int days, hours, minutes, seconds;
    };
    static Elapsed split(int secs);

private:
    static Logging log;
};
