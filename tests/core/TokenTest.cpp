#include "core/Token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/DefaultGM.h"
#include "core/Place.h"
#include "support/TestNet.h"
#include "support/TestSupport.h"

using testnet::CountingToken;
using testnet::handleCount;
using testnet::TestNet;
using testnet::TestTransition;

namespace {

std::string streamed(const DateTime& t) {
    std::ostringstream s;
    s << t;
    return s.str();
}

std::vector<Transition*> listed(const Token& token) {
    std::vector<Transition*> out;
    for (TransitionLink* t : token.getTransitions()) out.push_back(t->asTransition());
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Identifiers and the process-wide counters

TEST(TokenCounters, FreshTokensGetConsecutiveIdentifiers) {
    const long n = Token::tokenCounter;
    Token_int a(1);
    Token_int b(2);
    Token_int c(3);
    EXPECT_EQ(a.getID(), n);
    EXPECT_EQ(b.getID(), n + 1);
    EXPECT_EQ(c.getID(), n + 2);
    EXPECT_EQ(Token::tokenCounter, n + 3);
}

TEST(TokenCounters, AliveCountFollowsPopulationAndMaximumIsItsPeak) {
    const long alive0 = Token::concTokenCounter;
    const long max0 = Token::maxConcTokenCounter;
    ASSERT_GE(max0, alive0);
    // Bring the population up to the previous peak without passing it.
    std::vector<Ptr<Token>> filler;
    for (long i = alive0; i < max0; ++i) filler.push_back(testnet::intToken(0));
    ASSERT_EQ(Token::concTokenCounter, max0);
    EXPECT_EQ(Token::maxConcTokenCounter, max0);

    auto first = std::make_unique<Token_int>(1);
    auto second = std::make_unique<Token_int>(2);
    EXPECT_EQ(Token::concTokenCounter, max0 + 2);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 2);

    first.reset();
    EXPECT_EQ(Token::concTokenCounter, max0 + 1);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 2);

    auto third = std::make_unique<Token_int>(3);
    EXPECT_EQ(Token::concTokenCounter, max0 + 2);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 2);

    auto fourth = std::make_unique<Token_int>(4);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 3);

    second.reset();
    third.reset();
    fourth.reset();
    filler.clear();
    EXPECT_EQ(Token::concTokenCounter, alive0);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 3);
}

TEST(TokenCounters, CopyKeepsIdentifierAndCountsAsAlive) {
    Token_int original(9);
    const long ids = Token::tokenCounter;
    const long alive = Token::concTokenCounter;
    {
        Token_int copy(original, false);
        EXPECT_EQ(copy.getID(), original.getID());
        EXPECT_TRUE(copy == original);
        EXPECT_EQ(copy.getValue(), 9);
        EXPECT_EQ(copy.getTimeStamp(), original.getTimeStamp());
        EXPECT_EQ(Token::concTokenCounter, alive + 1);
        EXPECT_EQ(Token::tokenCounter, ids);  // no new identifier taken
    }
    EXPECT_EQ(Token::concTokenCounter, alive);
    EXPECT_EQ(Token::tokenCounter, ids);
}

TEST(TokenCounters, CopyRaisesThePeakLikeAFreshToken) {
    const long alive0 = Token::concTokenCounter;
    const long max0 = Token::maxConcTokenCounter;
    std::vector<Ptr<Token>> filler;
    for (long i = alive0; i < max0; ++i) filler.push_back(testnet::intToken(0));
    ASSERT_EQ(Token::concTokenCounter, max0);

    Token_int original(1);  // alive: max0 + 1, a new peak
    ASSERT_EQ(Token::maxConcTokenCounter, max0 + 1);
    Token_int copy(original, true);
    EXPECT_EQ(Token::concTokenCounter, max0 + 2);
    EXPECT_EQ(Token::maxConcTokenCounter, max0 + 2);
}

TEST(TokenCounters, TokenDiesWithItsLastHandle) {
    const long alive = Token::concTokenCounter;
    {
        Ptr<Token> a = testnet::intToken(1);
        Ptr<Token> b(a);
        EXPECT_EQ(Token::concTokenCounter, alive + 1);
        a.ResetPtr();
        EXPECT_EQ(Token::concTokenCounter, alive + 1);
    }
    EXPECT_EQ(Token::concTokenCounter, alive);
}

