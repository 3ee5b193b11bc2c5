// NewBlock, FreeBlock and ReportRunTimeError for the native build of the
// text operations: the C heap, with a switch that makes a chosen request
// fail, and a run-time error that ends the process the way the program's
// does (message, exit code -1) so that death tests can watch it.
#include "host_heap.h"

#include "frame/heap.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static unsigned RequestsUntilRefusal = 0; // 0: never refuse

void RefuseRequestNumber(unsigned n)
{
    RequestsUntilRefusal = n;
}

void ReportRunTimeError(unsigned bytes)
{
    std::fprintf(stderr, "run-time error: %u bytes refused\n", bytes);
    std::fflush(stderr);
    _exit(255); // -1 as an exit status
}

void* NewBlock(unsigned size)
{
    if (RequestsUntilRefusal != 0 && --RequestsUntilRefusal == 0)
        ReportRunTimeError(size);
    void* block = std::malloc(size);
    if (block == nullptr)
        ReportRunTimeError(size);
    return block;
}

void FreeBlock(void* block)
{
    std::free(block);
}
