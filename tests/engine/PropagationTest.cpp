// Firing a transition and how the change reaches the other transitions: the
// token channel (withdrawing bindings that hold consumed tokens), the
// structural channel (could-enable / could-disable notifications) and the
// guard channel (places telling the transitions whose global guard reads
// them), plus the measures and the result channel around a firing.
#include "engine/Transition.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/EngineTestDoubles.h"
#include "support/TestSupport.h"

using namespace enginetest;
using testsupport::TempDir;

namespace {

// A search that offers one candidate: the first free token of every input
// place (used where the test wants to know which tokens get bound).
void bindFirstFreeTokens(TestTransition* t) {
    t->generator = [t] {
        auto* list = new TempBindingList;
        TokenList candidate;
        for (Place* p : t->getInPlaces()) {
            bool found = false;
            for (const Ptr<Token>& x : t->getPlaceMarking(*p))
                if (lies(p, x) && !holds(candidate, x)) {
                    candidate.push_back(x);
                    found = true;
                    break;
                }
            if (!found) return list;
        }
        list->push_back(new TokenList(candidate));
        return list;
    };
}

// Fires `t`'s next event the way a driver does: clock first.
void fireNext(Env& env, TestTransition* t, double weight = 1.0) {
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr) << t->getName() << " has no event";
    env.sim->updateSimulationTime(b->getTime());
    t->fire(b, weight);
}

