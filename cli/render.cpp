// pixelmend render: draws a view of a design into a PNG picture.
#include <iostream>

#include "cli/commands.h"

namespace pixelmend {

int runRender(Args) { return usageError("render is not available yet"); }

}  // namespace pixelmend
