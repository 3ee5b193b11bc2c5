// The start signal a temporary copy of the program gives its owner.
#pragma once

// When the executable's file name ends in ".tmp" (any case), zeroes the first
// three bytes of the owner's shared-memory section "Ｌｕｍｅｎ－ＴＱ".
void SignalTempCopyStart();
