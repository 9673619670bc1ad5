#pragma once

// The ids live with the presenter, which both windows share.
#include "presenter/control_ids.h"
