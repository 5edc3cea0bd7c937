#pragma once

#include "ports/copy_survey.h"

namespace tarnu::win32 {

// What SHFileOperationA would write for one source item and one target, found as the shell
// finds the files: FindFirstFileA for a pattern and through folders. A file that would be
// replaced is opened for a moment without sharing: a sharing violation means that a program
// holds it open, and the shell could not replace it either. The running program's own
// executable is told apart. Windows keeps no lock of the tool's runs on a folder, and the shell
// replaces file by file, so the old files give their room back as the copy goes.
class Win32CopySurvey : public CopySurveyApi {
  public:
    CopySurvey SurveyCopy(const std::string& source, const std::string& target) override;
};

}  // namespace tarnu::win32
