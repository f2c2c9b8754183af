// The compiled transitions of the model: which tokens they bind, what firing
// does to the marking (family by family, for every transition), their delays,
// and the model's copyToken / upcastToken.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "Token_Data.h"
#include "engine/Binding.h"
#include "engine/RandomWrapper.h"
#include "model/ModelNet.h"
#include "support/TestNet.h"

using modeltest::BuiltNet;
using modeltest::Colour;
using modeltest::Family;
using modeltest::TransitionRow;
using modeltest::transitionRows;
using modeltest::Variable;
using modeltest::variablesOf;
using ReferenceCountedSmartPointer::Dynamic_Cast;
using testnet::CountingToken;
using testnet::handleCount;

namespace {

const char* const kDefaultContent = "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}";

// A job with every attribute away from its default.
Ptr<Token_Data> job(const std::string& n, long s) {
    Ptr<Token_Data> t(new Token_Data());
    t->set_n(n);
    t->set_s(s);
    t->set_l(s + 1);
    t->set_gT(DateTime("01:02:03@04/05/2006"));
    t->set_d(true);
    t->set_gL(s + 2);
    return t;
}

std::string jobContent(const std::string& n, long s, bool ood = false, long tL = 0) {
    return "{n=\"" + n + "\"; s=" + std::to_string(s) + "; l=" + std::to_string(s + 1) +
           "; gT=01:02:03@04/05/2006; d=1; ood=" + (ood ? "1" : "0") + "; tL=" + std::to_string(tL) +
           "; gL=" + std::to_string(s + 2) + "}";
}

// Frees a candidate list returned by generateBindingList.
void release(TempBindingList* list) {
    if (list == nullptr) return;
    for (TokenList* candidate : *list) delete candidate;
    delete list;
}

std::vector<Token*> raw(const TokenList& tokens) {
    std::vector<Token*> out;
    for (const Ptr<Token>& t : tokens) out.push_back(t.GetRawPtr());
    return out;
}

// What a firing is expected to append to an output place.
struct Produced {
    enum Kind { Same, NewData, NewInt0, CopyOf } kind;
    Token* token = nullptr;  // Same / CopyOf: the token meant
};

// A net whose every input place offers a token of the wrong colour first and
// then two fitting ones:
//  - "P_thread_pool" and "C1_sem": a job, then Token_int 7 and 8 (5 and 6);
//  - every place a job variable is bound from: Token_int 99, then two jobs.
// The marking file gives no tokens, so everything on the net is known.
class FamilyNet {
public:
    FamilyNet() : n(modeltest::markingWithValues({}, {})) {
        n.addData("P_thread_pool");
        n.addInt("P_thread_pool", 7);
        n.addInt("P_thread_pool", 8);
        n.addData("C1_sem");
        n.addInt("C1_sem", 5);
        n.addInt("C1_sem", 6);
        std::set<std::string> jobPlaces;
        for (const TransitionRow& r : transitionRows())
            for (const Variable& v : variablesOf(r))
                if (v.colour == Colour::Data) jobPlaces.insert(v.place);
        for (const std::string& p : jobPlaces) {
            n.addInt(p, 99);
            Ptr<Token_Data> first = job(p + "#1", static_cast<long>(first_.size()) * 10 + 10);
            Ptr<Token_Data> second = job(p + "#2", 1000);
            n.place(p).addToken(Ptr<Token>(first));
            n.place(p).addToken(Ptr<Token>(second));
            first_[p] = first;
            firstS_[p] = first->get_s();
        }
    }

    // The token a variable must bind: the first of its colour on its place.
    Token* expectedToken(const Variable& v) {
        const TokenList& marking = n.place(v.place).getFullMarking();
        auto it = marking.begin();
        ++it;  // the token of the wrong colour
        return it->GetRawPtr();
    }
    std::string firstJobContent(const std::string& place, bool ood = false, long tL = 0) {
        return jobContent(place + "#1", firstS_.at(place), ood, tL);
    }

