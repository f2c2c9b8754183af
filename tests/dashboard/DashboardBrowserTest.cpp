// The dashboard end to end in a real browser: headless Chromium, driven by
// chromedriver over the W3C WebDriver protocol, opens the page the real
// scpn-dashboard serves while the real simulation streams to it (or the real
// token game is played through it), and the test reads the page the way a
// user sees it: texts, tables, charts, buttons.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

using nlohmann::json;
using testsupport::RunningProcess;
using testsupport::TempDir;
using testsupport::WorkDir;

namespace {

// ---------------------------------------------------------------------------
// Ports

bool canBind(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// A loopback port no other test uses at the same time: derived from the
// process id like the other end-to-end tests' ports, moved on past ports
// that are taken, and never handed out twice in this process.
int freePort(int salt) {
    static std::set<int> handedOut;
    int port = 20000 + (static_cast<int>(getpid()) * 7 + salt) % 30000;
    for (int k = 0; k < 500; ++k, port = port >= 49999 ? 20000 : port + 1) {
        if (handedOut.count(port) || !canBind(port)) continue;
        handedOut.insert(port);
        return port;
    }
    throw std::runtime_error("no free loopback port");
}

std::string loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

// Ends a process the test started: politely first, by force after 10 s.
void stop(RunningProcess& process) {
    process.sendSignal(SIGTERM);
    process.waitForOutput("\x01never printed\x01", 10);  // returns as soon as it ended
    process.sendSignal(SIGKILL);                         // nothing when it already ended
    process.wait();
}

// ---------------------------------------------------------------------------
// A browser driven over WebDriver

// chromedriver on a port of its own, one session of headless Chromium with
// a profile in a temporary folder. The session is deleted (Chromium closes)
// and chromedriver ended when the object goes.
class Browser {
public:
    Browser() : port_(freePort(41)), driver_(CHROMEDRIVER_EXE, {"--port=" + std::to_string(port_)}, profile_.path()) {
        http_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        http_->set_connection_timeout(10);
        http_->set_read_timeout(120);
        http_->set_write_timeout(30);
        waitUntilReady();
        const json capabilities = {
            {"browserName", "chrome"},
            {"goog:loggingPrefs", {{"browser", "ALL"}}},
            {"goog:chromeOptions",
             {{"binary", CHROMIUM_EXE},
              {"args",
               {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1400,1000",
                "--user-data-dir=" + profile_.file("profile")}}}}};
        const json reply = call("POST", "/session", {{"capabilities", {{"alwaysMatch", capabilities}}}});
        session_ = reply.at("sessionId").get<std::string>();
    }

    ~Browser() {
        try {
            if (!session_.empty()) call("DELETE", "/session/" + session_);
        } catch (const std::exception&) {
        }
        if (http_) http_->Get("/shutdown");
        stop(driver_);
    }

    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    void open(const std::string& url) { command("POST", "/url", {{"url", url}}); }

    // The WebDriver reference of the first element `css` selects.
    std::string find(const std::string& css) {
        const json element = command("POST", "/element", {{"using", "css selector"}, {"value", css}});
        if (!element.is_object() || !element.contains(kElementKey) || !element[kElementKey].is_string())
            throw std::runtime_error("no element for " + css + ": " + element.dump());
        return element[kElementKey].get<std::string>();
    }
    void click(const std::string& css) { command("POST", "/element/" + find(css) + "/click", json::object()); }
    void sendKeys(const std::string& css, const std::string& text) {
        command("POST", "/element/" + find(css) + "/value", {{"text", text}});
    }

    // Runs `script` (a function body; `arguments` holds `args`) in the page
    // and hands back what it returned.
    json script(const std::string& body, const json& args = json::array()) {
        return command("POST", "/execute/sync", {{"script", body}, {"args", args}});
    }

    // Polls `condition` (a function body returning true when met) every
    // 100 ms until it holds; false when it did not within `timeout`.
    bool waitFor(const std::string& condition, const json& args = json::array(),
                 std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            try {
                const json v = script(condition, args);
                if (v.is_boolean() ? v.get<bool>() : !v.is_null()) return true;
            } catch (const std::exception& e) {
                lastError_ = e.what();  // the page may be loading; ask again
            }
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // The text of the first element `css` selects; "<missing>" when none.
    std::string text(const std::string& css) {
        const json v = script("const e = document.querySelector(arguments[0]); return e ? e.textContent : null;", {css});
        return v.is_string() ? v.get<std::string>() : "<missing>";
    }

    // What the page shows, for failure messages.
    std::string page() {
        try {
            const json v = script("return document.body ? document.body.innerText.slice(0, 3000) : '<no body>';");
            return "page text:\n" + (v.is_string() ? v.get<std::string>() : v.dump()) +
                   (lastError_.empty() ? "" : "\nlast script error: " + lastError_) + "\nbrowser log:\n" + logText();
        } catch (const std::exception& e) {
            return std::string("page unavailable: ") + e.what();
        }
    }

    // The messages of the browser's console since the last call (errors of
    // scripts, refused resources, blocked inline code).
    std::vector<std::string> log() {
        std::vector<std::string> messages;
        const json entries = command("POST", "/se/log", {{"type", "browser"}});
        for (const json& e : entries) messages.push_back(e.value("level", "") + " " + e.value("message", ""));
        return messages;
    }

private:
    static constexpr const char* kElementKey = "element-6066-11e4-a52e-4f735466cecf";

    std::string logText() {
        std::string all;
        try {
            for (const std::string& m : log()) all += m + "\n";
        } catch (const std::exception&) {
        }
        return all;
    }

    void waitUntilReady() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            if (auto res = http_->Get("/status")) {
                const json status = json::parse(res->body, nullptr, false);
                if (!status.is_discarded() && status["value"].value("ready", false)) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("chromedriver did not become ready on port " + std::to_string(port_));
    }

    json command(const std::string& method, const std::string& path, const json& body = nullptr) {
        return call(method, "/session/" + session_ + path, body);
    }

    // One WebDriver request; its "value", or an exception with the error.
    json call(const std::string& method, const std::string& path, const json& body = nullptr) {
        httplib::Result res = method == "POST"   ? http_->Post(path.c_str(), body.dump(), "application/json")
                              : method == "DELETE" ? http_->Delete(path.c_str())
                                                   : http_->Get(path.c_str());
        if (!res) throw std::runtime_error(method + " " + path + ": no reply from chromedriver");
        const json reply = json::parse(res->body, nullptr, false);
        if (reply.is_discarded()) throw std::runtime_error(method + " " + path + ": reply is not JSON: " + res->body);
        const json value = reply.contains("value") ? reply["value"] : json();
        if (res->status != 200 || (value.is_object() && value.contains("error")))
            throw std::runtime_error(method + " " + path + " failed (" + std::to_string(res->status) + "): " +
                                     value.dump().substr(0, 2000));
        return value;
    }

    TempDir profile_;
    int port_;
    RunningProcess driver_;
    std::unique_ptr<httplib::Client> http_;
    std::string session_;
    std::string lastError_;
};

// ---------------------------------------------------------------------------
// The dashboard

// scpn-dashboard serving the page on a free port and listening as the result
// port on another; started in `dir`, ready when it says where the page is.
struct Dashboard {
    int httpPort;
    int resultPort;
    std::unique_ptr<RunningProcess> process;

    Dashboard(const std::filesystem::path& dir, std::vector<std::string> extra, int salt)
        : httpPort(freePort(salt)), resultPort(freePort(salt + 1)) {
        std::vector<std::string> args{"--listen", loopback(httpPort), "--resport", loopback(resultPort)};
        args.insert(args.end(), extra.begin(), extra.end());
        process = std::make_unique<RunningProcess>(SCPN_DASHBOARD_EXE, args, dir);
        if (!process->waitForOutput("dashboard at http://" + loopback(httpPort) + "/")) {
            const testsupport::RunResult r = process->wait();
            throw std::runtime_error("the dashboard did not start:\n" + r.out + r.err);
        }
    }
    ~Dashboard() { stop(*process); }

    std::string url() const { return "http://" + loopback(httpPort) + "/"; }

    httplib::Result get(const std::string& path) const {
        httplib::Client client("127.0.0.1", httpPort);
        client.set_read_timeout(30);
        return client.Get(path.c_str());
    }
    json state(const std::string& path = "/api/state") const {
        const httplib::Result res = get(path);
        if (!res || res->status != 200) throw std::runtime_error("GET " + path + " failed");
        return json::parse(res->body);
    }
};

// The rows of the dashboard's CSV with kind "estimate", counted per element
// (the names here hold no commas or quotes, so a plain split reads them).
std::map<std::string, int> estimateRows(const std::string& csv, std::string& header) {
    std::map<std::string, int> rows;
    std::istringstream in(csv);
    std::getline(in, header);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, ',');) fields.push_back(f);
        if (fields.size() >= 3 && fields[2] == "estimate") ++rows[fields[1]];
    }
    return rows;
}

