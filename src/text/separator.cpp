// The separator scan shared by the program location and the registry path.
#include "text/separator.h"

void MapHighBytesAsLead(LeadByteMap* map)
{
    for (int b = 0; b < 256; ++b)
        map->isLead[b] = b >= 0x80;
}

int FindLastSeparator(const char* text, const LeadByteMap* map)
{
    int last = -1;
    if (text == nullptr)
        return last;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    for (int i = 0; bytes[i] != 0; ++i) {
        if (map->isLead[bytes[i]]) {
            if (bytes[i + 1] == 0)
                break;
            ++i;
        } else if (bytes[i] == '\\') {
            last = i;
        }
    }
    return last;
}
