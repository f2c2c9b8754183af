// Database access and the start-up loading of stored tokens, against a real
// MariaDB server of the tests' own (scripts/test-db.sh: private data folder,
// loopback port 33061, data sources "scpn" and "scpn_wrongpass").
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "io/GMDB.h"
#include "support/TestSupport.h"

namespace {

const std::string kScript = std::string(SCPNSIM_SOURCE_DIR) + "/scripts/test-db.sh";
const std::string kFixtures = std::string(SCPNSIM_SOURCE_DIR) + "/tests/fixtures/db/";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The attributes of the record colour, as its loader asks for them.
std::vector<attr_name_type_info*> dataAttributes() {
    return {new attr_name_type_info{"n", SQL_C_CHAR},  new attr_name_type_info{"s", SQL_C_SLONG},
            new attr_name_type_info{"l", SQL_C_SLONG}, new attr_name_type_info{"gT", SQL_C_TYPE_TIMESTAMP},
            new attr_name_type_info{"d", SQL_C_BIT},   new attr_name_type_info{"ood", SQL_C_BIT},
            new attr_name_type_info{"tL", SQL_C_SLONG}, new attr_name_type_info{"gL", SQL_C_SLONG}};
}

// The tests' server, started under a lock (ctest runs tests in parallel
// processes) and holding one fixture at a time: a test owns the server, its
// start and its content, while it holds the object.
class TestDatabase {
public:
    TestDatabase() : lock_(33061) {}

    // Empty when the server runs; otherwise why not. Only a machine without
    // the server's packages skips.
    static std::string unavailable() {
        if (std::system("command -v mariadbd >/dev/null 2>&1 || test -x /usr/sbin/mariadbd") != 0)
            return "skip";
        const std::string start = kScript + " start >/tmp/scpn-test-db-start.log 2>&1";
        if (std::system(start.c_str()) != 0) return "scripts/test-db.sh start failed: see /tmp/scpn-test-db-start.log";
        return "";
    }

    void load(const std::string& sql) {
        ASSERT_EQ(std::system((kScript + " load " + sql + " >/dev/null").c_str()), 0) << sql;
    }

    // The environment under which unixODBC finds the tests' data sources.
    static std::string odbcIni() {
        const char* dir = std::getenv("SCPN_TEST_DB_DIR");
        return std::string(dir != nullptr ? dir : "/tmp/scpn-test-db") + "/odbc.ini";
    }

private:
    testsupport::PortLock lock_;
};

// Declares `db` (taking the server's lock first, so that only one test
// process starts it) and makes sure the server runs.
#define REQUIRE_DATABASE(db)                                                                                 \
    TestDatabase db;                                                                                         \
    do {                                                                                                     \
        const std::string why = TestDatabase::unavailable();                                                 \
        if (why == "skip")                                                                                   \
            GTEST_SKIP() << "mariadb-server, odbc-mariadb and unixodbc are not installed "                   \
                            "(scripts/install-deps.sh installs them)";                                       \
        ASSERT_EQ(why, "");                                                                                  \
    } while (false)

// Connects to the tests' data source (the reason of a failure is in `out`).
void connect(GMDB& g, testsupport::CaptureStream& out) {
    ASSERT_TRUE(g.DBConnect("scpn", "quorvel", "quorvel")) << out.text();
}

}  // namespace

TEST(GMDBStatements, TokenQueryNamesTheLowerCaseTablesAndColumns) {
    std::vector<attr_name_type_info*> attributes = dataAttributes();
    EXPECT_EQ(GMDB::tokenQuery(1, "Data", attributes),
              "SELECT oname.n, oname.s, oname.l, oname.gt, oname.d, oname.ood, oname.tl, oname.gl, tname.id, "
              "pname.name FROM 1_tokens_data tname, 1_objects_data oname, 1_places pname WHERE tname.object_id = "
              "oname.id AND pname.id=tname.place_id");
    for (attr_name_type_info* a : attributes) delete a;
    EXPECT_EQ(GMDB::tokenQuery(12, "Container", {}),
              "SELECT  tname.id, pname.name FROM 12_tokens_container tname, 12_objects_container oname, "
              "12_places pname WHERE tname.object_id = oname.id AND pname.id=tname.place_id");
    EXPECT_EQ(GMDB::lcase("gT_Äb1"), "gt_Äb1");
}

