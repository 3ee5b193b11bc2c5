// The process heap behind NewBlock and FreeBlock.
//
// A test build (YYGATE_HEAP_SEAM) routes both calls through a seam that can
// refuse a chosen request and log what is taken and given back, so that the
// out-of-memory end can be driven and watched from outside the process.
#include "frame/heap.h"

#include "frame/lifetime.h"

#include <windows.h>

#ifdef YYGATE_HEAP_SEAM
void* SeamHeapAlloc(unsigned size);
void SeamHeapFree(void* block);
#endif

void* NewBlock(unsigned size)
{
#ifdef YYGATE_HEAP_SEAM
    void* block = SeamHeapAlloc(size);
#else
    void* block = HeapAlloc(GetProcessHeap(), 0, size);
#endif
    if (block == nullptr)
        ReportRunTimeError(size);
    return block;
}

void FreeBlock(void* block)
{
    if (block == nullptr)
        return;
#ifdef YYGATE_HEAP_SEAM
    SeamHeapFree(block);
#else
    HeapFree(GetProcessHeap(), 0, block);
#endif
}
