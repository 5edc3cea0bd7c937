#include "tests/engine/engine_test_util.h"

namespace tarnu::engine::test {
namespace {

class TableDefsTest : public EngineTest {
  protected:
    void SetUp() override {
        MakeTable("quelle.mdb", 4)->Execute("CREATE TABLE Kunden (Nr LONG, Firma TEXT(40))");
        db_ = engine_->CreateDatabase(Path("a.mdb"));
    }
    void Link(const std::string& name, const std::string& table,
              std::int32_t attributes = dao::dbAttachedTable) {
        db_->LinkTable({name, attributes, source_, table});
    }

    const std::string source_ = ";DATABASE=" + Path("quelle.mdb");
    std::unique_ptr<Database> db_;
};

// The collection lists every definition in name order, whatever the case. A walk as the
// maintenance does it, by index, deleting links of the exact attribute values and going on with
// the next index after a deletion, passes over the entry that slid into the deleted one's place.
TEST_F(TableDefsTest, AWalkThatDeletesPassesOverTheNextEntry) {
    Link("Artikel", "T");
    Link("Auftraege", "T");
    Link("Kunden", "Kunden");
    db_->LinkTable({"lager", dao::dbAttachedODBC, "ODBC;DSN=Lager;", "dbo.Bestand"});
    Link("Benutzer", "T", dao::dbAttachedTable | dao::dbAttachSavePWD);
    db_->Execute("CREATE TABLE Lokal (a LONG)");
    EXPECT_EQ(
        Catalog(*db_),
        (Texts{"Artikel|40000000|" + source_ + "|T", "Auftraege|40000000|" + source_ + "|T",
               "Benutzer|40020000|" + source_ + "|T", "Kunden|40000000|" + source_ + "|Kunden",
               "lager|20000000|ODBC;DSN=Lager;|dbo.Bestand", "Lokal|0||"}));
    dao::TableDefs& defs = db_->TableDefs();
    EXPECT_EQ(ErrorOf([&] { defs.Item(6); }), jet::ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { defs.Item(-1); }), jet::ItemNotFound);
    const auto walk = [&] {
        Texts deleted;
        for (int i = 0; i < defs.Count(); ++i) {
            const dao::TableDef def = defs.Item(i);
            if (def.Attributes == dao::dbAttachedTable || def.Attributes == dao::dbAttachedODBC) {
                defs.Delete(def.Name);
                deleted.push_back(def.Name);
            }
        }
        return deleted;
    };
    // Auftraege slides into Artikel's place, lager into Kunden's; Benutzer stays for its flag.
    EXPECT_EQ(walk(), (Texts{"Artikel", "Kunden"}));
    EXPECT_EQ(walk(), (Texts{"Auftraege", "lager"}));
    EXPECT_EQ(walk(), Texts{});
    // The collection is live: a change made through another open database shows at once.
    engine_->OpenDatabase(Path("a.mdb"))->Execute("DROP TABLE lokal");
    EXPECT_EQ(defs.Count(), 1);
}

// Links are checked when made; removing one never touches its source, removing a local
// definition takes its table along.
TEST_F(TableDefsTest, LinksAreCheckedWhenMadeAndGoWithoutTheirSource) {
    MakeTable("system.srv", 1, ";pwd=brisk").reset();
    db_->Execute("CREATE TABLE Lokal (a LONG)");
    const std::string locked = ";DATABASE=" + Path("system.srv");
    const std::pair<dao::TableDef, std::int32_t> cases[] = {
        {{"L", dao::dbAttachedTable, source_, "Fehlt"}, jet::ObjectNotFound},
        {{"L", dao::dbAttachedTable, ";DATABASE=" + Path("fehlt.mdb"), "T"}, jet::FileNotFound},
        {{"L", dao::dbAttachedTable, locked, "T"}, jet::NotValidPassword},
        {{"L", dao::dbAttachedTable, ";PWD=x", "T"}, jet::InvalidArgument},
        {{"L", 0, source_, "T"}, jet::InvalidArgument},
        {{"L", dao::dbAttachedODBC, "DSN=x", "T"}, jet::InvalidArgument},
        {{"lokal", dao::dbAttachedTable, source_, "T"}, jet::TableExists},
        {{"tarnu_catalog", dao::dbAttachedTable, source_, "T"}, jet::InvalidName},
        {{"Zeile\n2", dao::dbAttachedTable, source_, "T"}, jet::InvalidName},
        {{"B", dao::dbAttachedTable | dao::dbAttachSavePWD, locked + ";PWD=brisk", "T"}, 0},
        {{"T", dao::dbAttachedTable, source_, "T"}, 0},
        {{"K", dao::dbAttachedTable, source_, "Kunden"}, 0},
    };
    for (const auto& [link, error] : cases) {
        EXPECT_EQ(ErrorOf([&] { db_->LinkTable(link); }), error) << link.Name << link.Connect;
    }
    const std::string before = ReadFile(Path("quelle.mdb"));
    const struct stat since = StatOf(Path("quelle.mdb"));
    db_->TableDefs().Delete("t");  // names compare without regard to case
    db_->Execute("DROP TABLE K");
    db_->TableDefs().Delete("Lokal");
    EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Delete("Lokal"); }), jet::ItemNotFound);
    EXPECT_EQ(Catalog(*db_), Texts{"B|40020000|" + locked + ";PWD=brisk|T"});
    EXPECT_EQ(ErrorOf([&] { Rows(*db_, "SELECT * FROM Lokal"); }), jet::TableNotFound);
    EXPECT_EQ(ReadFile(Path("quelle.mdb")), before);
    EXPECT_EQ(StatOf(Path("quelle.mdb")).st_mtim.tv_nsec, since.st_mtim.tv_nsec);
}

}  // namespace
}  // namespace tarnu::engine::test