// Asserts that `expected` occur in `ls` in this order.
void expectInOrder(const std::vector<std::string>& ls, const std::vector<std::string>& expected) {
    long at = -1;
    for (const std::string& line : expected) {
        const long next = findLine(ls, line, at + 1);
        EXPECT_GT(next, at) << "missing or out of order: \"" << line << "\"";
        if (next > at) at = next;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// A producer and a consumer around a bounded buffer

TEST(PropagationProducerConsumer, EnablingFollowsTheTokensAroundTheCycle) {
    Env env;
    Place* pool = makePlace(env.net, 1, "Pool");
    Place* buffer = makePlace(env.net, 2, "Buffer", 1);
    TestTransition* consumer = addTransition(env.net, 1, "Consumer");
    TestTransition* producer = addTransition(env.net, 2, "Producer");
    producer->fixedDelay = 2.0;
    consumer->fixedDelay = 3.0;
    producer->in(pool)->out(buffer);
    consumer->in(buffer)->out(pool);
    put(pool);
    put(pool);
    const long firedBefore = Transition::globalFireCount;
    consumer->startup();
    producer->startup();
    EXPECT_EQ(producer->getCouldEnableTransitions(), (std::list<Transition*>{consumer, consumer}));
    EXPECT_TRUE(producer->getCouldDisableTransitions().empty());
    EXPECT_TRUE(consumer->getEvents().empty());
    ASSERT_EQ(producer->getEvents().size(), 1u);
    EXPECT_EQ(producer->getNextEvent()->getTime().FullDateTime(), 2.0);

    fireNext(env, producer);

    EXPECT_EQ(pool->getMarkingSize(), 1);
    EXPECT_EQ(buffer->getMarkingSize(), 1);
    // The consumer found the new token on the first notification and kept
    // its binding on the second.
    ASSERT_EQ(consumer->getEvents().size(), 1u);
    EXPECT_EQ(*consumer->getNextEvent()->getBoundTokens(), buffer->getFullMarking());
    EXPECT_EQ(consumer->getNextEvent()->getTime().FullDateTime(), 5.0);
    EXPECT_EQ(consumer->generateCalls, 2);
    // The buffer is full: the producer waits although the pool has a token.
    EXPECT_TRUE(producer->getEvents().empty());
    EXPECT_FALSE(producer->getInEventList());

    fireNext(env, consumer);

    EXPECT_EQ(pool->getMarkingSize(), 2);
    EXPECT_EQ(buffer->getMarkingSize(), 0);
    EXPECT_TRUE(consumer->getEvents().empty());
    ASSERT_EQ(producer->getEvents().size(), 1u);
    EXPECT_EQ(producer->getNextEvent()->getTime().FullDateTime(), 7.0);
    EXPECT_EQ(producer->getFireCount(), 1);
    EXPECT_EQ(consumer->getFireCount(), 1);
    EXPECT_EQ(Transition::globalFireCount, firedBefore + 2);
}

// ---------------------------------------------------------------------------
// Token channel

TEST(PropagationSharedToken, WithdrawnBindingIsReplacedWithANewlyDrawnDelay) {
    Env env;
    Place* p = makePlace(env.net, 1, "P", 0, true);  // both see only the oldest token
    Place* done = makePlace(env.net, 2, "Done");
    TransitionStreams first;  // the streams T1 will own
    Delay secondDelay;        // ... and those of T2
    RandomWrapper secondRandom;
    reseed();
    TestTransition* t1 = addTransition(env.net, 1, "T1");
    TestTransition* t2 = addTransition(env.net, 2, "T2");
    for (TestTransition* t : {t1, t2}) {
        t->exponential = true;
        t->in(p)->out(done);
    }
    Ptr<Token> a = put(p);
    Ptr<Token> b = put(p);
    t1->startup();
    t2->startup();
    const double t1Due = first.delay.Exp(1.0);
    const double t2Due = secondDelay.Exp(1.0);
    ASSERT_EQ(*t1->getNextEvent()->getBoundTokens(), TokenList{a});
    ASSERT_EQ(*t2->getNextEvent()->getBoundTokens(), TokenList{a});
    EXPECT_EQ(t1->getNextEvent()->getTime().FullDateTime(), t1Due);
    EXPECT_EQ(t2->getNextEvent()->getTime().FullDateTime(), t2Due);
    const long oldId = t2->getNextEvent()->getID();
    EXPECT_EQ(a->getTransitions(), (Token::TransitionList{t1, t2}));

    fireNext(env, t1);

    EXPECT_FALSE(lies(p, a));
    EXPECT_TRUE(a->getTransitions().empty());
    ASSERT_EQ(t2->getEvents().size(), 1u);
    Binding* replaced = t2->getNextEvent();
    EXPECT_EQ(*replaced->getBoundTokens(), TokenList{b});
    EXPECT_GT(replaced->getID(), oldId);
    EXPECT_EQ(replaced->getTime().FullDateTime(), t1Due + secondDelay.Exp(1.0));
    EXPECT_EQ(t2->nextDelayUniform(), secondDelay.randu01());
    // T1 searched after T2 had reacted; both now hold b.
    ASSERT_EQ(t1->getEvents().size(), 1u);
    EXPECT_EQ(t1->getNextEvent()->getTime().FullDateTime(), t1Due + first.delay.Exp(1.0));
    EXPECT_EQ(b->getTransitions(), (Token::TransitionList{t2, t1}));
}

TEST(PropagationSharedToken, WithoutAnotherTokenTheLoserStaysEmpty) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* done = makePlace(env.net, 2, "Done");
    TestTransition* t1 = addTransition(env.net, 1, "T1");
    TestTransition* t2 = addTransition(env.net, 2, "T2");
    t1->in(p)->out(done);
    t2->in(p)->out(done);
    Ptr<Token> a = put(p);
    t1->startup();
    t2->startup();
    ASSERT_EQ(t2->getEvents().size(), 1u);

    fireNext(env, t1);

    EXPECT_TRUE(t1->getEvents().empty());
    EXPECT_TRUE(t2->getEvents().empty());
    EXPECT_FALSE(t2->getInEventList());
    EXPECT_TRUE(a->getTransitions().empty());
    EXPECT_EQ(done->getMarkingSize(), 1);
    EXPECT_EQ(t2->getFireCount(), 0);
}

TEST(PropagationSharedToken, HoldersReactInRegistrationOrderBeforeTheFiringTransitionSearches) {
    Env env;
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    TestTransition* u1 = addTransition(env.net, 2, "U1");
    TestTransition* u2 = addTransition(env.net, 3, "U2");
    for (TestTransition* x : {t, u1, u2}) {
        x->in(p);
        x->journal = &journal;
    }
    put(p);
    t->startup();
    u1->startup();
    u2->startup();
    journal.clear();

    fireNext(env, t);

    EXPECT_EQ(journal, (std::vector<std::string>{
                           "T.moveTokens",                                     //
                           "U1.checkSpace", "U1.globalGuard", "U1.generate",  //
                           "U2.checkSpace", "U2.globalGuard", "U2.generate",  //
                           "T.checkSpace", "T.globalGuard", "T.generate"}));
}

TEST(PropagationTokens, InfiniteServerGetsTheOtherTokensOfAWithdrawnBindingBack) {
    Env env;
    Place* p1 = makePlace(env.net, 1, "P1");
    Place* p2 = makePlace(env.net, 2, "P2");
    Place* done = makePlace(env.net, 3, "Done");
    TestTransition* taker = addTransition(env.net, 1, "Taker");
    TestTransition* is = addTransition(env.net, 2, "IS", true);
    taker->in(p2)->out(done);
    is->in(p1)->in(p2);
    Ptr<Token> x = put(p1);
    Ptr<Token> y = put(p2);
    is->startup();
    taker->startup();
    ASSERT_EQ(*is->getNextEvent()->getBoundTokens(), (TokenList{x, y}));
    ASSERT_TRUE(is->getNotBoundTokens().empty());

    fireNext(env, taker);

    EXPECT_TRUE(is->getEvents().empty());
    // x is free again; y, consumed, is not.
    EXPECT_EQ(is->getNotBoundTokens(), TokenList{x});
    EXPECT_TRUE(x->getTransitions().empty());

    // So a new token on P2 enables it again.
    Ptr<Token> y2 = put(p2);
    is->couldEnableNotify();
    ASSERT_EQ(is->getEvents().size(), 1u);
    EXPECT_EQ(*is->getNextEvent()->getBoundTokens(), (TokenList{x, y2}));
    EXPECT_TRUE(is->getNotBoundTokens().empty());
}

TEST(PropagationTokens, TokensTakenAwayByTheSameFiringNeverComeBackAsFree) {
    Env env;
    Place* p1 = makePlace(env.net, 1, "P1");
    Place* p2 = makePlace(env.net, 2, "P2");
    TestTransition* taker = addTransition(env.net, 1, "Taker");
    TestTransition* is = addTransition(env.net, 2, "IS", true);
    taker->in(p1)->in(p2);
    is->in(p1)->in(p2);
    Ptr<Token> x = put(p1);
    Ptr<Token> y = put(p2);
    is->startup();
    taker->startup();
    ASSERT_EQ(*taker->getNextEvent()->getBoundTokens(), (TokenList{x, y}));
    ASSERT_EQ(*is->getNextEvent()->getBoundTokens(), (TokenList{x, y}));

    fireNext(env, taker);

    EXPECT_TRUE(is->getEvents().empty());
    EXPECT_TRUE(is->getNotBoundTokens().empty());
    EXPECT_TRUE(x->getTransitions().empty());
    EXPECT_TRUE(y->getTransitions().empty());
}

TEST(PropagationTokens, InfiniteServerWithdrawsOnlyTheBindingsHoldingTheToken) {
    Env env;
    Place* p1 = makePlace(env.net, 1, "P1");
    Place* p2 = makePlace(env.net, 2, "P2", 0, true);
    Place* done = makePlace(env.net, 3, "Done");
    TestTransition* taker = addTransition(env.net, 1, "Taker");
    TestTransition* is = addTransition(env.net, 2, "IS", true);
    bindFirstFreeTokens(is);
    taker->in(p2)->out(done);
    is->in(p1)->in(p2);
    Ptr<Token> x1 = put(p1), y1 = put(p2), x2 = put(p1), y2 = put(p2);
    is->startup();
    taker->startup();
    ASSERT_EQ(is->getEvents().size(), 2u);
    Binding* kept = nullptr;
    for (Binding* b : is->getEvents())
        if (*b->getBoundTokens() == TokenList{x2, y2}) kept = b;
    ASSERT_NE(kept, nullptr);
    const long keptId = kept->getID();
    ASSERT_EQ(*taker->getNextEvent()->getBoundTokens(), TokenList{y1});

    fireNext(env, taker);

    ASSERT_EQ(is->getEvents().size(), 1u);
    EXPECT_EQ(is->getNextEvent(), kept);
    EXPECT_EQ(kept->getID(), keptId);
    EXPECT_EQ(is->getNotBoundTokens(), TokenList{x1});
}

TEST(PropagationTokens, CopyWithTheConsumedTokensIdentifierIsWithdrawnButStaysFree) {
    Env env;
    Place* p = makePlace(env.net, 1, "P", 0, true);
    Place* done = makePlace(env.net, 2, "Done");
    TestTransition* is = addTransition(env.net, 1, "IS", true);
    TestTransition* taker = addTransition(env.net, 2, "Taker");
    is->in(p);
    taker->in(p)->out(done);
    Ptr<Token> original(new Token_int(5));
    // A copy keeps the identifier: the two tokens compare equal.
    Ptr<Token> copy(new Token_int(static_cast<Token_int&>(*original), false));
    ASSERT_TRUE(*copy == *original);
    p->addToken(original);
    p->addToken(copy);
    is->startup();
    taker->startup();
    ASSERT_EQ(is->getEvents().size(), 2u);
    ASSERT_EQ(*taker->getNextEvent()->getBoundTokens(), TokenList{original});

    fireNext(env, taker);

    // Both bindings hold a token equal to the consumed one and are withdrawn;
    // the copy still lies on P, so it is free again and bound anew.
    ASSERT_TRUE(lies(p, copy));
    ASSERT_EQ(is->getEvents().size(), 1u);
    EXPECT_EQ(is->getNextEvent()->getBoundTokens()->front().GetRawPtr(), copy.GetRawPtr());
    EXPECT_TRUE(is->getNotBoundTokens().empty());
}

TEST(PropagationTokens, TokenPutBackDuringAFiringIsFreeOnlyOnce) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* g = makePlace(env.net, 2, "G");
    TestTransition* is = addTransition(env.net, 1, "IS", true);
    TestTransition* reader = addTransition(env.net, 2, "Reader");
    is->in(p);
    is->guardPlaces = {g};
    is->guard = [g] { return g->getMarkingSize() == 0; };
    reader->in(p)->out(p)->out(g);
    // The reader takes its token, puts the same token back and marks G.
    reader->mover = [p, g](TokenList& tokens) {
        for (const Ptr<Token>& x : tokens) {
            p->removeToken(x);
            p->addToken(x);
        }
        g->addToken(Ptr<Token>(new Token_int(0)));
    };
    Ptr<Token> c = put(p);
    is->startup();
    reader->startup();
    ASSERT_EQ(*is->getNextEvent()->getBoundTokens(), TokenList{c});
    ASSERT_EQ(*reader->getNextEvent()->getBoundTokens(), TokenList{c});

    fireNext(env, reader);

    // G's change withdrew the binding while c was back on P already.
    EXPECT_TRUE(is->getEvents().empty());
    EXPECT_EQ(is->getNotBoundTokens(), TokenList{c});
}

