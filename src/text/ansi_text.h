// AnsiText: the program's one text form, and the operations that build and
// test it.
//
// An AnsiText is a NUL-terminated byte string in the ANSI code page (936 on
// the systems the program serves). Lengths and positions count bytes. A null
// pointer is the absent text and reads as empty everywhere. Every text an
// operation returns is new and belongs to the caller, who gives it back with
// ReleaseText right after its last use; the copying operations return the
// absent text where their result would be empty. No operation changes, keeps
// or releases a text it is given. Memory comes from NewBlock, so a refused
// request ends the program instead of returning here.
#pragma once

typedef char* AnsiText;

// Byte length of a text; 0 for the absent text.
unsigned TextLength(const char* text);

// A new text of the `count` bytes at `from`; absent when count is 0.
AnsiText CopyOrAbsent(const char* from, unsigned count);

// The texts joined in order, nothing added between them; never absent.
AnsiText ConcatText(const char* const* texts, int count);
AnsiText ConcatText(const char* first, const char* second);

// -1, 0 or 1, comparing unsigned bytes; absent equals empty.
int CompareText(const char* a, const char* b);

// The last `count` bytes (fewer if the text is shorter); absent for count <= 0.
AnsiText TextRight(const char* text, int count);

// A copy with A-Z made small; the second byte of a double-byte character
// (lead byte 0x80 or above) is never changed.
AnsiText ToLowerCase(const char* text);

// A copy with printable ASCII replaced by its code page 936 full-width form.
AnsiText ToFullWidth(const char* text);

// Gives back a text that an operation returned; absent is ignored.
void ReleaseText(AnsiText text);
