/* The one place that knows which platform the code is built for. */
#ifndef QX_HOST_QXPLATFORM_H
#define QX_HOST_QXPLATFORM_H

#if defined(_WIN32)
#define QX_DIR_SEPARATOR '\\'
#define QX_PATH_SEPARATOR ';'
#define QX_EXPORT __declspec(dllexport)
#define QX_LIBRARY_PREFIX ""
#define QX_LIBRARY_SUFFIX ".dll"
#define QX_PLATFORM_WORD "win32-x86"
#else
#define QX_DIR_SEPARATOR '/'
#define QX_PATH_SEPARATOR ':'
#define QX_EXPORT __attribute__((visibility("default")))
#define QX_LIBRARY_PREFIX "lib"
#define QX_LIBRARY_SUFFIX ".so"
#if defined(__x86_64__)
#define QX_PLATFORM_WORD "linux-x86_64"
#else
#define QX_PLATFORM_WORD "linux"
#endif
#endif

#endif
