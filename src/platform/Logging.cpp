#include "platform/Logging.h"

#include <iostream>

Logging::Logging()
    : folder("."),
      logindex(""),
      simlogging(false),
      eventlogging(false),
      translogging(false),
      tokenlogging(false),
      serverlogging(false),
      clientlogging(false) {}

Logging::~Logging() { close(); }

void Logging::open() {
    close();
    simlogging = openlog("sim", &simlog);
    translogging = openlog("trans", &translog);
    serverlogging = openlog("server", &serverlog);
}

void Logging::close() {
    closelog(&eventlogging, &eventlog);
    closelog(&simlogging, &simlog);
    closelog(&translogging, &translog);
    closelog(&tokenlogging, &tokenlog);
    closelog(&serverlogging, &serverlog);
    closelog(&clientlogging, &clientlog);
}

void Logging::setLogFolder(const std::string& newFolder) {
    close();
    folder = newFolder;
}

void Logging::setLogIndex(int index) {
    close();
    logindex = std::to_string(index);
}

bool Logging::openlog(std::string kind, std::fstream* stream) {
    const std::string path = folder + "/" + kind + logindex + ".log";
    stream->open(path, std::ios::in | std::ios::out | std::ios::trunc);
    if (!stream->is_open()) {
        stream->clear();
        std::cout << path << "*********** " << kind << ": could not open!!" << std::endl;
    }
    return stream->is_open();
}

void Logging::closelog(bool* flag, std::fstream* stream) {
    if (*flag && stream->is_open()) {
        stream->close();
        *flag = false;
    }
}

std::string Logging::failedTrace() const {
    const struct {
        bool on;
        const std::fstream& stream;
        const char* kind;
    } traces[] = {{simlogging, simlog, "sim"},       {eventlogging, eventlog, "event"},
                  {translogging, translog, "trans"}, {tokenlogging, tokenlog, "token"},
                  {serverlogging, serverlog, "server"}, {clientlogging, clientlog, "client"}};
    for (const auto& t : traces) {
        if (t.on && !t.stream.good()) return folder + "/" + t.kind + logindex + ".log";
    }
    return "";
}

void Logging::flush() {
    for (std::fstream* s : {&simlog, &eventlog, &translog, &tokenlog, &serverlog, &clientlog})
        if (s->is_open()) s->flush();
}

Logging* Logging::installedLog = nullptr;

Logging* Logging::standIn() {
    static Logging log;
    return &log;
}

void Logging::installProcess(Logging* log) { installedLog = log; }