TEST(TokenCounters, CreationStampIsTheWallClockAtCreation) {
    const DateTime before = DateTime::Today();
    Token_int t(0);
    const DateTime after = DateTime::Today();
    EXPECT_LE(before, t.getTimeStamp());
    EXPECT_LE(t.getTimeStamp(), after);
}

// ---------------------------------------------------------------------------
// Values, equality and text

TEST(TokenValue, IntegerColourNameAndContent) {
    EXPECT_EQ(Token_int(42).content(), "42");
    EXPECT_EQ(Token_int(-7).content(), "-7");
    EXPECT_EQ(Token_int(0).content(), "0");
    EXPECT_EQ(Token_int(42).getName(), "int");
    EXPECT_EQ(Token_int(42).getValue(), 42);
}

TEST(TokenValue, ColourWithoutContentPrintsNothing) {
    CountingToken t;
    EXPECT_EQ(t.content(), "");
}

TEST(TokenValue, StreamFormNamesTheColour) {
    std::ostringstream s;
    s << Token_int(5);
    EXPECT_EQ(s.str(), "Token name: int");
}

TEST(TokenValue, EqualityIsByIdentifierOnly) {
    Token_int a(1);
    Token_int b(1);
    EXPECT_FALSE(a == b);  // same value, different tokens
    Token_int c(a, false);
    EXPECT_TRUE(c == a);
    CountingToken other;
    EXPECT_FALSE(other == a);
}

TEST(TokenValue, AssignmentCopiesIdentifierValueAndStampButNotTransitions) {
    TestNet net;
    TestTransition t(1, "T", &net);
    Token_int source(10);
    source.addTransition(&t);
    Token_int target(20);
    const long alive = Token::concTokenCounter;

    target = source;
    EXPECT_EQ(target.getID(), source.getID());
    EXPECT_EQ(target.getValue(), 10);
    EXPECT_EQ(target.getTimeStamp(), source.getTimeStamp());
    EXPECT_TRUE(target.getTransitions().empty());
    EXPECT_EQ(Token::concTokenCounter, alive);

    Token_int& self = target;
    target = self;
    EXPECT_EQ(target.getID(), source.getID());
    EXPECT_EQ(target.getValue(), 10);
}

TEST(TokenValue, BaseAssignmentCopiesIdentifier) {
    Token_int source(1);
    CountingToken target;
    Token& base = target;
    base = source;
    EXPECT_EQ(target.getID(), source.getID());
    EXPECT_TRUE(target == source);
}

// ---------------------------------------------------------------------------
// The list of transitions holding the token in a binding

TEST(TokenTransitions, CopyTakesTransitionListOnlyWhenAsked) {
    TestNet net;
    TestTransition t1(1, "T1", &net);
    TestTransition t2(2, "T2", &net);
    Token_int original(1);
    original.addTransition(&t1);
    original.addTransition(&t2);
    original.addTransition(&t1);

    Token_int without(original, false);
    EXPECT_TRUE(without.getTransitions().empty());

    Token_int with(original, true);
    EXPECT_EQ(listed(with), (std::vector<Transition*>{&t1, &t2, &t1}));
}

TEST(TokenTransitions, RemoveDropsEveryEntryOfTheTransition) {
    TestNet net;
    TestTransition t1(1, "T1", &net);
    TestTransition t2(2, "T2", &net);
    TestTransition t3(3, "T3", &net);
    Token_int token(1);
    token.addTransition(&t1);
    token.addTransition(&t2);
    token.addTransition(&t1);
    token.addTransition(&t3);
    EXPECT_TRUE(token.containsTransition(&t1));

    token.removeTransition(&t1);
    EXPECT_FALSE(token.containsTransition(&t1));
    EXPECT_EQ(listed(token), (std::vector<Transition*>{&t2, &t3}));

    // Removing a transition that is not there changes nothing.
    token.removeTransition(&t1);
    EXPECT_EQ(listed(token), (std::vector<Transition*>{&t2, &t3}));
}

