#include "io/GMDB.h"

#include <algorithm>
#include <cctype>
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
