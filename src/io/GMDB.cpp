#include "io/GMDB.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <memory>

namespace {

bool succeeded(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

SQLCHAR* text(const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); }

}  // namespace

GMDB::GMDB() : V_OD_Env(nullptr), V_OD_hdbc(nullptr) {}

GMDB::~GMDB() = default;

std::string GMDB::lcase(std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
}

std::string GMDB::diagnostic(SQLSMALLINT handleType, SQLHANDLE handle) {
    SQLCHAR state[8] = {};
    SQLCHAR message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message, &length)))
        return "(no diagnostic) (0)";
    return std::string(reinterpret_cast<char*>(message)) + " (" + std::to_string(native) + ")";
}

bool GMDB::DBConnect(const char* dsn, const char* user, const char* password) {
    if (isConnected()) return false;
    SQLRETURN r = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &V_OD_Env);
    if (!succeeded(r)) {
        std::cout << "Error AllocHandle" << std::endl;
        V_OD_Env = nullptr;
        return false;
    }
    r = SQLSetEnvAttr(V_OD_Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!succeeded(r)) {
        std::cout << "Error SetEnv" << std::endl;
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = nullptr;
        return false;
    }
    r = SQLAllocHandle(SQL_HANDLE_DBC, V_OD_Env, &V_OD_hdbc);
    if (!succeeded(r)) {
        std::cout << "Error AllocHDB " << r << std::endl;
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = nullptr;
        V_OD_hdbc = nullptr;
        return false;
    }
    // The attribute does not bound a connect to a server that never answers
    // with every driver; data sources should also set their own time-out.
    SQLSetConnectAttr(V_OD_hdbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0);

    std::cout << "the following DSNs are available:" << std::endl;
    SQLCHAR name[512];
    SQLCHAR description[512];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT descriptionLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
         succeeded(SQLDataSources(V_OD_Env, direction, name, sizeof name, &nameLength, description,
                                  sizeof description, &descriptionLength));
         direction = SQL_FETCH_NEXT)
        std::cout << "\tservername='" << name << "', description='" << description << "'" << std::endl;

    std::cout << "trying to connect to DSN=" << dsn << ", USER=" << user << ", PASS=" << password << std::endl;
    r = SQLConnect(V_OD_hdbc, text(dsn), SQL_NTS, text(user), SQL_NTS, text(password), SQL_NTS);
    if (succeeded(r)) {
        std::cout << "connection established!" << std::endl;
        return true;
    }
    std::cout << "Error SQLConnect " << r << std::endl;
    std::cout << diagnostic(SQL_HANDLE_DBC, V_OD_hdbc) << std::endl;
    SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
    SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
    V_OD_hdbc = nullptr;
    V_OD_Env = nullptr;
    return false;
}

void GMDB::DBCloseConnect() {
    if (V_OD_hdbc != nullptr) {
        SQLDisconnect(V_OD_hdbc);
        SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
        V_OD_hdbc = nullptr;
    }
    if (V_OD_Env != nullptr) {
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = nullptr;
    }
}

bool GMDB::AllocateStatementHandle(SQLHSTMT* stmt) {
    if (!isConnected()) return false;
    const SQLRETURN r = SQLAllocHandle(SQL_HANDLE_STMT, V_OD_hdbc, stmt);
    if (succeeded(r)) return true;
    std::cout << "SQLAllocHandle failed" << std::endl;
    std::cout << "Error in AllocStatement " << r << std::endl;
    std::cout << diagnostic(SQL_HANDLE_DBC, V_OD_hdbc) << std::endl;
    return false;
}

bool GMDB::SQLQuery(SQLHSTMT* stmt, const char* sql) {
    if (!isConnected()) return false;
    const SQLRETURN r = SQLExecDirect(*stmt, text(sql), SQL_NTS);
    if (succeeded(r)) return true;
    std::cout << "SQLExecDirect failed: " << sql << std::endl;
    std::cout << "Error in Select " << r << std::endl;
    std::cout << diagnostic(SQL_HANDLE_STMT, *stmt) << std::endl;
    return false;
}

