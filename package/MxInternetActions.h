#pragma once
// The package's one entry: registers every class of the "Internet" actions with the host.
#include "host/MxServices.h"
#include "options/MxInternetOptions.h"

namespace mx {

// Registers, in a fixed order, the package's actions, persistence classes, script names and
// option objects, and, when the registrar is the design environment, its pages and property
// editors. Loading the package registers nothing by itself.
void MxRegister(host::IMxRegistrar& registrar);

}  // namespace mx
