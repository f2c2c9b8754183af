// scpn-play: plays the token game of a simulation (scpnsim -t) by hand, from
// a terminal or a script. It connects to the game's TCP port, sends the
// commands one at a time, waits for each reply as the protocol frames it and
// prints it readably.
//
//   scpn-play [--host HOST] [--port PORT] [--wait SECONDS] [--attempts N] [--raw] [COMMAND ...]
//
// With commands they are sent in order and the program ends after the last
// reply; without, lines are read from standard input until its end or
// "exit"/"quit". Command words may be given in lower case and without their
// final '#'. After SINGLESTEP every command answers the event just fired
// (NEXT or any other word fires the next one, EXIT leaves the mode).
//
// A reply may be up to 64 MiB long (kMaxReply); a longer one is refused:
// the program says so and ends with status 1 instead of filling the memory.
//
// Exit status: 0 when every command was answered (or the game was ended with
// EXIT), 1 when the connection could not be made, the server closed it
// before the end or sent a reply longer than the limit, 2 for a malformed
// command line.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PlayProtocol.h"
#include "platform/net/Socket.h"

namespace {

struct Options {
    std::string host = "127.0.0.1";
    long port = 2020;
    long wait = 2;
    long attempts = 5;
    bool raw = false;
    std::vector<std::string> commands;
};

int usage(const std::string& why) {
    std::cerr << "scpn-play: " << why << "\n"
              << "usage: scpn-play [--host HOST] [--port PORT] [--wait SECONDS] [--attempts N] [--raw]"
                 " [COMMAND ...]\n"
              << "  --host      the machine of the token game (default 127.0.0.1)\n"
              << "  --port      its TCP port (default 2020)\n"
              << "  --wait      seconds to wait for a reply that may not come (default 2)\n"
              << "  --attempts  connection attempts, one second apart (default 5)\n"
              << "  --raw       print the replies byte for byte as they arrive\n"
              << "  COMMAND     e.g. FIRELIST, \"PLACE P_thread_pool\", \"fire S_ready\"; none: read them\n"
              << "              from standard input\n";
    return 2;
}

const char* kHelp =
    "commands (the word may be lower case):\n"
    "  firelist              the transitions that may fire now\n"
    "  fire NAME             fire a transition\n"
    "  autofire              fire the next event\n"
    "  autotrans             the next event, not fired\n"
    "  place NAME            the tokens of a place\n"
    "  net                   the places and transitions\n"
    "  time                  the simulation time\n"
    "  replication           the replication number\n"
    "  setbreaks M:REL:X;..  set breakpoints (REL one of = < > <= >=)\n"
    "  breaks                the breakpoints that hold\n"
    "  singlestep            fire event by event: then next, place NAME, firelist, exit\n"
    "  exit, quit            end the game\n";

// A whole decimal number in [low, high].
bool parseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

std::string errorText(socket_t* s) {
    char text[256];
    s->get_error_text(text, sizeof text);
    return text;
}

// The longest reply taken, all its parts together. The game's replies are
// short but for NET and PLACE on a large net; 64 MiB leaves room for those.
constexpr std::size_t kMaxReply = std::size_t{64} << 20;

// The connection to the game: sends one message at a time and reads exactly
// its reply, part by part.
class Game {
public:
    Game(socket_t* socket, std::time_t wait, bool raw) : socket_(socket), wait_(wait), raw_(raw), buffer_(65536) {}