TEST(PropagationTokens, TokenPutBackAndBoundAgainWithinAFiringStaysAvailable) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* g = makePlace(env.net, 2, "G");
    TestTransition* is = addTransition(env.net, 1, "IS", true);
    TestTransition* reader = addTransition(env.net, 2, "Reader");
    is->in(p);
    is->guardPlaces = {g};
    is->guard = [g] { return g->getMarkingSize() == 0; };
    reader->in(p)->out(p)->in(g);
    // The reader puts its token back, then clears G: the guard opens while
    // the token lies on P again, so the infinite server binds it at once,
    // before it hears that the reader consumed it.
    reader->mover = [p, g](TokenList& tokens) {
        p->removeToken(tokens.front());
        p->addToken(tokens.front());
        g->removeToken(tokens.back());
    };
    Ptr<Token> x = put(p);
    put(g);
    is->startup();
    reader->startup();
    ASSERT_TRUE(is->getEvents().empty());
    ASSERT_EQ(reader->getNextEvent()->getBoundTokens()->size(), 2u);

    fireNext(env, reader);

    // Withdrawn on the reader's notification, x is still on P: bound again.
    ASSERT_TRUE(lies(p, x));
    ASSERT_EQ(is->getEvents().size(), 1u);
    EXPECT_EQ(*is->getNextEvent()->getBoundTokens(), TokenList{x});
    EXPECT_TRUE(is->getNotBoundTokens().empty());
    EXPECT_EQ(x->getTransitions(), (Token::TransitionList{is}));
}

