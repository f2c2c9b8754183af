#pragma once
// The model's net as the tests expect it (places, transitions with their
// flags and arcs, the behaviour family of each transition), and a fixture
// that builds the compiled net in-process in a working directory of its own.
#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Token_Data.h"
#include "buildnet.h"
#include "core/Place.h"
#include "core/Token.h"
#include "engine/Transition.h"
#include "support/TestSupport.h"

namespace modeltest {

// The places in identifier order (identifier = index + 1).
inline const std::vector<std::string>& placeNames() {
    static const std::vector<std::string> names = {
        "P_thread_pool", "C1_executed",   "C1_main",         "C1_sem",        "C1_in_1",
        "C1_out1",       "C1_out2",       "S_executed",      "S_out1",        "A_executed",
        "A_main",        "A_in_1",        "A_in_1_1",        "A_in_2_1",      "P_In_executed",
        "P_In_out1",     "P_Out_executed", "P_Out_main",     "P_Out_in_1",    "P_executed",
        "P_main",        "P_in_1",        "P_in_2",          "P_out1",        "P_out2",
        "S1_executed",   "S1_out1",       "S2_executed",     "S2_out1",       "Act1_executed",
        "Act1_main",     "Act1_in_1",     "Act2_executed",   "Act2_main",     "Act2_in_1",
        "S3_executed",   "S3_out1",       "A3_executed",     "A3_main",       "A3_in_1",
        "Binary_executed", "Binary_main", "Binary_in_1",     "Binary_out1",   "Binary_in_data",
        "Binary_data_gen", "Binary_ct",   "Binary_cf",       "Binary_tp",     "Binary_fn",
        "Binary_tn",     "Binary_fp"};
    return names;
}

// What firing a transition does to the marking (the bound variables are
// removed first; the outputs follow in output-place order).
enum class Family {
    Source,            // pool: a new job on out[0]
    Execute,           // x, pool: x on out[0]
    ExecuteAndSignal,  // x, pool: x on out[0], a new int 0 on out[1]
    ExecuteAndCopy,    // x: x on out[0], a copy of x on out[1]
    Forward,           // x: x on out[0]
    Finish,            // x: a new int 0 on out[0]; x is dropped
    ReleaseAndPass,    // x: a new int 0 on out[0], a new job on out[1]
    ReleaseAndFork,    // x: a new int 0 on out[0], new jobs on out[1] and out[2]
    Acquire,           // limit, x: x on out[0]
    Join,              // x, y: x on out[0]; y is dropped
    Merge,             // x, y: a new job on out[0]; both are dropped
    LabelTruth,        // x: tL = 1, x on out[0]
    LabelOther,        // x: tL = 2, x on out[0]
    Mark,              // x: ood = true, x on out[0]
    Renew,             // x: a new job on out[0]; x is dropped
};

struct TransitionRow {
    int id;
    std::string name;
    double weight;
    int priority;
    bool exp;
    bool immediate;
    bool watch;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    Family family;
};

// The transitions in identifier order (identifier = index + 1).
inline const std::vector<TransitionRow>& transitionRows() {
    using F = Family;
    const std::string pool = "P_thread_pool";
    static const std::vector<TransitionRow> rows = {
        {1, "S_ready", 0, 0, true, false, true, {pool}, {"S_executed"}, F::Source},
        {2, "P_In_ready", 0, 0, true, false, true, {pool}, {"P_In_executed"}, F::Source},
        {3, "S1_ready", 0, 0, true, false, true, {pool}, {"S1_executed"}, F::Source},
        {4, "S2_ready", 0, 0, true, false, true, {pool}, {"S2_executed"}, F::Source},
        {5, "S3_ready", 0, 0, true, false, true, {pool}, {"S3_executed"}, F::Source},
        {6, "C1_execution", 0, 0, true, false, false, {"C1_main", pool}, {"C1_executed", "C1_sem"},
         F::ExecuteAndSignal},
        {7, "A_execution", 0, 0, true, false, false, {"A_main", pool}, {"A_executed"}, F::Execute},
        {8, "P_Out_execution", 0, 0, true, false, false, {"P_Out_main", pool}, {"P_Out_executed"},
         F::Execute},
        {9, "P_execution", 0, 0, true, false, false, {"P_main", pool}, {"P_executed"}, F::Execute},
        {10, "Act1_execution", 0, 0, true, false, false, {"Act1_main", pool}, {"Act1_executed"},
         F::Execute},
        {11, "Act2_execution", 0, 0, true, false, false, {"Act2_main", pool}, {"Act2_executed"},
         F::Execute},
        {12, "A3_execution", 0, 0, true, false, false, {"A3_main", pool}, {"A3_executed"}, F::Execute},
        {13, "Binary_execution", 0, 0, true, false, false, {"Binary_main"},
         {"Binary_executed", "Binary_in_data"}, F::ExecuteAndCopy},
        {14, "con_sLc2", 0, 0, true, false, false, {"S_out1"}, {"C1_in_1"}, F::Forward},
        {15, "con_Vxs5", 0, 0, true, false, false, {"C1_out1"}, {"A_in_1_1"}, F::Forward},
        {16, "con_KSdj", 0, 0, true, false, false, {"C1_out2"}, {"A_in_2_1"}, F::Forward},
        {17, "con_bxwf", 0, 0, true, false, false, {"P_In_out1"}, {"P_Out_in_1"}, F::Forward},
        {18, "con_Q2pv", 0, 0, true, false, false, {"S2_out1"}, {"P_in_2"}, F::Forward},
        {19, "con_0ogb", 0, 0, true, false, false, {"S1_out1"}, {"P_in_1"}, F::Forward},
        {20, "con_9K4e", 0, 0, true, false, false, {"P_out1"}, {"Act1_in_1"}, F::Forward},
        {21, "con_xgVM", 0, 0, true, false, false, {"P_out2"}, {"Act2_in_1"}, F::Forward},
        {22, "con_WnTU", 0, 0, true, false, false, {"S3_out1"}, {"Binary_in_1"}, F::Forward},
        {23, "con_uOSv", 0, 0, true, false, false, {"Binary_out1"}, {"A3_in_1"}, F::Forward},
        {24, "C1_post_execution", 1, 1, false, true, false, {"C1_executed"},
         {pool, "C1_out1", "C1_out2"}, F::ReleaseAndFork},
        {25, "C1_ready", 1, 1, false, true, false, {"C1_sem", "C1_in_1"}, {"C1_main"}, F::Acquire},
        {26, "S_post_execution", 1, 1, false, true, false, {"S_executed"}, {pool, "S_out1"},
         F::ReleaseAndPass},
        {27, "A_post_execution", 1, 1, false, true, false, {"A_executed"}, {pool}, F::Finish},
        {28, "A_ready", 1, 1, false, true, false, {"A_in_1"}, {"A_main"}, F::Forward},
        {29, "A_in_1_merge", 1, 1, false, true, false, {"A_in_1_1", "A_in_2_1"}, {"A_in_1"}, F::Merge},
        {30, "P_In_post_execution", 1, 1, false, true, false, {"P_In_executed"}, {pool, "P_In_out1"},
         F::ReleaseAndPass},
        {31, "P_Out_post_execution", 1, 1, false, true, false, {"P_Out_executed"}, {pool}, F::Finish},
        {32, "P_Out_ready", 1, 1, false, true, false, {"P_Out_in_1"}, {"P_Out_main"}, F::Forward},
        {33, "P_post_execution", 1, 1, false, true, false, {"P_executed"}, {pool, "P_out1", "P_out2"},
         F::ReleaseAndFork},
        {34, "P_ready", 1, 1, false, true, false, {"P_in_1", "P_in_2"}, {"P_main"}, F::Join},
        {35, "S1_post_execution", 1, 1, false, true, false, {"S1_executed"}, {pool, "S1_out1"},
         F::ReleaseAndPass},
        {36, "S2_post_execution", 1, 1, false, true, false, {"S2_executed"}, {pool, "S2_out1"},
         F::ReleaseAndPass},
        {37, "Act1_post_execution", 1, 1, false, true, false, {"Act1_executed"}, {pool}, F::Finish},
        {38, "Act1_ready", 1, 1, false, true, false, {"Act1_in_1"}, {"Act1_main"}, F::Forward},
        {39, "Act2_post_execution", 1, 1, false, true, false, {"Act2_executed"}, {pool}, F::Finish},
        {40, "Act2_ready", 1, 1, false, true, false, {"Act2_in_1"}, {"Act2_main"}, F::Forward},
        {41, "S3_post_execution", 1, 1, false, true, false, {"S3_executed"}, {pool, "S3_out1"},
         F::ReleaseAndPass},
        {42, "A3_post_execution", 1, 1, false, true, false, {"A3_executed"}, {pool}, F::Finish},
        {43, "A3_ready", 1, 1, false, true, false, {"A3_in_1"}, {"A3_main"}, F::Forward},
        {44, "Binary_post_execution", 1, 1, false, true, false, {"Binary_executed"}, {"Binary_out1"},
         F::Renew},
        {45, "Binary_ready", 1, 1, false, true, false, {"Binary_in_1"}, {"Binary_main"}, F::Forward},
        {46, "Binary_not_OOD", 1, 1, false, true, false, {"Binary_in_data"}, {"Binary_data_gen"},
         F::Forward},
        {47, "Binary_OOD", 0, 1, false, true, false, {"Binary_in_data"}, {"Binary_cf"}, F::Mark},
        {48, "Binary_ClassTruth", 0.9688249400479616, 1, false, true, false, {"Binary_data_gen"},
         {"Binary_ct"}, F::LabelTruth},
        {49, "Binary_ClassOther", 0.031175059952038398, 1, false, true, false, {"Binary_data_gen"},
         {"Binary_cf"}, F::LabelOther},
        {50, "Binary_ct_tp", 0.9900990099009901, 1, false, true, false, {"Binary_ct"}, {"Binary_tp"},
         F::Forward},
        {51, "Binary_ct_fn", 0.00990099009900991, 1, false, true, false, {"Binary_ct"}, {"Binary_fn"},
         F::Forward},
        {52, "Binary__cf_tn", 0.6153846153846154, 1, false, true, false, {"Binary_cf"}, {"Binary_tn"},
         F::Forward},
        {53, "Binary_cf_fp", 0.3846153846153846, 1, false, true, false, {"Binary_cf"}, {"Binary_fp"},
         F::Forward},
    };
    return rows;
}

// The kind of token a binding variable takes.
enum class Colour { Int, Data };

struct Variable {
    std::string name;   // x, y, pool, limit
    std::string place;  // the net place it is bound from
    Colour colour;
};

// The binding variables of a transition, in binding order.
inline std::vector<Variable> variablesOf(const TransitionRow& r) {
    switch (r.family) {
        case Family::Source: return {{"pool", r.inputs[0], Colour::Int}};
        case Family::Execute:
        case Family::ExecuteAndSignal:
            return {{"x", r.inputs[0], Colour::Data}, {"pool", r.inputs[1], Colour::Int}};
        case Family::Acquire:
            return {{"limit", r.inputs[0], Colour::Int}, {"x", r.inputs[1], Colour::Data}};
        case Family::Join:
        case Family::Merge:
            return {{"x", r.inputs[0], Colour::Data}, {"y", r.inputs[1], Colour::Data}};
        default: return {{"x", r.inputs[0], Colour::Data}};
    }
}

// A marking file: `pool` tokens for "P_thread_pool" and `slots` for "C1_sem",
// with the given values.
inline std::string markingWithValues(const std::vector<long>& pool, const std::vector<long>& slots) {
    std::string xml = "<?xml version=\"1.0\"?>\n<marking>\n";
    for (long v : pool) xml += "  <token place=\"P_thread_pool\" value=\"" + std::to_string(v) + "\"/>\n";
    for (long v : slots) xml += "  <token place=\"C1_sem\" value=\"" + std::to_string(v) + "\"/>\n";
    return xml + "</marking>\n";
}

// The compiled net built in a temporary working directory whose marking.xml
// holds `marking`. The directory stays the current one while the object lives.
class BuiltNet {
public:
    explicit BuiltNet(const std::string& marking = testsupport::markingXml())
        : cwd_(writeMarking(dir_, marking)) {
        net.buildNet();
    }

