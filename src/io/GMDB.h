#pragma once
// The program's access to a relational database over ODBC: one connection
// to a named data source, statements given as text, and the reading of the
// stored initial markings (for a marking number and a token colour, every
// token with its place and attribute values).
//
// Layout of a marking database, for marking M, a colour whose lower-case
// name is t and its lower-case attribute names a1 ... ak:
//   markings        (id int primary key, name)           one row per marking
//   M_places        (id int primary key, name)           the places, from 1
//   M_tokens_t      (id int primary key, object_id, place_id)
//   M_objects_t     (id int primary key, a1, ..., ak)    attribute records
// Failures are reported on standard output and returned as false; nothing
// is thrown.
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

// An attribute to read, with the ODBC target type (SQL_C_...) to fetch it in.
struct attr_name_type_info {
    std::string name;
    SQLSMALLINT sql_c_type = SQL_C_CHAR;
};

// One fetched attribute: the bytes the driver stored in its target type.
struct token_attribute {
    std::string name;
    SQLSMALLINT sql_c_type = SQL_C_CHAR;
    char value[512] = {};
};

struct token_description {
    int id = 0;
    std::string place_name;
    std::vector<token_attribute*> attributes;  // in request order
};

struct token_description_list {
    std::string tokentypename;
    std::vector<token_description*> token_descriptions;  // in fetch order
};

class GMDB {
public:
    GMDB();
    // Does not close an open connection: the owner calls DBCloseConnect.
    ~GMDB();
    GMDB(const GMDB&) = delete;
    GMDB& operator=(const GMDB&) = delete;

    // Lists the data sources, then connects; false (reported) on failure or
    // when already connected (the open connection stays as it is).
    bool DBConnect(const char* dsn, const char* user, const char* password);
    // Closes and releases whatever is open; safe when nothing is.
    void DBCloseConnect();
    bool isConnected() const { return V_OD_Env != nullptr && V_OD_hdbc != nullptr; }

    // Appends one description per stored token of the colour in the marking.
    bool DBReadTokens(int markingId, const char* tokentypename, std::vector<attr_name_type_info*>* attributes,
                      token_description_list* result);

    bool AllocateStatementHandle(SQLHSTMT* stmt);
    // Executes one statement text; the caller releases the statement.
    bool SQLQuery(SQLHSTMT* stmt, const char* sql);

    static std::string lcase(std::string text);
    // The statement DBReadTokens sends.
    static std::string tokenQuery(int markingId, const std::string& tokentypename,
                                  const std::vector<attr_name_type_info*>& attributes);

private:
    // "message (native error)" of the first diagnostic record of a handle.
    static std::string diagnostic(SQLSMALLINT handleType, SQLHANDLE handle);

    SQLHENV V_OD_Env;
    SQLHDBC V_OD_hdbc;
};
