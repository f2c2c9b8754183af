// A small net run for many events by a minimal driver loop, checking after
// every event that the incrementally maintained event lists agree with the
// marking: what a transition holds, what its tokens say it holds, and what an
// infinite server considers free.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "engine/EngineTestDoubles.h"

using namespace enginetest;

namespace {

bool seedPackage(unsigned long k) {
    const unsigned long seed[6] = {k, k + 1, k + 2, k + 3, k + 4, k + 5};
    return RandomWrapper::SetPackageSeed(seed);
}

struct RunNet {
    bool seeded;  // first: the run is reproducible for its seed
    Env env;
    Place* pool;
    Place* jobs;
    Place* sem;
    Place* busy;
    Place* done;
    Place* flag;
    std::vector<TestTransition*> all;
    RandomWrapper choice;  // the driver's stream for conflicts

    TestTransition* add(int id, const char* name, bool infinite, double mean) {
        TestTransition::Options o;
        o.infinite = infinite;
        auto* t = new TestTransition(id, name, &env.net, o);
        env.net.addTransition(t);
        t->exponential = mean > 0.0;
        t->mean = mean;
        all.push_back(t);
        return t;
    }

    explicit RunNet(unsigned long seed) : seeded(seedPackage(seed)) {
        pool = makePlace(env.net, 1, "Pool");
        jobs = makePlace(env.net, 2, "Jobs", 4);
        sem = makePlace(env.net, 3, "Sem");
        busy = makePlace(env.net, 4, "Busy");
        done = makePlace(env.net, 5, "Done", 0, true);  // its consumers all see the oldest job
        flag = makePlace(env.net, 6, "Flag");
        // Pool -> Src -> Jobs -> Work (with a Sem token) -> Busy -> Finish ->
        // Done (+ Sem back) -> Tick (every 5 s) -> Pool; Drop competes with
        // Work for jobs; Peek reads a job (takes it and puts the same token
        // back) while fewer than two jobs are busy, and toggles Flag, which
        // stops Work while it holds a token. Batch moves pairs of pool tokens
        // into Jobs; Purge, Tick and Tock (both every 5 s) compete for
        // finished jobs.
        add(1, "Src", false, 1.0)->in(pool)->out(jobs);
        TestTransition* work = add(2, "Work", true, 2.0);
        work->in(jobs)->in(sem)->out(busy);
        Place* flagPlace = flag;
        work->guardPlaces = {flag};
        work->guard = [flagPlace] { return flagPlace->getMarkingSize() == 0; };
        add(3, "Finish", true, 1.5)->in(busy)->out(sem)->out(done);
        add(4, "Drop", false, 3.0)->in(jobs)->out(pool);
        TestTransition* peek = add(5, "Peek", false, 0.5);
        peek->in(jobs)->out(jobs)->out(flag);
        peek->guardPlaces = {busy};
        Place* jobsPlace = jobs;
        Place* busyPlace = busy;
        peek->guard = [busyPlace] { return busyPlace->getMarkingSize() < 2; };
        peek->mover = [jobsPlace, flagPlace](TokenList& tokens) {
            for (const Ptr<Token>& x : tokens) {
                jobsPlace->removeToken(x);
                jobsPlace->addToken(x);
            }
            if (flagPlace->getMarkingSize() == 0)
                flagPlace->addToken(Ptr<Token>(new Token_int(0)));
            else
                flagPlace->removeToken(flagPlace->getFullMarking().front());
        };
        for (auto [id, name] : {std::pair{6, "Tick"}, std::pair{9, "Tock"}}) {
            TestTransition* t = add(id, name, false, 0.0);
            t->in(done)->out(pool);
            t->setImmediate(true);
            t->timeguard = true;
            t->timeguardFn = [](const DateTime& at) {
                const double r = std::fmod(at.FullDateTime(), 5.0);
                return r == 0.0 ? 0.0 : 5.0 - r;
            };
        }
        add(7, "Batch", true, 2.5)->in(pool, 2)->out(jobs, 2);
        add(8, "Purge", false, 4.0)->in(done)->out(pool);
        for (int i = 0; i < 6; ++i) put(pool, i);
        for (int i = 0; i < 2; ++i) put(sem, 10 + i);
    }