TEST(PropagationDeathTest, TokenNotifyNeedsAHeldBinding) {
    Env env;
    TestTransition* t = addTransition(env.net, 1, "T");
    Ptr<Token> a(new Token_int(0));
    EXPECT_DEATH(t->tokenNotify(a), "!bindings\\.empty\\(\\), file src/Transition");
}

TEST(PropagationDeathTest, SingleServerTokenNotifyExpectsExactlyOneBinding) {
    Env env;
    TestTransition* t = addTransition(env.net, 1, "T");
    Ptr<Token> a(new Token_int(0));
    t->addRestoredBinding(new Binding(1, t, DateTime(1.0), 0, 1.0, true, new TokenList{a}));
    t->addRestoredBinding(new Binding(2, t, DateTime(2.0), 0, 1.0, true, new TokenList{a}));
    EXPECT_DEATH(t->tokenNotify(a), "bindings\\.size\\(\\) == 1, file src/Transition");
}

// ---------------------------------------------------------------------------
// Structural channel

TEST(PropagationStructure, NotificationsFollowTheListsEnableBeforeDisable) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* empty = makePlace(env.net, 1, "Empty");
    TestTransition* t = addTransition(env.net, 1, "T");
    TestTransition* a = addTransition(env.net, 2, "A");  // no inputs: enabled
    TestTransition* b = addTransition(env.net, 3, "B");
    b->in(empty);
    t->setCouldEnableTransitions({a, b, a});
    t->setCouldDisableTransitions({b, a});
    t->notifyTransitions();
    expectInOrder(lines(traces.trans()), {"A couldEnableNF() isInf: FALSE inEventList: FALSE",
                                          "B couldEnableNF() isInf: FALSE inEventList: FALSE",
                                          "A couldEnableNF() isInf: FALSE inEventList: TRUE",
                                          "BcouldDisableNF()", "AcouldDisableNF()"});
    EXPECT_EQ(a->getEvents().size(), 1u);
    EXPECT_EQ(a->generateCalls, 1);
    EXPECT_TRUE(b->getEvents().empty());
}

