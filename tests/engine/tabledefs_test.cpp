#include <sys/stat.h>

#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class TableDefsTest : public EngineTest {
  protected:
    void SetUp() override {
        source_ = MakeTable("quelle.mdb", 4);
        source_->Execute("CREATE TABLE Kunden (Nr LONG, Firma TEXT(40))");
        source_->Execute("INSERT INTO Kunden VALUES (1, 'Tarnu')");
        source_.reset();
    }

    void LinkJet(Database& db, const std::string& name, const std::string& table,
                 std::int32_t attributes = dao::dbAttachedTable) {
        db.LinkTable({name, attributes, ";DATABASE=" + Path("quelle.mdb"), table});
    }

    // One walk as the maintenance does it: by index, deleting links of the exact attribute
    // values, going on with the next index after a deletion.
    int WalkOnce(dao::Database& db) {
        int deleted = 0;
        dao::TableDefs& defs = db.TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            dao::TableDef def = defs.Item(i);
            if (def.Attributes == dao::dbAttachedTable || def.Attributes == dao::dbAttachedODBC) {
                defs.Delete(def.Name);
                ++deleted;
            }
        }
        return deleted;
    }

    std::unique_ptr<Database> source_;
};

TEST_F(TableDefsTest, CollectionShowsEveryDefinitionInNameOrder) {
    auto db = engine_->CreateDatabase(Path("a.mdb"));
    db->Execute("CREATE TABLE zeta (a LONG)");
    db->Execute("CREATE TABLE [Alpha Beta] (a LONG)");
    LinkJet(*db, "Mitte", "Kunden", dao::dbAttachedTable | dao::dbAttachSavePWD);
    db->LinkTable({"bestand", dao::dbAttachedODBC, "ODBC;DSN=Lager;", "dbo.Bestand"});

    dao::TableDefs& defs = db->TableDefs();
    ASSERT_EQ(defs.Count(), 4);
    EXPECT_EQ(TableNames(*db), (Texts{"Alpha Beta", "bestand", "Mitte", "zeta"}));
    dao::TableDef odbc = defs.Item(1);
    EXPECT_EQ(odbc.Attributes, dao::dbAttachedODBC);
    EXPECT_EQ(odbc.Connect, "ODBC;DSN=Lager;");
    EXPECT_EQ(odbc.SourceTableName, "dbo.Bestand");
    dao::TableDef jetLink = defs.Item(2);
    EXPECT_EQ(jetLink.Attributes, 0x40020000);
    EXPECT_EQ(jetLink.Connect, ";DATABASE=" + Path("quelle.mdb"));
    EXPECT_EQ(defs.Item(3).Attributes, 0);
    EXPECT_EQ(ErrorOf([&] { defs.Item(4); }), jet::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { defs.Item(-1); }), jet::ItemNotFound);

    // The collection is live: a change made through another open database shows at once.
    auto other = engine_->OpenDatabase(Path("a.mdb"));
    other->Execute("DROP TABLE Zeta");
    EXPECT_EQ(defs.Count(), 3);
}

TEST_F(TableDefsTest, DeletingWhileWalkingSkipsTheNextEntry) {
    auto db = engine_->CreateDatabase(Path("a.mdb"));
    LinkJet(*db, "Artikel", "T");
    LinkJet(*db, "Auftraege", "T");
    LinkJet(*db, "Kunden", "Kunden");
    db->LinkTable({"Lager", dao::dbAttachedODBC, "ODBC;DSN=Lager;", "Bestand"});
    LinkJet(*db, "Benutzer", "T", dao::dbAttachedTable | dao::dbAttachSavePWD);
    db->Execute("CREATE TABLE Lokal (a LONG)");

    // Artikel goes, Auftraege slides into its place and is passed over; Benutzer stays for
    // its extra flag, Kunden goes, Lager slides and is passed over.
    EXPECT_EQ(WalkOnce(*db), 2);
    EXPECT_EQ(TableNames(*db), (Texts{"Auftraege", "Benutzer", "Lager", "Lokal"}));
    EXPECT_EQ(WalkOnce(*db), 2);
    EXPECT_EQ(WalkOnce(*db), 0);
    EXPECT_EQ(TableNames(*db), (Texts{"Benutzer", "Lokal"}));
}