// Console messages that tell of a script that failed on the page.
std::vector<std::string> scriptErrors(const std::vector<std::string>& log) {
    std::vector<std::string> errors;
    for (const std::string& m : log)
        if (m.find("Uncaught") != std::string::npos || m.find("Refused to") != std::string::npos) errors.push_back(m);
    return errors;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

// Sends `bytes` to the result port as a simulation would, then hangs up.
void sendAsSimulation(int port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "result port " << port;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        sent += static_cast<std::size_t>(n);
    }
    close(fd);
}

// Opens the dashboard's live stream as a page would and hands back the
// connection once the reply's head came; -1 when it did not (within 20 s).
int openStream(int port, std::string& head) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET /events HTTP/1.1\r\nHost: " + loopback(port) + "\r\n\r\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return -1;
    }
    timeval wait{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    head.clear();
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1) head += c;
    if (head.find("\r\n\r\n") == std::string::npos) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string trimmed(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

const char* const kStatusIs = "const e = document.querySelector('#run-status'); return !!e && e.textContent.trim() === arguments[0];";

}  // namespace

// ---------------------------------------------------------------------------

TEST(DashboardBrowser, ATransientRunIsWatchedLiveToItsEnd) {
    WorkDir dir;
    Dashboard dashboard(dir.path(),
                        {"--", SCPNSIM_EXE, "-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "5", "--epsmax",
                         "25", "--secmax", "0", "--seed", "11"},
                        51);
    Browser browser;
    browser.open(dashboard.url());

    // The run ends (the program exits and its verdict is read), and the page says so.
    ASSERT_TRUE(browser.waitFor(kStatusIs, {"ended"})) << browser.page();
    ASSERT_TRUE(browser.waitFor("return document.querySelector('#run-verdict').textContent.trim() !== '';"))
        << browser.page();
    EXPECT_EQ(trimmed(browser.text("#run-model")), "scpnsim");
    EXPECT_EQ(trimmed(browser.text("#run-mode")), "transient");
    EXPECT_EQ(trimmed(browser.text("#run-start")), "0");
    EXPECT_EQ(trimmed(browser.text("#run-stop")), "100");
    EXPECT_EQ(trimmed(browser.text("#run-seed")), "11");
    EXPECT_TRUE(std::regex_search(browser.text("#run-epsmax"), std::regex("(^|[^0-9.])25(\\.0*)?([^0-9.]|$)")))
        << browser.text("#run-epsmax");
    EXPECT_NE(browser.text("#run-verdict").find("SIMULATION SUCCESSFUL"), std::string::npos)
        << browser.text("#run-verdict");
    const std::string replications = trimmed(browser.text("#run-replications"));
    ASSERT_TRUE(std::regex_match(replications, std::regex("[0-9]+"))) << replications;
    EXPECT_GT(std::stol(replications), 6);
    EXPECT_NE(browser.text("#console").find("SIMULATION SUCCESSFUL"), std::string::npos);

    // What the server holds: the program ended well, and every element line
    // is a CSV row.
    const json state = dashboard.state();
    EXPECT_EQ(state["run"]["status"], "ended");
    EXPECT_EQ(state["run"]["exitStatus"], 0);
    EXPECT_EQ(state["run"]["launched"], true);
    EXPECT_EQ(state["run"]["replications"], std::stol(replications));
    const httplib::Result csv = dashboard.get("/api/csv");
    ASSERT_TRUE(csv);
    ASSERT_EQ(csv->status, 200);
    EXPECT_NE(csv->get_header_value("Content-Type").find("text/csv"), std::string::npos);
    std::string header;
    const std::map<std::string, int> rows = estimateRows(csv->body, header);
    EXPECT_EQ(header, "time,element,kind,mean,lower,upper");
    // The watched measures, each estimated at the five sampling points or more.
    for (const char* measure : {"C1_in_use", "fsdf", "PlaceTP"}) {
        ASSERT_TRUE(rows.count(measure)) << measure << "\n" << csv->body.substr(0, 2000);
        EXPECT_GE(rows.at(measure), 5) << measure;
    }

    // One estimate chart per estimated measure, holding every point of it.
    json expected = json::object();
    for (const auto& [name, count] : rows) expected[name] = std::to_string(count);
    const std::string chartsAsExpected = R"(
        const want = arguments[0];
        const charts = Array.from(document.querySelectorAll('#charts canvas.series-chart[data-kind="estimate"]'));
        if (charts.length !== Object.keys(want).length) return false;
        return charts.every(c => want[c.getAttribute('data-series')] === c.getAttribute('data-points'));)";
    EXPECT_TRUE(browser.waitFor(chartsAsExpected, json::array({expected}))) << browser.page();
    const json charts = browser.script(R"(
        return Array.from(document.querySelectorAll('#charts canvas.series-chart[data-kind="estimate"]'))
            .map(c => [c.getAttribute('data-series'), c.getAttribute('data-points')]);)");
    std::map<std::string, std::string> shown;
    for (const json& c : charts) shown[c[0].is_string() ? c[0].get<std::string>() : "<no data-series>"] =
                                     c[1].is_string() ? c[1].get<std::string>() : "<no data-points>";
    std::map<std::string, std::string> wanted;
    for (const auto& [name, count] : rows) wanted[name] = std::to_string(count);
    EXPECT_EQ(shown, wanted);
    EXPECT_TRUE(browser.script("return document.querySelector('canvas.series-chart[data-series=\"C1_in_use\"]') !== null;"));

    // The final estimates: one row per estimated measure, each named (the
    // page reads them once it learns that the run ended).
    EXPECT_TRUE(browser.waitFor("return document.querySelectorAll('#final-table .final-row').length === arguments[0];",
                                json::array({rows.size()})))
        << browser.page();
    const json finalRows = browser.script(
        "return Array.from(document.querySelectorAll('#final-table .final-row')).map(r => r.textContent);");
    ASSERT_TRUE(finalRows.is_array());
    EXPECT_EQ(finalRows.size(), rows.size()) << finalRows.dump();
    for (const auto& [name, count] : rows) {
        int naming = 0;
        for (const json& r : finalRows) naming += r.get<std::string>().find(name) != std::string::npos;
        EXPECT_EQ(naming, 1) << name << " in " << finalRows.dump();
    }
    EXPECT_EQ(state["final"].size(), rows.size());

    // The relative errors against the requested 25 %.
    const json relErrRow = browser.script(R"(
        const row = Array.from(document.querySelectorAll('#relerr-table tr'))
            .find(r => r.textContent.includes('C1_in_use'));
        return row ? row.textContent : null;)");
    ASSERT_TRUE(relErrRow.is_string()) << browser.page();
    EXPECT_NE(relErrRow.get<std::string>().find("25"), std::string::npos) << relErrRow;

    // The download link.
    const json link = browser.script(
        "const a = document.querySelector('#csv-link'); return a ? [a.href, a.hasAttribute('download')] : null;");
    ASSERT_TRUE(link.is_array()) << browser.page();
    const std::string href = link[0].get<std::string>();
    EXPECT_EQ(href.substr(href.size() - std::min<std::size_t>(href.size(), 8)), "/api/csv") << href;
    EXPECT_TRUE(link[1].get<bool>());

    // No script failed on the page.
    EXPECT_EQ(joined(scriptErrors(browser.log())), "");
}

