// Blocks of memory for texts and for the security-attributes record.
//
// The program takes its memory from the process heap. A refused request is
// not returned to the caller: it ends the program through ReportRunTimeError,
// so every caller may use the block it gets without a check.
#pragma once

// Returns a new block of `size` bytes; never returns on failure.
void* NewBlock(unsigned size);

// Gives a block from NewBlock back; a null pointer is ignored.
void FreeBlock(void* block);