TEST(PropagationStructure, CouldEnableKeepsASingleServersBindingAndItsTime) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T");
    t->exponential = true;
    TestTransition* source = addTransition(env.net, 2, "Source");  // no inputs
    t->in(p);
    source->out(p);
    put(p);
    t->startup();
    source->startup();
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr);
    const long id = b->getID();
    const double due = expected.delay.Exp(1.0);
    ASSERT_EQ(b->getTime().FullDateTime(), due);
    ASSERT_EQ(source->getCouldEnableTransitions(), (std::list<Transition*>{t}));

    fireNext(env, source);  // a new token for T
    t->couldEnableNotify();

    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(t->getNextEvent(), b);
    EXPECT_EQ(b->getID(), id);
    EXPECT_EQ(b->getTime().FullDateTime(), due);
    EXPECT_EQ(t->generateCalls, 1);
    EXPECT_EQ(t->nextDelayUniform(), expected.delay.randu01());
}

TEST(PropagationStructure, CouldEnableLetsAnInfiniteServerGrowToItsDegree) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O", 3);
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p)->out(o);
    put(p);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* firstBinding = t->getNextEvent();
    for (int i = 0; i < 3; ++i) put(p);
    t->couldEnableNotify();
    EXPECT_EQ(t->getEvents().size(), 3u);  // min(4 tokens, capacity 3)
    EXPECT_TRUE(t->getEvents().count(firstBinding) == 1);
    EXPECT_EQ(t->getNotBoundTokens().size(), 1u);
}

TEST(PropagationStructure, CouldDisableChecksSpaceThenGuardOfANonEmptySingleServer) {
    Env env;
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O", 1);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p)->out(o);
    t->journal = &journal;
    bool guardOpen = true;
    t->guard = [&guardOpen] { return guardOpen; };
    put(p);

    t->couldDisableNotify();  // nothing held: nothing checked
    EXPECT_TRUE(journal.empty());

    t->searchConfiguration();
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr);
    journal.clear();
    t->couldDisableNotify();  // still enabled: kept
    EXPECT_EQ(journal, (std::vector<std::string>{"T.checkSpace", "T.globalGuard"}));
    EXPECT_EQ(t->getNextEvent(), b);

    put(o);  // no more space
    journal.clear();
    t->couldDisableNotify();
    EXPECT_EQ(journal, (std::vector<std::string>{"T.checkSpace", "T.globalGuard"}));
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());

    o->removeToken(o->getFullMarking().front());
    t->searchConfiguration();
    ASSERT_EQ(t->getEvents().size(), 1u);
    guardOpen = false;
    t->couldDisableNotify();
    EXPECT_TRUE(t->getEvents().empty());
}

TEST(PropagationStructure, CouldDisableTrimsAnInfiniteServerToItsDegreeAtRandom) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O", 5);
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T", true);
    bindFirstFreeTokens(t);
    t->in(p)->out(o);
    std::vector<Ptr<Token>> order;
    for (int i = 0; i < 4; ++i) order.push_back(put(p, i));
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 4u);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(expected.random.randint(0, 0), 0);  // one draw per binding
    for (int i = 0; i < 4; ++i) put(o);
    ASSERT_EQ(t->getEnablingDegree(), 1);
    ASSERT_TRUE(t->checkSpace());

    t->couldDisableNotify();

    // Three bindings, each drawn among those left in event order (all are
    // due at the same time, so event order is creation order).
    TokenList returned;
    std::vector<std::string> expectedTrace;
    for (long n = 4; n > 1; --n) {
        const long k = expected.random.randint(0, n - 1);
        returned.push_back(order[k]);
        order.erase(order.begin() + k);
        expectedTrace.push_back("Random number: " + std::to_string(k));
    }
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(*t->getNextEvent()->getBoundTokens(), TokenList{order[0]});
    EXPECT_EQ(t->getNotBoundTokens(), returned);
    for (const Ptr<Token>& x : returned) EXPECT_TRUE(x->getTransitions().empty());
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());
    expectInOrder(lines(traces.trans()), expectedTrace);
}