std::string GMDB::tokenQuery(int markingId, const std::string& tokentypename,
                             const std::vector<attr_name_type_info*>& attributes) {
    const std::string t = lcase(tokentypename);
    const std::string m = std::to_string(markingId);
    std::string sql = "SELECT ";
    for (std::size_t k = 0; k < attributes.size(); ++k)
        sql += (k > 0 ? ", " : "") + std::string("oname.") + lcase(attributes[k]->name);
    if (!attributes.empty()) sql += ",";
    sql += " tname.id, pname.name FROM " + m + "_tokens_" + t + " tname, " + m + "_objects_" + t + " oname, " + m +
           "_places pname" + " WHERE tname.object_id = oname.id AND pname.id=tname.place_id";
    return sql;
}

bool GMDB::DBReadTokens(int markingId, const char* tokentypename, std::vector<attr_name_type_info*>* attributes,
                        token_description_list* result) {
    if (!isConnected()) return false;
    result->tokentypename = tokentypename;
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;

    // One 512-byte buffer per attribute, then the row identifier and the
    // place name. A NULL column leaves its buffer as the last row left it.
    std::vector<std::unique_ptr<char[]>> buffers;
    SQLLEN indicator = 0;
    std::vector<SQLLEN> indicators(attributes->size() + 2);
    SQLUSMALLINT column = 1;
    for (std::size_t k = 0; k < attributes->size(); ++k, ++column) {
        buffers.emplace_back(new char[512]());
        SQLBindCol(stmt, column, (*attributes)[k]->sql_c_type, buffers.back().get(), 512, &indicators[k]);
    }
    SQLUINTEGER id = 0;
    char place[512] = {};
    SQLBindCol(stmt, column++, SQL_C_ULONG, &id, sizeof id, &indicator);
    SQLBindCol(stmt, column, SQL_C_CHAR, place, sizeof place, &indicators.back());

    const std::string sql = tokenQuery(markingId, tokentypename, *attributes);
    if (!SQLQuery(&stmt, sql.c_str())) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return false;
    }
    // Any result but success ends the rows: an error would repeat forever.
    for (SQLRETURN r = SQLFetch(stmt); succeeded(r); r = SQLFetch(stmt)) {
        auto* description = new token_description();
        description->id = static_cast<int>(id);
        description->place_name = place;
        for (std::size_t k = 0; k < attributes->size(); ++k) {
            auto* a = new token_attribute();
            a->name = (*attributes)[k]->name;
            a->sql_c_type = (*attributes)[k]->sql_c_type;
            std::copy(buffers[k].get(), buffers[k].get() + 512, a->value);
            description->attributes.push_back(a);
        }
        result->token_descriptions.push_back(description);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return true;
}

// ---------------------------------------------------------------------------
// Operations the simulation run does not use

bool GMDB::execute(const std::string& sql) {
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;
    const bool ok = SQLQuery(&stmt, sql.c_str());
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
}

bool GMDB::fetchFirst(const std::string& sql, SQLSMALLINT cType, void* buffer, SQLLEN size, std::string* state) {
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, cType, buffer, size, &indicator);
    bool ok = SQLQuery(&stmt, sql.c_str());
    if (ok) {
        const SQLRETURN r = SQLFetch(stmt);
        ok = succeeded(r);
        if (r == SQL_SUCCESS_WITH_INFO && state != nullptr) {
            SQLCHAR code[8] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, code, &native, nullptr, 0, &length);
            *state = reinterpret_cast<char*>(code);
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
}

bool GMDB::DBGetMarkings(std::vector<marking_info*>* list) {
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;
    SQLUINTEGER id = 0;
    char name[512] = {};
    SQLLEN indicators[2] = {};
    SQLBindCol(stmt, 1, SQL_C_ULONG, &id, sizeof id, &indicators[0]);
    SQLBindCol(stmt, 2, SQL_C_CHAR, name, sizeof name, &indicators[1]);
    const bool ok = SQLQuery(&stmt, "SELECT id, name FROM markings");
    if (ok)
        while (succeeded(SQLFetch(stmt))) list->push_back(new marking_info{static_cast<int>(id), name});
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
}

