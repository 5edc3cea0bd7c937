#include "update/copy_check.h"

#include <cmath>
#include <cstdio>

#include "ports/files.h"
#include "ports/printable_name.h"

namespace tarnu::update {

namespace {

// What a file takes on a drive: its size in whole blocks of the usual 4 KiB.
constexpr std::uint64_t kBlock = 4096;

std::uint64_t OnDisk(std::uint64_t size) {
    return (size + kBlock - 1) / kBlock * kBlock;
}

std::string Quoted(const std::string& name) {
    return "„" + PrintableName(name) + "“";
}

// "12,3 MB", rounded up for what is needed and down for what is free, so that the two never
// read alike when one is too small.
std::string Megabytes(std::uint64_t bytes, bool up) {
    const long double tenths = static_cast<long double>(bytes) * 10 / (1 << 20);
    const auto whole = static_cast<unsigned long long>(up ? std::ceil(tenths) : std::floor(tenths));
    char text[48];
    std::snprintf(text, sizeof text, "%llu,%llu MB", whole / 10, whole % 10);
    return text;
}

}  // namespace

std::optional<std::string> CheckBeforeCopy(CopySurveyApi& survey, const std::string& source,
                                           const std::string& target) {
    const CopySurvey s = survey.SurveyCopy(source, target);
    switch (s.outcome) {
        case SurveyOutcome::FolderBusy:
            return FolderBusyText(s.folder);
        case SurveyOutcome::NoSource:
            return "Im Quellverzeichnis wurden keine Dateien gefunden: " + Quoted(source);
        case SurveyOutcome::Unknown:
            return std::nullopt;  // the copy names the cause itself
        case SurveyOutcome::Surveyed:
            break;
    }
    if (s.files.empty()) {
        return "Im Quellverzeichnis wurden keine Dateien gefunden: " + Quoted(source);
    }
    std::uint64_t needed = 0;
    std::uint64_t givenBack = 0;
    for (const SurveyedFile& file : s.files) {
        if (file.use == FileUse::RunningProgram) {
            return "Die Datei " + Quoted(file.path) +
                   " wird gerade benutzt: es ist dieses TARNU-System-Tool selbst, das sich nicht "
                   "ersetzen kann. Bitte das TARNU-System-Tool für dieses Update aus einem anderen "
                   "Ordner starten.";
        }
        if (file.use == FileUse::InUse) {
            return "Die Datei " + Quoted(file.path) +
                   " wird gerade benutzt. Bitte Tarnu auf diesem Rechner beenden.";
        }
        needed += OnDisk(file.size);
        if (file.replaces && !s.keepsOldUntilDone) {
            givenBack += OnDisk(file.replacedSize);
        }
    }
    needed = needed > givenBack ? needed - givenBack : 0;
    if (needed > s.freeBytes) {
        return "Im Zielverzeichnis " + Quoted(s.folder) + " ist nicht genug Platz: das Update " +
               "braucht " + Megabytes(needed, true) + ", frei sind " +
               Megabytes(s.freeBytes, false) + ".";
    }
    return std::nullopt;
}

}  // namespace tarnu::update
