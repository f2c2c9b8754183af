#pragma once
// MessagePassing over MPI's world communicator. Errors are returned, not
// fatal, so that a process that has gone is reported as a Failure and the
// analysing process can still write what it has.
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
    int rank_ = 0;
    int size_ = 1;
    bool broken_ = false;
};
