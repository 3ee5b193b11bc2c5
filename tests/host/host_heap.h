// Test control of the native heap behind the text operations.
#pragma once

// Makes the n-th request from now fail (1: the next one); 0 turns it off.
void RefuseRequestNumber(unsigned n);

void ReportRunTimeError(unsigned bytes);
