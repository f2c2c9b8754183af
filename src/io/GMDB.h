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

#include <map>
#include <string>
#include <vector>

// An attribute to read, with the ODBC target type (SQL_C_...) to fetch it in.
struct attr_name_type_info {
    std::string name;
    SQLSMALLINT sql_c_type = SQL_C_CHAR;
};

// One fetched attribute: the stored value in its target type (a
// zero-terminated text for SQL_C_CHAR, a 4-byte integer for SQL_C_SLONG, one
// byte 0 or 1 for SQL_C_BIT, an SQL_TIMESTAMP_STRUCT for
// SQL_C_TYPE_TIMESTAMP ...).
struct token_attribute {
    std::string name;
    SQLSMALLINT sql_c_type = SQL_C_CHAR;
    char value[512] = {};
    // False when the column was NULL or its value did not convert to the
    // target type (reported when read); `value` is then all zero bytes and
    // the loaders leave the attribute at its default.
    bool valid = false;
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

struct tokentype_description {
    std::string tokentypename;
    std::vector<attr_name_type_info*> attributes;
};

// What DBCreateMarking lays out: the places and the colours of a marking.
struct marking_description {
    std::string markingname;
    std::vector<std::string> placenames;
    std::vector<tokentype_description*> tokentypes;
};

struct marking_info {
    int id = 0;
    std::string name;
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

    // Operations the simulation run does not use; each needs an open
    // connection and runs its own statement.
    bool DBGetMarkings(std::vector<marking_info*>* list);
    // Lays out a new marking (number: the largest stored one + 1).
    bool DBCreateMarking(marking_description* description);
    // The data source's SQL type name for an ODBC target type.
    bool SQLGetTypeName(SQLSMALLINT cType, std::string& name);
    std::map<int, double> DBReadFrequencies();
    bool DBReadStr(std::string& value, const char* table, const char* column, int id);
    bool DBReadInt(long& value, const char* table, const char* column, int id);
    bool DBReadFloat(float& value, const char* table, const char* column, int id);
    bool DBReadDouble(double& value, const char* table, const char* column, int id);
    bool DBReadBool(bool& value, const char* table, const char* column, int id);
    bool DBReadDateTime(std::string& value, const char* table, const char* column, int id);
    bool DBUpdateStr(const char* value, const char* column, const char* table, int id);
    bool DBUpdateDate(const char* value, const char* column, const char* table, int id);
    bool DBUpdateTime(const char* value, const char* column, const char* table, int id);
    bool DBUpdateDateTime(const char* value, const char* column, const char* table, int id);
    bool DBUpdateInt(int value, const char* column, const char* table, int id);
    bool DBUpdateFloat(float value, const char* column, const char* table, int id);
    bool DBUpdateDouble(double value, const char* column, const char* table, int id);
    bool DBUpdateBool(bool value, const char* column, const char* table, int id);
    bool DBDeleteRow(const char* table, int id);
    // `types` is a text of tags, each after a '%': s text, i int, f float,
    // d double, b boolean, a date, m time, t date and time. The column names
    // (and values) follow as further arguments, per tag.
    bool DBCreateTbl(const char* table, const char* types, ...);
    bool DBDropTbl(const char* table);
    // Per tag: the column name, then the value (texts as const char*, i/f/d
    // by address, b by value).
    bool DBInsertRow(const char* table, const char* types, ...);
    bool DBUpdateRow(const char* table, const char* types, int id, ...);
    // Per tag: the column name, then the address that receives the value
    // (std::string* for texts, times and dates).
    bool DBReadRow(const char* table, const char* types, int id, ...);

    static std::string lcase(std::string text);

    // Strict conversion of a stored value's text form (as the driver gives
    // it for SQL_C_CHAR) into the bytes of target type `cType` in `into`.
    // Empty when it converts; otherwise why not, as in "which is out of
    // range of a 32-bit integer". Texts (SQL_C_CHAR) are not handled here.
    static std::string convert(SQLSMALLINT cType, const std::string& text, char (&into)[512]);
    // Whether `convert` knows the target type; others are fetched by the
    // driver itself.
    static bool convertible(SQLSMALLINT cType);
    // The longest prefix of `text` of at most `limit` bytes that does not end
    // inside a UTF-8 character.
    static std::string utf8Prefix(const std::string& text, std::size_t limit);
    // Failed fetches in a row after which DBReadTokens gives up.
    static constexpr int kMaxFailedFetches = 1000;
    // The statement DBReadTokens sends.
    static std::string tokenQuery(int markingId, const std::string& tokentypename,
                                  const std::vector<attr_name_type_info*>& attributes);

private:
    // Runs one statement on a statement of its own.
    bool execute(const std::string& sql);
    // Runs `sql` and fetches the first column of its first row into
    // `buffer`; false when it fails or there is no row.
    bool fetchFirst(const std::string& sql, SQLSMALLINT cType, void* buffer, SQLLEN size, std::string* state = nullptr);
    static std::vector<char> typeTags(const char* types);

    // The steps of DBReadTokens.
    struct ColumnRead;
    // Reports a fetch that failed; true when reading should stop there.
    static bool stopAfterFailedFetch(SQLHSTMT stmt, long row, const char* tokentypename, int& failedInARow);
    // The token of the fetched row, or null when it has no identifier
    // (reported).
    static token_description* readTokenRow(SQLHSTMT stmt, long row, const char* tokentypename,
                                           const std::vector<attr_name_type_info*>& attributes);
    static ColumnRead readAttributeColumn(SQLHSTMT stmt, SQLUSMALLINT column, token_attribute& a);
    // Converts a column read into its attribute; a value that does not fit
    // or convert is reported and leaves the attribute at its default.
    static void storeAttribute(token_attribute& a, const ColumnRead& read, const std::string& prefix);

    // "message (native error)" of the first diagnostic record of a handle.
    static std::string diagnostic(SQLSMALLINT handleType, SQLHANDLE handle);
    // The SQLSTATE of that record ("" when there is none).
    static std::string diagnosticState(SQLSMALLINT handleType, SQLHANDLE handle);

public:
    // The connection text DBConnect sends: the data source, the login (which
    // takes the place of the data source's User and Password) and the
    // time-outs the data source does not set itself, so that a server that
    // stops answering fails the connect or the statement instead of stalling
    // the run: CONN_TIMEOUT=5 (seconds to connect), READ_TIMEOUT=15 and
    // WRITE_TIMEOUT=15 (seconds one read or write of a statement may wait).
    static std::string connectionText(const char* dsn, const char* user, const char* password);

private:

    SQLHENV V_OD_Env;
    SQLHDBC V_OD_hdbc;
};
