// The compiler may emit calls to memset and memcpy for zero-filled structures and copies;
// without a C runtime the program brings its own.
#include <stddef.h>

extern "C" void *memset(void *dest, int value, size_t count) {
  volatile unsigned char *p = static_cast<unsigned char *>(dest);
  while (count--)
    *p++ = static_cast<unsigned char>(value);
  return dest;
}

extern "C" void *memcpy(void *dest, const void *src, size_t count) {
  volatile unsigned char *d = static_cast<unsigned char *>(dest);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  while (count--)
    *d++ = *s++;
  return dest;
}

extern "C" void *memmove(void *dest, const void *src, size_t count) {
  volatile unsigned char *d = static_cast<unsigned char *>(dest);
  const unsigned char *s = static_cast<const unsigned char *>(src);
  if (d < s) {
    while (count--)
      *d++ = *s++;
  } else {
    d += count;
    s += count;
    while (count--)
      *--d = *--s;
  }
  return dest;
}
