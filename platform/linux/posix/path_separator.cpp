#include "ports/files.h"

namespace tarnu {

char PathSeparator() { return '/'; }

}  // namespace tarnu
