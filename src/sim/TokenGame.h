#pragma once
// The interactive token game: a front end connects to TCP port 2020 and
// plays the net by hand, one '#'-terminated command per message: which
// transitions may fire, fire one of them or let the simulation choose,
// single-step, look into places, read the clock, set breakpoints on measure
// values. Every step uses the same selection, conflict resolution and
// execution as a simulation run.
//
// Decisions where the protocol leaves room (see also the README):
//  - a listener or connection that cannot be used ends the game with a
//    message, before the command loop (served() is then false);
//  - a read that fails (the front end went away) ends the command loop, as
//    a read without '#' does;
//  - "PLACE" and "FIRE" with a name the net does not have are answered with
//    "UNKNOWN PLACE <name>\n" or "UNKNOWN TRANSITION <name>\n" and touch
//    nothing;
//  - a change report before any event was chosen lists no places;
//  - in single-step mode a reply without '#' (or a failed read) ends the mode
//    with "Thanx!\n".
#include <string>
#include <vector>

#include "measures/Breakpoint.h"
#include "sim/Simulation.h"

class socket_t;

class TokenGame : public Simulation {
public:
    // The address the game listens on: TCP port 2020 of every interface.
    static constexpr const char* kAddress = "localhost:2020";

    TokenGame(NetClass* net, const std::string& netName, const std::string& resultPort,
              const DateTime& startTime);
    ~TokenGame() override;

    bool isSingleStep() const override { return true; }
    // Prints that the game is over; a token game writes no results file.
    void shutdown() override;

    // The whole game: init, listen, accept one front end, serve it.
    void run();
    // The command loop on an accepted connection, until "EXIT", a read
    // without '#' or a failed read.
    void serve(socket_t* gui);
    // False when the game could not listen or accept.
    bool served() const { return served_; }

    // The transitions that may fire now: those whose next event has the
    // highest priority (at least 0) among all next events.
    std::vector<std::string> couldFire();
    // Fires the next event of the named transition (when it has one), then
    // moves every event that lies in the past to the current time.
    void fire(const std::string& transitionName);

    void writePlaceContent(socket_t* gui, const std::string& placeName);
    void writeFireList(socket_t* gui, bool oneNamePerLine);
    void writeChangedPlacesAndTransitions(socket_t* gui);
    void writeBinding(socket_t* gui, Binding* b);
    void writeBreakpoints(socket_t* gui);
    // Replaces the breakpoint list by "measure:relation:number;...".
    void applyBreakpoints(const std::string& text);
    const std::vector<Breakpoint>& getBreakpoints() const { return breakpoints; }

    // Splits at every separator; empty fields are kept, an empty text has no parts.
    static void split(const std::string& text, std::vector<std::string>& parts, const std::string& separator);
    MeasureObj* findMeasure(const std::string& name);

private:
    // Acts on one command; false when the command loop is to end.
    bool handleCommand(socket_t* gui, const std::string& command);
    void singleStep(socket_t* gui);
    void autoFire(socket_t* gui);
    // Reads one message and cuts it at its last '#'; false for a failed read
    // or a message without '#'.
    static bool readCommand(socket_t* gui, std::string& command);
    static void send(socket_t* gui, const std::string& text);
    // Places of the transition named by lastFiredTransition, in then out.
    std::vector<std::string> changedPlaces();
    std::string joinedFireList(const std::string& separator, bool trailing);

    std::vector<Breakpoint> breakpoints;
    bool served_ = false;
};
