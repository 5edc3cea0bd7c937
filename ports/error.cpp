#include "ports/error.h"

#include <exception>
#include <new>

namespace tarnu {

std::string standardErrorDescription(std::int32_t number) {
    switch (number) {
        case err::InvalidProcedureCall:
            return "Ungültiger Prozeduraufruf oder ungültiges Argument";
        case err::OutOfMemory:
            return "Nicht genügend Speicher";
        case err::SubscriptOutOfRange:
            return "Index außerhalb des gültigen Bereichs";
        case err::InternalError:
            return "Interner Fehler";
        case err::FileNotFound:
            return "Datei nicht gefunden";
        case err::DeviceIoError:
            return "Fehler beim Geräte-E/A";
        case err::FileAlreadyExists:
            return "Datei existiert bereits";
        case err::DiskFull:
            return "Datenträger voll";
        case err::PermissionDenied:
            return "Zugriff verweigert";
        case err::PathFileAccessError:
            return "Fehler beim Zugriff auf Pfad/Datei";
        case err::PathNotFound:
            return "Pfad nicht gefunden";
        default:
            return "Anwendungs- oder objektdefinierter Fehler";
    }
}

Error::Error(std::int32_t number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

Error::Error(std::int32_t number) : Error(number, standardErrorDescription(number)) {}

Error CurrentError() {
    try {
        throw;
    } catch (const Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return Error(err::OutOfMemory);
    } catch (const std::length_error&) {
        return Error(err::OutOfMemory);
    } catch (const std::exception& e) {
        return Error(err::InternalError, std::string("Interner Fehler: ") + e.what());
    } catch (...) {
        return Error(err::InternalError);
    }
}

}  // namespace tarnu