    Place& place(const std::string& name) {
        Place* p = net.getPlace(name);
        if (p == nullptr) throw std::runtime_error("no place " + name);
        return *p;
    }
    Transition& transition(const std::string& name) {
        Transition* t = net.getTransition(name.c_str());
        if (t == nullptr) throw std::runtime_error("no transition " + name);
        return *t;
    }

    // What the driver does before a run: every transition starts up (in
    // name order) and searches its first binding.
    void startAll() {
        for (const auto& entry : net.getTransitions()) entry.second->startup();
    }

    Ptr<Token> addInt(const std::string& placeName, long value) {
        Ptr<Token> token(new Token_int(value));
        place(placeName).addToken(token);
        return token;
    }
    Ptr<Token> addData(const std::string& placeName, Ptr<Token_Data>* typed = nullptr) {
        Ptr<Token_Data> token(new Token_Data());
        if (typed != nullptr) *typed = token;
        place(placeName).addToken(Ptr<Token>(token));
        return Ptr<Token>(token);
    }

    // The token objects on every place, by place name.
    std::map<std::string, std::vector<Token*>> snapshot() {
        std::map<std::string, std::vector<Token*>> s;
        for (const auto& entry : net.getPlaces()) {
            std::vector<Token*>& tokens = s[entry.first];
            for (const Ptr<Token>& t : entry.second->getFullMarking()) tokens.push_back(t.GetRawPtr());
        }
        return s;
    }

    // How many places of the net hold this very object (counting repeats).
    int occurrences(const Token* token) {
        int n = 0;
        for (const auto& entry : net.getPlaces())
            for (const Ptr<Token>& t : entry.second->getFullMarking())
                if (t.GetRawPtr() == token) ++n;
        return n;
    }

private:
    static const std::filesystem::path& writeMarking(const testsupport::TempDir& dir,
                                                     const std::string& marking) {
        dir.write("marking.xml", marking);
        return dir.path();
    }

    testsupport::TempDir dir_;
    testsupport::ScopedCwd cwd_;

public:
    ImplementedNetClass net;
};

}  // namespace modeltest
