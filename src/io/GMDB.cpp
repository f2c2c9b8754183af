#include "io/GMDB.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
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

std::string GMDB::diagnosticState(SQLSMALLINT handleType, SQLHANDLE handle) {
    SQLCHAR state[8] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLCHAR message[8];
    if (!succeeded(SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message, &length))) return "";
    return reinterpret_cast<char*>(state);
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
    // The MariaDB driver ignores this attribute; the connection text bounds
    // the connect (CONN_TIMEOUT) instead.
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
    const std::string connection = connectionText(dsn, user, password);
    SQLCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    r = SQLDriverConnect(V_OD_hdbc, nullptr, text(connection.c_str()), SQL_NTS, completed, sizeof completed,
                         &completedLength, SQL_DRIVER_NOPROMPT);
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

namespace {

// A value of the connection text, in braces when it holds a character of
// that text's syntax.
std::string attributeValue(const std::string& value) {
    if (value.find_first_of(";{}=") == std::string::npos &&
        (value.empty() || (value.front() != ' ' && value.back() != ' ')))
        return value;
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}') braced += '}';
    }
    return braced + "}";
}

// Whether the data source's entry (user or system odbc.ini) sets `key`.
bool dataSourceSets(const char* dsn, const char* key) {
    char value[256] = {};
    return SQLGetPrivateProfileString(dsn, key, "", value, sizeof value, "odbc.ini") > 0 && value[0] != '\0';
}

}  // namespace

std::string GMDB::connectionText(const char* dsn, const char* user, const char* password) {
    std::string connection =
        "DSN=" + attributeValue(dsn) + ";UID=" + attributeValue(user) + ";PWD=" + attributeValue(password);
    static const struct {
        const char* key;
        const char* seconds;
    } kTimeouts[] = {{"CONN_TIMEOUT", "5"}, {"READ_TIMEOUT", "15"}, {"WRITE_TIMEOUT", "15"}};
    for (const auto& t : kTimeouts)
        if (!dataSourceSets(dsn, t.key)) connection += std::string(";") + t.key + "=" + t.seconds;
    return connection;
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

namespace {

// A stored value as the reports quote it: control bytes escaped, long texts
// shortened.
std::string quotedValue(const std::string& text) {
    constexpr std::size_t kShown = 80;
    const std::string shown = GMDB::utf8Prefix(text, kShown);
    std::string q;
    for (unsigned char c : shown) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            q += hex;
        } else {
            q += static_cast<char>(c);
        }
    }
    return "'" + q + (shown.size() < text.size() ? "...'" : "'");
}

enum class Cell { Value, Null, Failed };

// Reads column `column` of the fetched row as text, piece by piece, for as
// long as the driver reports there is more: no text is taken past the length
// the driver gives. At most `limit` bytes are kept; `length` receives the
// stored length.
Cell readText(SQLHSTMT stmt, SQLUSMALLINT column, std::size_t limit, std::string& text, std::size_t& length,
              std::string& failure) {
    text.clear();
    length = 0;
    char piece[4096];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN r = SQLGetData(stmt, column, SQL_C_CHAR, piece, sizeof piece, &indicator);
        if (r == SQL_NO_DATA) return Cell::Value;  // the last piece was read before
        if (!succeeded(r)) {
            SQLCHAR state[8] = {};
            SQLCHAR message[1024] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT size = 0;
            if (succeeded(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &size)))
                failure = std::string(reinterpret_cast<char*>(message)) + " (" + std::to_string(native) + ")";
            else
                failure = "error " + std::to_string(r);
            return Cell::Failed;
        }
        if (indicator == SQL_NULL_DATA) return Cell::Null;
        // A piece fills the buffer but for its terminating zero byte when more
        // follows (the indicator then holds what was left, or no total).
        const bool more = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof piece);
        const std::size_t got = more ? sizeof piece - 1 : static_cast<std::size_t>(indicator);
        if (text.size() < limit) text.append(piece, std::min(got, limit - text.size()));
        length += got;
        if (!more) return Cell::Value;
    }
}

