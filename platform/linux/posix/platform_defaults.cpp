#include "ports/files.h"

namespace tarnu {

char PathSeparator() {
    return '/';
}

// Where software of its own kind lies on a Linux system; a Windows program folder such as
// "C:\Programme\Tarnu" would mean nothing here.
std::string DefaultTargetFolder() {
    return "/opt/tarnu";
}

}  // namespace tarnu