TEST(DashboardBrowser, TextFromTheSimulationIsNeverMarkup) {
    // Everything the simulation sends or prints reaches the page as text: a
    // tag stays a tag's text, quotes stay in attributes, entities stay as typed.
    const std::string netName = "<img src=x onerror=window.__pwned=1>";
    // No '<' (it ends an element's name) and no ';' (it would make the line a
    // header line) - but quotes, '>' and an entity that markup would decode.
    const std::string series = "evil\" data-pwned=\"1' &amp x>";
    const std::string printed = "<b>evil</b> & <img src=x onerror=window.__pwned=2> &amp;";
    const char* const injected = R"(
        return {
          pwned: typeof window.__pwned,
          img: document.querySelectorAll('body img[src="x"], body img[src$="/x"]').length,
          bold: Array.from(document.querySelectorAll('body b')).filter(b => b.textContent.includes('evil')).length,
          handlers: document.querySelectorAll('[onerror]').length,
          attributes: document.querySelectorAll('[data-pwned]').length
        };)";
    const json clean = {{"pwned", "undefined"}, {"img", 0}, {"bold", 0}, {"handlers", 0}, {"attributes", 0}};

    Browser browser;
    {
        SCOPED_TRACE("result port");
        WorkDir dir;
        Dashboard dashboard(dir.path(), {}, 61);
        browser.open(dashboard.url());
        ASSERT_TRUE(browser.waitFor(kStatusIs, {"waiting"})) << browser.page();

        sendAsSimulation(dashboard.resultPort,
                         "NETNAME;" + netName + "\nXTICKFORMAT;0\nSTARTTIME;0\nENDTIME;10\nTIME;0\nTIME;5\n" + series +
                             "<Result:Mean>,<-ConfMin>,<+ConfMax>;1,0.5,1.5\ngarbage line without format\n"
                             "\x01\x02"
                             "binary\nEXIT;0\n");
        if (HasFatalFailure()) return;

        // Once live (the page was open), once from the snapshot of a fresh load.
        for (const char* how : {"live", "reloaded"}) {
            SCOPED_TRACE(how);
            if (std::string(how) == "reloaded") browser.open(dashboard.url());
            ASSERT_TRUE(browser.waitFor(kStatusIs, {"ended"})) << browser.page();
            ASSERT_TRUE(browser.waitFor(
                "const e = document.querySelector('#run-model'); return !!e && e.textContent === arguments[0];",
                {netName}))
                << browser.text("#run-model");
            EXPECT_EQ(browser.text("#run-model"), netName);
            EXPECT_EQ(trimmed(browser.text("#run-mode")), "transient");
            EXPECT_EQ(trimmed(browser.text("#run-start")), "0");
            EXPECT_EQ(trimmed(browser.text("#run-stop")), "10");

            // The series keeps its name, quotes and all, as an attribute value.
            const char* const chartOf = R"(
                const c = Array.from(document.querySelectorAll('#charts canvas.series-chart'))
                    .find(c => c.getAttribute('data-series') === arguments[0]);
                return c ? [c.getAttribute('data-kind'), c.getAttribute('data-points')] : null;)";
            const char* const chartHasItsPoint = R"(
                return Array.from(document.querySelectorAll('#charts canvas.series-chart'))
                    .some(c => c.getAttribute('data-series') === arguments[0] &&
                               c.getAttribute('data-points') === '1');)";
            ASSERT_TRUE(browser.waitFor(chartHasItsPoint, json::array({series}))) << browser.page();
            EXPECT_EQ(browser.script(chartOf, {series}), json({"estimate", "1"}));
            EXPECT_EQ(browser.script("return document.querySelectorAll('#charts canvas.series-chart').length;"), 1);
            ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('#final-table .final-row').length === 1;"))
                << browser.page();
            const json finalText = browser.script(
                "return Array.from(document.querySelectorAll('#final-table .final-row')).map(r => r.textContent);");
            ASSERT_EQ(finalText.size(), 1u) << finalText.dump();
            EXPECT_NE(finalText[0].get<std::string>().find(series), std::string::npos) << finalText.dump();

            EXPECT_EQ(browser.script(injected), clean) << browser.page();
        }
        const json state = dashboard.state();
        EXPECT_EQ(state["run"]["model"], netName);
        EXPECT_EQ(state["run"]["garbageLines"], 2);
        ASSERT_EQ(state["series"].size(), 1u);
        EXPECT_EQ(state["series"][0]["name"], series);
        EXPECT_EQ(state["series"][0]["points"], json::parse("[[5, 1, 0.5, 1.5]]"));
        EXPECT_EQ(joined(scriptErrors(browser.log())), "");
    }
    {
        SCOPED_TRACE("program output");
        // A started program's output: the console shows it as typed.
        WorkDir dir;
        Dashboard dashboard(dir.path(), {"--", "/bin/sh", "-c", "printf '%s\\n' \"$1\"", "sh", printed}, 71);
        browser.open(dashboard.url());
        ASSERT_TRUE(browser.waitFor(kStatusIs, {"ended"})) << browser.page();
        ASSERT_TRUE(browser.waitFor("return document.querySelector('#console').textContent.includes(arguments[0]);",
                                    {printed}))
            << browser.text("#console");
        EXPECT_EQ(browser.script("return document.querySelectorAll('#console b, #console img').length;"), 0);
        EXPECT_EQ(browser.script(injected), clean) << browser.page();
        EXPECT_EQ(joined(scriptErrors(browser.log())), "");
    }
}

