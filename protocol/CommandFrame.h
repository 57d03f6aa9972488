// The panel's command frame and the results of its transaction: the protocol core's own, which
// the command line, the service and the simulator share.
#pragma once

#include "core/Frame.h"