TEST(GMDBConnection, ReadsStoredTokensAndRefusesASecondConnection) {
    REQUIRE_DATABASE(db);
    db.load(kFixtures + "marking.sql");
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::CaptureStream out(std::cout);
    GMDB g;
    ASSERT_NO_FATAL_FAILURE(connect(g, out));
    EXPECT_FALSE(g.DBConnect("scpn", "quorvel", "quorvel"));  // the open connection stays
    std::vector<attr_name_type_info*> attributes = dataAttributes();
    token_description_list tokens;
    ASSERT_TRUE(g.DBReadTokens(1, "Data", &attributes, &tokens));
    ASSERT_EQ(tokens.token_descriptions.size(), 4u);
    EXPECT_EQ(tokens.tokentypename, "Data");
    int found = 0;
    for (token_description* d : tokens.token_descriptions) {
        ASSERT_EQ(d->attributes.size(), 8u);
        EXPECT_EQ(d->attributes[3]->name, "gT");  // its own spelling, read from column gt
        if (d->id != 3) continue;
        ++found;
        EXPECT_EQ(d->place_name, "S_out1");
        EXPECT_STREQ(d->attributes[0]->value, "gamma");
        EXPECT_EQ(d->attributes[4]->value[0], 1);
    }
    EXPECT_EQ(found, 1);
    g.DBCloseConnect();
    g.DBCloseConnect();  // nothing open: nothing happens
    EXPECT_FALSE(g.isConnected());
    EXPECT_TRUE(contains(out.text(), "\tservername='scpn', description='MariaDB Unicode'\n")) << out.text();
    EXPECT_TRUE(contains(out.text(), "trying to connect to DSN=scpn, USER=quorvel, PASS=quorvel\n"
                                     "connection established!\n"));
    for (attr_name_type_info* a : attributes) delete a;
    for (token_description* d : tokens.token_descriptions) {
        for (token_attribute* a : d->attributes) delete a;
        delete d;
    }
}

TEST(DatabaseStartUp, StoredTokensJoinTheirPlaces) {
    REQUIRE_DATABASE(db);
    db.load(kFixtures + "marking.sql");
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::PortLock port(2020);
    testsupport::WorkDir dir;
    testsupport::RunningProcess game(SCPNSIM_EXE, {"-t", "--mstart", "0", "--seed", "1"}, dir.path());
    ASSERT_TRUE(game.waitForOutput("waiting for socket connection from GUI..")) << game.wait().out;
    const testsupport::RunResult play =
        testsupport::run(SCPN_PLAY_EXE, {"--raw", "place P_In_out1", "place S_out1", "exit"}, dir.path());
    EXPECT_EQ(play.exitStatus, 0) << play.err;
    const testsupport::RunResult r = game.wait();
    EXPECT_EQ(r.exitStatus, 0);
    // 07:08:09.750 in the database: the fraction of a second is dropped.
    const std::string alpha = "{n=\"alpha\"; s=1; l=2; gT=07:08:09@05/06/2024; d=1; ood=0; tL=1; gL=2}";
    const std::string beta = "{n=\"beta\"; s=3; l=4; gT=03:04:05@01/02/2025; d=0; ood=1; tL=2; gL=1}";
    EXPECT_TRUE(play.out == alpha + "," + beta + "\n" + "{n=\"gamma\"; s=5; l=6; gT=23:59:58@12/31/2026; d=1; "
                                                        "ood=1; tL=0; gL=0}\n" ||
                play.out == beta + "," + alpha + "\n" + "{n=\"gamma\"; s=5; l=6; gT=23:59:58@12/31/2026; d=1; "
                                                        "ood=1; tL=0; gL=0}\n")
        << play.out;
    EXPECT_TRUE(contains(r.out, "... try to connect to the database : scpn ...\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "... connected !\nAll tokens created.\nconnection closed.\n"
                                "All token references replaced.\nCouldn't find Place: NoSuchPlace\n"
                                "Could not find Place 'NoSuchPlace' for {n=\"lost\"; s=0; l=0; "
                                "gT=00:00:00@01/01/2020; d=0; ood=0; tL=0; gL=0}\n3 tokens added to the net.\n"))
        << r.out;
}

TEST(DatabaseStartUp, AnEmptyMarkingAddsNothing) {
    REQUIRE_DATABASE(db);
    db.load(kFixtures + "empty.sql");
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::WorkDir dir;
    const testsupport::RunResult r = testsupport::runScpnsim({"-p", "--fcount", "0", "--lcount", "0"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "All token references replaced.\n0 tokens added to the net.\n")) << r.out;
}