    BuiltNet n;

private:
    std::map<std::string, Ptr<Token_Data>> first_;
    std::map<std::string, long> firstS_;
};

std::vector<Produced> expectedOutputs(const TransitionRow& r, const std::vector<Token*>& bound) {
    using P = Produced;
    Token* x = nullptr;
    const std::vector<Variable> vars = variablesOf(r);
    for (std::size_t i = 0; i < vars.size(); ++i)
        if (vars[i].name == "x") x = bound[i];
    switch (r.family) {
        case Family::Source: return {{P::NewData}};
        case Family::Execute: return {{P::Same, x}};
        case Family::ExecuteAndSignal: return {{P::Same, x}, {P::NewInt0}};
        case Family::ExecuteAndCopy: return {{P::Same, x}, {P::CopyOf, x}};
        case Family::Forward: return {{P::Same, x}};
        case Family::Finish: return {{P::NewInt0}};
        case Family::ReleaseAndPass: return {{P::NewInt0}, {P::NewData}};
        case Family::ReleaseAndFork: return {{P::NewInt0}, {P::NewData}, {P::NewData}};
        case Family::Acquire: return {{P::Same, x}};
        case Family::Join: return {{P::Same, x}};
        case Family::Merge: return {{P::NewData}};
        case Family::LabelTruth: return {{P::Same, x}};
        case Family::LabelOther: return {{P::Same, x}};
        case Family::Mark: return {{P::Same, x}};
        case Family::Renew: return {{P::NewData}};
    }
    return {};
}

// Fires transition `r` once on a FamilyNet and checks the binding it used and
// every place of the net afterwards.
void checkFamily(const TransitionRow& r) {
    FamilyNet f;
    BuiltNet& n = f.n;
    n.startAll();
    Transition& t = n.transition(r.name);
    Binding* b = t.getNextEvent();
    ASSERT_NE(b, nullptr);

    // The binding: per variable, in binding order, the first token of its colour.
    const std::vector<Variable> vars = variablesOf(r);
    std::vector<Token*> expectedBound;
    for (const Variable& v : vars) expectedBound.push_back(f.expectedToken(v));
    ASSERT_NE(b->getBoundTokens(), nullptr);
    const std::vector<Token*> bound = raw(*b->getBoundTokens());
    ASSERT_EQ(bound, expectedBound);
    if (r.immediate) {
        EXPECT_EQ(b->getTime().FullDateTime(), 0.0);
    } else {
        EXPECT_GT(b->getTime().FullDateTime(), 0.0);
    }

    const auto before = n.snapshot();
    std::set<long> oldIds;
    for (const auto& entry : before)
        for (Token* token : entry.second) oldIds.insert(token->getID());
    std::set<Token*> oldObjects;
    for (const auto& entry : before) oldObjects.insert(entry.second.begin(), entry.second.end());

    // Keep the bound tokens alive to inspect them after the firing.
    const TokenList boundHandles = *b->getBoundTokens();
    t.fire(b, 1.0);
    const auto after = n.snapshot();
    EXPECT_EQ(t.getFireCount(), 1);

    // Inputs lose exactly their bound token.
    for (std::size_t i = 0; i < vars.size(); ++i) {
        std::vector<Token*> expected = before.at(vars[i].place);
        expected.erase(std::find(expected.begin(), expected.end(), bound[i]));
        EXPECT_EQ(after.at(vars[i].place), expected) << vars[i].place;
    }

    // Outputs keep what they had and receive the family's tokens, in order.
    const std::vector<Produced> produced = expectedOutputs(r, bound);
    ASSERT_EQ(produced.size(), r.outputs.size());
    std::set<Token*> newObjects;
    for (std::size_t k = 0; k < r.outputs.size(); ++k) {
        const std::string& out = r.outputs[k];
        SCOPED_TRACE(out);
        const std::vector<Token*>& old = before.at(out);
        const std::vector<Token*>& now = after.at(out);
        ASSERT_EQ(now.size(), old.size() + 1);
        EXPECT_TRUE(std::equal(old.begin(), old.end(), now.begin()));
        Token* added = now.back();
        const Produced& p = produced[k];
        switch (p.kind) {
            case Produced::Same:
                EXPECT_EQ(added, p.token);
                break;
            case Produced::NewData:
                EXPECT_EQ(added->getName(), "Data");
                EXPECT_NE(dynamic_cast<Token_Data*>(added), nullptr);
                EXPECT_EQ(added->content(), kDefaultContent);
                EXPECT_EQ(oldObjects.count(added), 0u);
                EXPECT_EQ(oldIds.count(added->getID()), 0u);
                EXPECT_TRUE(newObjects.insert(added).second);
                break;
            case Produced::NewInt0: {
                auto* i = dynamic_cast<Token_int*>(added);
                ASSERT_NE(i, nullptr);
                EXPECT_EQ(i->getValue(), 0);
                EXPECT_EQ(oldObjects.count(added), 0u);
                EXPECT_EQ(oldIds.count(added->getID()), 0u);
                EXPECT_TRUE(newObjects.insert(added).second);
                break;
            }
            case Produced::CopyOf:
                EXPECT_NE(added, p.token);
                EXPECT_NE(dynamic_cast<Token_Data*>(added), nullptr);
                EXPECT_EQ(added->getID(), p.token->getID());
                EXPECT_EQ(added->getTimeStamp().FullDateTime(), p.token->getTimeStamp().FullDateTime());
                EXPECT_EQ(added->content(), p.token->content());
                EXPECT_TRUE(added->getTransitions().empty());
                break;
        }
    }

    // Nothing else changes.
    for (const auto& entry : before) {
        const bool involved =
            std::find(r.inputs.begin(), r.inputs.end(), entry.first) != r.inputs.end() ||
            std::find(r.outputs.begin(), r.outputs.end(), entry.first) != r.outputs.end();
        if (!involved) {
            EXPECT_EQ(after.at(entry.first), entry.second) << entry.first;
        }
    }

    // A bound token that is not put out again is gone from the net; one that
    // is put out lies on exactly one place.
    for (std::size_t i = 0; i < vars.size(); ++i) {
        const bool passedOn = std::any_of(produced.begin(), produced.end(), [&](const Produced& p) {
            return p.kind == Produced::Same && p.token == bound[i];
        });
        EXPECT_EQ(n.occurrences(bound[i]), passedOn ? 1 : 0) << vars[i].name;
    }

    // Attributes: changed only where the family says so.
    for (std::size_t i = 0; i < vars.size(); ++i) {
        if (vars[i].colour != Colour::Data) continue;
        const bool isX = vars[i].name == "x";
        const bool ood = isX && r.family == Family::Mark;
        const long tL = !isX ? 0 : r.family == Family::LabelTruth ? 1 : r.family == Family::LabelOther ? 2 : 0;
        EXPECT_EQ(bound[i]->content(), f.firstJobContent(vars[i].place, ood, tL)) << vars[i].name;
    }
    // The bound handles still refer to the bound objects.
    EXPECT_EQ(raw(boundHandles), bound);
}

}  // namespace

