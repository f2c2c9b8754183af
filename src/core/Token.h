#pragma once
// Tokens: the abstract colour base and the kernel's integer colour. A token
// knows which transitions hold it in a pending binding, so that consuming it
// can withdraw those bindings.
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Ptr.h"

class TransitionLink;
class Token;
class Place;
struct token_info;
struct token_reference;
class GMDB;
class NetClass;

using ReferenceCountedSmartPointer::Ptr;
using TokenList = std::list<Ptr<Token>>;

class Token {
public:
    Token();
    // A copy keeps the identifier of its source; it takes the source's
    // transition list only when asked to.
    Token(const Token& other, bool copyTransition);
    // A plain copy counts as a living token too, without the transition list.
    Token(const Token& other) : Token(other, false) {}
    virtual ~Token();

    // Called for every token reference a loader resolves; plain colours
    // have no reference attributes.
    virtual void setReferenceAttribute(const char* attributeName, Ptr<Token> target);
    virtual Token& operator=(const Token& other);
    virtual bool operator==(const Token& other) const;
    virtual const std::string getName() const = 0;
    virtual const std::string content() const;

    long getID() const { return id; }
    const DateTime& getTimeStamp() const { return timeStamp; }
    // The transitions holding this token in an event, in the order they took it.
    using TransitionList = std::vector<TransitionLink*>;
    const TransitionList& getTransitions() const { return transitions; }

    void addTransition(TransitionLink* t);
    void removeTransition(TransitionLink* t);
    bool containsTransition(const TransitionLink* t) const;
    // `self` is a handle to this token; every transition holding it in a
    // binding is told that it has been consumed.
    void notifyTransitions(Ptr<Token> self);

    static Ptr<Token> findToken(std::vector<token_info*>& tokens, const char* typeName, int id);

    // How many place entries hold this token (places keep the count), so
    // that a place looking for it can stop once it has found the last one.
    unsigned placementCount() const { return placements; }
    void addPlacement() { ++placements; }
    void removePlacement() { --placements; }

    static long tokenCounter;
    static long concTokenCounter;
    static long maxConcTokenCounter;

protected:
    TransitionList transitions;
    DateTime timeStamp;
    long id;

private:
    void countAlive();
    unsigned placements = 0;  // a copy is a new object, on no place yet
};

std::ostream& operator<<(std::ostream& os, const Token& token);

class Token_int final : public Token {
public:
    explicit Token_int(long value);
    Token_int(Token_int& other, bool copyTransition);
    Token_int& operator=(const Token_int& other);

    const std::string getName() const override { return "int"; }
    const std::string content() const override { return std::to_string(value); }
    long getValue() const { return value; }

    // Puts the integer tokens that the marking file gives for `place` on it.
    static void addInitialTokens(Place* place);
    // Reads the integer tokens of marking 1 (colour "Container") from the
    // open database connection (defined with the database loading).
    static void createTokensFromDB(NetClass* net, GMDB* connection, std::vector<token_info*>& tokens,
                                   std::vector<token_reference*>& refs);

private:
    long value;
};

// One token read by a loader, with where it belongs.
struct token_info {
    std::string tokentypename;
    Ptr<Token> token;
    int id = 0;
    std::string place_name;
};

// A token attribute that refers to another loaded token.
struct token_reference {
    std::string tokentypename;
    Ptr<Token> token;
    std::string attributename;
    int id = 0;
};

using token_info_list = std::vector<token_info*>;
using token_reference_list = std::vector<token_reference*>;
