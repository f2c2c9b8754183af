#pragma once
// Messages between the processes of one parallel run: numbered processes
// ("ranks", 0 the one that analyses) exchange tagged vectors of doubles.
// The run's drivers see only this interface; MpiMessagePassing implements it
// over MPI, and a build without MPI has none, so --parallel is refused there.
#include <stdexcept>
#include <string>
#include <vector>

class MessagePassing {
public:
    struct Message {
        int source = -1;
        int tag = -1;
        std::vector<double> data;
    };

    // A failed send or receive: a process has gone or cannot be reached.
    class Failure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    virtual ~MessagePassing() = default;

    virtual int rank() const = 0;
    virtual int size() const = 0;
    // Sends `data` with `tag` to `destination`; throws Failure.
    virtual void send(int destination, int tag, const std::vector<double>& data) = 0;
    // Takes the next waiting message from any process, or returns false at
    // once when none waits; throws Failure.
    virtual bool poll(Message& out) = 0;
    // Takes the next waiting message with `tag` from `source` only, or
    // returns false at once; throws Failure.
    virtual bool pollFrom(int source, int tag, Message& out) = 0;
    // A process is gone or unanswered: ending the run in order would wait
    // for it forever, so the run is ended at once when this object goes.
    virtual void markBroken() = 0;
    // Ends every process of the run at once (a run that cannot end in order).
    [[noreturn]] virtual void abortAll(int status) = 0;
};

// The rank that the process launcher (mpirun or a batch scheduler) gave this
// process in its environment, read before any message passing starts; -1
// when the process was not started by one.
int launcherRank();
