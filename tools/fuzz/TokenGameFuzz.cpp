// A coverage-guided fuzz target (libFuzzer) for the token game's command
// handling, the one place where the program reads input from the network.
// Each input is a session: its bytes, cut at every 0 byte into messages, are
// what a front end sends, one message per read. The model's net is built
// afresh for every session from a marking of four threads and five slots.
//
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DSCPN_FUZZ=ON -DBUILD_TESTING=OFF
//   cmake --build build-fuzz --target tokengame_fuzz
//   build-fuzz/tokengame_fuzz -max_total_time=120 tools/fuzz/corpus
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "buildnet.h"
#include "sim/TokenGame.h"
#include "support/ScriptedSocket.h"

namespace {

// A working directory with a marking file, made once per process.
void enterWorkingDirectory() {
    static bool done = false;
    if (done) return;
    char folder[] = "/tmp/scpn-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
    std::ofstream marking("marking.xml");
    marking << "<marking>";
    for (int i = 0; i < 4; ++i) marking << "<token place=\"P_thread_pool\" value=\"0\"/>";
    for (int i = 0; i < 5; ++i) marking << "<token place=\"C1_sem\" value=\"0\"/>";
    marking << "</marking>\n";
    done = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    enterWorkingDirectory();
    std::vector<std::string> messages(1);
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] == 0)
            messages.emplace_back();
        else
            messages.back() += static_cast<char>(data[k]);
    }
    std::ostringstream quiet;  // the game echoes everything on standard output
    std::streambuf* out = std::cout.rdbuf(quiet.rdbuf());
    {
        ImplementedNetClass net;
        net.buildNet();
        const DateTime start(0.0);
        TokenGame game(&net, "scpnsim", "NULL", start);
        game.init();
        testsupport::ScriptedSocket gui(messages);
        game.serve(&gui);
    }
    std::cout.rdbuf(out);
    return 0;
}