// ---------------------------------------------------------------------------
// Token moves of every transition

TEST(ModelFiring, EveryTransitionMovesTheTokensOfItsFamily) {
    for (const TransitionRow& r : transitionRows()) {
        SCOPED_TRACE(r.name);
        checkFamily(r);
    }
}

TEST(ModelFiring, SourceThenPostExecutionReturnsTheThread) {
    BuiltNet n(modeltest::markingWithValues({5, 6}, {}));
    n.startAll();
    Place& pool = n.place("P_thread_pool");
    Transition& ready = n.transition("S_ready");
    ready.fire(ready.getNextEvent(), 1.0);
    ASSERT_EQ(pool.getMarkingSize(), 1);
    EXPECT_EQ(Dynamic_Cast<Token_int>(pool.getFullMarking().front())->getValue(), 6);
    ASSERT_EQ(n.place("S_executed").getMarkingSize(), 1);
    Token* jobObject = n.place("S_executed").getFullMarking().front().GetRawPtr();
    EXPECT_EQ(jobObject->content(), kDefaultContent);

    Transition& post = n.transition("S_post_execution");
    Binding* b = post.getNextEvent();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(raw(*b->getBoundTokens()), std::vector<Token*>{jobObject});
    post.fire(b, 1.0);
    ASSERT_EQ(pool.getMarkingSize(), 2);
    EXPECT_EQ(Dynamic_Cast<Token_int>(pool.getFullMarking().back())->getValue(), 0);
    EXPECT_EQ(n.place("S_executed").getMarkingSize(), 0);
    ASSERT_EQ(n.place("S_out1").getMarkingSize(), 1);
    EXPECT_NE(n.place("S_out1").getFullMarking().front().GetRawPtr(), jobObject);
    EXPECT_EQ(n.place("S_out1").getFullMarking().front()->content(), kDefaultContent);
    EXPECT_EQ(n.occurrences(jobObject), 0);
}

