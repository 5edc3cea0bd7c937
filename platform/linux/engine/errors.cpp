#include "platform/linux/engine/errors.h"

#include "ports/printable_name.h"

namespace tarnu::engine {

namespace {

const char* Template(std::int32_t number) {
    switch (number) {
        case jet::DivisionByZero:
            return "Division durch Null";
        case jet::InvalidArgument:
            return "Ungültiges Argument.";
        case jet::TableExists:
            return "Tabelle '|' existiert bereits.";
        case jet::ObjectNotFound:
            return "Das Objekt '|' wurde nicht gefunden.";
        case jet::DuplicateKey:
            return "Die Änderungen wurden nicht durchgeführt, weil sie doppelte Werte im Index, "
                   "Primärschlüssel oder in der Beziehung erzeugen würden.";
        case jet::FileNotFound:
            return "Datei '|' nicht gefunden.";
        case jet::ReadOnly:
            return "Aktualisieren nicht möglich. Datenbank oder Objekt ist schreibgeschützt.";
        case jet::NotValidPassword:
            return "Kein gültiges Kennwort.";
        case jet::NoTransaction:
            return "CommitTrans oder Rollback ohne vorheriges BeginTrans.";
        case jet::DiskOrNetworkError:
            return "Datenträger- oder Netzwerkfehler.";
        case jet::InvalidPath:
            return "'|' ist kein zulässiger Pfad.";
        case jet::FileInUse:
            return "'|' konnte nicht verwendet werden; Datei wird bereits verwendet.";
        case jet::CorruptDatabase:
            return "Die Datenbank '|' kann nicht geöffnet werden. Sie ist möglicherweise "
                   "beschädigt.";
        case jet::NoPermission:
            return "Auf die Datei '|' kann nicht zugegriffen werden; die Berechtigung fehlt.";
        case jet::TooFewParameters:
            return "Zu wenige Parameter. Erwartet |.";
        case jet::CannotExecuteSelect:
            return "Auswahlabfrage kann nicht ausgeführt werden.";
        case jet::SyntaxErrorInExpression:
            return "Syntaxfehler (fehlender Operator) in Abfrageausdruck '|'.";
        case jet::TableNotFound:
            return "Die Eingabetabelle oder Abfrage '|' wurde nicht gefunden.";
        case jet::AggregateInWhere:
            return "Aggregatfunktion in WHERE-Klausel nicht möglich (|).";
        case jet::AggregateMix:
            return "Die Abfrage schließt den Ausdruck '|' nicht als Teil einer Aggregatfunktion "
                   "ein.";
        case jet::InvalidName:
            return "'|' ist kein zulässiger Name.";
        case jet::UnknownInsertField:
            return "Die INSERT INTO-Anweisung enthält den folgenden unbekannten Feldnamen: '|'.";
        case jet::InvalidSqlStatement:
            return "Ungültige SQL-Anweisung; 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT' oder "
                   "'UPDATE' erwartet.";
        case jet::SyntaxErrorFrom:
            return "Syntaxfehler in FROM-Klausel.";
        case jet::SyntaxErrorInsert:
            return "Syntaxfehler in INSERT INTO-Anweisung.";
        case jet::SyntaxErrorSelect:
            return "Syntaxfehler in SELECT-Anweisung.";
        case jet::CharactersAfterEnd:
            return "Zeichen nach dem Ende der SQL-Anweisung gefunden.";
        case jet::FieldTooSmall:
            return "Das Feld ist zu klein für die Datenmenge, die Sie hinzufügen wollten.";
        case jet::FieldDefinedTwice:
            return "Das Feld '|' kann nicht mehrfach definiert werden.";
        case jet::DatabaseExists:
            return "Datenbank existiert bereits.";
        case jet::Locked:
            return "Aktualisieren nicht möglich; momentan gesperrt.";
        case jet::InvalidOperation:
            return "Unzulässige Operation.";
        case jet::ItemNotFound:
            return "Element in dieser Auflistung nicht gefunden.";
        case jet::SyntaxErrorCreateTable:
            return "Syntaxfehler in CREATE TABLE-Anweisung.";
        case jet::SyntaxErrorDrop:
            return "Syntaxfehler in DROP TABLE- oder DROP INDEX-Anweisung.";
        case jet::FieldRequired:
            return "Das Feld '|' darf keinen Nullwert enthalten.";
        case jet::UnrecognizedFormat:
            return "Nicht erkanntes Datenbankformat '|'.";
        case jet::ValueCountMismatch:
            return "Anzahl der Abfragewerte und Anzahl der Zielfelder sind unterschiedlich.";
        case jet::NumericOverflow:
            return "Numerischer Feldüberlauf.";
        case jet::TableDoesNotExist:
            return "Tabelle '|' ist nicht vorhanden.";
        case jet::ConversionError:
            return "Datentypkonvertierungsfehler.";
        case jet::LinkedTableStatement:
            return "Anweisungen an die verknüpfte Tabelle '|' sind nicht möglich.";
        default:
            return "Reservierter Fehler (|); es gibt keine Meldung für diesen Fehler.";
    }
}

}  // namespace

std::string Describe(std::int32_t number, const std::string& detail) {
    std::string text;
    for (const char* p = Template(number); *p; ++p) {
        if (*p == '|') {
            text += detail;
        } else {
            text += *p;
        }
    }
    return text;
}

tarnu::Error MakeError(std::int32_t number, const std::string& detail) {
    // Details are names of files, tables and fields, which may hold anything: printed as they
    // are, a line break in one could forge a line of a tool's output.
    return tarnu::Error(number, Describe(number, PrintableName(detail)));
}

}  // namespace tarnu::engine
