// pixelmend delete|crop|copy|move: the add-on's block commands run on raster files without a design.
#include <iostream>

#include "cli/commands.h"

namespace pixelmend {

int runBatch(const std::string& command, Args) { return usageError(command + " is not available yet"); }

}  // namespace pixelmend
