#include "platform/FatalError.h"

#include <cstdlib>
#include <iostream>

#include "platform/Logging.h"

void fatalError(const std::string& message) {
    std::cout << std::flush;
    std::cerr << "ERROR: " << message << std::endl;
    Logging::process()->flush();
    std::exit(1);
}
