#pragma once

#include <optional>
#include <string>

#include "ports/copy_survey.h"

namespace tarnu::update {

// Looks at the copy of source to target before it is made and returns the German message for
// the first thing that would make it fail half-way, none when nothing is found: another run of
// the tool in the target folder, a source without any file, a file to be replaced that a
// running program holds, too little room on the target's drive.
std::optional<std::string> CheckBeforeCopy(CopySurveyApi& survey, const std::string& source,
                                           const std::string& target);

}  // namespace tarnu::update
