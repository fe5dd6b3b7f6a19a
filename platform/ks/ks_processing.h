// The pin's processing: the class driver runs the minidriver's dispatch Process on a worker of
// the pin when asked to.
#pragma once

#include "platform/ks/ks.h"

namespace bayercam {

// Runs the pin's dispatch Process on the pin's worker, one pass at a time; a request during a
// pass gives exactly one more pass after it. Dropped outside the processing states (run only
// with KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY, else pause and run) and, unless the pin has
// KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING, when no frame is queued. Passes always run on
// the worker; `asynchronous` false does not make the caller wait.
void KsPinAttemptProcessing(KSPIN* pin, bool asynchronous);

// Waits until no pass of the pin is running or about to run. Must not be called from a pass.
void KsPinWaitProcessingIdle(KSPIN* pin);

}  // namespace bayercam