TEST(TokenTransitions, NotifyWithdrawsTheBindingsOfEveryHoldingTransition) {
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* a = new TestTransition(1, "A", &net);
    auto* b = new TestTransition(2, "B", &net);
    net.addPlace(p);
    net.addTransition(a);
    net.addTransition(b);
    NetClass::linkIntoTransition(p, a, 1);
    NetClass::linkIntoTransition(p, b, 1);

    Ptr<Token> token = testnet::intToken(1);
    p->addToken(token);
    a->searchConfiguration();
    b->searchConfiguration();
    ASSERT_EQ(a->getEvents().size(), 1u);
    ASSERT_EQ(b->getEvents().size(), 1u);
    ASSERT_EQ(listed(*token), (std::vector<Transition*>{a, b}));

    // The token is consumed elsewhere; each transition withdraws its binding
    // (which edits the token's own list while it is being walked) and finds
    // nothing new.
    p->removeToken(token);
    token->notifyTransitions(token);
    EXPECT_TRUE(a->getEvents().empty());
    EXPECT_TRUE(b->getEvents().empty());
    EXPECT_TRUE(token->getTransitions().empty());
    EXPECT_EQ(handleCount(token), 1u);
}

TEST(TokenTransitions, NotifyLetsATransitionRebindWithRemainingTokens) {
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* a = new TestTransition(1, "A", &net);
    net.addPlace(p);
    net.addTransition(a);
    NetClass::linkIntoTransition(p, a, 1);

    Ptr<Token> first = testnet::intToken(1);
    Ptr<Token> second = testnet::intToken(2);
    p->addToken(first);
    p->addToken(second);
    a->searchConfiguration();
    ASSERT_EQ(a->getEvents().size(), 1u);
    ASSERT_TRUE(first->containsTransition(a));

    p->removeToken(first);
    first->notifyTransitions(first);
    ASSERT_EQ(a->getEvents().size(), 1u);
    const TokenList& bound = *(*a->getEvents().begin())->getBoundTokens();
    ASSERT_EQ(bound.size(), 1u);
    EXPECT_TRUE(bound.front() == second);
    EXPECT_FALSE(first->containsTransition(a));
    EXPECT_TRUE(second->containsTransition(a));
}

TEST(TokenTransitions, TransitionTraceRecordsAddRemoveAndNotify) {
    testsupport::TempDir dir;
    TestNet net;
    TestTransition t1(1, "T1", &net);
    TestTransition t2(2, "T2", &net);
    Token_int token(1);
    const std::string stamp = streamed(token.getTimeStamp());
    {
        testnet::TransLogToFolder trace(dir.path().string());
        token.addTransition(&t1);
        token.addTransition(&t2);
        token.removeTransition(&t2);
        trace.finish();
    }
    EXPECT_EQ(dir.read("trans.log"), "Token int, " + stamp + " added Transition T1\n" +
                                         "Token int, " + stamp + " added Transition T2\n" +
                                         "Token int, " + stamp + " removed Transition T2\n");
}

TEST(TokenTransitions, TransitionTraceOfNotifyListsTheHolders) {
    testsupport::TempDir dir;
    TestNet net;
    auto* p = new Place(1, "P", &net, false, 0);
    auto* a = new TestTransition(1, "A", &net);
    auto* b = new TestTransition(2, "B", &net);
    net.addPlace(p);
    net.addTransition(a);
    net.addTransition(b);
    NetClass::linkIntoTransition(p, a, 1);
    NetClass::linkIntoTransition(p, b, 1);
    Ptr<Token> token = testnet::intToken(1);
    p->addToken(token);
    a->searchConfiguration();
    b->searchConfiguration();
    p->removeToken(token);
    std::ostringstream formA;
    formA << *a;
    std::ostringstream formB;
    formB << *b;

    std::string text;
    {
        testnet::TransLogToFolder trace(dir.path().string());
        token->notifyTransitions(token);
        trace.finish();
        text = dir.read("trans.log");
    }
    const std::string header =
        "Token int, " + streamed(token->getTimeStamp()) + " notifyTransitions()..: [ A : B :  ]\n";
    EXPECT_EQ(text.rfind(header, 0), 0u) << text;
    const size_t atA = text.find("Token->notifyTransitions() : " + formA.str() + "\n");
    const size_t atB = text.find("Token->notifyTransitions() : " + formB.str() + "\n");
    EXPECT_NE(atA, std::string::npos) << text;
    EXPECT_NE(atB, std::string::npos) << text;
    EXPECT_LT(atA, atB);
}

