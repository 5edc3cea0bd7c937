// tarnu-db: the engine's administration tool, for users, the demo and the tests.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/engine/engine.h"
#include "platform/linux/engine/file_hold.h"
#include "platform/linux/engine/names.h"
#include "ports/error.h"
#include "ports/printable_name.h"

namespace {

using tarnu::PrintableName;
using tarnu::engine::Engine;

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Aufruf: tarnu-db create DATEI [--password P]\n"
    "  oder: tarnu-db exec DATEI [--password P] ANWEISUNG\n"
    "  oder: tarnu-db link DATEI NAME --source DBDATEI --table TABELLE [OPTIONEN]\n"
    "  oder: tarnu-db link DATEI NAME --odbc VERBINDUNG [--table TABELLE] [OPTIONEN]\n"
    "  oder: tarnu-db tables DATEI [--password P]\n"
    "  oder: tarnu-db compact QUELLE ZIEL [--password P]\n"
    "  oder: tarnu-db demo ORDNER\n"
    "  oder: tarnu-db --help | --version\n"
    "\n"
    "Die eingebettete Datenbank-Engine des TARNU-System-Tools von Hand:\n"
    "  create   eine leere Datenbank anlegen\n"
    "  exec     eine Anweisung ausführen; eine SELECT-Abfrage gibt ihre Zeilen aus\n"
    "  link     eine Tabelle einer anderen Datenbank oder eine ODBC-Tabelle verknüpfen\n"
    "  tables   die Tabellendefinitionen zeigen: Name, Attribute, Art, Verbindung, Quelle\n"
    "  compact  die Datenbank QUELLE komprimiert nach ZIEL schreiben\n"
    "  demo     einen Programmordner zum Ausprobieren anlegen: die vier Datenbanken\n"
    "           mit verknüpften Tabellen, Temp_-Tabellen und gelöschten Zeilen\n"
    "\n"
    "Optionen:\n"
    "  --password P          das Kennwort der Datenbank DATEI oder QUELLE\n"
    "  --source-password P   das Kennwort der Datenbank DBDATEI\n"
    "  --attributes HEX      die Attribute der Verknüpfung als Hexadezimalzahl\n"
    "\n"
    "Rückgabewert: 0 bei Erfolg, 1 bei einem Fehler, 2 bei falschem Aufruf.\n";

struct UsageError {
    std::string message;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Option(const std::string& name) const {
        auto it = options.find(name);
        return it == options.end() ? "" : it->second;
    }
};

Arguments Parse(int argc, char** argv, const std::vector<std::string>& allowed) {
    Arguments args;
    bool optionsDone = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a.rfind("--", 0) == 0) {
            bool known = false;
            for (const std::string& name : allowed) {
                known = known || name == a;
            }
            if (!known) {
                throw UsageError{"unbekannte Option " + PrintableName(a)};
            }
            if (i + 1 >= argc) {
                throw UsageError{"Option " + a + " ohne Wert"};
            }
            args.options[a] = argv[++i];
        } else {
            args.positional.push_back(a);
        }
    }
    return args;
}

void ExpectPositional(const Arguments& args, std::size_t count) {
    if (args.positional.size() != count) {
        throw UsageError{"falsche Anzahl von Argumenten"};
    }
}

std::string Connect(const Arguments& args) {
    if (!args.Has("--password")) {
        return "";
    }
    std::string password = args.Option("--password");
    if (password.find(';') != std::string::npos) {
        throw UsageError{"ein Kennwort darf kein ';' enthalten"};
    }
    return ";pwd=" + password;
}

std::int32_t ParseAttributes(const std::string& text) {
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw UsageError{"--attributes erwartet eine Hexadezimalzahl: " + PrintableName(text)};
    }
    return static_cast<std::int32_t>(std::stoul(digits, nullptr, 16));
}

std::string Hex(std::int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

bool IsSelect(const std::string& statement) {
    std::size_t start = statement.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return false;
    }
    std::size_t end = statement.find_first_of(" \t\r\n", start);
    return tarnu::engine::SameName(statement.substr(start, end - start), "SELECT");
}

int Create(Engine& engine, int argc, char** argv) {
    Arguments args = Parse(argc, argv, {"--password"});
    ExpectPositional(args, 1);
    engine.CreateDatabase(args.positional[0], Connect(args));
    return 0;
}

int Exec(Engine& engine, int argc, char** argv) {
    Arguments args = Parse(argc, argv, {"--password"});
    ExpectPositional(args, 2);
    auto db = engine.OpenDatabase(args.positional[0], false, false, Connect(args));
    const std::string& statement = args.positional[1];
    if (!IsSelect(statement)) {
        db->Execute(statement);
        return 0;
    }
    db->ForEachRow(statement, [](const std::vector<std::string>&,
                                 const std::vector<tarnu::engine::Value>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += (i ? "\t" : "") + row[i].ToText();
        }
        std::cout << line << '\n';
    });
    return 0;
}

