#include "sim/TokenGame.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <list>
#include <memory>
#include <sstream>

#include "core/NetClass.h"
#include "core/Place.h"
#include "engine/Binding.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"
#include "platform/Logging.h"
#include "platform/net/Socket.h"

namespace {

Logging* logs() { return Logging::process(); }

bool startsWith(const std::string& text, const char* word) { return text.rfind(word, 0) == 0; }

// The argument after a command word and the one character that follows it.
std::string argumentOf(const std::string& command, std::size_t from) {
    return command.size() > from ? command.substr(from) : std::string();
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (std::size_t k = 0; k < parts.size(); ++k) text += (k > 0 ? separator : "") + parts[k];
    return text;
}

}  // namespace

TokenGame::TokenGame(NetClass* net_, const std::string& netName_, const std::string& resultPort_,
                     const DateTime& start)
    : Simulation(net_, netName_, resultPort_, start, start + 10000, 3, 1, false, true, 5.0, 50.0, 0) {}

TokenGame::~TokenGame() { breakpoints.clear(); }

void TokenGame::shutdown() { std::cout << "\nTOKENGAME COMPLETE.\n" << std::endl; }

void TokenGame::send(socket_t* gui, const std::string& text) { gui->write(text.data(), text.size()); }

// ---------------------------------------------------------------------------
// The run

void TokenGame::run() {
    init();
    if (measureSocket != nullptr) {
        std::cout << "writing StartTime to measure socket.." << std::endl;
        sendOnChannel("STARTTIME;" + std::to_string(static_cast<long>(currentSimulationTime)) + "\n");
    }
    const std::string address = kAddress;
    std::unique_ptr<socket_t> listener(socket_t::create_global(kAddress, 5));
    if (!listener) {
        std::cout << "Failed to connect to server " << address << ". Can't create socket!" << std::endl;
        std::cout << "The token game needs a connection to be played; it ends." << std::endl;
        return;
    }
    char text[256];
    if (!listener->is_ok()) {
        listener->get_error_text(text, sizeof text);
        std::cout << "Connection to server " << address << "failed. Socket is not okay! " << text << std::endl;
        std::cout << "The token game needs a connection to be played; it ends." << std::endl;
        return;
    }
    std::cout << "waiting for socket connection from GUI.." << std::endl;
    std::unique_ptr<socket_t> gui(listener->accept());
    if (!gui) {
        std::cout << "Failed to connect to server " << address << ". Can't accept socket!" << std::endl;
        std::cout << "The token game needs a connection to be played; it ends." << std::endl;
        return;
    }
    if (!gui->is_ok()) {
        gui->get_error_text(text, sizeof text);
        std::cout << "Connection to server " << address << "failed. Socket accept is not okay! " << text
                  << std::endl;
        std::cout << "The token game needs a connection to be played; it ends." << std::endl;
        return;
    }
    // One front end only: nobody else may connect while it plays.
    listener->close();
    served_ = true;
    serve(gui.get());
}

bool TokenGame::readCommand(socket_t* gui, std::string& command) {
    char buffer[4096];
    const int n = gui->read(buffer, 0, sizeof buffer, -1);
    if (n <= 0) return false;  // the front end went away
    const std::string message(buffer, static_cast<std::size_t>(n));
    const std::size_t end = message.rfind('#');
    if (end == std::string::npos) return false;
    command = message.substr(0, end);
    return true;
}

void TokenGame::serve(socket_t* gui) {
    for (;;) {
        std::cout << "reading from GUI socket.." << std::endl;
        std::string command;
        if (!readCommand(gui, command)) return;
        std::cout << "received: <" << command << ">" << std::endl;
        if (!handleCommand(gui, command)) return;
    }
}

