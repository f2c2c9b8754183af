#pragma once
// MessagePassing over MPI's world communicator. Errors are returned, not
// fatal, so that a process that has gone is reported as a Failure and the
// analysing process can still write what it has.
#include <mpi.h>

#include <list>

#include "platform/MessagePassing.h"

class MpiMessagePassing : public MessagePassing {
public:
    // Starts MPI (a process started without a launcher runs alone).
    MpiMessagePassing(int* argc, char*** argv);
    // Ends MPI in order; after abortAll, or when a peer was lost, nothing
    // is waited for.
    ~MpiMessagePassing() override;
    MpiMessagePassing(const MpiMessagePassing&) = delete;
    MpiMessagePassing& operator=(const MpiMessagePassing&) = delete;

    int rank() const override { return rank_; }
    int size() const override { return size_; }
    void send(int destination, int tag, const std::vector<double>& data) override;
    bool poll(Message& out) override;
    bool pollFrom(int source, int tag, Message& out) override;
    [[noreturn]] void abortAll(int status) override;

    void markBroken() override { broken_ = true; }

private:
    bool receiveProbed(int source, int tag, Message& out);
    // Drops the sends that have completed.
    void reapSends();
    // Sends under way: a send returns at once (a process busy simulating
    // takes its messages only between replications, and the sender must not
    // wait for that); each buffer lives until its send completes.
    struct PendingSend {
        std::vector<double> data;
        MPI_Request request = MPI_REQUEST_NULL;
    };
    std::list<PendingSend> pending_;
    int rank_ = 0;
    int size_ = 1;
    bool broken_ = false;
};
