// Descriptors and threads of this process, for tests that check a run gives back what it took.
#pragma once
#include "support/support.h"
