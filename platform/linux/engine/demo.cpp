// The demonstration program folder: the four database files of a Tarnu workstation with the
// kinds of content the maintenance deals with.

#include <filesystem>

#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/errors.h"

namespace tarnu::engine {

namespace fs = std::filesystem;

namespace {

const char* const kTowns[] = {"Berlin",  "Hamburg", "München", "Köln",    "Leipzig",
                              "Dresden", "Rostock", "Münster", "Görlitz", "Passau"};
const char* const kGoods[] = {"Schraube", "Mutter",  "Dübel",        "Winkel",    "Scharnier",
                              "Kabel",    "Stecker", "Lüsterklemme", "Sicherung", "Schalter"};

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

std::string N(long value) {
    return std::to_string(value);
}

// A journal line long enough that thousands of them fill some pages.
std::string Entry(long i) {
    std::string text = "Vorgang " + N(i) + ": Datensatz geprüft, übertragen und quittiert";
    while (text.size() < 160) {
        text += " .";
    }
    return text;
}

// A journal table whose rows are mostly deleted again: the free pages compaction reclaims.
void AddJournal(Database& db, const std::string& table, long rows) {
    db.Execute("CREATE TABLE [" + table +
               "] (ID COUNTER PRIMARY KEY, Zeitpunkt DATETIME, Eintrag TEXT(200) NOT NULL)");
    db.BeginTrans();
    for (long i = 1; i <= rows; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "#2023-%02ld-%02ld %02ld:%02ld:00#", 1 + i % 12,
                      1 + i % 28, i % 24, i % 60);
        db.Execute("INSERT INTO [" + table + "] (Zeitpunkt, Eintrag) VALUES (" + stamp + ", " +
                   Quoted(Entry(i)) + ")");
    }
    db.CommitTrans();
    db.Execute("DELETE * FROM [" + table + "] WHERE ID > " + N(rows / 4) + ";");
}

std::string JetConnect(const std::string& file, const std::string& password = "") {
    std::string connect = ";DATABASE=" + file;
    if (!password.empty()) {
        connect += ";PWD=" + password;
    }
    return connect;
}

void Link(Database& db, const std::string& name, std::int32_t attributes,
          const std::string& connect, const std::string& sourceTable) {
    dao::TableDef def;
    def.Name = name;
    def.Attributes = attributes;
    def.Connect = connect;
    def.SourceTableName = sourceTable;
    db.LinkTable(def);
}

void BuildSystem(Engine& engine, const std::string& path) {
    auto db = engine.CreateDatabase(path, ";pwd=brisk");
    db->Execute(
        "CREATE TABLE Benutzer (ID COUNTER PRIMARY KEY, Kuerzel TEXT(10) NOT NULL UNIQUE, "
        "Name TEXT(50), Aktiv YESNO)");
    const char* const users[][2] = {{"ADM", "Verwaltung"},   {"MKR", "Martina Krüger"},
                                    {"JSC", "Jörg Schäfer"}, {"ABE", "Anna Becker"},
                                    {"TWE", "Thomas Weiß"},  {"LHO", "Lena Hofmann"}};
    db->BeginTrans();
    for (std::size_t i = 0; i < std::size(users); ++i) {
        db->Execute(std::string("INSERT INTO Benutzer (Kuerzel, Name, Aktiv) VALUES (") +
                    Quoted(users[i][0]) + ", " + Quoted(users[i][1]) + ", " +
                    (i % 4 == 3 ? "False" : "True") + ")");
    }
    db->Execute("CREATE TABLE Einstellungen (Schluessel TEXT(40) PRIMARY KEY, Wert MEMO)");
    db->Execute("INSERT INTO Einstellungen VALUES ('Mandant', 'Tarnu GmbH')");
    db->Execute("INSERT INTO Einstellungen VALUES ('Version', '4.2')");
    db->Execute("INSERT INTO Einstellungen VALUES ('Sicherung', 'täglich')");
    db->CommitTrans();
    AddJournal(*db, "Anmeldungen", 1600);
}

void BuildData(Engine& engine, const std::string& path, const std::string& systemPath) {
    auto db = engine.CreateDatabase(path);
    db->Execute(
        "CREATE TABLE Kunden (ID COUNTER PRIMARY KEY, Firma TEXT(80) NOT NULL, Ort TEXT(40), "
        "PLZ TEXT(5))");
    db->Execute(
        "CREATE TABLE Artikel (Nummer LONG PRIMARY KEY, Bezeichnung TEXT(60), Preis CURRENCY, "
        "Bestand LONG)");
    db->Execute(
        "CREATE TABLE Auftraege (ID COUNTER PRIMARY KEY, Kunde LONG NOT NULL, Artikel LONG, "
        "Menge SHORT, Datum DATETIME, Erledigt YESNO)");
    db->Execute("CREATE TABLE Temp_Import (Zeile LONG, Inhalt TEXT(200))");
    db->BeginTrans();
    for (long i = 1; i <= 120; ++i) {
        db->Execute("INSERT INTO Kunden (Firma, Ort, PLZ) VALUES (" +
                    Quoted("Firma " + N(i) + " & Söhne") + ", " + Quoted(kTowns[i % 10]) + ", " +
                    Quoted(N(10000 + i * 613 % 89999)) + ")");
    }
    for (long i = 1; i <= 80; ++i) {
        db->Execute("INSERT INTO Artikel VALUES (" + N(1000 + i) + ", " +
                    Quoted(std::string(kGoods[i % 10]) + " Größe " + N(i % 7 + 1)) + ", " +
                    N(i % 50) + "." + N(i % 100 / 10) + "5, " + N(i * 37 % 500) + ")");
    }
    for (long i = 1; i <= 400; ++i) {
        db->Execute("INSERT INTO Auftraege (Kunde, Artikel, Menge, Datum, Erledigt) VALUES (" +
                    N(1 + i % 120) + ", " + N(1001 + i % 80) + ", " + N(1 + i % 30) + ", #2024-" +
                    N(1 + i % 12) + "-" + N(1 + i % 28) + "#, " + (i % 3 ? "True" : "False") + ")");
    }
    for (long i = 1; i <= 40; ++i) {
        db->Execute("INSERT INTO Temp_Import VALUES (" + N(i) + ", " +
                    Quoted("Importzeile " + N(i)) + ")");
    }
    db->CommitTrans();
    AddJournal(*db, "Archiv", 2000);
    // The user table lives in the protected system file; the link keeps its password and so
    // carries a further flag: the clean-up leaves it alone.
    Link(*db, "Benutzer", dao::dbAttachedTable | dao::dbAttachSavePWD,
         JetConnect(systemPath, "brisk"), "Benutzer");
    Link(*db, "Fibu_Konten", dao::dbAttachedODBC,
         "ODBC;DSN=Fibu;DATABASE=Buchhaltung;Trusted_Connection=Yes", "dbo.Konten");
}

void BuildCode(Engine& engine, const std::string& path, const std::string& dataPath) {
    auto db = engine.CreateDatabase(path);
    db->Execute("CREATE TABLE Programmtexte (Nummer LONG PRIMARY KEY, Text MEMO)");
    db->Execute("CREATE TABLE Menue (Position SHORT, Eintrag TEXT(50), Formular TEXT(64))");
    db->BeginTrans();
    for (long i = 1; i <= 60; ++i) {
        db->Execute("INSERT INTO Programmtexte VALUES (" + N(i) + ", " +
                    Quoted("Meldungstext Nr. " + N(i) + ": Bitte prüfen Sie die Eingabe.") + ")");
    }
    const char* const menu[] = {"Kunden", "Artikel", "Aufträge", "Auswertungen", "Extras"};
    for (long i = 0; i < 5; ++i) {
        db->Execute("INSERT INTO Menue VALUES (" + N(i + 1) + ", " + Quoted(menu[i]) + ", " +
                    Quoted(std::string("frm") + menu[i]) + ")");
    }
    db->CommitTrans();
    AddJournal(*db, "Fehlerprotokoll", 1200);
    // Neighbours in the collection's order: one walk that deletes skips every second one.
    for (const char* table : {"Artikel", "Auftraege", "Kunden"}) {
        Link(*db, table, dao::dbAttachedTable, JetConnect(dataPath), table);
    }
    Link(*db, "Lager_Bestand", dao::dbAttachedODBC, "ODBC;DSN=Lager;", "Bestand");
}

void BuildAdmin(Engine& engine, const std::string& path, const std::string& dataPath,
                const std::string& systemPath) {
    auto db = engine.CreateDatabase(path);
    db->Execute("CREATE TABLE Temp_Auswertung (Kunde LONG, Umsatz CURRENCY, Bemerkung TEXT(100))");
    db->Execute("CREATE TABLE Temp_Druckliste (Position LONG, Zeile TEXT(120))");
    // Not a temporary table for the purge: the prefix differs in case.
    db->Execute("CREATE TABLE temp_Notizen (Nr LONG, Notiz MEMO)");
    db->BeginTrans();
    for (long i = 1; i <= 150; ++i) {
        db->Execute("INSERT INTO Temp_Auswertung VALUES (" + N(i) + ", " + N(i * 97 % 10000) +
                    ".5, " + Quoted("Auswertung " + N(i)) + ")");
    }
    for (long i = 1; i <= 90; ++i) {
        db->Execute("INSERT INTO Temp_Druckliste VALUES (" + N(i) + ", " +
                    Quoted("Druckzeile " + N(i) + " für Bericht Umsatz") + ")");
    }
    for (long i = 1; i <= 5; ++i) {
        db->Execute("INSERT INTO temp_Notizen VALUES (" + N(i) + ", " + Quoted("Notiz " + N(i)) +
                    ")");
    }
    db->CommitTrans();
    AddJournal(*db, "Protokoll", 1400);
    for (const char* table : {"Auftraege", "Kunden"}) {
        Link(*db, table, dao::dbAttachedTable, JetConnect(dataPath), table);
    }
    Link(*db, "Benutzer", dao::dbAttachedTable | dao::dbAttachSavePWD,
         JetConnect(systemPath, "brisk"), "Benutzer");
    // A link whose name looks temporary: it is a link, not a table to empty.
    Link(*db, "Temp_Fibu", dao::dbAttachedODBC, "ODBC;DSN=Fibu;", "dbo.Buchungen");
}

}  // namespace

void BuildDemoFolder(Engine& engine, const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        throw MakeError(jet::InvalidPath, dir);
    }
    fs::path folder = fs::absolute(dir, ec);
    if (ec) {
        throw MakeError(jet::InvalidPath, dir);
    }
    const std::string system = (folder / "system.srv").string();
    const std::string data = (folder / "KDL.mdb").string();
    const std::string code = (folder / "kdlcode.mde").string();
    const std::string admin = (folder / "Tarnu-Admin.mde").string();
    for (const std::string& file : {system, data, code, admin}) {
        if (fs::exists(fs::symlink_status(file, ec))) {
            throw MakeError(jet::DatabaseExists);
        }
    }
    BuildSystem(engine, system);
    BuildData(engine, data, system);
    BuildCode(engine, code, data);
    BuildAdmin(engine, admin, data, system);
}

}  // namespace tarnu::engine
