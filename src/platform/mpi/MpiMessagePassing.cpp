#include "platform/mpi/MpiMessagePassing.h"

#include <cstdlib>
#include <iterator>
#include <string>

namespace {

std::string errorText(int code) {
    char text[MPI_MAX_ERROR_STRING];
    int length = 0;
    if (MPI_Error_string(code, text, &length) != MPI_SUCCESS) return "MPI error " + std::to_string(code);
    return std::string(text, static_cast<std::size_t>(length));
}

void check(int code, const std::string& what) {
    if (code != MPI_SUCCESS) throw MessagePassing::Failure(what + ": " + errorText(code));
}

}  // namespace

MpiMessagePassing::MpiMessagePassing(int* argc, char*** argv) {
    int initialised = 0;
    MPI_Initialized(&initialised);
    if (!initialised) MPI_Init(argc, argv);
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

MpiMessagePassing::~MpiMessagePassing() {
    int finalised = 0;
    MPI_Finalized(&finalised);
    if (finalised) return;
    // Finalising waits for every process; with one of them gone that would
    // never return, so the run is ended instead (its results are written).
    if (broken_) MPI_Abort(MPI_COMM_WORLD, 1);
    // Every message has been taken by now (the run ends with STOP and DONE
    // both ways), so the last sends complete.
    for (PendingSend& p : pending_) MPI_Wait(&p.request, MPI_STATUS_IGNORE);
    MPI_Finalize();
}

void MpiMessagePassing::send(int destination, int tag, const std::vector<double>& data) {
    reapSends();
    PendingSend& p = pending_.emplace_back();
    p.data = data;
    check(MPI_Isend(p.data.data(), static_cast<int>(p.data.size()), MPI_DOUBLE, destination, tag,
                    MPI_COMM_WORLD, &p.request),
          "sending to process " + std::to_string(destination));
}

void MpiMessagePassing::reapSends() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        int done = 0;
        check(MPI_Test(&it->request, &done, MPI_STATUS_IGNORE), "sending a message");
        it = done ? pending_.erase(it) : std::next(it);
    }
}

bool MpiMessagePassing::poll(Message& out) { return receiveProbed(MPI_ANY_SOURCE, MPI_ANY_TAG, out); }

bool MpiMessagePassing::pollFrom(int source, int tag, Message& out) {
    return receiveProbed(source, tag, out);
}

bool MpiMessagePassing::receiveProbed(int source, int tag, Message& out) {
    reapSends();
    int waiting = 0;
    MPI_Status status;
    check(MPI_Iprobe(source, tag, MPI_COMM_WORLD, &waiting, &status), "waiting for messages");
    if (!waiting) return false;
    int count = 0;
    check(MPI_Get_count(&status, MPI_DOUBLE, &count), "reading a message");
    out.source = status.MPI_SOURCE;
    out.tag = status.MPI_TAG;
    out.data.resize(static_cast<std::size_t>(count));
    check(MPI_Recv(out.data.data(), count, MPI_DOUBLE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD,
                   MPI_STATUS_IGNORE),
          "receiving from process " + std::to_string(status.MPI_SOURCE));
    return true;
}

void MpiMessagePassing::abortAll(int status) {
    MPI_Abort(MPI_COMM_WORLD, status);
    std::_Exit(status);
}
