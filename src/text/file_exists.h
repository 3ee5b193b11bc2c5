// Whether anything in the file system matches a path.
#pragma once

// 1 when FindFirstFileA matches an entry (file or directory, wildcards and
// short names included), else 0; every failure reads as no match.
int FileExists(const char* path);