TEST(ModelFiring, BinaryExecutionMakesTwoObjectsWithOneIdentity) {
    BuiltNet n;
    Ptr<Token_Data> x = job("classify me", 42);
    x->set_ood(true);
    x->set_tL(2);
    n.place("Binary_main").addToken(Ptr<Token>(x));
    n.startAll();
    Transition& t = n.transition("Binary_execution");
    t.fire(t.getNextEvent(), 1.0);
    ASSERT_EQ(n.place("Binary_executed").getMarkingSize(), 1);
    ASSERT_EQ(n.place("Binary_in_data").getMarkingSize(), 1);
    const Ptr<Token> executed = n.place("Binary_executed").getFullMarking().front();
    const Ptr<Token> copy = n.place("Binary_in_data").getFullMarking().front();
    EXPECT_TRUE(executed == x);
    EXPECT_FALSE(copy == x);
    EXPECT_EQ(copy->getID(), x->getID());
    EXPECT_TRUE(*copy == *x);
    Ptr<Token_Data> c = Dynamic_Cast<Token_Data>(copy);
    ASSERT_TRUE(c != 0);
    EXPECT_EQ(c->get_n(), "classify me");
    EXPECT_EQ(c->get_s(), 42);
    EXPECT_EQ(c->get_l(), 43);
    EXPECT_EQ(c->get_gT().FullDateTime(), DateTime("01:02:03@04/05/2006").FullDateTime());
    EXPECT_TRUE(c->get_d());
    EXPECT_TRUE(c->get_ood());
    EXPECT_EQ(c->get_tL(), 2);
    EXPECT_EQ(c->get_gL(), 44);
    // The two are independent: changing one leaves the other.
    c->set_s(1);
    EXPECT_EQ(x->get_s(), 42);
    // The thread pool is not involved.
    EXPECT_EQ(n.place("P_thread_pool").getMarkingSize(), 4);
}

TEST(ModelFiring, ClassifierPathLabelsAndMarksTheCopy) {
    BuiltNet n(modeltest::markingWithValues({}, {}));
    Ptr<Token_Data> a = job("a", 1);
    Ptr<Token_Data> b = job("b", 2);
    n.place("Binary_in_data").addToken(Ptr<Token>(a));
    n.place("Binary_data_gen").addToken(Ptr<Token>(b));
    n.startAll();
    auto fire = [&](const char* name) {
        Transition& t = n.transition(name);
        Binding* e = t.getNextEvent();
        ASSERT_NE(e, nullptr) << name;
        t.fire(e, 1.0);
    };
    fire("Binary_OOD");
    EXPECT_TRUE(a->get_ood());
    EXPECT_EQ(a->get_tL(), 0);
    fire("Binary_ClassTruth");
    EXPECT_EQ(b->get_tL(), 1);
    EXPECT_FALSE(b->get_ood());
    fire("Binary_ct_tp");
    fire("Binary__cf_tn");
    ASSERT_EQ(n.place("Binary_tp").getMarkingSize(), 1);
    ASSERT_EQ(n.place("Binary_tn").getMarkingSize(), 1);
    EXPECT_TRUE(n.place("Binary_tp").getFullMarking().front() == b);
    EXPECT_TRUE(n.place("Binary_tn").getFullMarking().front() == a);
    EXPECT_EQ(b->content(), jobContent("b", 2, false, 1));
    EXPECT_EQ(a->content(), jobContent("a", 1, true, 0));

    Ptr<Token_Data> c = job("c", 3);
    n.place("Binary_data_gen").addToken(Ptr<Token>(c));
    n.transition("Binary_ClassOther").searchConfiguration();
    fire("Binary_ClassOther");
    EXPECT_EQ(c->get_tL(), 2);
    fire("Binary_cf_fp");
    ASSERT_EQ(n.place("Binary_fp").getMarkingSize(), 1);
    EXPECT_TRUE(n.place("Binary_fp").getFullMarking().front() == c);
}

// ---------------------------------------------------------------------------
// Enabling

TEST(ModelFiring, EmptyThreadPoolDisablesSourcesAndExecutionsButNotTheClassifier) {
    BuiltNet n(modeltest::markingWithValues({}, {0, 0, 0, 0, 0}));
    for (const TransitionRow& r : transitionRows())
        for (const Variable& v : variablesOf(r))
            if (v.colour == Colour::Data) n.addData(v.place);
    n.startAll();
    int poolUsers = 0;
    for (const TransitionRow& r : transitionRows()) {
        const bool usesPool = std::find(r.inputs.begin(), r.inputs.end(), "P_thread_pool") != r.inputs.end();
        poolUsers += usesPool ? 1 : 0;
        if (usesPool) {
            EXPECT_EQ(n.transition(r.name).getNextEvent(), nullptr) << r.name;
        } else {
            EXPECT_NE(n.transition(r.name).getNextEvent(), nullptr) << r.name;
        }
    }
    EXPECT_EQ(poolUsers, 12);
    EXPECT_NE(n.transition("Binary_execution").getNextEvent(), nullptr);

    // One thread enables all twelve again, each bound to that thread.
    Ptr<Token> thread = n.addInt("P_thread_pool", 0);
    for (Transition* t : n.place("P_thread_pool").getOutTransitions()) {
        t->searchConfiguration();
        ASSERT_NE(t->getNextEvent(), nullptr) << t->getName();
        EXPECT_TRUE(t->getNextEvent()->getBoundTokens()->back() == thread) << t->getName();
    }
}