TEST(DashboardBrowser, TheTokenGameIsPlayedFromThePage) {
    testsupport::PortLock lock(2020);
    WorkDir dir;  // 4 worker threads, 5 semaphore slots
    // The lock keeps the other tests off port 2020; a game someone runs by
    // hand may still hold it for a while, so a start that finds the port
    // taken is tried again (for up to two minutes).
    std::unique_ptr<RunningProcess> started;
    for (int attempt = 0;; ++attempt) {
        started = std::make_unique<RunningProcess>(SCPNSIM_EXE, std::vector<std::string>{"-t", "--mstart", "0"},
                                                   dir.path());
        if (started->waitForOutput("waiting for socket connection from GUI..")) break;
        const testsupport::RunResult r = started->wait();
        ASSERT_TRUE(r.out.find("Address already in use") != std::string::npos && attempt < 120) << r.out << r.err;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    RunningProcess& game = *started;
    Dashboard dashboard(dir.path(),
                        {"--tokengame", "127.0.0.1:2020", "--model", std::string(SCPNSIM_SOURCE_DIR) + "/model/scpnsim.xml"},
                        81);
    Browser browser;
    browser.open(dashboard.url());
    browser.click("#game-connect");
    ASSERT_TRUE(browser.waitFor("return document.querySelectorAll('#game-enabled button.fire').length > 0;"))
        << browser.page();

    // What may fire at the start, with the priorities of the model file.
    const json buttons = browser.script(R"(
        return Array.from(document.querySelectorAll('#game-enabled button.fire'))
            .map(b => [b.getAttribute('data-transition'), b.textContent.trim()]);)");
    std::set<std::string> enabled;
    for (const json& b : buttons) {
        const std::string name = b[0].is_string() ? b[0].get<std::string>() : "";
        const std::string label = b[1].get<std::string>();
        EXPECT_TRUE(std::regex_match(label, std::regex("[A-Za-z0-9_]+ \\(priority -?[0-9]+\\)"))) << label;
        EXPECT_EQ(label, name + " (priority 0)");
        enabled.insert(name);
    }
    EXPECT_EQ(enabled, (std::set<std::string>{"P_In_ready", "S1_ready", "S2_ready", "S3_ready", "S_ready"}));

    // Every place with its tokens; the marking file's threads and slots.
    const char* const marking = R"(
        const m = {};
        for (const row of document.querySelectorAll('#game-marking tr.place')) {
          const cell = row.querySelector('.token-count');
          m[row.getAttribute('data-place')] = cell ? cell.textContent.trim() : null;
        }
        return m;)";
    const json before = browser.script(marking);
    ASSERT_TRUE(before.is_object()) << browser.page();
    EXPECT_GE(before.size(), 10u) << before.dump();
    EXPECT_EQ(before.value("P_thread_pool", json()), "4") << before.dump();
    EXPECT_EQ(before.value("C1_sem", json()), "5") << before.dump();

    // Firing the first one changes the marking the page shows.
    const std::string first = buttons.at(0).at(0).get<std::string>();
    browser.click("#game-enabled button.fire");
    ASSERT_TRUE(browser.waitFor(std::string("const now = (() => {") + marking +
                                    "})(); return Object.keys(now).some(p => now[p] !== arguments[0][p]);",
                                json::array({before})))
        << "after firing " << first << "\n" << browser.page();
    const std::string status = browser.text("#game-status");
    EXPECT_NE(status.find("connected"), std::string::npos) << status;
    EXPECT_EQ(status.find("disconnected"), std::string::npos) << status;
    EXPECT_EQ(status.find("not connected"), std::string::npos) << status;
    EXPECT_EQ(status.find("gone"), std::string::npos) << status;
    const json played = dashboard.state("/api/game/state");
    EXPECT_EQ(played["connected"], true);
    EXPECT_EQ(played["lastFired"], first);

    // The game goes away; the next step finds out and the page says so.
    game.sendSignal(SIGKILL);
    game.wait();
    browser.click("#game-step");
    ASSERT_TRUE(browser.waitFor(
        "return (document.querySelector('#game-status').textContent + ' ' +"
        "        document.querySelector('#game-message').textContent).includes('gone');"))
        << browser.page();
    const json after = dashboard.state("/api/game/state");
    EXPECT_EQ(after["connected"], false);
    EXPECT_EQ(after["gone"], true);
    EXPECT_NE(after.value("error", json("")).dump().find("the token game closed the connection"), std::string::npos)
        << after.dump();
    EXPECT_EQ(joined(scriptErrors(browser.log())), "");
}