// The message prefix of every report about one stored token.
std::string storedToken(const std::string& id, const char* colour) {
    return "Stored token " + id + " of colour " + colour + ": ";
}

}  // namespace

std::string GMDB::utf8Prefix(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    // Back to the first byte of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

bool GMDB::convertible(SQLSMALLINT cType) {
    switch (cType) {
        case SQL_C_SLONG: case SQL_C_LONG: case SQL_C_ULONG: case SQL_C_SSHORT: case SQL_C_SHORT:
        case SQL_C_USHORT: case SQL_C_STINYINT: case SQL_C_TINYINT: case SQL_C_UTINYINT: case SQL_C_SBIGINT:
        case SQL_C_UBIGINT: case SQL_C_BIT: case SQL_C_DOUBLE: case SQL_C_FLOAT: case SQL_C_TYPE_TIMESTAMP:
        case SQL_C_TIMESTAMP:
            return true;
        default:
            return false;
    }
}

namespace {

// An integer text: an optional sign, digits, and at most a point followed
// by zeros (the text of a whole DECIMAL value).
bool wholeNumber(const std::string& text, bool& negative, unsigned long long& magnitude, bool& tooLarge) {
    std::size_t k = 0;
    negative = false;
    if (k < text.size() && (text[k] == '-' || text[k] == '+')) negative = text[k++] == '-';
    const std::size_t digits = k;
    magnitude = 0;
    tooLarge = false;
    for (; k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])); ++k) {
        const unsigned d = static_cast<unsigned>(text[k] - '0');
        if (magnitude > (~0ULL - d) / 10) tooLarge = true;
        else magnitude = magnitude * 10 + d;
    }
    if (k == digits) return false;
    if (k < text.size() && text[k] == '.')
        for (++k; k < text.size() && text[k] == '0'; ++k) {
        }
    return k == text.size();
}

template <typename T>
void store(char (&into)[512], T value) {
    std::memcpy(into, &value, sizeof value);
}

std::string convertInteger(SQLSMALLINT cType, const std::string& text, char (&into)[512]) {
    bool negative = false, tooLarge = false;
    unsigned long long magnitude = 0;
    if (!wholeNumber(text, negative, magnitude, tooLarge)) return "which is not an integer";
    struct Range {
        long long low;
        unsigned long long high;
        const char* name;
    };
    Range range{};
    switch (cType) {
        case SQL_C_SLONG: case SQL_C_LONG: range = {INT32_MIN, INT32_MAX, "a 32-bit integer"}; break;
        case SQL_C_ULONG: range = {0, UINT32_MAX, "a 32-bit unsigned integer"}; break;
        case SQL_C_SSHORT: case SQL_C_SHORT: range = {INT16_MIN, INT16_MAX, "a 16-bit integer"}; break;
        case SQL_C_USHORT: range = {0, UINT16_MAX, "a 16-bit unsigned integer"}; break;
        case SQL_C_STINYINT: case SQL_C_TINYINT: range = {INT8_MIN, INT8_MAX, "an 8-bit integer"}; break;
        case SQL_C_UTINYINT: range = {0, UINT8_MAX, "an 8-bit unsigned integer"}; break;
        case SQL_C_SBIGINT: range = {INT64_MIN, INT64_MAX, "a 64-bit integer"}; break;
        default: range = {0, UINT64_MAX, "a 64-bit unsigned integer"}; break;
    }
    const unsigned long long lowMagnitude = range.low < 0 ? 0ULL - static_cast<unsigned long long>(range.low) : 0;
    const bool fits = !tooLarge && (negative ? magnitude <= lowMagnitude : magnitude <= range.high);
    if (!fits) return std::string("which is out of range of ") + range.name;
    const long long signedValue =
        negative ? (magnitude == lowMagnitude ? range.low : -static_cast<long long>(magnitude))
                 : static_cast<long long>(magnitude);
    switch (cType) {
        case SQL_C_SLONG: case SQL_C_LONG: store(into, static_cast<SQLINTEGER>(signedValue)); break;
        case SQL_C_ULONG: store(into, static_cast<SQLUINTEGER>(magnitude)); break;
        case SQL_C_SSHORT: case SQL_C_SHORT: store(into, static_cast<SQLSMALLINT>(signedValue)); break;
        case SQL_C_USHORT: store(into, static_cast<SQLUSMALLINT>(magnitude)); break;
        case SQL_C_STINYINT: case SQL_C_TINYINT: store(into, static_cast<SQLSCHAR>(signedValue)); break;
        case SQL_C_UTINYINT: store(into, static_cast<SQLCHAR>(magnitude)); break;
        case SQL_C_SBIGINT: store(into, static_cast<SQLBIGINT>(signedValue)); break;
        default: store(into, static_cast<SQLUBIGINT>(magnitude)); break;
    }
    return "";
}

