// The run's one outcome record.
#include "http/outcome.h"

RunOutcome Outcome;
