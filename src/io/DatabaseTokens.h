#pragma once
// Start-up loading of the tokens stored in the ODBC data source "scpn": each
// colour's loader reads its tokens of marking 1, and the tokens are put on
// the places they name. The data source does not stand in for the marking
// file: when it cannot be reached, the run starts with the file's tokens.
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Token.h"
#include "io/GMDB.h"

class NetClass;

// Reads the tokens of one colour from the open connection.
using DatabaseLoader = void (*)(NetClass* net, GMDB* connection, token_info_list& tokens, token_reference_list& refs);

namespace dbtokens {

// The data source and its login.
inline constexpr const char* kDataSource = "scpn";
inline constexpr const char* kUser = "quorvel";
inline constexpr const char* kPassword = "quorvel";

// Connects, runs the loaders, resolves references between loaded tokens and
// adds every token to its place (a token for a place the net lacks is
// reported and dropped). Returns the number of tokens added.
int loadTokens(NetClass& net, const std::vector<DatabaseLoader>& loaders);

// Values of fetched attributes, by their ODBC target type.
std::string textOf(const token_attribute& a);
long longOf(const token_attribute& a);    // SQL_C_SLONG
bool boolOf(const token_attribute& a);    // SQL_C_BIT: true unless 0
double doubleOf(const token_attribute& a);  // SQL_C_DOUBLE
// SQL_C_TYPE_TIMESTAMP, through the calendar. The fraction of a second is
// dropped: times are whole seconds of the calendar, as their text shows them.
DateTime timeOf(const token_attribute& a);

// Frees descriptions read by GMDB::DBReadTokens.
void release(token_description_list& list);

}  // namespace dbtokens