TEST(DatabaseStartUp, AnUnreachableServerOrARefusedLoginLeavesTheFileTokens) {
    REQUIRE_DATABASE(db);
    testsupport::TempDir odbc;
    // A data source whose server is not there, then one whose login is refused.
    odbc.write("down.ini", "[scpn]\nDriver=MariaDB Unicode\nServer=127.0.0.1\nPort=1\nDatabase=scpn\n"
                           "CONN_TIMEOUT=5\n");
    db.load(kFixtures + "marking.sql");
    const std::string refused = odbc.path() / "refused.sql";
    odbc.write("refused.sql", "ALTER USER 'quorvel'@'127.0.0.1' IDENTIFIED BY 'changed';\n"
                              "ALTER USER 'quorvel'@'localhost' IDENTIFIED BY 'changed';\n");
    odbc.write("restored.sql", "ALTER USER 'quorvel'@'127.0.0.1' IDENTIFIED BY 'quorvel';\n"
                               "ALTER USER 'quorvel'@'localhost' IDENTIFIED BY 'quorvel';\n");
    const struct {
        std::string ini, before, diagnostic;
    } cases[] = {
        {(odbc.path() / "down.ini").string(), "", "Can't connect to server on '127.0.0.1'"},
        {TestDatabase::odbcIni(), refused, "Access denied for user 'quorvel'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.diagnostic);
        if (!c.before.empty()) db.load(c.before);
        testsupport::ScopedEnv ini("ODBCINI", c.ini);
        testsupport::WorkDir dir;
        const testsupport::RunResult r =
            testsupport::runScpnsim({"-p", "--fcount", "1000", "--lcount", "1", "--seed", "1"}, dir.path());
        if (!c.before.empty()) db.load((odbc.path() / "restored.sql").string());
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_TRUE(contains(r.out, "trying to connect to DSN=scpn, USER=quorvel, PASS=quorvel\nError SQLConnect -1\n"))
            << r.out;
        EXPECT_TRUE(contains(r.out, c.diagnostic)) << r.out;
        EXPECT_FALSE(contains(r.out, "tokens added to the net.")) << r.out;
        EXPECT_TRUE(contains(r.out, "Global fire count: 1000\n")) << r.out;  // the run went on
    }
}

TEST(GMDBConnection, TablesRowsAndMarkingsRoundTrip) {
    REQUIRE_DATABASE(db);
    db.load(kFixtures + "marking.sql");
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::CaptureStream out(std::cout);
    GMDB g;
    ASSERT_NO_FATAL_FAILURE(connect(g, out));

    // A table of every kind of column, one row written, read, changed, deleted.
    ASSERT_TRUE(g.DBDropTbl("t_rows"));
    ASSERT_TRUE(g.DBCreateTbl("t_rows", "%i%s%d%b%t", "Id", "name", "x", "ok", "at"));
    int one = 1;
    double x = 2.5;
    ASSERT_TRUE(g.DBInsertRow("t_rows", "%i%s%d%b%t", "Id", &one, "name", "first", "x", &x, "ok", 1, "at",
                              "2024-05-06 07:08:09"));
    std::string name, at;
    double readX = 0.0;
    bool ok = false;
    ASSERT_TRUE(g.DBReadRow("t_rows", "%s%d%b%t", 1, "name", &name, "x", &readX, "ok", &ok, "at", &at));
    EXPECT_EQ(name, "first");
    EXPECT_EQ(readX, 2.5);
    EXPECT_TRUE(ok);
    EXPECT_EQ(at, "2024-05-06 07:08:09");
    EXPECT_TRUE(g.DBUpdateStr("second", "name", "t_rows", 1));
    EXPECT_TRUE(g.DBUpdateBool(false, "ok", "t_rows", 1));
    EXPECT_TRUE(g.DBUpdateDouble(0.25, "x", "t_rows", 1));
    ASSERT_TRUE(g.DBReadStr(name, "t_rows", "name", 1));
    EXPECT_EQ(name, "second");
    ASSERT_TRUE(g.DBReadDouble(readX, "t_rows", "x", 1));
    EXPECT_EQ(readX, 0.25);
    ASSERT_TRUE(g.DBReadRow("t_rows", "%b", 1, "ok", &ok));
    EXPECT_FALSE(ok);
    long id = 0;
    ASSERT_TRUE(g.DBReadInt(id, "t_rows", "Id", 1));
    EXPECT_EQ(id, 1);
    EXPECT_FALSE(g.DBCreateTbl("t_bad", "%q", "c"));  // an unknown tag
    EXPECT_TRUE(g.DBDeleteRow("t_rows", 1));
    EXPECT_FALSE(g.DBReadStr(name, "t_rows", "name", 1));  // no row any more
    EXPECT_TRUE(g.DBDropTbl("t_rows"));

    // A new marking gets the next number and its tables; the reader finds it empty.
    for (const char* t : {"2_places", "2_tokens_data", "2_objects_data"}) ASSERT_TRUE(g.DBDropTbl(t));
    marking_description m{"second", {"P_In_out1", "S_out1"}, {new tokentype_description{"Data", dataAttributes()}}};
    ASSERT_TRUE(g.DBCreateMarking(&m)) << out.text();
    std::vector<marking_info*> markings;
    ASSERT_TRUE(g.DBGetMarkings(&markings));
    ASSERT_EQ(markings.size(), 2u);
    EXPECT_EQ(markings[1]->id, 2);
    EXPECT_EQ(markings[1]->name, "second");
    std::string place;
    ASSERT_TRUE(g.DBReadStr(place, "2_places", "name", 2));
    EXPECT_EQ(place, "S_out1");
    std::vector<attr_name_type_info*> attributes = dataAttributes();
    token_description_list tokens;
    EXPECT_TRUE(g.DBReadTokens(2, "Data", &attributes, &tokens));
    EXPECT_TRUE(tokens.token_descriptions.empty());
    g.DBCloseConnect();
    for (marking_info* i : markings) delete i;
    for (attr_name_type_info* a : attributes) delete a;
    for (tokentype_description* t : m.tokentypes) {
        for (attr_name_type_info* a : t->attributes) delete a;
        delete t;
    }
    EXPECT_FALSE(contains(out.text(), "failed")) << out.text();
}

namespace {

// A marking of colour Data whose attribute table has the given column
// definitions and rows (object i is token i on place i of `places`, or on
// place 1 when there are fewer places).
std::string markingSql(const std::string& columns, const std::vector<std::string>& rows,
                       const std::vector<std::string>& places) {
    std::string sql = "SET SESSION sql_mode = '';\n"  // zero dates and texts in any column go in as given
                      "DROP TABLE IF EXISTS markings, 1_places, 1_tokens_data, 1_objects_data;\n"
                      "CREATE TABLE markings (id INT NOT NULL PRIMARY KEY, name LONGTEXT);\n"
                      "CREATE TABLE 1_places (id INT NOT NULL PRIMARY KEY, name LONGTEXT);\n"
                      "CREATE TABLE 1_tokens_data (id INT NOT NULL PRIMARY KEY, object_id INT, place_id INT);\n"
                      "CREATE TABLE 1_objects_data (id INT NOT NULL PRIMARY KEY, " + columns + ");\n"
                      "INSERT INTO markings VALUES (1, 'test');\n";
    for (std::size_t p = 0; p < places.size(); ++p)
        sql += "INSERT INTO 1_places VALUES (" + std::to_string(p + 1) + ", '" + places[p] + "');\n";
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::string id = std::to_string(k + 1);
        const std::string place = std::to_string(k < places.size() ? k + 1 : 1);
        sql += "INSERT INTO 1_objects_data VALUES (" + id + ", " + rows[k] + ");\n";
        sql += "INSERT INTO 1_tokens_data VALUES (" + id + ", " + id + ", " + place + ");\n";
    }
    return sql;
}

// The stored tokens of colour Data as the colour's loader reads them.
struct ReadTokens {
    bool ok = false;
    std::vector<token_description*> rows;
    std::string out;
    ~ReadTokens() {
        for (token_description* d : rows) {
            for (token_attribute* a : d->attributes) delete a;
            delete d;
        }
    }
    const token_description* byId(int id) const {
        for (const token_description* d : rows)
            if (d->id == id) return d;
        return nullptr;
    }
};

void readData(TestDatabase& db, const std::string& sql, ReadTokens& read) {
    testsupport::TempDir dir;
    dir.write("marking.sql", sql);
    ASSERT_NO_FATAL_FAILURE(db.load(dir.file("marking.sql")));
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::CaptureStream out(std::cout);
    GMDB g;
    ASSERT_NO_FATAL_FAILURE(connect(g, out));
    std::vector<attr_name_type_info*> attributes = dataAttributes();
    token_description_list tokens;
    read.ok = g.DBReadTokens(1, "Data", &attributes, &tokens);
    read.rows = tokens.token_descriptions;
    g.DBCloseConnect();
    for (attr_name_type_info* a : attributes) delete a;
    read.out = out.text();
}

const char* kDataColumns = "n LONGTEXT, s BIGINT, l INT, gt DATETIME, d BOOLEAN, ood BOOLEAN, tl INT, gl INT";

std::string dataRow(const std::string& n, const std::string& s) {
    return "'" + n + "', " + s + ", 2, '2024-05-06 07:08:09', 1, 0, 3, 4";
}

int slongOf(const token_attribute& a) {
    SQLINTEGER v = 0;
    std::memcpy(&v, a.value, sizeof v);
    return v;
}

}  // namespace

