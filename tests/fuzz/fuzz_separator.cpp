// Fuzzes the separator scan and the registry path split against the
// reference model. Input: one byte choosing the lead-byte map (0: every byte
// from 0x80, as the registry path uses; 1: code page 936's 0x81-0xFE;
// otherwise a map read from the next 32 bytes as a bit set), then the text.
#include "gate/registry_path.h"
#include "reference_model.h"
#include "text/separator.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    LeadByteMap map;
    size_t used = 1;
    switch (data[0]) {
    case 0:
        MapHighBytesAsLead(&map);
        break;
    case 1:
        for (int b = 0; b < 256; ++b)
            map.isLead[b] = b >= 0x81 && b <= 0xFE;
        break;
    default:
        if (size < 33)
            return 0;
        for (int b = 0; b < 256; ++b)
            map.isLead[b] = (data[1 + b / 8] >> (b % 8)) & 1;
        used = 33;
        break;
    }
    std::string text(reinterpret_cast<const char*>(data + used), size - used);
    text = text.substr(0, text.find('\0'));

    int expected = model::LastSeparator(text, [&](unsigned char c) { return map.isLead[c]; });
    Check(FindLastSeparator(text.c_str(), &map) == expected);

    int high = model::LastSeparator(text, [](unsigned char c) { return c >= 0x80; });
    RegistryPathSplit split = SplitRegistryPath(text.c_str());
    if (high < 0) {
        Check(split.hasKeyPath == 0 && split.keyLength == 0 && split.valueName == text.c_str());
    } else {
        Check(split.hasKeyPath == 1 && split.keyLength == static_cast<unsigned>(high));
        Check(split.valueName == text.c_str() + high + 1);
    }
    return 0;
}
