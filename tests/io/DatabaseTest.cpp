// Database access and the start-up loading of stored tokens, against a real
// MariaDB server of the tests' own (scripts/test-db.sh: private data folder,
// loopback port 33061, data sources "scpn" and "scpn_wrongpass").
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

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