TEST(GMDBConversion, IntegersAreReadWithinTheirRangeOnly) {
    char v[512];
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "2147483647", v), "");
    SQLINTEGER i = 0;
    std::memcpy(&i, v, sizeof i);
    EXPECT_EQ(i, 2147483647);
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "-2147483648", v), "");
    std::memcpy(&i, v, sizeof i);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "2147483648", v), "which is out of range of a 32-bit integer");
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "-2147483649", v), "which is out of range of a 32-bit integer");
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "99999999999999999999999", v), "which is out of range of a 32-bit integer");
    EXPECT_EQ(GMDB::convert(SQL_C_ULONG, "-1", v), "which is out of range of a 32-bit unsigned integer");
    EXPECT_EQ(GMDB::convert(SQL_C_SLONG, "12.00", v), "");  // a whole DECIMAL
    std::memcpy(&i, v, sizeof i);
    EXPECT_EQ(i, 12);
    for (const char* bad : {"", "-", "12.5", "1e3", " 7", "7 ", "abc", "0x10"})
        EXPECT_EQ(GMDB::convert(SQL_C_SLONG, bad, v), "which is not an integer") << bad;
    EXPECT_EQ(GMDB::convert(SQL_C_SBIGINT, "5000000000", v), "");
    SQLBIGINT b = 0;
    std::memcpy(&b, v, sizeof b);
    EXPECT_EQ(b, 5000000000LL);
}

