/* Client library of the ZEB server: the seven calls that administration tools use.
 *
 * Usable from C and C++. Texts are NUL-terminated 8-bit strings owned by the caller and
 * read only during the call; every status is a 32-bit int, 0 meaning success.
 *
 * ZEBC_API marks the functions as exported while the library itself is built (define
 * ZEBC_BUILDING_LIBRARY) and as imported from ZEBCli.dll otherwise; on Windows an includer
 * may define it first (empty, for a library whose exports a .def file names). ZEBC_CALL is the
 * calling convention: the C default (__cdecl) unless the includer defines it first, so
 * that the vendor's header and import library can replace these without touching callers.
 */
#ifndef ZEBCLI_ZEBCLI_H
#define ZEBCLI_ZEBCLI_H

#if defined(_WIN32)
#if defined(ZEBC_API)
#elif defined(ZEBC_BUILDING_LIBRARY)
#define ZEBC_API __declspec(dllexport)
#else
#define ZEBC_API __declspec(dllimport)
#endif
#ifndef ZEBC_CALL
#define ZEBC_CALL __cdecl
#endif
#else
#if defined(ZEBC_BUILDING_LIBRARY)
#define ZEBC_API __attribute__((visibility("default")))
#else
#define ZEBC_API
#endif
#ifndef ZEBC_CALL
#define ZEBC_CALL
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Prepares the library (on Windows, the socket layer). */
ZEBC_API int ZEBC_CALL ZEBC_Init(void);
/* Releases what ZEBC_Init prepared; safe whatever happened before. */
ZEBC_API int ZEBC_CALL ZEBC_Close(void);

/* Asks the server for its version and its protocol's version; 0 when the server answered.
 * Writes at most size1 bytes into buf1 and size2 into buf2, nothing with a size <= 0 or a
 * null buffer. */
ZEBC_API int ZEBC_CALL ZEBC_GetVersions(char* buf1, int size1, char* buf2, int size2);

/* Administrative requests: 0 when the server carried them out, an error code otherwise. */
ZEBC_API int ZEBC_CALL ZEBC_Adm_Close(const char* user, const char* password);
ZEBC_API int ZEBC_CALL ZEBC_Adm_Restart(const char* user, const char* password);
ZEBC_API int ZEBC_CALL ZEBC_Adm_Dump(const char* user, const char* password, const char* file);
ZEBC_API int ZEBC_CALL ZEBC_Adm_Reload(const char* user, const char* password, const char* file);

#ifdef __cplusplus
}
#endif

#endif
