#include "core/Token.h"

#include <algorithm>

#include "core/TransitionLink.h"
#include "platform/Logging.h"

long Token::tokenCounter = 0;
long Token::concTokenCounter = 0;
long Token::maxConcTokenCounter = 0;

void Token::countAlive() {
    ++concTokenCounter;
    if (concTokenCounter > maxConcTokenCounter) maxConcTokenCounter = concTokenCounter;
}

Token::Token() : timeStamp(DateTime::Today()), id(tokenCounter) {
    ++tokenCounter;
    countAlive();
}

Token::Token(const Token& other, bool copyTransition)
    : timeStamp(other.timeStamp), id(other.id) {
    if (copyTransition) transitions = other.transitions;
    countAlive();
}

Token::~Token() { --concTokenCounter; }

void Token::setReferenceAttribute(const char*, Ptr<Token>) {}

Token& Token::operator=(const Token& other) {
    if (this != &other) {
        timeStamp = other.timeStamp;
        id = other.id;
    }
    return *this;
}

bool Token::operator==(const Token& other) const { return id == other.id; }

const std::string Token::content() const { return ""; }

void Token::addTransition(TransitionLink* t) {
    Logging* log = Logging::process();
    if (log->isTransLogging())
        log->getTransLog() << "Token " << getName() << ", " << timeStamp << " added Transition "
                           << t->getName() << "\n";
    transitions.push_back(t);
}

void Token::removeTransition(TransitionLink* t) {
    Logging* log = Logging::process();
    if (log->isTransLogging())
        log->getTransLog() << "Token " << getName() << ", " << timeStamp << " removed Transition "
                           << t->getName() << "\n";
    transitions.erase(std::remove(transitions.begin(), transitions.end(), t), transitions.end());
}

bool Token::containsTransition(const TransitionLink* t) const {
    return std::find(transitions.begin(), transitions.end(), t) != transitions.end();
}

void Token::notifyTransitions(Ptr<Token> self) {
    Logging* log = Logging::process();
    if (log->isTransLogging()) {
        std::fstream& out = log->getTransLog();
        out << "Token " << getName() << ", " << timeStamp << " notifyTransitions()..: [ ";
        for (const TransitionLink* t : transitions) out << t->getName() << " : ";
        out << " ]\n";
    }
    // The reactions change this token's own list while we walk it, so the
    // walk goes over a copy (on the stack for the usual few entries).
    constexpr std::size_t kInline = 8;
    TransitionLink* inlineCopy[kInline];
    TransitionList heapCopy;
    TransitionLink** snapshot = inlineCopy;
    const std::size_t n = transitions.size();
    if (n > kInline) {
        heapCopy = transitions;
        snapshot = heapCopy.data();
    } else {
        std::copy(transitions.begin(), transitions.end(), inlineCopy);
    }
    for (std::size_t i = 0; i < n; ++i) {
        TransitionLink* t = snapshot[i];
        if (log->isTransLogging()) log->getTransLog() << "Token->notifyTransitions() : " << *t << "\n";
        t->tokenNotify(self);
    }
}

Ptr<Token> Token::findToken(std::vector<token_info*>& tokens, const char* typeName, int wanted) {
    for (token_info* info : tokens) {
        if (info->id == wanted && info->tokentypename == typeName) return info->token;
    }
    return Ptr<Token>();
}

std::ostream& operator<<(std::ostream& os, const Token& token) {
    return os << "Token name: " << token.getName();
}

Token_int::Token_int(long v) : Token(), value(v) {}

Token_int::Token_int(Token_int& other, bool copyTransition)
    : Token(other, copyTransition), value(other.value) {}

Token_int& Token_int::operator=(const Token_int& other) {
    if (this != &other) {
        Token::operator=(other);
        value = other.value;
    }
    return *this;
}