TEST(PropagationStructure, FailingGuardWithdrawsEveryInfiniteServerBindingLatestFirst) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T", true);
    bindFirstFreeTokens(t);
    t->in(p);
    Ptr<Token> a = put(p), b = put(p), c = put(p);
    bool guardOpen = true;
    t->guard = [&guardOpen] { return guardOpen; };
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 3u);
    for (int i = 0; i < 3; ++i) expected.random.randint(0, 0);
    guardOpen = false;

    t->couldDisableNotify();

    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    EXPECT_EQ(t->getNotBoundTokens(), (TokenList{c, b, a}));
    EXPECT_EQ(t->nextChoiceUniform(), expected.random.randu01());  // no draw
}

TEST(PropagationStructure, RemoveRandomBindingTakesTheDrawnOneInEventOrder) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TransitionStreams expected;
    reseed();
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p);
    std::vector<Ptr<Token>> tok;
    const std::vector<double> delays{5.0, 1.0, 3.0};
    for (int i = 0; i < 3; ++i) {
        tok.push_back(put(p, i));
        t->fixedDelay = delays[i];
        t->addBinding(new Binding(new TokenList{tok[i]}, t, env.sim->getCurrentSimulationTime()));
    }
    ASSERT_TRUE(t->getNotBoundTokens().empty());
    // Event order: the binding due at 1 (tok[1]), at 3 (tok[2]), at 5 (tok[0]).
    const std::vector<Ptr<Token>> inEventOrder{tok[1], tok[2], tok[0]};

    t->removeRandomBindingFromEventList();

    const long k = expected.random.randint(0, 2);
    EXPECT_EQ(t->getNotBoundTokens(), TokenList{inEventOrder[k]});
    EXPECT_EQ(t->getEvents().size(), 2u);
    for (Binding* b : t->getEvents()) EXPECT_NE(*b->getBoundTokens(), TokenList{inEventOrder[k]});
    EXPECT_TRUE(inEventOrder[k]->getTransitions().empty());
    EXPECT_NE(findLine(lines(traces.trans()), "Random number: " + std::to_string(k)), -1);
}

// ---------------------------------------------------------------------------
// Guard channel

TEST(PropagationGuard, GuardReadingAnotherPlaceEnablesAndDisables) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    Place* g = makePlace(env.net, 2, "G");
    TestTransition* source = addTransition(env.net, 1, "Source");  // no inputs
    TestTransition* t = addTransition(env.net, 2, "T");
    source->fixedDelay = 1.0;
    source->out(g);
    t->in(p);
    t->guardPlaces = {g};
    t->guard = [g] { return g->getMarkingSize() > 0; };
    Ptr<Token> a = put(p);
    source->startup();
    t->startup();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(t->generateCalls, 0);
    // The source does not know T through the structure: only the guard links them.
    EXPECT_TRUE(source->getCouldEnableTransitions().empty());

    fireNext(env, source);

    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(*t->getNextEvent()->getBoundTokens(), TokenList{a});
    EXPECT_EQ(t->getNextEvent()->getTime().FullDateTime(), 1.0);

    g->removeToken(g->getFullMarking().front());
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_TRUE(a->getTransitions().empty());

    const int searches = t->generateCalls;
    t->placeNotify();  // guard still closed: looks, finds nothing
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(t->generateCalls, searches);

    expectInOrder(lines(traces.trans()), {"T placeNotify()... BEGIN", "T placeNotify() ...END"});
}

TEST(PropagationGuard, PlaceNotifyKeepsABindingWhileTheGuardHolds) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    Place* g = makePlace(env.net, 2, "G");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->guardPlaces = {g};
    put(p);
    t->startup();
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr);
    put(g);
    EXPECT_EQ(t->getNextEvent(), b);
    EXPECT_EQ(t->generateCalls, 1);
}

TEST(PropagationGuard, FiringTransitionIgnoresItsOwnPlaceNotify) {
    Env env;
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    Place* o = makePlace(env.net, 2, "O");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p)->out(o);
    t->guardPlaces = {o, p};
    t->guard = [o] { return o->getMarkingSize() == 0; };
    t->journal = &journal;
    put(p);
    put(p);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    journal.clear();

    fireNext(env, t);

    // The guard was asked once, by the search after the firing, not by the
    // notifications of P and O while the tokens moved.
    EXPECT_EQ(journal, (std::vector<std::string>{"T.moveTokens", "T.checkSpace", "T.globalGuard"}));
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(o->getMarkingSize(), 1);
    EXPECT_EQ(p->getMarkingSize(), 1);
}

// ---------------------------------------------------------------------------
// Firing

