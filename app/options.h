// The one options record of the run, in static storage. The entry fills it and
// hands a pointer to the parser and the job; nothing else creates one.
#pragma once

#include "lists/options.h"

extern CommandOptions Options;
