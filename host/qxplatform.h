/* The one place that knows which platform the code is built for. */
#ifndef QX_HOST_QXPLATFORM_H
#define QX_HOST_QXPLATFORM_H

#if defined(_WIN32)
#define QX_DIR_SEPARATOR '\\'
#define QX_PATH_SEPARATOR ';'
/* What the host looks up by name: exported undecorated, called with the C convention. */
#define QX_EXPORT __declspec(dllexport)
#define QX_CALL __cdecl
#define QX_LIBRARY_PREFIX ""
#define QX_LIBRARY_SUFFIX ".dll"
#define QX_PLATFORM_WORD "win32-x86"
/* The DLL's entry point: loading and unloading need nothing of the module. */
#define QX_DLL_ENTRY_POINT                                          \
  extern "C" int __stdcall DllMain(void *, unsigned long, void *) { \
    return 1;                                                       \
  }
#else
#define QX_DIR_SEPARATOR '/'
#define QX_PATH_SEPARATOR ':'
#define QX_EXPORT __attribute__((visibility("default")))
#define QX_CALL
#define QX_LIBRARY_PREFIX "lib"
#define QX_LIBRARY_SUFFIX ".so"
#define QX_DLL_ENTRY_POINT
#if defined(__x86_64__)
#define QX_PLATFORM_WORD "linux-x86_64"
#else
#define QX_PLATFORM_WORD "linux"
#endif
#endif

/* The value of the options document's os attribute that names this platform: a document shared
 * between platforms gives each its own paths. */
#if defined(_WIN32)
#define QX_OPTIONS_OS u"windows"
#else
#define QX_OPTIONS_OS u"unix"
#endif

#endif