TEST(GMDBConversion, BitsNumbersAndTimesAreReadStrictly) {
    char v[512];
    EXPECT_EQ(GMDB::convert(SQL_C_BIT, "1", v), "");
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(GMDB::convert(SQL_C_BIT, std::string(1, '\1'), v), "");  // a BIT(1) column's raw byte
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(GMDB::convert(SQL_C_BIT, "0", v), "");
    EXPECT_EQ(v[0], 0);
    for (const char* bad : {"true", "2", "", "-1"}) EXPECT_EQ(GMDB::convert(SQL_C_BIT, bad, v), "which is not 0 or 1");

    EXPECT_EQ(GMDB::convert(SQL_C_DOUBLE, "-2.5e3", v), "");
    double x = 0;
    std::memcpy(&x, v, sizeof x);
    EXPECT_EQ(x, -2500.0);
    EXPECT_EQ(GMDB::convert(SQL_C_DOUBLE, "1e999", v), "which is out of range of a double");
    EXPECT_EQ(GMDB::convert(SQL_C_DOUBLE, "nan", v), "which is out of range of a double");
    EXPECT_EQ(GMDB::convert(SQL_C_DOUBLE, "2.5x", v), "which is not a number");
    EXPECT_EQ(GMDB::convert(SQL_C_FLOAT, "1e300", v), "which is out of range of a float");

    EXPECT_EQ(GMDB::convert(SQL_C_TYPE_TIMESTAMP, "2024-02-29 23:59:58.125", v), "");
    SQL_TIMESTAMP_STRUCT t{};
    std::memcpy(&t, v, sizeof t);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 58);
    EXPECT_EQ(t.fraction, 125000000u);
    EXPECT_EQ(GMDB::convert(SQL_C_TYPE_TIMESTAMP, "2024-05-06", v), "");  // a DATE: midnight
    for (const char* bad : {"garbage", "0000-00-00 00:00:00", "2023-02-29 00:00:00", "2024-13-01", "2024-05-06 24:00:00",
                            "2024-05-06 07:08", "2024-05-06T07:08:09", "07:08:09"})
        EXPECT_EQ(GMDB::convert(SQL_C_TYPE_TIMESTAMP, bad, v), "which is not a valid date and time") << bad;
}

