#include "readers/large_allocations.h"

#include <cstdlib> // defines __GLIBC__ with glibc
#ifdef __GLIBC__
#include <malloc.h>
#endif

void keepLargeAllocations()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}