TEST(ModelFiring, EmptySemaphoreDisablesC1Ready) {
    {
        BuiltNet n(modeltest::markingWithValues({0}, {}));
        n.addData("C1_in_1");
        n.addData("C1_in_1");
        n.startAll();
        EXPECT_EQ(n.transition("C1_ready").getNextEvent(), nullptr);
        TempBindingList* list = n.transition("C1_ready").generateBindingList();
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(list->empty());
        release(list);
    }
    {
        BuiltNet n(modeltest::markingWithValues({0}, {3}));
        n.addData("C1_in_1");
        n.startAll();
        EXPECT_NE(n.transition("C1_ready").getNextEvent(), nullptr);
    }
}

TEST(ModelFiring, TokensOfTheWrongColourAreNeverBound) {
    // Jobs on the integer places, integers on the job places: nothing is enabled.
    BuiltNet n(modeltest::markingWithValues({}, {}));
    n.addData("P_thread_pool");
    n.addData("C1_sem");
    for (const TransitionRow& r : transitionRows())
        for (const Variable& v : variablesOf(r))
            if (v.colour == Colour::Data && n.place(v.place).getMarkingSize() == 0) n.addInt(v.place, 0);
    const auto before = n.snapshot();
    n.startAll();
    for (const TransitionRow& r : transitionRows()) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(n.transition(r.name).getNextEvent(), nullptr);
        TempBindingList* list = n.transition(r.name).generateBindingList();
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(list->empty());
        release(list);
    }
    EXPECT_EQ(n.snapshot(), before);
}

// ---------------------------------------------------------------------------
// Binding search

TEST(ModelBinding, OneCandidateOfTheFirstTokensInBindingOrder) {
    BuiltNet n(modeltest::markingWithValues({}, {}));
    // A3_execution: x from "A3_main", then pool from "P_thread_pool".
    n.addInt("A3_main", 1);
    Ptr<Token> a1 = n.addData("A3_main");
    n.addData("A3_main");
    n.addData("P_thread_pool");
    Ptr<Token> i1 = n.addInt("P_thread_pool", 1);
    n.addInt("P_thread_pool", 2);
    TempBindingList* list = n.transition("A3_execution").generateBindingList();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(raw(*list->front()), (std::vector<Token*>{a1.GetRawPtr(), i1.GetRawPtr()}));
    release(list);

    // P_ready: x from "P_in_1", y from "P_in_2".
    Ptr<Token> x1 = n.addData("P_in_1");
    n.addData("P_in_1");
    n.addInt("P_in_2", 0);
    Ptr<Token> y1 = n.addData("P_in_2");
    n.addData("P_in_2");
    list = n.transition("P_ready").generateBindingList();
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(raw(*list->front()), (std::vector<Token*>{x1.GetRawPtr(), y1.GetRawPtr()}));
    release(list);

    // C1_ready: limit from "C1_sem" first, then x from "C1_in_1".
    Ptr<Token> s1 = n.addInt("C1_sem", 0);
    n.addInt("C1_sem", 0);
    Ptr<Token> c1 = n.addData("C1_in_1");
    list = n.transition("C1_ready").generateBindingList();
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(raw(*list->front()), (std::vector<Token*>{s1.GetRawPtr(), c1.GetRawPtr()}));
    release(list);

    // The search changes no marking.
    EXPECT_EQ(n.place("A3_main").getMarkingSize(), 3);
    EXPECT_EQ(n.place("P_in_2").getMarkingSize(), 3);
}

TEST(ModelBinding, NoCandidateGivesAnEmptyList) {
    BuiltNet n(modeltest::markingWithValues({}, {}));
    n.addData("P_in_1");  // a job for x but none for y
    n.addData("A_in_2_1");  // a job for y but none for x
    for (const char* name : {"P_ready", "A_in_1_merge", "S_ready", "A3_execution", "Binary_cf_fp"}) {
        TempBindingList* list = n.transition(name).generateBindingList();
        ASSERT_NE(list, nullptr) << name;
        EXPECT_TRUE(list->empty()) << name;
        release(list);
    }
}