bool GMDB::SQLGetTypeName(SQLSMALLINT cType, std::string& name) {
    if (!isConnected()) return false;
    SQLSMALLINT sqlType = cType;
    int wantUnsigned = -1;  // -1: take the first row
    switch (cType) {
        case SQL_C_CHAR: sqlType = SQL_LONGVARCHAR; break;
        case SQL_C_UTINYINT: sqlType = SQL_TINYINT; wantUnsigned = 1; break;
        case SQL_C_USHORT: sqlType = SQL_SMALLINT; wantUnsigned = 1; break;
        case SQL_C_ULONG: sqlType = SQL_INTEGER; wantUnsigned = 1; break;
        case SQL_C_STINYINT: sqlType = SQL_TINYINT; wantUnsigned = 0; break;
        case SQL_C_SSHORT: sqlType = SQL_SMALLINT; wantUnsigned = 0; break;
        case SQL_C_SLONG: sqlType = SQL_INTEGER; wantUnsigned = 0; break;
        default: break;
    }
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;
    const SQLRETURN r = SQLGetTypeInfo(stmt, sqlType);
    if (!succeeded(r)) {
        std::cout << "SQLGetTypeInfo failed: " << "type=" << cType << std::endl;
        std::cout << "Error in GetTypeInfo " << r << std::endl;
        std::cout << diagnostic(SQL_HANDLE_STMT, stmt) << std::endl;
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return false;
    }
    char typeName[512] = {};
    SQLSMALLINT isUnsigned = 0;
    SQLLEN indicators[2] = {};
    SQLBindCol(stmt, 1, SQL_C_CHAR, typeName, sizeof typeName, &indicators[0]);
    SQLBindCol(stmt, 10, SQL_C_SSHORT, &isUnsigned, sizeof isUnsigned, &indicators[1]);
    bool found = false;
    while (!found && succeeded(SQLFetch(stmt)))
        found = wantUnsigned < 0 || (isUnsigned != 0) == (wantUnsigned == 1);
    if (found) name = typeName;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return found;
}

bool GMDB::DBCreateMarking(marking_description* description) {
    if (!isConnected()) return false;
    SQLUINTEGER largest = 0;
    const bool tableExists = fetchFirst("SELECT MAX(id) FROM markings", SQL_C_ULONG, &largest, sizeof largest);
    if (!tableExists && !execute("CREATE TABLE markings (id int not null, name long varchar, primary key (id))"))
        return false;
    const std::string m = std::to_string(tableExists ? largest + 1 : 1);
    if (!execute("INSERT INTO markings (id, name) values(" + m + ", \"" + description->markingname + "\")")) {
        std::cout << "Couldn't insert new marking '" << description->markingname << "'" << std::endl;
        return false;
    }
    if (!execute("CREATE TABLE " + m + "_places (id int not null, name long varchar, primary key (id))")) {
        std::cout << "Couldn't create table '" << m << "_places" << "'" << std::endl;
        return false;
    }
    int number = 0;
    for (const std::string& place : description->placenames)
        if (!execute("INSERT INTO " + m + "_places (id, name) values(" + std::to_string(++number) + ", \"" + place +
                     "\")"))
            std::cout << "Couldn't store place '" << place << "' in table " << m << "_places" << std::endl;
    for (tokentype_description* colour : description->tokentypes) {
        const std::string t = lcase(colour->tokentypename);
        const std::string tokens = m + "_tokens_" + t;
        if (!execute("CREATE TABLE " + tokens + " (id int not null, object_id int, place_id int, primary key (id))")) {
            std::cout << "Couldn't create table '" << tokens << "'" << std::endl;
            return false;
        }
        const std::string objects = m + "_objects_" + t;
        std::string sql = "CREATE TABLE " + objects + " (id int not null, primary key (id)";
        for (attr_name_type_info* a : colour->attributes) {
            std::string type;
            if (!SQLGetTypeName(a->sql_c_type, type)) {
                std::cout << "Couldn't get sqltype name for '" << a->name << "' type=" << a->sql_c_type << std::endl;
                return false;
            }
            sql += ", " + lcase(a->name) + " " + type;
        }
        if (!execute(sql + ")")) {
            std::cout << "Couldn't create table '" << objects << "'" << std::endl;
            return false;
        }
    }
    return true;
}

std::map<int, double> GMDB::DBReadFrequencies() {
    std::map<int, double> frequencies;
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return frequencies;
    SQLUINTEGER index = 0;
    double frequency = 0.0;
    SQLLEN indicators[2] = {};
    SQLBindCol(stmt, 1, SQL_C_ULONG, &index, sizeof index, &indicators[0]);
    SQLBindCol(stmt, 2, SQL_C_DOUBLE, &frequency, sizeof frequency, &indicators[1]);
    if (SQLQuery(&stmt, "SELECT Index, Frequency FROM Passenger"))
        while (succeeded(SQLFetch(stmt))) frequencies[static_cast<int>(index)] = frequency;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return frequencies;
}

