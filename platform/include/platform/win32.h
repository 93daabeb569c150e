// Base types, constants and error codes of the Windows platform as this
// stand-in provides them. pcsc-lite's wintypes.h already fixes DWORD, LONG,
// BOOL, BYTE, LPSTR and friends on Linux; everything here builds on it.
#pragma once

#include <wintypes.h>

#include <cstdint>

typedef int32_t HRESULT;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* HANDLE;
typedef void* PVOID;
typedef const void* PCVOID;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTHASH;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Win32 error codes (GetLastError).
#define ERROR_SUCCESS 0UL
#define ERROR_FILE_NOT_FOUND 2UL
#define ERROR_ACCESS_DENIED 5UL
#define ERROR_INVALID_HANDLE 6UL
#define ERROR_NOT_ENOUGH_MEMORY 8UL
#define ERROR_INVALID_DATA 13UL
#define ERROR_OUTOFMEMORY 14UL
#define ERROR_NOT_SUPPORTED 50UL
#define ERROR_FILE_EXISTS 80UL
#define ERROR_INVALID_PARAMETER 87UL
#define ERROR_CALL_NOT_IMPLEMENTED 120UL
#define ERROR_INSUFFICIENT_BUFFER 122UL
#define ERROR_MOD_NOT_FOUND 126UL
#define ERROR_PROC_NOT_FOUND 127UL
#define ERROR_ALREADY_EXISTS 183UL
#define ERROR_MORE_DATA 234UL
#define ERROR_NO_MORE_ITEMS 259UL
#define ERROR_CANCELLED 1223UL
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814UL
#define ERROR_INVALID_PASSWORD 86UL
#define ERROR_PATH_NOT_FOUND 3UL
#define ERROR_OPEN_FAILED 110UL
#define ERROR_BAD_EXE_FORMAT 193UL
#define ERROR_FILENAME_EXCED_RANGE 206UL
#define ERROR_NOT_OWNER 288UL
#define ERROR_INVALID_FLAGS 1004UL
#define ERROR_NO_UNICODE_TRANSLATION 1113UL
#define ERROR_DLL_INIT_FAILED 1114UL
#define ERROR_UNKNOWN_REVISION 1305UL

// Reasons a module's entry point (DllMain) is called with.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

extern "C" {
DWORD GetLastError(void);
void SetLastError(DWORD error);
}
