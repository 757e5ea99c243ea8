// oserror: the pending operating-system error, the errno of a failed file or
// system call of ours, kept until the session reports it ("Operating system
// error: ..."). Relies on nothing; the C library's errno is not it.
#pragma once

// The error number of the last failed operating-system call, 0 when none is
// pending. Successful calls leave it alone; the session clears it after the
// report.
extern int pendingOsError;

// Records the error number of a failed call (0 clears the pending error).
void SetPendingOsError(int code);
// Records the current errno after a call that failed.
void NoteOsError();