TEST(PropagationFire, MeasuresSeeTheStateBeforeAndAfterAndStepsRunInOrder) {
    Env env;
    TempDir dir;
    LogDir logDir(dir.path().string());
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    Place* q = makePlace(env.net, 2, "Q");
    auto* m = new RecordingMeasure("M", &env.net, p, &journal);
    p->addMeasure(m);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p)->out(q);
    t->journal = &journal;
    t->setLogfile("t.log", "");
    t->setDisplaying(true);
    bool firingWhileMoving = false;
    t->mover = [&](TokenList& tokens) {
        firingWhileMoving = t->isFiring();
        for (const Ptr<Token>& x : tokens) p->removeToken(x);
        q->addToken(Ptr<Token>(new Token_int(7)));
    };
    Ptr<Token> a = put(p);
    put(p);
    env.clock(2.0);
    t->startup();
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr);
    const TokenList bound = *b->getBoundTokens();
    const long firedBefore = Transition::globalFireCount;
    journal.clear();

    t->fire(b, 0.5);

    EXPECT_EQ(journal, (std::vector<std::string>{"M.accum", "T.moveTokens", "T.log", "T.display",
                                                 "T.checkSpace", "T.globalGuard", "T.generate",
                                                 "M.notify"}));
    EXPECT_EQ(m->accumSizes, std::vector<int>{2});
    EXPECT_EQ(m->notifySizes, std::vector<int>{1});
    ASSERT_EQ(m->accumBindings.size(), 1u);
    EXPECT_EQ(m->accumBindings[0], b);
    EXPECT_EQ(m->accumWeights, std::vector<double>{0.5});
    EXPECT_TRUE(firingWhileMoving);
    EXPECT_FALSE(t->isFiring());
    EXPECT_EQ(t->getFireCount(), 1);
    EXPECT_EQ(Transition::globalFireCount, firedBefore + 1);
    ASSERT_EQ(t->moved.size(), 1u);
    EXPECT_EQ(t->moved[0], bound);
    ASSERT_EQ(t->logged.size(), 1u);
    EXPECT_EQ(t->logged[0], bound);
    // The remaining token is bound again.
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_NE(*t->getNextEvent()->getBoundTokens(), bound);
}

TEST(PropagationFire, InfiniteServerKeepsItsOtherBindingsAndBindsWhatItProduced) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");  // input and output
    TestTransition* t = addTransition(env.net, 1, "T", true);
    t->in(p)->out(p);
    for (int i = 0; i < 3; ++i) put(p, i);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 3u);
    Binding* fired = t->getNextEvent();
    const TokenList firedTokens = *fired->getBoundTokens();
    std::vector<Binding*> others;
    for (Binding* b : t->getEvents())
        if (b != fired) others.push_back(b);

    fireNext(env, t);

    ASSERT_EQ(p->getMarkingSize(), 3);
    EXPECT_FALSE(lies(p, firedTokens.front()));
    ASSERT_EQ(t->getEvents().size(), 3u);
    for (Binding* b : others) EXPECT_EQ(t->getEvents().count(b), 1u);
    Binding* added = nullptr;
    for (Binding* b : t->getEvents())
        if (std::find(others.begin(), others.end(), b) == others.end()) added = b;
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(*added->getBoundTokens(), TokenList{p->getFullMarking().back()});
    EXPECT_TRUE(t->getNotBoundTokens().empty());
}

TEST(PropagationFire, WithoutLoggingOrDisplayTheModelIsNotAsked) {
    Env env;
    std::vector<std::string> journal;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->journal = &journal;
    put(p);
    t->startup();
    journal.clear();
    fireNext(env, t);
    EXPECT_EQ(journal, (std::vector<std::string>{"T.moveTokens", "T.checkSpace", "T.globalGuard",
                                                 "T.generate"}));
    EXPECT_TRUE(t->logged.empty());
}

TEST(PropagationFire, TraceShowsTheStepsInOrder) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->setLogfile("t.log", "");
    t->setDisplaying(true);
    put(p);
    t->startup();
    fireNext(env, t);
    const auto ls = lines(traces.trans());
    const std::string hashes(69, '#');
    expectInOrder(ls, {"T->accumMeasures() BEGIN", "T->accumMeasures() END", "", hashes, "T -> fire...",
                       "T... firecounter increased...", "T... now i log ...", "T... display expression ...",
                       " token->notifyTransition() T now deleting event...", "T... event deleted...",
                       "T... searched configuration ...", "\t fire ende", "T->notifyMeasures() BEGIN",
                       "T->notifyMeasures() END"});
    const long hashLine = findLine(ls, hashes);
    ASSERT_GT(hashLine, 0);
    EXPECT_EQ(ls[hashLine - 1], "");
    EXPECT_EQ(ls[hashLine + 1], "T -> fire...");
}

