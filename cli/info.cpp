// pixelmend info: what the host knows of raster files.
#include <iostream>

#include "cli/commands.h"

namespace pixelmend {

int runInfo(Args) { return usageError("info is not available yet"); }

}  // namespace pixelmend
