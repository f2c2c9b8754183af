#pragma once
// Where the values of a transient replication go, point by point: into
// this process's analysis, or into a record that is sent to the process
// that analyses a parallel run (see ParallelTransient.cpp).
#include <cstddef>
#include <vector>

class ReplicationValues {
public:
    virtual ~ReplicationValues() = default;
    // The measures have been brought to sampling point `point` of the
    // replication: takes their values. True when every measure analysed
    // here has reached its accuracy at the point (always true where nothing
    // is analysed).
    virtual bool atPoint(std::size_t point) = 0;
};

class MeasureObj;
class NetClass;

// A replication simulated for another process: the value of every measure
// at every point, in measure-list order, appended to `record`.
class RecordedValues final : public ReplicationValues {
public:
    RecordedValues(NetClass& net, std::vector<double>& record) : net_(net), record_(record) {}
    bool atPoint(std::size_t point) override;

private:
    NetClass& net_;
    std::vector<double>& record_;
};
