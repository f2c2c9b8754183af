#pragma once
// Base of every named element of a net: places, transitions and measures.
#include <ostream>
#include <string>

class NetClass;

class DefaultGM {
public:
    DefaultGM(const char* name, const char* type, NetClass* net);
    virtual ~DefaultGM();
    virtual bool operator<(const DefaultGM& other) const;
    virtual bool operator>(const DefaultGM& other) const;
    virtual const std::string& getName() const;
    virtual const std::string& getType() const;

    NetClass* getNet() const { return net; }

protected:
    std::string name;
    std::string type;
    NetClass* net;
};

std::ostream& operator<<(std::ostream& os, const DefaultGM& element);
