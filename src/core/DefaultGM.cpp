#include "core/DefaultGM.h"

DefaultGM::DefaultGM(const char* name_, const char* type_, NetClass* net_)
    : name(name_ ? name_ : ""), type(type_ ? type_ : ""), net(net_) {}

DefaultGM::~DefaultGM() = default;

bool DefaultGM::operator<(const DefaultGM& other) const { return name < other.name; }
bool DefaultGM::operator>(const DefaultGM& other) const { return name > other.name; }
const std::string& DefaultGM::getName() const { return name; }
const std::string& DefaultGM::getType() const { return type; }

std::ostream& operator<<(std::ostream& os, const DefaultGM& element) {
    return os << "Default name: " << element.getName();
}