    // Sends the message and prints its reply; false (reported) when the
    // connection is gone.
    bool play(const play::Exchange& exchange) {
        if (!showUnasked()) return false;
        if (!socket_->write(exchange.wire.data(), exchange.wire.size()))
            return closed("while sending " + exchange.wire, "");
        std::vector<std::string> parts;
        std::size_t budget = kMaxReply;
        for (play::Frame frame : exchange.frames) {
            std::string part;
            bool tooLong = false;
            if (!readPart(frame, part, budget, tooLong)) {
                if (tooLong) return refused(exchange.wire);
                return closed("in the reply to " + exchange.wire, part);
            }
            budget -= part.size();
            parts.push_back(part);
        }
        if (raw_) {
            for (const std::string& p : parts) std::cout << p;
            for (std::size_t k = 0; k < parts.size(); ++k)
                if (parts[k].empty()) std::cerr << "(no reply)" << std::endl;
        } else {
            std::cout << play::formatReply(exchange, parts);
        }
        std::cout << std::flush;
        singleStep_ = play::singleStepAfter(exchange, parts, singleStep_);
        return true;
    }

    bool singleStep() const { return singleStep_; }

private:
    // Reads one part of a reply into `part` (left empty when a part that may
    // not come did not); false when the connection failed or, with
    // `tooLong` set, when the part would be longer than `budget` bytes.
    bool readPart(play::Frame frame, std::string& part, std::size_t budget, bool& tooLong) {
        part.clear();
        if (frame == play::Frame::Silence) {
            // Nothing is expected: whatever arrives within the wait is shown.
            if (inbox_.empty()) {
                const int n = socket_->read(buffer_.data(), 1, buffer_.size(), wait_);
                if (n < 0) return false;
                inbox_.assign(buffer_.data(), static_cast<std::size_t>(n));
            }
            part.swap(inbox_);
            return true;
        }
        // The bytes are read in chunks; those beyond the part stay in the
        // inbox for the next part (or are shown as a late reply). Only the
        // new bytes are searched for the part's end.
        std::size_t searched = 0;
        for (;;) {
            if (const std::optional<std::size_t> length = play::partLength(frame, inbox_, searched)) {
                if (*length > budget) {
                    tooLong = true;
                    return false;
                }
                part = inbox_.substr(0, *length);
                inbox_.erase(0, *length);
                return true;
            }
            searched = inbox_.size();
            if (inbox_.size() >= budget) {
                tooLong = true;
                return false;
            }
            const bool mayNotCome = frame == play::Frame::LineOrNothing && inbox_.empty();
            const int n = socket_->read(buffer_.data(), 1, buffer_.size(), mayNotCome ? wait_ : -1);
            if (n < 0) {
                part.swap(inbox_);  // what came before the connection ended
                return false;
            }
            if (n == 0) return true;  // nothing within the wait
            inbox_.append(buffer_.data(), static_cast<std::size_t>(n));
        }
    }

    // Bytes that arrived without being asked for (a reply that came after
    // its wait, or more than the last reply), shown before the next message
    // goes out; false when the server has closed the connection meanwhile.
    bool showUnasked() {
        for (;;) {
            if (inbox_.empty()) {
                const int n = socket_->read(buffer_.data(), 0, buffer_.size(), 0);
                if (n < 0) return closed("", "");
                if (n == 0) return true;
                inbox_.assign(buffer_.data(), static_cast<std::size_t>(n));
            }
            std::string late;
            late.swap(inbox_);
            if (raw_)
                std::cout << late;
            else
                std::cout << "(late reply) " << play::formatAsItCame(late);
            std::cout << std::flush;
        }
    }

    bool refused(const std::string& wire) {
        std::cout << std::flush;
        std::cerr << "scpn-play: the reply to " << wire << " is longer than " << kMaxReply << " bytes ("
                  << (kMaxReply >> 20) << " MiB), more than a reply of the game can be; it is not read further"
                  << std::endl;
        return false;
    }

    bool closed(const std::string& when, const std::string& received) {
        std::cout << std::flush;
        std::cerr << "scpn-play: the server closed the connection" << (when.empty() ? "" : " " + when);
        if (!received.empty()) std::cerr << " after " << received.size() << " bytes: \"" << received << "\"";
        std::cerr << " (" << errorText(socket_) << ")" << std::endl;
        return false;
    }

