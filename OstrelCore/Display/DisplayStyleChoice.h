#pragma once

// The style choice is a preference, so it lives with the records; display code keeps including
// it from here.
#include "OstrelCore/Records/DisplayStyleChoice.h"