bool leapYear(int year) {
    // The calendar is Julian up to the reform of 1582.
    if (year <= 1582) return year % 4 == 0;
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// "yyyy-mm-dd[ hh:mm:ss[.fraction]]", as the driver gives dates and times.
std::string convertTimestamp(const std::string& text, char (&into)[512]) {
    const char* why = "which is not a valid date and time";
    auto digits = [&](std::size_t at, std::size_t count, int& value) {
        if (at + count > text.size()) return false;
        value = 0;
        for (std::size_t k = at; k < at + count; ++k) {
            if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
            value = value * 10 + (text[k] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(5, 2, month) || text[7] != '-' ||
        !digits(8, 2, day))
        return why;
    long fraction = 0;  // nanoseconds
    if (text.size() > 10) {
        if (text.size() < 19 || text[10] != ' ' || !digits(11, 2, hour) || text[13] != ':' ||
            !digits(14, 2, minute) || text[16] != ':' || !digits(17, 2, second))
            return why;
        if (text.size() > 19) {
            if (text[19] != '.' || text.size() == 20 || text.size() > 29) return why;
            long scale = 100000000;
            for (std::size_t k = 20; k < text.size(); ++k, scale /= 10) {
                if (!std::isdigit(static_cast<unsigned char>(text[k]))) return why;
                fraction += (text[k] - '0') * scale;
            }
        }
    }
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && leapYear(year) ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
        return why;
    SQL_TIMESTAMP_STRUCT t{};
    t.year = static_cast<SQLSMALLINT>(year);
    t.month = static_cast<SQLUSMALLINT>(month);
    t.day = static_cast<SQLUSMALLINT>(day);
    t.hour = static_cast<SQLUSMALLINT>(hour);
    t.minute = static_cast<SQLUSMALLINT>(minute);
    t.second = static_cast<SQLUSMALLINT>(second);
    t.fraction = static_cast<SQLUINTEGER>(fraction);
    store(into, t);
    return "";
}

std::string convertFloating(SQLSMALLINT cType, const std::string& text, char (&into)[512]) {
    double value = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || end != last || (error != std::errc() && error != std::errc::result_out_of_range))
        return "which is not a number";
    if (error == std::errc::result_out_of_range || !std::isfinite(value))
        return "which is out of range of a double";
    if (cType == SQL_C_FLOAT) {
        if (std::fabs(value) > std::numeric_limits<float>::max()) return "which is out of range of a float";
        store(into, static_cast<float>(value));
    } else {
        store(into, value);
    }
    return "";
}

}  // namespace

std::string GMDB::convert(SQLSMALLINT cType, const std::string& text, char (&into)[512]) {
    std::fill(std::begin(into), std::end(into), '\0');
    switch (cType) {
        case SQL_C_BIT:
            // A BIT column comes as the raw byte, a BOOLEAN (TINYINT) one as
            // its digit.
            if (text == "1" || text == std::string(1, '\1')) into[0] = 1;
            else if (text != "0" && text != std::string(1, '\0')) return "which is not 0 or 1";
            return "";
        case SQL_C_DOUBLE: case SQL_C_FLOAT: return convertFloating(cType, text, into);
        case SQL_C_TYPE_TIMESTAMP: case SQL_C_TIMESTAMP: return convertTimestamp(text, into);
        default: return convertInteger(cType, text, into);
    }
}

// One column of a fetched row as read: the text (a text attribute, the
// identifier) or the bytes in the attribute itself (types the driver
// converts), its stored length, and why it could not be read.
struct GMDB::ColumnRead {
    Cell cell = Cell::Value;
    std::string text;
    std::size_t length = 0;
    std::string failure;
};

namespace {

// Room for a text attribute (511 bytes and the zero byte), plus one byte to
// see whether the cut would fall inside a character.
constexpr std::size_t kTextRoom = sizeof(token_attribute::value) - 1;
// A place name longer than this matches no place of a net anyway.
constexpr std::size_t kPlaceRoom = 64 * 1024;

// The identifier names the token in every report; without one the token
// cannot be told apart and is dropped (false, reported).
bool takeIdentifier(Cell idCell, const std::string& idText, const std::string& idFailure, long row,
                    const char* tokentypename, token_description& description) {
    char idValue[512] = {};
    const std::string idProblem = idCell == Cell::Failed ? "could not be read: " + idFailure
                                  : idCell == Cell::Null ? "is NULL"
                                                         : GMDB::convert(SQL_C_SLONG, idText, idValue);
    if (!idProblem.empty()) {
        std::cout << "Stored token row " << row << " of colour " << tokentypename << ": identifier "
                  << (idCell == Cell::Value ? quotedValue(idText) + " " : std::string()) << idProblem
                  << "; the token is dropped" << std::endl;
        return false;
    }
    SQLINTEGER id = 0;
    std::memcpy(&id, idValue, sizeof id);
    description.id = id;
    return true;
}

void deleteDescription(token_description* description) {
    for (token_attribute* a : description->attributes) delete a;
    delete description;
}

}  // namespace

bool GMDB::DBReadTokens(int markingId, const char* tokentypename, std::vector<attr_name_type_info*>* attributes,
                        token_description_list* result) {
    if (!isConnected()) return false;
    result->tokentypename = tokentypename;
    SQLHSTMT stmt = nullptr;
    if (!AllocateStatementHandle(&stmt)) return false;

    const std::string sql = tokenQuery(markingId, tokentypename, *attributes);
    if (!SQLQuery(&stmt, sql.c_str())) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return false;
    }
    int failedInARow = 0;
    for (long row = 1;; ++row) {
        const SQLRETURN r = SQLFetch(stmt);
        if (r == SQL_NO_DATA) break;
        if (!succeeded(r)) {
            if (stopAfterFailedFetch(stmt, row, tokentypename, failedInARow)) break;
            continue;
        }
        failedInARow = 0;
        if (token_description* description = readTokenRow(stmt, row, tokentypename, *attributes))
            result->token_descriptions.push_back(description);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return true;
}

bool GMDB::stopAfterFailedFetch(SQLHSTMT stmt, long row, const char* tokentypename, int& failedInARow) {
    // The driver reports a row it could not deliver and goes on with the
    // next; a lost connection or an expired time-out ends it all.
    const std::string state = diagnosticState(SQL_HANDLE_STMT, stmt);
    std::cout << "Could not fetch stored token row " << row << " of colour " << tokentypename << ": "
              << diagnostic(SQL_HANDLE_STMT, stmt) << std::endl;
    if (++failedInARow >= kMaxFailedFetches || state.rfind("08", 0) == 0 || state.rfind("HYT", 0) == 0) {
        std::cout << "Stopped reading the stored tokens of colour " << tokentypename << " after " << failedInARow
                  << " failed fetch" << (failedInARow == 1 ? "" : "es") << " in a row" << std::endl;
        return true;
    }
    return false;
}

token_description* GMDB::readTokenRow(SQLHSTMT stmt, long row, const char* tokentypename,
                                      const std::vector<attr_name_type_info*>& attributes) {
    // Columns are read one by one after each fetch (attributes, then the
    // row identifier, then the place name), so that a value that does not
    // convert costs that value only, never the row or the rows after it, and
    // no text is read beyond the length the driver reports.
    auto* description = new token_description();
    std::vector<ColumnRead> reads;
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        auto* a = new token_attribute();
        a->name = attributes[k]->name;
        a->sql_c_type = attributes[k]->sql_c_type;
        description->attributes.push_back(a);
        reads.push_back(readAttributeColumn(stmt, static_cast<SQLUSMALLINT>(k + 1), *a));
    }
    const auto idColumn = static_cast<SQLUSMALLINT>(attributes.size() + 1);
    const auto placeColumn = static_cast<SQLUSMALLINT>(attributes.size() + 2);
    std::string idText, idFailure, placeFailure;
    std::size_t idLength = 0, placeLength = 0;
    const Cell idCell = readText(stmt, idColumn, 64, idText, idLength, idFailure);
    const Cell placeCell = readText(stmt, placeColumn, kPlaceRoom, description->place_name, placeLength,
                                    placeFailure);
    if (!takeIdentifier(idCell, idText, idFailure, row, tokentypename, *description)) {
        deleteDescription(description);
        return nullptr;
    }
    const std::string prefix = storedToken(std::to_string(description->id), tokentypename);
    if (placeCell == Cell::Failed)
        std::cout << prefix << "its place name could not be read: " << placeFailure << std::endl;
    else if (placeLength > kPlaceRoom)
        std::cout << prefix << "its place name of " << placeLength << " bytes is cut to " << kPlaceRoom << std::endl;
    for (std::size_t k = 0; k < attributes.size(); ++k) storeAttribute(*description->attributes[k], reads[k], prefix);
    return description;
}