    // The next event, chosen as the driver does: every transition's earliest
    // event; those due first with the highest priority are the candidates
    // (in name order); temporary bindings among them are converted, and when
    // none can be, each moves one second on and the scan repeats; one of the
    // remaining candidates is picked at random.
    Binding* next() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::vector<Binding*> out;
            for (const auto& entry : env.net.getTransitions()) {
                Binding* b = entry.second->getNextEvent();
                if (b == nullptr) continue;
                if (out.empty() || b->getTime() < out.front()->getTime() ||
                    (b->getTime() == out.front()->getTime() && b->getPriority() > out.front()->getPriority()))
                    out.assign(1, b);
                else if (b->getTime() == out.front()->getTime() && b->getPriority() == out.front()->getPriority())
                    out.push_back(b);
            }
            if (out.empty()) return nullptr;
            std::vector<Binding*> ready, deferred;
            for (Binding* b : out) {
                if (b->isTempBinding() && !b->getBoundTransition()->convertTimeguardBinding(b))
                    deferred.push_back(b);
                else
                    ready.push_back(b);
            }
            if (!ready.empty()) return ready[choice.randint(0, static_cast<long>(ready.size()) - 1)];
            for (auto it = deferred.rbegin(); it != deferred.rend(); ++it) {
                const DateTime at = (*it)->getTime();
                Transition* t = (*it)->getBoundTransition();
                t->removeBinding(*it, false);
                t->addTimeguardBinding(at + 1.0);
            }
        }
        ADD_FAILURE() << "temporary bindings never converted";
        return nullptr;
    }

    // What the event lists must agree with after every reaction.
    void checkInvariants(const std::string& when) {
        SCOPED_TRACE(when);
        std::vector<Ptr<Token>> everyToken;
        for (const auto& entry : env.net.getPlaces())
            for (const Ptr<Token>& x : entry.second->getFullMarking()) everyToken.push_back(x);
        EXPECT_LE(jobs->getMarkingSize(), 4);
        for (TestTransition* t : all) {
            SCOPED_TRACE(t->getName());
            const auto& events = t->getEvents();
            EXPECT_EQ(t->getInEventList(), !events.empty());
            if (!t->getIsInfinite()) {
                EXPECT_LE(events.size(), 1u);
            }
            std::map<Token*, int> heldBy;
            for (Binding* b : events) {
                if (b->getBoundTokens() == nullptr) continue;
                for (const Ptr<Token>& x : *b->getBoundTokens()) {
                    ++heldBy[x.GetRawPtr()];
                    bool onInput = false;
                    for (Place* p : t->getInPlaces()) onInput = onInput || lies(p, x);
                    EXPECT_TRUE(onInput) << "bound token " << x->getID() << " is on no input place";
                }
            }
            for (const auto& h : heldBy) EXPECT_EQ(h.second, 1) << "token bound twice";
            // Each token lists the transition once per binding holding it.
            for (const Ptr<Token>& x : everyToken) {
                const long listed = std::count(x->getTransitions().begin(), x->getTransitions().end(),
                                               static_cast<Transition*>(t));
                const auto it = heldBy.find(x.GetRawPtr());
                EXPECT_EQ(listed, it == heldBy.end() ? 0 : it->second) << "token " << x->getID();
            }
            if (t->getIsInfinite()) {
                EXPECT_LE(static_cast<int>(events.size()), t->getEnablingDegree());
                // Free tokens: exactly the tokens of the inputs that no binding holds.
                std::map<Token*, int> expectedFree;
                for (Place* p : t->getInPlaces())
                    for (const Ptr<Token>& x : p->getFullMarking())
                        if (heldBy.count(x.GetRawPtr()) == 0) ++expectedFree[x.GetRawPtr()];
                std::map<Token*, int> actualFree;
                for (const Ptr<Token>& x : t->getNotBoundTokens()) ++actualFree[x.GetRawPtr()];
                EXPECT_EQ(actualFree, expectedFree);
            }
        }
    }
};

}  // namespace

TEST(PropagationRun, EventListsStayConsistentWithTheMarkingThroughoutARun) {
    for (unsigned long seed : {1001UL, 2002UL, 3003UL, 4004UL}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RunNet net(seed);
        ASSERT_TRUE(net.seeded);
        // Start-up in name order, as the driver does.
        for (const auto& entry : net.env.net.getTransitions()) entry.second->startup();
        net.checkInvariants("after start-up");
        const long firedBefore = Transition::globalFireCount;
        std::map<std::string, int> fired;
        double lastTime = 0.0;
        int events = 0;
        while (events < 3000) {
            Binding* b = net.next();
            if (b == nullptr) break;
            ASSERT_GE(b->getTime().FullDateTime(), lastTime);
            lastTime = b->getTime().FullDateTime();
            net.env.sim->updateSimulationTime(b->getTime());
            Transition* t = b->getBoundTransition();
            ++fired[t->getName()];
            std::ostringstream what;
            what << "event " << events << ": " << *b;
            t->fire(b, 1.0);
            ++events;
            net.checkInvariants(what.str());
            if (::testing::Test::HasFailure()) return;
        }
        EXPECT_EQ(events, 3000);
        EXPECT_EQ(Transition::globalFireCount, firedBefore + events);
        // Every transition had its turn.
        for (TestTransition* t : net.all) {
            EXPECT_GT(fired[t->getName()], 0) << t->getName();
            EXPECT_EQ(t->getFireCount(), fired[t->getName()]) << t->getName();
        }
        // Tokens are conserved: six jobs and two semaphore tokens.
        EXPECT_EQ(net.pool->getMarkingSize() + net.jobs->getMarkingSize() +
                      net.busy->getMarkingSize() + net.done->getMarkingSize(),
                  6);
        EXPECT_EQ(net.sem->getMarkingSize() + net.busy->getMarkingSize(), 2);
    }
}