TEST(GMDBConversion, TextsAreCutAtACharacterBoundary) {
    std::string e;
    for (int k = 0; k < 300; ++k) e += "\xc3\xa9";  // é, two bytes
    EXPECT_EQ(GMDB::utf8Prefix(e, 511).size(), 510u);
    EXPECT_EQ(GMDB::utf8Prefix("a" + e, 511).size(), 511u);
    EXPECT_EQ(GMDB::utf8Prefix("ab\xe2\x82\xac", 4), "ab");  // the euro sign's three bytes stay together
    EXPECT_EQ(GMDB::utf8Prefix("short", 511), "short");
}

TEST(GMDBReading, AValueThatDoesNotConvertCostsThatValueOnly) {
    REQUIRE_DATABASE(db);
    std::vector<std::string> rows;
    for (int k = 1; k <= 100; ++k) rows.push_back(dataRow("t" + std::to_string(k), k == 37 ? "5000000000" : std::to_string(k)));
    ReadTokens read;
    ASSERT_NO_FATAL_FAILURE(readData(db, markingSql(kDataColumns, rows, {"P_In_out1"}), read));
    ASSERT_TRUE(read.ok) << read.out;
    ASSERT_EQ(read.rows.size(), 100u) << read.out;  // the rows after the bad one are all there
    EXPECT_TRUE(contains(read.out, "Stored token 37 of colour Data: column s holds '5000000000', which is out of "
                                   "range of a 32-bit integer; s keeps its default\n"))
        << read.out;
    for (const token_description* d : read.rows) {
        SCOPED_TRACE(d->id);
        ASSERT_EQ(d->attributes.size(), 8u);
        EXPECT_EQ(d->place_name, "P_In_out1");
        EXPECT_EQ(std::string(d->attributes[0]->value), "t" + std::to_string(d->id));
        EXPECT_EQ(d->attributes[1]->valid, d->id != 37);
        EXPECT_EQ(slongOf(*d->attributes[1]), d->id == 37 ? 0 : d->id);
        EXPECT_TRUE(d->attributes[2]->valid);
        EXPECT_EQ(slongOf(*d->attributes[2]), 2);
    }
    EXPECT_FALSE(contains(read.out, "Stored token 36 ")) << read.out;
}

TEST(GMDBReading, TextsAreBoundedByTheirStoredLength) {
    REQUIRE_DATABASE(db);
    // A place name far beyond the 512-byte room it once had, and a text
    // attribute of 600 bytes of two-byte characters.
    const std::string place(3000, 'P');
    std::string e;
    for (int k = 0; k < 300; ++k) e += "\xc3\xa9";
    ReadTokens read;
    ASSERT_NO_FATAL_FAILURE(
        readData(db, markingSql(kDataColumns, {dataRow(e, "1"), dataRow("x", "2")}, {place, "S_out1"}), read));
    ASSERT_TRUE(read.ok) << read.out;
    ASSERT_EQ(read.rows.size(), 2u);
    const token_description* first = read.byId(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->place_name, place);
    EXPECT_EQ(std::string(first->attributes[0]->value), e.substr(0, 510));
    EXPECT_TRUE(contains(read.out, "Stored token 1 of colour Data: column n holds a text of 600 bytes, more than "
                                   "the 511 a text attribute takes; n keeps its first 510 bytes\n"))
        << read.out;
    ASSERT_NE(read.byId(2), nullptr);
    EXPECT_EQ(read.byId(2)->place_name, "S_out1");
}