GMDB::ColumnRead GMDB::readAttributeColumn(SQLHSTMT stmt, SQLUSMALLINT column, token_attribute& a) {
    ColumnRead read;
    if (a.sql_c_type == SQL_C_CHAR || convertible(a.sql_c_type)) {
        read.cell = readText(stmt, column, kTextRoom + 1, read.text, read.length, read.failure);
        return read;
    }
    // A target type without a text form of its own here: the driver
    // converts, into the attribute's room.
    SQLLEN indicator = 0;
    const SQLRETURN g = SQLGetData(stmt, column, a.sql_c_type, a.value, sizeof a.value, &indicator);
    read.cell = !succeeded(g) ? Cell::Failed : indicator == SQL_NULL_DATA ? Cell::Null : Cell::Value;
    if (read.cell == Cell::Failed) read.failure = diagnostic(SQL_HANDLE_STMT, stmt);
    a.valid = read.cell == Cell::Value;
    if (!a.valid) std::fill(std::begin(a.value), std::end(a.value), '\0');
    return read;
}

void GMDB::storeAttribute(token_attribute& a, const ColumnRead& read, const std::string& prefix) {
    const std::string column = lcase(a.name);
    if (read.cell == Cell::Failed) {
        std::cout << prefix << "column " << column << " could not be read: " << read.failure << "; " << a.name
                  << " keeps its default" << std::endl;
        return;
    }
    // Types the driver converts are in place already; no value keeps the default.
    if (!(a.sql_c_type == SQL_C_CHAR || convertible(a.sql_c_type)) || read.cell == Cell::Null) return;
    if (a.sql_c_type == SQL_C_CHAR) {
        const std::string kept = utf8Prefix(read.text, kTextRoom);
        std::copy(kept.begin(), kept.end(), a.value);
        a.valid = true;
        if (read.length > kTextRoom)
            std::cout << prefix << "column " << column << " holds a text of " << read.length << " bytes, more than the "
                      << kTextRoom << " a text attribute takes; " << a.name << " keeps its first " << kept.size()
                      << " bytes" << std::endl;
        return;
    }
    const std::string why = read.length > kTextRoom ? std::string("which is too long for a value")
                                                    : convert(a.sql_c_type, read.text, a.value);
    a.valid = why.empty();
    if (!a.valid)
        std::cout << prefix << "column " << column << " holds " << quotedValue(read.text) << ", " << why << "; "
                  << a.name << " keeps its default" << std::endl;
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
