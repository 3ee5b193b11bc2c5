// Finding the last path separator in a double-byte text.
//
// A backslash (0x5C) separates only when it is a character of its own: the
// byte after a lead byte belongs to that lead byte, whatever its value, so
// the pair 81 5C of code page 936 is one character and never a separator.
#pragma once

// Which byte values start a two-byte character.
struct LeadByteMap {
    bool isLead[256];
};

// Fills the map with every byte of 0x80 or above as a lead byte.
void MapHighBytesAsLead(LeadByteMap* map);

// Index of the last backslash that stands as a character of its own, or -1.
// A lead byte right before the terminating NUL ends the scan.
int FindLastSeparator(const char* text, const LeadByteMap* map);
