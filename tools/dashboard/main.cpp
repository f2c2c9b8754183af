// scpn-dashboard: a live web page of a simulation and of the token game.
//
//   scpn-dashboard [--listen HOST:PORT] [--resport HOST:PORT] [--tokengame HOST:PORT]
//                  [--model FILE] [-- PROGRAM ARGUMENTS...]
//
// It serves one page over HTTP (loopback by default), listens as the result
// port of a simulation (TCP, or the local transport for "localhost:PORT"),
// streams what arrives to every open page (Server-Sent Events), keeps it for
// a CSV download, and plays a running token game on the page's behalf. With
// a program after "--" it starts that simulation itself, pointed at its
// result port, and shows its output, seed, replications and verdict too.
// Port 0 in --listen or --resport (TCP) lets the system choose a free port;
// the lines printed at the start say which.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GameClient.h"
#include "HttpServer.h"
#include "Launcher.h"
#include "ResultPort.h"
#include "RunFeed.h"
#include "WebAssets.h"

namespace {

std::atomic<bool> stopping{false};

// Every connection takes a worker thread for as long as it is served, and an
// open page holds one for its live stream: at most half of them stream, so
// that the pages' other requests (the page itself, the snapshot, the game's
// calls) are answered however many pages are open. A page past the limit is
// told so and tries again by itself.
constexpr int kWorkerThreads = 32;
constexpr std::size_t kMaxStreams = kWorkerThreads / 2;
// How long a client may keep a worker without being served: a request's
// reads may pause 1 s at most (and the whole request must arrive within
// HttpServer::kRequestSeconds), an idle kept-alive connection is closed
// after 2 s, and a write that makes no progress for 5 s ends the connection
// (a live stream writes at least once a second, so it goes on while its page
// reads it).
constexpr int kReadTimeoutSeconds = 1;
constexpr int kWriteTimeoutSeconds = 5;
constexpr int kKeepAliveSeconds = 2;
constexpr std::size_t kKeepAliveRequests = 100;

void onSignal(int) {
    stopping = true;
}

struct Options {
    std::string listen = "127.0.0.1:8080";
    std::string resport = "127.0.0.1:9100";
    std::string tokengame = "127.0.0.1:2020";
    std::string model;
    std::vector<std::string> program;
};

int usage(const std::string& problem) {
    std::cerr << "scpn-dashboard: " << problem << "\n"
              << "usage: scpn-dashboard [--listen HOST:PORT] [--resport HOST:PORT] [--tokengame HOST:PORT]\n"
              << "                      [--model FILE] [-- PROGRAM ARGUMENTS...]\n"
              << "  --listen     where the page is served (default 127.0.0.1:8080; loopback unless you say)\n"
              << "  --resport    the result port simulations stream to (default 127.0.0.1:9100;\n"
              << "               localhost:PORT is the local transport)\n"
              << "               port 0 in --listen or a TCP --resport: the system chooses (printed at the start)\n"
              << "  --tokengame  the token game to play (default 127.0.0.1:2020)\n"
              << "  --model      the model description, for the transitions' priorities\n"
              << "  -- PROGRAM   start this simulation, with --resport pointed at the dashboard\n";
    return problem.rfind("a live", 0) == 0 ? 0 : 2;
}

// "HOST:PORT" with a port from 1 to 65535 (from 0 with `anyPort`: the
// system chooses).
bool splitAddress(const std::string& address, std::string& host, int& port, bool anyPort = false) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size() || colon + 6 < address.size())
        return false;
    const std::string digits = address.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(digits);
    host = address.substr(0, colon);
    return port >= (anyPort ? 0 : 1) && port <= 65535;
}

