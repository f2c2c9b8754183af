#include "io/DatabaseTokens.h"

#include <cstring>
#include <iostream>

#include "core/NetClass.h"
#include "core/Place.h"

namespace dbtokens {

int loadTokens(NetClass& net, const std::vector<DatabaseLoader>& loaders) {
    GMDB* connection = new GMDB();
    std::cout << "... try to connect to the database : " << kDataSource << " ...\n";
    int added = 0;
    if (connection->DBConnect(kDataSource, kUser, kPassword)) {
        std::cout << "... connected !\n";
        token_info_list tokens;
        token_reference_list refs;
        for (DatabaseLoader load : loaders) load(&net, connection, tokens, refs);
        std::cout << "All tokens created." << std::endl;
        connection->DBCloseConnect();
        std::cout << "connection closed." << std::endl;
        for (token_reference* r : refs) {
            r->token->setReferenceAttribute(r->attributename.c_str(),
                                            Token::findToken(tokens, r->tokentypename.c_str(), r->id));
            delete r;
        }
        std::cout << "All token references replaced." << std::endl;
        for (token_info* info : tokens) {
            if (Place* place = net.getPlace(info->place_name.c_str())) {
                place->addToken(info->token);
                ++added;
            } else {
                std::cout << "Could not find Place '" << info->place_name << "' for " << info->token->content()
                          << std::endl;
            }
            delete info;
        }
        std::cout << added << " tokens added to the net." << std::endl;
        connection->DBCloseConnect();
    }
    delete connection;
    return added;
}

std::string textOf(const token_attribute& a) { return std::string(a.value, strnlen(a.value, sizeof a.value)); }

long longOf(const token_attribute& a) {
    SQLINTEGER v = 0;
    std::memcpy(&v, a.value, sizeof v);
    return v;
}

bool boolOf(const token_attribute& a) { return a.value[0] != 0; }

double doubleOf(const token_attribute& a) {
    double v = 0.0;
    std::memcpy(&v, a.value, sizeof v);
    return v;
}

DateTime timeOf(const token_attribute& a) {
    SQL_TIMESTAMP_STRUCT t{};
    std::memcpy(&t, a.value, sizeof t);
    return DateTime(t.month, t.day, t.year, t.hour, t.minute, t.second);
}

void release(token_description_list& list) {
    for (token_description* d : list.token_descriptions) {
        for (token_attribute* a : d->attributes) delete a;
        delete d;
    }
    list.token_descriptions.clear();
}

}  // namespace dbtokens

// The integer colour's loader; no model of this program stores integer
// tokens in the database, so no start-up calls it.
void Token_int::createTokensFromDB(NetClass*, GMDB* connection, token_info_list& tokens, token_reference_list&) {
    std::vector<attr_name_type_info*> attributes{new attr_name_type_info{"value", SQL_C_SLONG}};
    token_description_list descriptions;
    connection->DBReadTokens(1, "Container", &attributes, &descriptions);
    for (attr_name_type_info* a : attributes) delete a;
    for (token_description* d : descriptions.token_descriptions) {
        auto* info = new token_info();
        info->tokentypename = "int";
        const bool stored = !d->attributes.empty() && d->attributes[0]->valid;
        info->token = Ptr<Token>(new Token_int(stored ? dbtokens::longOf(*d->attributes[0]) : 0));
        info->id = d->id;
        info->place_name = d->place_name;
        tokens.push_back(info);
    }
    dbtokens::release(descriptions);
}