TEST(GMDBReading, ValuesOfTheWrongKindAreReportedAndKeepTheirDefault) {
    REQUIRE_DATABASE(db);
    // Token 1: a zero date, a text where a number belongs, NULLs; token 2:
    // BIT(1) columns, as a marking laid out by DBCreateMarking has them.
    const char* columns = "n LONGTEXT, s VARCHAR(20), l INT, gt DATETIME, d BIT(1), ood BIT(1), tl INT, gl INT";
    ReadTokens read;
    ASSERT_NO_FATAL_FAILURE(readData(db,
                                     markingSql(columns,
                                                {"NULL, 'abc', NULL, '0000-00-00 00:00:00', NULL, b'0', 5, 6",
                                                 "'ok', '-7', 8, '2024-02-29 10:11:12', b'1', b'0', 9, 10"},
                                                {"P_In_out1"}),
                                     read));
    ASSERT_TRUE(read.ok) << read.out;
    ASSERT_EQ(read.rows.size(), 2u) << read.out;
    const token_description* bad = read.byId(1);
    ASSERT_NE(bad, nullptr);
    const bool badValid[] = {false, false, false, false, false, true, true, true};
    for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(bad->attributes[k]->valid, badValid[k]) << k;
    EXPECT_EQ(slongOf(*bad->attributes[1]), 0);
    EXPECT_EQ(std::string(bad->attributes[3]->value, 16), std::string(16, '\0'));
    EXPECT_TRUE(contains(read.out, "Stored token 1 of colour Data: column s holds 'abc', which is not an integer; "
                                   "s keeps its default\n"))
        << read.out;
    EXPECT_TRUE(contains(read.out, "Stored token 1 of colour Data: column gt holds '0000-00-00 00:00:00', which is "
                                   "not a valid date and time; gT keeps its default\n"))
        << read.out;
    EXPECT_FALSE(contains(read.out, "column n ")) << read.out;  // NULL: the default, nothing to report
    EXPECT_FALSE(contains(read.out, "column l ")) << read.out;
    const token_description* good = read.byId(2);
    ASSERT_NE(good, nullptr);
    for (std::size_t k = 0; k < 8; ++k) EXPECT_TRUE(good->attributes[k]->valid) << k;
    EXPECT_EQ(slongOf(*good->attributes[1]), -7);
    EXPECT_EQ(good->attributes[4]->value[0], 1);
    EXPECT_EQ(good->attributes[5]->value[0], 0);
    SQL_TIMESTAMP_STRUCT t{};
    std::memcpy(&t, good->attributes[3]->value, sizeof t);
    EXPECT_EQ(t.day, 29);
    EXPECT_FALSE(contains(read.out, "Stored token 2 ")) << read.out;
}

TEST(DatabaseStartUp, AStoredValueOfTheWrongKindLeavesItsAttributeAtTheDefault) {
    REQUIRE_DATABASE(db);
    // The token on the place the net lacks shows its content in the report.
    const char* columns = "n LONGTEXT, s INT, l INT, gt VARCHAR(30), d VARCHAR(10), ood INT, tl INT, gl INT";
    testsupport::TempDir sql;
    sql.write("marking.sql", markingSql(columns,
                                        {"'bad', 1, 2, 'garbage', 'true', 1, NULL, 4",
                                         "'good', 3, 4, '2025-01-02 03:04:05', '1', 0, 2, 1"},
                                        {"NoSuchPlace", "P_In_out1"}));
    db.load(sql.file("marking.sql"));
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::WorkDir dir;
    const testsupport::RunResult r = testsupport::runScpnsim({"-p", "--fcount", "0", "--lcount", "0"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "Stored token 1 of colour Data: column gt holds 'garbage', which is not a valid date "
                                "and time; gT keeps its default\n"
                                "Stored token 1 of colour Data: column d holds 'true', which is not 0 or 1; d keeps "
                                "its default\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Could not find Place 'NoSuchPlace' for {n=\"bad\"; s=1; l=2; gT=" +
                                    DateTime().toString() + "; d=0; ood=1; tL=0; gL=4}\n1 tokens added to the net.\n"))
        << r.out;
}

