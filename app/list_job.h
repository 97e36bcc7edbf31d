// The network jobs: comic-ta, bunko-ta, comic-wf and url.
#pragma once

#include "lists/options.h"

// Runs the job that options->kind selects (kinds 1 to 4), from connection to
// file. 0 on success, a negative code otherwise.
int RunListJob(const CommandOptions* options);