namespace {
std::string selectOne(const char* table, const char* column, int id) {
    return std::string("SELECT ") + column + " FROM " + table + " WHERE id = " + std::to_string(id);
}
std::string quoted(const std::string& value) { return "\"" + value + "\""; }
std::string update(const char* table, const char* column, const std::string& value, int id) {
    return std::string("UPDATE ") + table + " SET " + column + " = " + value + " WHERE Id = " + std::to_string(id);
}
std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
}  // namespace

bool GMDB::DBReadStr(std::string& value, const char* table, const char* column, int id) {
    // A text longer than the buffer is fetched again with twice the room.
    for (SQLLEN size = 512;; size *= 2) {
        std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
        std::string state;
        if (!fetchFirst(selectOne(table, column, id), SQL_C_CHAR, buffer.data(), size, &state)) return false;
        if (state != "01004" || size >= (SQLLEN{1} << 30)) {
            value = buffer.data();
            return true;
        }
    }
}

bool GMDB::DBReadInt(long& value, const char* table, const char* column, int id) {
    SQLUINTEGER v = 0;
    if (!fetchFirst(selectOne(table, column, id), SQL_C_ULONG, &v, sizeof v)) return false;
    value = static_cast<long>(v);
    return true;
}

bool GMDB::DBReadFloat(float& value, const char* table, const char* column, int id) {
    return fetchFirst(selectOne(table, column, id), SQL_C_FLOAT, &value, sizeof value);
}

bool GMDB::DBReadDouble(double& value, const char* table, const char* column, int id) {
    return fetchFirst(selectOne(table, column, id), SQL_C_DOUBLE, &value, sizeof value);
}

bool GMDB::DBReadBool(bool& value, const char* table, const char* column, int id) {
    unsigned char v = 0;
    if (!fetchFirst(selectOne(table, column, id), SQL_C_BIT, &v, sizeof v)) return false;
    value = v != 0;
    return true;
}

bool GMDB::DBReadDateTime(std::string& value, const char* table, const char* column, int id) {
    char buffer[512] = {};
    if (!fetchFirst(selectOne(table, column, id), SQL_C_CHAR, buffer, sizeof buffer)) return false;
    value = buffer;
    return true;
}

bool GMDB::DBUpdateStr(const char* value, const char* column, const char* table, int id) {
    return execute(update(table, column, quoted(value), id));
}
bool GMDB::DBUpdateDate(const char* value, const char* column, const char* table, int id) {
    return execute(update(table, column, quoted(value), id));
}
bool GMDB::DBUpdateTime(const char* value, const char* column, const char* table, int id) {
    return execute(update(table, column, quoted(value), id));
}
bool GMDB::DBUpdateDateTime(const char* value, const char* column, const char* table, int id) {
    return execute(update(table, column, quoted(value), id));
}
bool GMDB::DBUpdateInt(int value, const char* column, const char* table, int id) {
    return execute(update(table, column, std::to_string(value), id));
}
bool GMDB::DBUpdateFloat(float value, const char* column, const char* table, int id) {
    return execute(update(table, column, printed("%f", value), id));
}
bool GMDB::DBUpdateDouble(double value, const char* column, const char* table, int id) {
    return execute(update(table, column, printed("%f", value), id));
}
bool GMDB::DBUpdateBool(bool value, const char* column, const char* table, int id) {
    return execute(update(table, column, quoted(value ? "True" : "False"), id));
}

bool GMDB::DBDeleteRow(const char* table, int id) {
    return execute(std::string("DELETE FROM ") + table + " WHERE Id = " + std::to_string(id));
}

bool GMDB::DBDropTbl(const char* table) { return execute(std::string("DROP TABLE IF EXISTS ") + table); }

std::vector<char> GMDB::typeTags(const char* types) {
    std::vector<char> tags;
    for (const char* p = types; *p != '\0'; ++p)
        if (*p == '%' && p[1] != '\0') tags.push_back(*++p);
    return tags;
}