TEST(PropagationFire, ResultChannelGetsDisplayValueThenFireCountThenWatchedPlaces) {
    Env env;
    env.sim->setInitialised(true);
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");  // input and output of T
    p->setWatch(true);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p)->out(p);
    t->setWatch(true);
    t->setDisplaying(true);
    t->displayValue = 2.5;
    put(p);
    t->fixedDelay = 5.0;
    t->startup();
    fireNext(env, t);
    EXPECT_EQ(traces.sim(),
              "NO_SOCK: TIME;5\nT<Transition:Display>;2.5\n"
              "NO_SOCK: TIME;5\nT<Transition>;1\n\n"
              "NO_SOCK: TIME;5\nP<Place>;1\n\n"
              "NO_SOCK: TIME;5\nP<Place>;1\n\n");
}

TEST(PropagationFire, ResultChannelBeforeInitialisationOnlyLeavesTraces) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    p->setWatch(true);
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    t->setWatch(true);
    t->setDisplaying(true);
    t->displayValue = 0.125;
    put(p);
    put(p);
    t->startup();
    fireNext(env, t);  // the clock does not move: the event is due now
    TempDir dir;
    Traces traces(dir);
    fireNext(env, t);
    EXPECT_EQ(traces.sim(),
              "displayOut not initialized: 0.125\n"
              "meassureOut not initialized: 2\n"
              "meassureOut not initialized: 0\n");
}

TEST(PropagationFire, UnwatchedFiringSendsNothing) {
    Env env;
    env.sim->setInitialised(true);
    TempDir dir;
    Traces traces(dir);
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->in(p);
    put(p);
    t->startup();
    fireNext(env, t);
    EXPECT_EQ(t->getFireCount(), 1);
    EXPECT_EQ(traces.sim(), "");
}

TEST(PropagationClock, TimeChangesAreTracedUntilTheDriverIsInitialised) {
    Env env;
    TempDir dir;
    Traces traces(dir);
    env.clock(5.0);
    env.clock(5.0);  // unchanged: nothing
    env.sim->setInitialised(true);
    env.clock(6.0);
    EXPECT_EQ(env.now(), 6.0);
    std::ostringstream five;
    five << DateTime(5.0);
    EXPECT_EQ(traces.sim(), "measureOut not initialized, couldn't send Time: " + five.str() + "\n");
}

// ---------------------------------------------------------------------------
// Time guards across a firing

TEST(PropagationTimeguard, FiringAConvertedBindingIsFollowedByAPlainSearch) {
    Env env;
    Place* p = makePlace(env.net, 1, "P");
    TestTransition* t = addTransition(env.net, 1, "T");
    t->setImmediate(true);
    t->timeguard = true;
    t->timeguardFn = [](const DateTime& at) { return std::max(0.0, 4.0 - at.FullDateTime()); };
    t->in(p);
    put(p);
    put(p);
    t->startup();
    Binding* temp = t->getNextEvent();
    env.clock(4.0);
    ASSERT_TRUE(t->convertTimeguardBinding(temp));

    t->fire(temp, 1.0);

    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* next = t->getNextEvent();
    EXPECT_FALSE(next->isTempBinding());
    EXPECT_FALSE(next->isFireEvent());
    EXPECT_EQ(*next->getBoundTokens(), p->getFullMarking());
    EXPECT_EQ(next->getTime().FullDateTime(), 4.0);
    EXPECT_EQ(p->getMarkingSize(), 1);
}

TEST(PropagationTimeguard, TemporaryBindingFiredWhileOptimisingIsFollowedByANewOneFromTheFiringTime) {
    Env env;
    TestTransition* t = addTransition(env.net, 1, "T");
    t->setImmediate(true);
    t->timeguard = true;
    // Opens at 4, then every 3 seconds after a firing.
    t->timeguardFn = [](const DateTime& at) { return at.FullDateTime() < 4.0 ? 4.0 - at.FullDateTime() : 3.0; };
    t->startup();
    Binding* temp = t->getNextEvent();
    ASSERT_TRUE(temp->isTempBinding());
    ASSERT_EQ(temp->getTime().FullDateTime(), 4.0);

    fireNext(env, t);

    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* next = t->getNextEvent();
    EXPECT_TRUE(next->isTempBinding());
    EXPECT_EQ(next->getTime().FullDateTime(), 7.0);
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    EXPECT_EQ(t->generateCalls, 0);
    ASSERT_EQ(t->moved.size(), 1u);
    EXPECT_TRUE(t->moved[0].empty());
}