bool TokenGame::handleCommand(socket_t* gui, const std::string& command) {
    if (startsWith(command, "SINGLESTEP")) {
        singleStep(gui);
    } else if (startsWith(command, "PLACE")) {
        writePlaceContent(gui, argumentOf(command, 6));
    } else if (startsWith(command, "FIRELIST")) {
        writeFireList(gui, false);
    } else if (startsWith(command, "AUTOFIRE")) {
        autoFire(gui);
    } else if (startsWith(command, "AUTOTRANS")) {
        writeBinding(gui, chooseEvent(false));
    } else if (startsWith(command, "FIRE")) {
        const std::string name = argumentOf(command, 5);
        if (net->getTransitions().count(name) == 0) {
            std::cout << "Couldn't find Transition: " << name << std::endl;
            send(gui, "UNKNOWN TRANSITION " + name + "\n");
        } else {
            fire(name);
            std::cout << " TOKEN fired..." << std::endl;
            writeChangedPlacesAndTransitions(gui);
        }
    } else if (startsWith(command, "NET")) {
        send(gui, net->writeMaps() + "\n");
    } else if (startsWith(command, "TIME")) {
        std::ostringstream text;
        text << currentSimulationTime << "\n";
        send(gui, text.str());
    } else if (startsWith(command, "REPLICATION")) {
        send(gui, "0");
    } else if (startsWith(command, "SETBREAKS")) {
        applyBreakpoints(argumentOf(command, 10));
        writeBreakpoints(gui);
    } else if (startsWith(command, "BREAKS")) {
        writeBreakpoints(gui);
    } else if (startsWith(command, "EXIT")) {
        return false;
    }
    // Anything else is ignored without a reply.
    return true;
}

// ---------------------------------------------------------------------------
// Firing

void TokenGame::autoFire(socket_t* gui) {
    StepHooks hooks;
    hooks.traceFiring = false;
    if (step(hooks) == StepResult::Dead) return;  // no event: no reply
    std::cout << " TOKEN fired..." << std::endl;
    writeChangedPlacesAndTransitions(gui);
}

void TokenGame::fire(const std::string& transitionName) {
    const bool tracing = logs()->isSimLogging();
    if (tracing) logs()->getSimLog() << " *********** FIRE( " << transitionName << " ) ****************" << "\n";
    auto found = net->getTransitions().find(transitionName);
    if (found == net->getTransitions().end()) return;  // nothing of a missing transition is touched
    Transition* t = found->second;
    Binding* b = t->getNextEvent();
    if (b == nullptr) {
        if (tracing)
            logs()->getSimLog() << "ATTENTION: binding of Transition " << transitionName
                                << "couldn't be fired because the eventlist is empty!" << "\n";
        return;
    }
    eventTime = b->getTime();
    updateSimulationTime(eventTime);
    executeEvent(b);
    lastFiredTransition = transitionName;
    if (tracing) logs()->getSimLog() << " eventlist after FIRE at " << currentSimulationTime << " : " << "\n";
    // Fired by hand, the clock may have jumped past other events: they come
    // due now instead of in the past.
    for (const auto& entry : net->getTransitions())
        for (Binding* moved : entry.second->rescheduleEventsBefore(currentSimulationTime))
            if (tracing) logs()->getSimLog() << *moved << "\n";
}

void TokenGame::singleStep(socket_t* gui) {
    // Every transition's first event is a candidate, whatever its time.
    StepHooks hooks;
    hooks.allTransitions = true;
    hooks.traceFiring = false;
    for (;;) {
        if (step(hooks) == StepResult::Dead) break;
        send(gui, "Fired: " + lastFiredTransition + "#\n");
        std::string reply;
        if (!readCommand(gui, reply)) break;
        if (startsWith(reply, "PLACE"))
            writePlaceContent(gui, argumentOf(reply, 6));
        else if (startsWith(reply, "FIRELIST"))
            writeFireList(gui, true);
        else if (startsWith(reply, "EXIT"))
            break;
    }
    send(gui, "Thanx!\n");
}

std::vector<std::string> TokenGame::couldFire() {
    std::list<Binding*> next;
    getFirstBindingsOfAllTransitions(&next, true);
    int highest = 0;
    for (Binding* b : next) highest = std::max(highest, b->getPriority());
    std::vector<std::string> names;
    for (Binding* b : next)
        if (b->getPriority() == highest) names.push_back(b->getBoundTransition()->getName());
    return names;
}