bool GMDB::DBCreateTbl(const char* table, const char* types, ...) {
    std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") + table + " (";
    va_list args;
    va_start(args, types);
    bool wrong = false;
    for (char tag : typeTags(types)) {
        const char* name = va_arg(args, const char*);
        const char* type = nullptr;
        switch (tag) {
            case 's': type = " VARCHAR(199) NOT NULL"; break;
            case 'i': type = " INT NOT NULL"; break;
            case 'f': type = " FLOAT NOT NULL"; break;
            case 'd': type = " DOUBLE NOT NULL"; break;
            case 'b': type = " ENUM('False','True') NOT NULL"; break;
            case 'a': type = " DATE NOT NULL"; break;
            case 'm': type = " TIME NOT NULL"; break;
            case 't': type = " DATETIME NOT NULL"; break;
            default: wrong = true; break;
        }
        if (type == nullptr) continue;
        sql += std::string(" ") + name + type + ",";
    }
    va_end(args);
    if (wrong) {
        std::cout << "Wrong types" << std::endl;
        return false;
    }
    if (sql.back() == ',') sql.back() = ')';
    return execute(sql);
}

namespace {
// The SQL text of one value of a row, read from the argument list by tag;
// false for an unknown tag.
bool rowValue(char tag, va_list& args, std::string& text) {
    switch (tag) {
        case 's':
        case 'a':
        case 'm':
        case 't': text = "\"" + std::string(va_arg(args, const char*)) + "\""; return true;
        case 'i': text = std::to_string(*va_arg(args, int*)); return true;
        case 'f': text = printed("%f", *va_arg(args, float*)); return true;
        case 'd': text = printed("%f", *va_arg(args, double*)); return true;
        case 'b': text = va_arg(args, int) != 0 ? "\"True\"" : "\"False\""; return true;
        default: return false;
    }
}
}  // namespace

bool GMDB::DBInsertRow(const char* table, const char* types, ...) {
    std::string columns;
    std::string values;
    va_list args;
    va_start(args, types);
    for (char tag : typeTags(types)) {
        const char* name = va_arg(args, const char*);
        std::string value;
        if (!rowValue(tag, args, value)) {
            va_end(args);
            std::cout << "Wrong types." << std::endl;
            return false;
        }
        columns += (columns.empty() ? "" : ",") + std::string(name);
        values += (values.empty() ? "" : ",") + value;
    }
    va_end(args);
    return execute(std::string("INSERT INTO ") + table + " (" + columns + ") VALUES (" + values + ")");
}

bool GMDB::DBUpdateRow(const char* table, const char* types, int id, ...) {
    va_list args;
    va_start(args, id);
    bool ok = true;
    for (char tag : typeTags(types)) {
        const char* name = va_arg(args, const char*);
        std::string value;
        if (!rowValue(tag, args, value)) {
            std::cout << "Wrong types." << std::endl;
            ok = false;
            break;
        }
        ok = execute(update(table, name, value, id)) && ok;
    }
    va_end(args);
    return ok;
}

bool GMDB::DBReadRow(const char* table, const char* types, int id, ...) {
    va_list args;
    va_start(args, id);
    bool ok = true;
    for (char tag : typeTags(types)) {
        const char* name = va_arg(args, const char*);
        const std::string sql = std::string("SELECT ") + name + " FROM " + table + " WHERE Id = " + std::to_string(id);
        char text[512] = {};
        switch (tag) {
            case 's':
            case 'a':
            case 'm':
            case 't': {
                std::string* out = va_arg(args, std::string*);
                ok = fetchFirst(sql, SQL_C_CHAR, text, sizeof text) && ok;
                *out = text;
                break;
            }
            case 'i': ok = fetchFirst(sql, SQL_C_SLONG, va_arg(args, int*), sizeof(int)) && ok; break;
            case 'f': ok = fetchFirst(sql, SQL_C_FLOAT, va_arg(args, float*), sizeof(float)) && ok; break;
            case 'd': ok = fetchFirst(sql, SQL_C_DOUBLE, va_arg(args, double*), sizeof(double)) && ok; break;
            case 'b': {
                bool* out = va_arg(args, bool*);
                ok = fetchFirst(sql, SQL_C_CHAR, text, sizeof text) && ok;
                const std::string v = text;
                if (v == "True" || v == "T" || v == "1")
                    *out = true;
                else if (v == "False" || v == "F" || v == "0")
                    *out = false;
                else
                    std::cout << "No boolean format!" << std::endl;
                break;
            }
            default:
                std::cout << "Wrong types." << std::endl;
                va_end(args);
                return false;
        }
    }
    va_end(args);
    return ok;
}