    socket_t* socket_;
    std::time_t wait_;
    bool raw_;
    bool singleStep_ = false;
    std::vector<char> buffer_;  // one read's bytes
    std::string inbox_;         // bytes read and not yet taken by a reply
};

// The line as a message for the current mode, or nothing (reported).
std::optional<play::Exchange> prepared(const std::string& line, bool singleStep) {
    std::string error;
    std::optional<play::Exchange> e = play::prepare(line, singleStep, error);
    if (!e) std::cerr << "scpn-play: " << error << std::endl;
    return e;
}

int runCommands(Game& game, const std::vector<std::string>& commands) {
    for (std::size_t k = 0; k < commands.size(); ++k) {
        const std::optional<play::Exchange> e = prepared(commands[k], game.singleStep());
        if (!e) return 2;
        if (!game.play(*e)) return 1;
        if (e->kind == play::Kind::Exit && !e->singleStep) {
            if (k + 1 < commands.size())
                std::cerr << "scpn-play: the game has ended; " << commands.size() - k - 1
                          << " more command(s) not sent" << std::endl;
            return 0;
        }
    }
    return 0;
}

// Ends the game: leaves single-step mode first when in it.
int endGame(Game& game) {
    std::string error;
    if (game.singleStep() && !game.play(*play::prepare("EXIT", true, error))) return 1;
    return game.play(*play::prepare("EXIT", false, error)) ? 0 : 1;
}

int runInteractive(Game& game, const std::string& address) {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    if (terminal) std::cout << "connected to " << address << "; \"help\" lists the commands" << std::endl;
    for (;;) {
        if (terminal) std::cout << (game.singleStep() ? "step> " : "play> ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            if (terminal) std::cout << std::endl;
            return endGame(game);
        }
        const std::size_t from = line.find_first_not_of(" \t\r");
        if (from == std::string::npos) continue;
        std::string word = line.substr(from, line.find_first_of(" \t\r#", from) - from);
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word == "help" || word == "?") {
            std::cout << kHelp << std::flush;
            continue;
        }
        if (word == "quit") return endGame(game);
        const std::optional<play::Exchange> e = prepared(line, game.singleStep());
        if (!e) continue;
        if (!game.play(*e)) return 1;
        if (e->kind == play::Kind::Exit && !e->singleStep) return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            options.commands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--host") {
            const char* v = value();
            if (v == nullptr) return usage("--host needs a value");
            options.host = v;
            if (options.host.empty() || options.host.find(':') != std::string::npos)
                return usage("--host takes a host name or IPv4 address");
        } else if (arg == "--port" || arg == "--wait" || arg == "--attempts") {
            const char* v = value();
            if (v == nullptr) return usage(arg + " needs a value");
            long* target = arg == "--port" ? &options.port : arg == "--wait" ? &options.wait : &options.attempts;
            const long low = arg == "--wait" ? 0 : 1;
            const long high = arg == "--port" ? 65535 : 3600;
            if (!parseNumber(v, low, high, *target))
                return usage(arg + " takes a whole number from " + std::to_string(low) + " to " +
                             std::to_string(high) + ", not \"" + v + "\"");
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "-h" || arg == "--help") {
            usage("plays the token game of a simulation started with scpnsim -t");
            return 0;
        } else {
            return usage("unknown option \"" + arg + "\"");
        }
    }
    for (const std::string& c : options.commands) {
        std::string error;
        if (!play::normalise(c, error)) return usage(error);
    }

    const std::string address = options.host + ":" + std::to_string(options.port);
    // Always TCP: the token game does not listen on the local transport.
    std::unique_ptr<socket_t> socket(socket_t::connect(address.c_str(), socket_t::sock_global_domain,
                                                       static_cast<int>(options.attempts), 1));
    if (!socket->is_ok()) {
        std::cerr << "scpn-play: cannot connect to the token game at " << address << ": "
                  << errorText(socket.get()) << std::endl;
        return 1;
    }
    Game game(socket.get(), static_cast<std::time_t>(options.wait), options.raw);
    return options.commands.empty() ? runInteractive(game, address) : runCommands(game, options.commands);
}