bool loopback(const std::string& host) {
    return host == "127.0.0.1" || host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::string jsonText(const nlohmann::json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

void sendJson(httplib::Response& res, const nlohmann::json& j, int status = 200) {
    res.status = status;
    res.set_content(jsonText(j), "application/json");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) options.program.push_back(argv[i]);
            break;
        }
        if (arg == "-h" || arg == "--help") return usage("a live web page of a simulation and of the token game");
        if (arg == "--listen" || arg == "--resport" || arg == "--tokengame" || arg == "--model") {
            if (i + 1 >= argc) return usage(arg + " needs a value");
            std::string& target = arg == "--listen" ? options.listen
                                  : arg == "--resport" ? options.resport
                                  : arg == "--tokengame" ? options.tokengame
                                                         : options.model;
            target = argv[++i];
            continue;
        }
        return usage("unexpected argument \"" + arg + "\"");
    }
    std::string httpHost, resHost, gameHost;
    int httpPort = 0, resPort = 0, gamePort = 0;
    if (!splitAddress(options.listen, httpHost, httpPort, true)) return usage("--listen must be HOST:PORT");
    if (!splitAddress(options.resport, resHost, resPort, true)) return usage("--resport must be HOST:PORT");
    if (!splitAddress(options.tokengame, gameHost, gamePort)) return usage("--tokengame must be HOST:PORT");
    if (resPort == 0 && dashboard::ResultPort::localAddress(options.resport))
        return usage("--resport: the local transport needs a port number");
    std::map<std::string, int> priorities;
    if (!options.model.empty()) {
        priorities = dashboard::readPriorities(options.model);
        if (priorities.empty()) {
            std::cerr << "scpn-dashboard: no transitions found in " << options.model << std::endl;
            return 2;
        }
    }

    std::string chartJs;
    {
        std::ifstream in(SCPN_CHARTJS_FILE, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        chartJs = text.str();
        if (!in || chartJs.empty()) {
            std::cerr << "scpn-dashboard: Chart.js is missing at " << SCPN_CHARTJS_FILE
                      << " (Debian package libjs-chart.js)" << std::endl;
            return 1;
        }
    }

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    dashboard::RunFeed feed;
    dashboard::GameClient game(options.tokengame, priorities);
    dashboard::HttpServer server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_payload_max_length(64 * 1024);
    server.set_read_timeout(kReadTimeoutSeconds);
    server.set_write_timeout(kWriteTimeoutSeconds);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    dashboard::Slots streams(kMaxStreams);

    // Pages are served to this machine only unless the user bound elsewhere;
    // then a page reached through another name (DNS rebinding) is refused.
    const bool checkHost = loopback(httpHost);
    std::vector<std::string> hosts;  // once the port is known
    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                       "img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'");
        if (checkHost) {
            const std::string host = req.get_header_value("Host");
            if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) {
                sendJson(res, {{"ok", false}, {"error", "unknown host"}}, 403);
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        // A form posted from another site's page is refused.
        if (req.method == "POST" && req.has_header("Origin")) {
            const std::string origin = req.get_header_value("Origin");
            if (origin != "http://" + req.get_header_value("Host")) {
                sendJson(res, {{"ok", false}, {"error", "cross-site request refused"}}, 403);
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    for (const dashboard::WebAsset& asset : dashboard::webAssets()) {
        server.Get(asset.path, [&asset](const httplib::Request&, httplib::Response& res) {
            res.set_content(asset.content, asset.contentType);
        });
    }
    server.Get("/chart.js", [&chartJs](const httplib::Request&, httplib::Response& res) {
        res.set_content(chartJs, "text/javascript");
    });
    // Browsers ask for an icon; there is none, and "no content" keeps their
    // consoles free of a failed request.
    server.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get("/api/state", [&](const httplib::Request&, httplib::Response& res) { sendJson(res, feed.snapshot()); });
    server.Get("/api/csv", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Disposition", "attachment; filename=\"scpn-results.csv\"");
        res.set_content(feed.csv(), "text/csv");
    });
    // How many live streams are open, for a page that was refused one.
    server.Get("/api/streams", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        sendJson(res, {{"open", streams.taken()}, {"limit", streams.limit()}});
    });
    server.Get("/events", [&](const httplib::Request&, httplib::Response& res) {
        // The stream keeps its place until the connection's response goes.
        std::shared_ptr<void> slot = streams.take();
        if (!slot) {
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_header("Cache-Control", "no-store");
            res.set_content("too many open pages: the dashboard streams to " + std::to_string(streams.limit()) +
                                " pages at a time; close one and this page tries again\n",
                            "text/plain");
            dashboard::HttpServer::closeAfterResponse();
            return;
        }
        auto cursor = std::make_shared<dashboard::Cursor>();
        auto first = std::make_shared<bool>(true);
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider("text/event-stream", [&feed, cursor, first, slot](std::size_t, httplib::DataSink& sink) {
            if (stopping) return false;
            std::optional<nlohmann::json> d;
            if (*first) {
                *first = false;
                d = feed.delta(*cursor);
            } else {
                // At most four messages a second, each with all that came.
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                d = feed.delta(*cursor);
                if (!d) {
                    feed.waitForChange(std::chrono::milliseconds(750));
                    d = feed.delta(*cursor);
                }
                if (!d) {
                    // Nothing new: the run header again (its elapsed time moves).
                    cursor->runVersion = -1;
                    d = feed.delta(*cursor);
                }
            }
            if (!d) return true;
            const std::string message = "event: update\ndata: " + jsonText(*d) + "\n\n";
            return sink.write(message.data(), message.size());
        });
    });

    server.Post("/api/game/connect", [&](const httplib::Request&, httplib::Response& res) { sendJson(res, game.connect()); });
    server.Post("/api/game/disconnect", [&](const httplib::Request&, httplib::Response& res) { sendJson(res, game.disconnect()); });
    server.Get("/api/game/state", [&](const httplib::Request&, httplib::Response& res) { sendJson(res, game.state()); });
    server.Post("/api/game/fire", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.get_param_value("transition");
        if (!dashboard::validName(name))
            return sendJson(res, {{"ok", false}, {"error", "a transition name is letters, digits and '_' only"}}, 400);
        sendJson(res, game.fire(name));
    });
    server.Post("/api/game/step", [&](const httplib::Request&, httplib::Response& res) { sendJson(res, game.step()); });
    server.Post("/api/game/run", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string steps = req.get_param_value("steps");
        if (steps.empty() || steps.size() > 5 || steps.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(steps) < 1 || std::stoi(steps) > 10000)
            return sendJson(res, {{"ok", false}, {"error", "steps must be a whole number from 1 to 10000"}}, 400);
        sendJson(res, game.run(std::stoi(steps)));
    });
    server.Post("/api/game/breaks", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string list = req.get_param_value("breaks");
        if (!dashboard::validBreakpoints(list))
            return sendJson(res, {{"ok", false}, {"error", "breakpoints are measure:relation:number entries separated by ';'"}}, 400);
        sendJson(res, game.setBreakpoints(list));
    });

    const int boundPort = httpPort == 0 ? server.bind_to_any_port(httpHost)
                                        : (server.bind_to_port(httpHost, httpPort) ? httpPort : -1);
    if (boundPort <= 0) {
        std::cerr << "scpn-dashboard: cannot serve on " << options.listen << " (in use, or not an address of this machine)"
                  << std::endl;
        return 1;
    }
    server.widenBacklog(128);
    const std::string port = std::to_string(boundPort);
    hosts = {"127.0.0.1:" + port, "localhost:" + port, "[::1]:" + port, httpHost + ":" + port};
    const std::string listenAddress = options.listen.substr(0, options.listen.rfind(':') + 1) + port;

    dashboard::ResultPort resultPort(options.resport, feed);
    const bool local = resultPort.local();
    std::string why;
    if (!resultPort.listening(why)) {
        std::cerr << "scpn-dashboard: cannot listen as the result port on " << options.resport << ": " << why
                  << std::endl;
        return 1;
    }
    const std::string resultAddress = resultPort.address();
    if (!loopback(httpHost))
        std::cout << "note: the page is served on " << httpHost << ", not only to this machine" << std::endl;
    std::cout << "dashboard at http://" << listenAddress << "/" << std::endl;
    std::cout << "result port " << resultAddress << (local ? " (local transport)" : " (TCP)")
              << ": run scpnsim with --resport " << resultAddress << std::endl;

    std::thread resultPortThread([&]() { resultPort.serve(); });

    std::unique_ptr<dashboard::Launcher> launcher;
    if (!options.program.empty()) {
        std::vector<std::string> command = options.program;
        command.push_back("--resport");
        command.push_back(resultAddress);
        feed.launched(command);
        launcher = std::make_unique<dashboard::Launcher>(
            command, [&feed](const std::string& line) { feed.consoleLine(line); },
            [&feed](int status) {
                feed.programEnded(status);
                std::cout << "the simulation ended with status " << status
                          << "; the page stays available (Ctrl-C ends the dashboard)" << std::endl;
            });
    }

    std::thread watcher([&]() {
        while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        server.stop();
        resultPort.stop();
    });
    server.listen_after_bind();
    stopping = true;
    watcher.join();
    resultPort.stop();
    resultPortThread.join();
    launcher.reset();
    return 0;
}
