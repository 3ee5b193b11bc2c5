// The registry path split. No platform calls: it builds for the host too.
#include "gate/registry_path.h"

#include "text/separator.h"

RegistryPathSplit SplitRegistryPath(const char* path)
{
    if (path == nullptr)
        path = "";
    LeadByteMap map;
    MapHighBytesAsLead(&map);
    int split = FindLastSeparator(path, &map);
    RegistryPathSplit result;
    if (split < 0) {
        result.hasKeyPath = 0;
        result.keyLength = 0;
        result.valueName = path;
    } else {
        result.hasKeyPath = 1;
        result.keyLength = static_cast<unsigned>(split);
        result.valueName = path + split + 1;
    }
    return result;
}
