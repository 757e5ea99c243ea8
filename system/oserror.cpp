// oserror: the pending operating-system error, the errno of a failed file or
// system call of ours, kept until the session reports it ("Operating system
// error: ..."). Relies on nothing; the C library's errno is not it.
#include "system/oserror.h"

#include <cerrno>

int pendingOsError = 0;

void SetPendingOsError(int code) { pendingOsError = code; }

// A failed call that left errno 0 still counts as a failure of the system.
void NoteOsError() { pendingOsError = errno != 0 ? errno : EIO; }
