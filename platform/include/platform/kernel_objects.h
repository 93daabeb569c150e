// Kernel objects of the platform: events, mutexes (named ones are shared
// by every process of the user), waits, handles, security descriptors and
// Sleep. Handles are opaque values, never reused within a process; a closed
// or forged handle is refused with ERROR_INVALID_HANDLE.
#pragma once

#include "platform/win32.h"

typedef void* PSID;
typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;

typedef WORD SECURITY_DESCRIPTOR_CONTROL;

// Absolute security descriptor.
typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
} SECURITY_DESCRIPTOR, *PISECURITY_DESCRIPTOR;
typedef void* PSECURITY_DESCRIPTOR;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define SECURITY_DESCRIPTOR_REVISION 1UL
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

#define INFINITE 0xFFFFFFFF  // as pcsc-lite spells it, so that both may be included
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_ABANDONED 0x00000080UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL

extern "C" {

// Fills an absolute descriptor with no owner, group or access lists.
// ERROR_UNKNOWN_REVISION for any revision but SECURITY_DESCRIPTOR_REVISION.
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);

// A named event is shared by the handles of this process that name it
// (ERROR_ALREADY_EXISTS on the second creation); names do not reach other
// processes.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Mutexes are owned by a thread and may be waited for again by their owner
// (each wait needs its own release). A named mutex is one object for every
// thread and every process of the user that names it: waiting on it
// excludes all of them. When its owner ends (thread or process) without
// releasing it, the next wait that obtains it returns WAIT_ABANDONED.
// Initial ownership is granted only when the caller makes the object and no
// other process owns it. ERROR_ALREADY_EXISTS tells of another handle of
// this process to the same name; other processes' handles go unreported.
// The mutexes' lock files live in UserStateDir()/mutexes. The security attributes are accepted and
// not interpreted: every named mutex is private to the user.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
// ERROR_NOT_OWNER when the calling thread does not own the mutex.
BOOL ReleaseMutex(HANDLE hMutex);

// WAIT_OBJECT_0, WAIT_ABANDONED (mutexes), WAIT_TIMEOUT, or WAIT_FAILED with
// the reason in the last error. Threads are signalled when they end.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);

void Sleep(DWORD dwMilliseconds);

}  // extern "C"