// ---------------------------------------------------------------------------
// Delays

TEST(ModelDelay, ImmediateTransitionsTakeNoTimeTimedOnesAreExponentialWithMeanOne) {
    const unsigned long seed[6] = {12345, 23456, 34567, 45678, 56789, 67890};
    ASSERT_TRUE(RandomWrapper::SetPackageSeed(seed));
    BuiltNet n(modeltest::markingWithValues({0}, {0}));
    for (const TransitionRow& r : transitionRows()) {
        SCOPED_TRACE(r.name);
        TokenList binding;
        for (const Variable& v : variablesOf(r))
            binding.push_back(v.colour == Colour::Int ? Ptr<Token>(new Token_int(0)) : Ptr<Token>(new Token_Data()));
        const Transition& t = n.transition(r.name);
        if (r.immediate) {
            EXPECT_EQ(t.getFiringDelay(binding), 0.0);
            continue;
        }
        const int draws = 4000;
        double sum = 0.0;
        double smallest = 1e300;
        for (int i = 0; i < draws; ++i) {
            const double d = t.getFiringDelay(binding);
            sum += d;
            smallest = std::min(smallest, d);
        }
        EXPECT_GT(smallest, 0.0);
        // Mean 1 and standard deviation 1: the sample mean lies within 6
        // standard errors of 1.
        EXPECT_NEAR(sum / draws, 1.0, 6.0 / std::sqrt(static_cast<double>(draws)));
    }
}

// ---------------------------------------------------------------------------
// copyToken / upcastToken

TEST(ModelTokenCopy, CopyOfAJobIsADistinctObjectWithTheSameIdentityAndAttributes) {
    BuiltNet n;
    Ptr<Token_Data> original = job("copied", 5);
    original->set_tL(1);
    Transition* holder = &n.transition("A_ready");
    original->addTransition(holder);
    Ptr<Token> copy = n.net.copyToken(Ptr<Token>(original));
    ASSERT_TRUE(copy != 0);
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(copy->getName(), "Data");
    EXPECT_EQ(copy->getID(), original->getID());
    EXPECT_EQ(copy->content(), original->content());
    EXPECT_EQ(copy->getTransitions(), Token::TransitionList{holder});
    ASSERT_TRUE(Dynamic_Cast<Token_Data>(copy) != 0);
    original->removeTransition(holder);
}

TEST(ModelTokenCopy, CopyOfAnIntegerKeepsValueAndIdentity) {
    BuiltNet n;
    Ptr<Token> original(new Token_int(-17));
    Ptr<Token> copy = n.net.copyToken(original);
    ASSERT_TRUE(copy != 0);
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(copy->getName(), "int");
    EXPECT_EQ(copy->getID(), original->getID());
    ASSERT_TRUE(Dynamic_Cast<Token_int>(copy) != 0);
    EXPECT_EQ(Dynamic_Cast<Token_int>(copy)->getValue(), -17);
}

TEST(ModelTokenCopy, UpcastReturnsTheSameObjectSharingItsCount) {
    BuiltNet n;
    for (Ptr<Token> token : {Ptr<Token>(new Token_Data()), Ptr<Token>(new Token_int(3))}) {
        SCOPED_TRACE(token->getName());
        const unsigned long count = handleCount(token);
        Ptr<Token> up = n.net.upcastToken(token);
        EXPECT_TRUE(up == token);
        EXPECT_EQ(up.GetRefObject(), token.GetRefObject());
        EXPECT_EQ(handleCount(token), count + 1);
    }
}

TEST(ModelTokenCopy, UnknownColoursGiveEmptyHandles) {
    BuiltNet n;
    Ptr<Token> foreign(new CountingToken(nullptr, "Job"));
    EXPECT_TRUE(n.net.copyToken(foreign) == 0);
    EXPECT_TRUE(n.net.upcastToken(foreign) == 0);
    // A colour that only calls itself "Data" is not the model's record colour.
    Ptr<Token> impostor(new CountingToken(nullptr, "Data"));
    EXPECT_TRUE(n.net.copyToken(impostor) == 0);
    EXPECT_TRUE(n.net.upcastToken(impostor) == 0);
    EXPECT_TRUE(n.net.copyToken(Ptr<Token>()) == 0);
    EXPECT_TRUE(n.net.upcastToken(Ptr<Token>()) == 0);
}
