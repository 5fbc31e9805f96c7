// The signals of an unattended run, turned into requests that the run takes
// up between two driver calls:
//  - SIGINT, SIGTERM: stop;
//  - SIGHUP (the terminal or ssh session gone, or log rotation): reopen the
//    log file; the run goes on;
//  - SIGUSR1: retry now, as the Retry command does;
//  - SIGPIPE, SIGXFSZ: nothing; the write that raised them fails instead
//    (EPIPE, EFBIG), so its row is counted as lost and the run goes on.
// They are caught rather than ignored, so programs started from the run get
// the default actions back.
#pragma once

// Installs the handlers; false (errno set) when not all could be.
bool InstallRunSignals();
// Readable once a signal came in, until DrainRunSignals(); -1 before
// InstallRunSignals().
int RunSignalsFd();
void DrainRunSignals();
// Whether SIGINT or SIGTERM came at any time.
bool StopSignalled();
// Whether SIGHUP came since the last call.
bool TakeHangupSignal();
// Whether SIGUSR1 came since the last call.
bool TakeRetrySignal();