TEST_F(TableDefsTest, RemovingALinkNeverTouchesItsSource) {
    auto db = engine_->CreateDatabase(Path("a.mdb"));
    LinkJet(*db, "T", "T");
    LinkJet(*db, "Kunden", "Kunden");
    db.reset();
    std::string before = ReadFile(Path("quelle.mdb"));
    struct stat st {};
    ::stat(Path("quelle.mdb").c_str(), &st);

    db = engine_->OpenDatabase(Path("a.mdb"), false, false, "");
    db->TableDefs().Delete("t");  // names compare without regard to case
    db->Execute("DROP TABLE Kunden");
    EXPECT_EQ(db->TableDefs().Count(), 0);
    db.reset();

    EXPECT_EQ(ReadFile(Path("quelle.mdb")), before);
    struct stat after {};
    ::stat(Path("quelle.mdb").c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec);
    auto source = engine_->OpenDatabase(Path("quelle.mdb"), false, false, "");
    EXPECT_EQ(CountOf(*source, "T"), "4");
    // A local definition's table goes with it.
    EXPECT_EQ(ErrorOf([&] { source->TableDefs().Delete("Fehlt"); }), jet::ItemNotFound);
    source->TableDefs().Delete("T");
    EXPECT_EQ(ErrorOf([&] { Rows(*source, "SELECT * FROM T"); }), jet::TableNotFound);
    source->Execute("CREATE TABLE T (Anders TEXT)");
    EXPECT_TRUE(Rows(*source, "SELECT * FROM T").empty());
}

TEST_F(TableDefsTest, LinksAreCheckedWhenMade) {
    MakeTable("system.srv", 1, ";pwd=brisk").reset();
    auto db = engine_->CreateDatabase(Path("a.mdb"));
    db->Execute("CREATE TABLE Lokal (a LONG)");
    const std::string connect = ";DATABASE=" + Path("quelle.mdb");
    struct Case {
        dao::TableDef def;
        std::int32_t error;
    };
    const Case cases[] = {
        {{"L", dao::dbAttachedTable, connect, "Fehlt"}, jet::ObjectNotFound},
        {{"L", dao::dbAttachedTable, ";DATABASE=" + Path("fehlt.mdb"), "T"}, jet::FileNotFound},
        {{"L", dao::dbAttachedTable, ";DATABASE=" + Path("system.srv"), "T"},
         jet::NotValidPassword},
        {{"L", dao::dbAttachedTable, ";PWD=x", "T"}, jet::InvalidArgument},
        {{"L", 0, connect, "T"}, jet::InvalidArgument},
        {{"L", dao::dbAttachedTable | dao::dbAttachedODBC, connect, "T"}, jet::InvalidArgument},
        {{"L", dao::dbAttachedODBC, "DSN=x", "T"}, jet::InvalidArgument},
        {{"L", dao::dbAttachedTable, connect, ""}, jet::InvalidArgument},
        {{"lokal", dao::dbAttachedTable, connect, "T"}, jet::TableExists},
        {{"", dao::dbAttachedTable, connect, "T"}, jet::InvalidName},
        {{"tarnu_catalog", dao::dbAttachedTable, connect, "T"}, jet::InvalidName},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorOf([&] { db->LinkTable(c.def); }), c.error)
            << c.def.Name << " " << c.def.Connect << " " << c.def.SourceTableName;
    }
    EXPECT_EQ(TableNames(*db), Texts{"Lokal"});
    // With its password a protected source can be linked.
    db->LinkTable({"B", dao::dbAttachedTable | dao::dbAttachSavePWD,
                   ";DATABASE=" + Path("system.srv") + ";PWD=brisk", "T"});
    EXPECT_EQ(db->TableDefs().Item(0).Attributes, 0x40020000);
}

}  // namespace
}  // namespace tarnu::engine::test
