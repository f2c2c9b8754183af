#pragma once
// The process-wide manager of the trace files. Code that traces asks a
// switch first (isSimLogging() ...) and only then writes to the stream, so a
// run without logging pays one test per trace point.
#include <fstream>
#include <string>

class Logging {
public:
    Logging();
    ~Logging();
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    // Opens the simulation, transition and server traces anew (existing
    // files are emptied); a file that cannot be created leaves its switch off.
    void open();
    // Closes every open trace.
    void close();
    // Both close the traces first, so a new name takes effect on the next open().
    void setLogFolder(const std::string& folder);
    void setLogIndex(int index);

    bool openlog(std::string kind, std::fstream* stream);
    void closelog(bool* flag, std::fstream* stream);

    bool isSimLogging() const { return simlogging; }
    bool isEventLogging() const { return eventlogging; }
    bool isTransLogging() const { return translogging; }
    bool isTokenLogging() const { return tokenlogging; }
    bool isServerLogging() const { return serverlogging; }
    bool isClientLogging() const { return clientlogging; }

    std::fstream& getSimLog() { return simlog; }
    std::fstream& getEventLog() { return eventlog; }
    std::fstream& getTransLog() { return translog; }
    std::fstream& getTokenLog() { return tokenlog; }
    std::fstream& getServerLog() { return serverlog; }
    std::fstream& getClientLog() { return clientlog; }
    const std::string& getLogDir() const { return folder; }

    // The path of the first open trace whose writing has failed (a full
    // disk, a file-size limit), or "" while every open trace is sound.
    std::string failedTrace() const;
    // Hands everything written so far to the files, so that a run that ends
    // early leaves whole lines behind.
    void flush();

    // The process-wide log manager as the kernel reaches it. The program
    // installs its own at start-up; until then (and in programs that do not)
    // a manager of this layer's own stands in, with every trace off.
    // Inline: the kernel asks at every event whether a trace is on.
    static Logging* process() { return installedLog != nullptr ? installedLog : standIn(); }
    static void installProcess(Logging* log);

private:
    std::string folder;
    std::string logindex;
    bool simlogging;
    bool eventlogging;
    bool translogging;
    bool tokenlogging;
    bool serverlogging;
    bool clientlogging;
    std::fstream simlog;
    std::fstream eventlog;
    std::fstream translog;
    std::fstream tokenlog;
    std::fstream serverlog;
    std::fstream clientlog;
    static Logging* installedLog;
    static Logging* standIn();
};
