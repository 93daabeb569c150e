// The runtime library's thread start and end.
#pragma once

#include "platform/win32.h"

#include <cstdint>

extern "C" {

// Starts start(arglist) on a new thread (stack_size 0: the default size).
// Returns the thread's handle, which is closed by itself when the thread
// ends, so it may only be used while the thread is known to run; -1 (with
// errno set) when the thread cannot be started.
uintptr_t _beginthread(void (*start_address)(void*), unsigned stack_size, void* arglist);
// Ends the calling thread started by _beginthread, as returning from its
// routine would (destructors of the thread's frames run).
[[noreturn]] void _endthread(void);

// As _beginthread, for a routine with a result (which is not kept); the
// handle belongs to the caller (CloseHandle), is signalled when the thread
// ends and stays valid until closed. initflag must be 0 (threads start at
// once); *thrdaddr, when given, receives a number that identifies the
// thread. 0 (with errno set) on failure.
uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*),
                         void* arglist, unsigned initflag, unsigned* thrdaddr);
[[noreturn]] void _endthreadex(unsigned retval);

}  // extern "C"