namespace {

// Stops the tests' server (SIGSTOP: it keeps its connections but answers
// nothing) and lets it go on again at the end of the scope, whatever the
// test's outcome.
class StalledServer {
public:
    StalledServer() {
        const char* dir = std::getenv("SCPN_TEST_DB_DIR");
        std::ifstream in(std::string(dir != nullptr ? dir : "/tmp/scpn-test-db") + "/mariadbd.pid");
        in >> pid_;
        if (pid_ > 0) ::kill(pid_, SIGSTOP);
    }
    ~StalledServer() {
        if (pid_ > 0) ::kill(pid_, SIGCONT);
    }
    StalledServer(const StalledServer&) = delete;
    StalledServer& operator=(const StalledServer&) = delete;
    bool stopped() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
};

std::string testPort() {
    const char* port = std::getenv("SCPN_TEST_DB_PORT");
    return port != nullptr ? port : "33061";
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(GMDBConnection, TheProgramsTimeOutsComeUnlessTheDataSourceSetsItsOwn) {
    testsupport::TempDir odbc;
    odbc.write("odbc.ini", "[plain]\nDriver=MariaDB Unicode\nServer=127.0.0.1\n\n"
                           "[own]\nDriver=MariaDB Unicode\nServer=127.0.0.1\nREAD_TIMEOUT=40\nCONN_TIMEOUT=0\n");
    testsupport::ScopedEnv ini("ODBCINI", odbc.file("odbc.ini"));
    EXPECT_EQ(GMDB::connectionText("plain", "quorvel", "quorvel"),
              "DSN=plain;UID=quorvel;PWD=quorvel;CONN_TIMEOUT=5;READ_TIMEOUT=15;WRITE_TIMEOUT=15");
    EXPECT_EQ(GMDB::connectionText("own", "u", "p;w}d"), "DSN=own;UID=u;PWD={p;w}}d};WRITE_TIMEOUT=15");
}

TEST(GMDBConnection, AStalledServerFailsTheTokenQueryInsteadOfHangingIt) {
    REQUIRE_DATABASE(db);
    db.load(kFixtures + "marking.sql");
    // The data source without time-outs of its own: the program's apply.
    testsupport::TempDir odbc;
    odbc.write("odbc.ini", "[scpn]\nDriver=MariaDB Unicode\nServer=127.0.0.1\nPort=" + testPort() +
                               "\nDatabase=scpn\n");
    testsupport::ScopedEnv ini("ODBCINI", odbc.file("odbc.ini"));
    testsupport::CaptureStream out(std::cout);
    GMDB g;
    ASSERT_NO_FATAL_FAILURE(connect(g, out));
    std::vector<attr_name_type_info*> attributes = dataAttributes();
    token_description_list tokens;
    bool read = true;
    double seconds = 0;
    {
        StalledServer stalled;
        ASSERT_TRUE(stalled.stopped());
        const auto start = std::chrono::steady_clock::now();
        read = g.DBReadTokens(1, "Data", &attributes, &tokens);
        seconds = secondsSince(start);
    }
    g.DBCloseConnect();
    for (attr_name_type_info* a : attributes) delete a;
    EXPECT_FALSE(read);
    EXPECT_TRUE(tokens.token_descriptions.empty());
    EXPECT_LT(seconds, 60.0);  // READ_TIMEOUT=15
    EXPECT_TRUE(contains(out.text(), "SQLExecDirect failed: SELECT oname.n,")) << out.text();
    EXPECT_TRUE(contains(out.text(), "Error in Select -1\n")) << out.text();
}

TEST(DatabaseStartUp, AServerThatStallsTheConnectIsGivenUpAndTheRunGoesOn) {
    REQUIRE_DATABASE(db);
    testsupport::TempDir odbc;
    odbc.write("odbc.ini", "[scpn]\nDriver=MariaDB Unicode\nServer=127.0.0.1\nPort=" + testPort() +
                               "\nDatabase=scpn\n");
    testsupport::ScopedEnv ini("ODBCINI", odbc.file("odbc.ini"));
    testsupport::WorkDir dir;
    testsupport::RunResult r;
    double seconds = 0;
    {
        StalledServer stalled;
        ASSERT_TRUE(stalled.stopped());
        const auto start = std::chrono::steady_clock::now();
        r = testsupport::runScpnsim({"-p", "--fcount", "1000", "--lcount", "1", "--seed", "1"}, dir.path());
        seconds = secondsSince(start);
    }
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_LT(seconds, 60.0);  // CONN_TIMEOUT=5
    EXPECT_TRUE(contains(r.out, "trying to connect to DSN=scpn, USER=quorvel, PASS=quorvel\nError SQLConnect -1\n"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "tokens added to the net.")) << r.out;
    EXPECT_TRUE(contains(r.out, "Global fire count: 1000\n")) << r.out;
}

TEST(DatabaseStartUp, TheShippedExampleTablesLoadEveryToken) {
    REQUIRE_DATABASE(db);
    db.load(std::string(SCPNSIM_SOURCE_DIR) + "/examples/database/tokens.sql");
    testsupport::ScopedEnv ini("ODBCINI", TestDatabase::odbcIni());
    testsupport::WorkDir dir;
    const testsupport::RunResult r = testsupport::runScpnsim({"-p", "--fcount", "0", "--lcount", "0"}, dir.path());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "All token references replaced.\n3 tokens added to the net.\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "Stored token")) << r.out;
}