// ---------------------------------------------------------------------------
// Replies

void TokenGame::writePlaceContent(socket_t* gui, const std::string& placeName) {
    auto found = net->getPlaces().find(placeName);
    if (found == net->getPlaces().end()) {
        std::cout << "Couldn't find Place: " << placeName << std::endl;
        send(gui, "UNKNOWN PLACE " + placeName + "\n");
        return;
    }
    send(gui, found->second->content() + "\n");
}

std::string TokenGame::joinedFireList(const std::string& separator, bool trailing) {
    std::string text;
    for (const std::string& name : couldFire()) {
        if (!text.empty() && !trailing) text += separator;
        text += name;
        if (trailing) text += separator;
    }
    return text;
}

void TokenGame::writeFireList(socket_t* gui, bool oneNamePerLine) {
    send(gui, oneNamePerLine ? joinedFireList("\n", true) + "\n" : joinedFireList(";", false) + "\n");
}

std::vector<std::string> TokenGame::changedPlaces() {
    std::vector<std::string> names;
    // Empty until an event has been chosen: nothing to list then.
    auto found = net->getTransitions().find(lastFiredTransition);
    if (found == net->getTransitions().end()) return names;
    for (const Place* p : found->second->getInPlaces()) names.push_back(p->getName());
    for (const Place* p : found->second->getOutPlaces()) names.push_back(p->getName());
    return names;
}

void TokenGame::writeChangedPlacesAndTransitions(socket_t* gui) {
    std::vector<std::string> triggered;
    for (std::size_t k = 0; k < breakpoints.size(); ++k)
        if (breakpoints[k].isTriggered()) triggered.push_back(std::to_string(k));
    const std::string report = "PLACES:" + joined(changedPlaces(), ";") + "#" + "TRANSITIONS:" +
                               joinedFireList(";", false) + "#" + "BREAKPOINTS:" + joined(triggered, ";") +
                               "#" + "\n";
    send(gui, report);
    std::cout << "PLACES added." << std::endl;
    std::cout << "answer <FIRE:...> -> " << report << std::endl;
}

void TokenGame::writeBinding(socket_t* gui, Binding* b) {
    std::string reply = "\n";
    if (b != nullptr) {
        const long delay = static_cast<long>((b->getTime() - currentSimulationTime) * 1000.0);
        reply = "TRANSITION:" + b->getBoundTransition()->getName() + "#" + "DELAY:" + std::to_string(delay) +
                "#" + "\n";
    }
    send(gui, reply);
    std::cout << "answer <AUTOTRANS#> -> " << reply << std::endl;
}

void TokenGame::writeBreakpoints(socket_t* gui) {
    std::vector<std::string> triggered;
    for (std::size_t k = 0; k < breakpoints.size(); ++k)
        if (breakpoints[k].isTriggered()) triggered.push_back(std::to_string(k));
    send(gui, joined(triggered, ";") + "\n");
}

// ---------------------------------------------------------------------------
// Breakpoints

void TokenGame::applyBreakpoints(const std::string& text) {
    breakpoints.clear();
    std::vector<std::string> entries;
    split(text, entries, ";");
    for (const std::string& entry : entries) {
        std::vector<std::string> fields;
        split(entry, fields, ":");
        if (fields.size() > 2)
            breakpoints.emplace_back(findMeasure(fields[0]), Breakpoint::stringToRelation(fields[1]),
                                     std::atof(fields[2].c_str()));
        else
            breakpoints.emplace_back();  // keeps its position, never holds
    }
}

void TokenGame::split(const std::string& text, std::vector<std::string>& parts, const std::string& separator) {
    parts.clear();
    if (text.empty()) return;
    if (separator.empty()) {
        parts.push_back(text);
        return;
    }
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, from)) {
        parts.push_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    parts.push_back(text.substr(from));
}

MeasureObj* TokenGame::findMeasure(const std::string& name) {
    for (MeasureObj* m : net->getMeasureList())
        if (m->getName() == name) return m;
    return nullptr;
}