// ---------------------------------------------------------------------------
// Looking up loaded tokens

namespace {

class TokenFind : public ::testing::Test {
protected:
    void add(const char* type, Ptr<Token> token, int id) {
        auto* info = new token_info;
        info->tokentypename = type;
        info->token = token;
        info->id = id;
        infos.push_back(info);
    }
    void TearDown() override {
        for (token_info* info : infos) delete info;
    }
    std::vector<token_info*> infos;
};

}  // namespace

TEST_F(TokenFind, MatchesIdentifierAndTypeName) {
    Ptr<Token> one = testnet::intToken(100);
    Ptr<Token> data(new CountingToken(nullptr, "Data"));
    Ptr<Token> two = testnet::intToken(200);
    add("int", one, 1);
    add("Data", data, 2);
    add("int", two, 2);

    Ptr<Token> found = Token::findToken(infos, "int", 2);
    EXPECT_TRUE(found == two);
    // A new handle to the same token.
    EXPECT_EQ(found.GetRefObject(), two.GetRefObject());
    EXPECT_EQ(handleCount(two), 3u);

    EXPECT_TRUE(Token::findToken(infos, "Data", 2) == data);
    EXPECT_TRUE(Token::findToken(infos, "int", 1) == one);
}

TEST_F(TokenFind, WrongTypeOrIdentifierGivesEmptyHandle) {
    Ptr<Token> one = testnet::intToken(100);
    add("int", one, 1);
    EXPECT_TRUE(Token::findToken(infos, "Data", 1) == 0);
    EXPECT_TRUE(Token::findToken(infos, "Int", 1) == 0);
    EXPECT_TRUE(Token::findToken(infos, "in", 1) == 0);
    EXPECT_TRUE(Token::findToken(infos, "int", 3) == 0);
    EXPECT_EQ(handleCount(one), 2u);

    std::vector<token_info*> none;
    EXPECT_TRUE(Token::findToken(none, "int", 1) == 0);
}

TEST_F(TokenFind, FirstMatchingRecordWins) {
    Ptr<Token> first = testnet::intToken(1);
    Ptr<Token> second = testnet::intToken(2);
    add("int", first, 7);
    add("int", second, 7);
    EXPECT_TRUE(Token::findToken(infos, "int", 7) == first);
}

// ---------------------------------------------------------------------------
// Named model elements

TEST(TokenModelElement, KeepsNameTypeAndNet) {
    TestNet net;
    std::string name = "P_thread_pool";
    DefaultGM element(name.c_str(), "Place", &net);
    name[0] = 'X';  // the element keeps its own copy
    EXPECT_EQ(element.getName(), "P_thread_pool");
    EXPECT_EQ(element.getType(), "Place");
    EXPECT_EQ(element.getNet(), &net);
}

TEST(TokenModelElement, OrderIsByName) {
    DefaultGM a("A3_execution", "Transition", nullptr);
    DefaultGM b("B", "Place", nullptr);
    DefaultGM a2("A3_execution", "Place", nullptr);
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(b > a);
    EXPECT_FALSE(a > b);
    EXPECT_FALSE(a < a2);
    EXPECT_FALSE(a > a2);
    // Ordinary string order: upper case before lower case.
    DefaultGM lower("a", "Place", nullptr);
    EXPECT_TRUE(b < lower);
}

TEST(TokenModelElement, StreamForm) {
    DefaultGM element("C1_sem", "Place", nullptr);
    std::ostringstream s;
    s << element;
    EXPECT_EQ(s.str(), "Default name: C1_sem");
}