TEST(DashboardBrowser, APageRefusedItsLiveStreamSaysSoAndComesBackLater) {
    WorkDir dir;
    Dashboard dashboard(dir.path(), {}, 91);
    const int limit = dashboard.state("/api/streams").at("limit").get<int>();
    ASSERT_GT(limit, 0);
    // Other pages hold every stream the dashboard gives.
    std::vector<int> held;
    for (int i = 0; i < limit; ++i) {
        std::string head;
        const int fd = openStream(dashboard.httpPort, head);
        ASSERT_GE(fd, 0) << "stream " << i;
        held.push_back(fd);
        ASSERT_EQ(head.rfind("HTTP/1.1 200 ", 0), 0u) << head;
    }
    Browser browser;
    browser.open(dashboard.url());
    const char* const note = "const e = document.querySelector('#run-status-note'); return e ? e.textContent : null;";
    EXPECT_TRUE(browser.waitFor(std::string("const t = (() => {") + note +
                                "})(); return t !== null && t.includes('too many open pages');"))
        << browser.page();
    // Once a place is free, the page gets its stream without being reloaded.
    for (const int fd : held) close(fd);
    ASSERT_TRUE(browser.waitFor(kStatusIs, {"waiting"})) << browser.page();
    EXPECT_TRUE(browser.waitFor(std::string("return (() => {") + note + "})() === '';")) << browser.page();
    EXPECT_EQ(joined(scriptErrors(browser.log())), "");
}