int Link(Engine& engine, int argc, char** argv) {
    Arguments args =
        Parse(argc, argv,
              {"--password", "--source", "--table", "--source-password", "--odbc", "--attributes"});
    ExpectPositional(args, 2);
    tarnu::dao::TableDef def;
    def.Name = args.positional[1];
    if (args.Has("--source") == args.Has("--odbc")) {
        throw UsageError{"genau eine von --source und --odbc angeben"};
    }
    if (args.Has("--source")) {
        if (!args.Has("--table")) {
            throw UsageError{"--source braucht --table"};
        }
        // Jet keeps the full path of a linked file, so that the link works from anywhere.
        def.Connect = ";DATABASE=" + tarnu::engine::AbsolutePath(args.Option("--source"));
        if (args.Has("--source-password")) {
            def.Connect += ";PWD=" + args.Option("--source-password");
        }
        def.Attributes = tarnu::dao::dbAttachedTable;
        def.SourceTableName = args.Option("--table");
    } else {
        def.Connect = args.Option("--odbc");
        if (def.Connect.rfind("ODBC;", 0) != 0) {
            def.Connect = "ODBC;" + def.Connect;
        }
        def.Attributes = tarnu::dao::dbAttachedODBC;
        def.SourceTableName = args.Has("--table") ? args.Option("--table") : def.Name;
    }
    if (args.Has("--attributes")) {
        def.Attributes = ParseAttributes(args.Option("--attributes"));
    }
    auto db = engine.OpenDatabase(args.positional[0], false, false, Connect(args));
    db->LinkTable(def);
    return 0;
}

int Tables(Engine& engine, int argc, char** argv) {
    Arguments args = Parse(argc, argv, {"--password"});
    ExpectPositional(args, 1);
    auto db = engine.OpenDatabase(args.positional[0], false, true, Connect(args));
    tarnu::dao::TableDefs& defs = db->TableDefs();
    int count = defs.Count();
    for (int i = 0; i < count; ++i) {
        tarnu::dao::TableDef def = defs.Item(i);
        const char* kind = (def.Attributes & tarnu::dao::dbAttachedTable)  ? "jet"
                           : (def.Attributes & tarnu::dao::dbAttachedODBC) ? "odbc"
                                                                           : "lokal";
        std::cout << PrintableName(def.Name) << '\t' << Hex(def.Attributes) << '\t' << kind << '\t'
                  << PrintableName(def.Connect) << '\t' << PrintableName(def.SourceTableName)
                  << '\n';
    }
    return 0;
}

int Compact(Engine& engine, int argc, char** argv) {
    Arguments args = Parse(argc, argv, {"--password"});
    ExpectPositional(args, 2);
    std::optional<std::string> password;
    if (args.Has("--password")) {
        password = Connect(args);
    }
    engine.CompactDatabase(args.positional[0], args.positional[1], std::nullopt, std::nullopt,
                           password);
    return 0;
}

int Demo(Engine& engine, int argc, char** argv) {
    Arguments args = Parse(argc, argv, {});
    ExpectPositional(args, 1);
    tarnu::engine::BuildDemoFolder(engine, args.positional[0]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    std::string command = argv[1];
    if (command == "--help" || command == "--version") {
        std::cout << (command == "--help" ? kUsage
                                          : "tarnu-db (TARNU-System-Tool) " TARNU_VERSION "\n");
        return 0;
    }
    auto engine = tarnu::engine::MakeEngine();
    try {
        if (command == "create") {
            return Create(*engine, argc, argv);
        }
        if (command == "exec") {
            return Exec(*engine, argc, argv);
        }
        if (command == "link") {
            return Link(*engine, argc, argv);
        }
        if (command == "tables") {
            return Tables(*engine, argc, argv);
        }
        if (command == "compact") {
            return Compact(*engine, argc, argv);
        }
        if (command == "demo") {
            return Demo(*engine, argc, argv);
        }
        std::cerr << "tarnu-db: unbekannter Befehl " << PrintableName(command) << "\n" << kUsage;
        return kExitUsage;
    } catch (const UsageError& e) {
        std::cerr << "tarnu-db: " << e.message << "\n" << kUsage;
        return kExitUsage;
    } catch (const tarnu::Error& e) {
        std::cerr << "tarnu-db: Fehler " << e.number() << ": " << e.description() << "\n";
        return kExitError;
    }
}
