/* Checks of the records that the host and the storage engine read by position. On the native
 * 32-bit target every word is 4 bytes; elsewhere a word that holds a pointer is pointer-sized, so
 * exact byte offsets are checked where pointers are 4 bytes and word positions everywhere. */
#ifndef QX_HOST_QXLAYOUT_H
#define QX_HOST_QXLAYOUT_H

#include <stddef.h>

#define QX_WORD sizeof(void *)
#define QX_LAYOUT(condition, claim) static_assert(condition, "layout: " claim)
#define QX_LAYOUT_32(condition, claim) \
  static_assert(sizeof(void *) != 4 || (condition), "layout on 32-bit: " claim)

#endif
