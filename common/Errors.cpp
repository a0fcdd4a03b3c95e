#include "common/Errors.h"

#include <cstring>

namespace merkanix {

void ThrowFileError(const char* what, const std::string& path, int errorNumber) {
    throw InOutError(std::string(what) + " \"" + path + "\". " + std::strerror(errorNumber));
}

} // namespace merkanix
