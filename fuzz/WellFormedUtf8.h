#pragma once

#include <cstddef>
#include <cstdint>

// True when the bytes are well-formed UTF-8 without NULs: no stray or missing
// continuation bytes, no overlong forms, no surrogates, nothing past U+10FFFF.
// The framework's CharPointer_UTF8::isValidString is not enough here: it
// compares each sequence as one number and so accepts "\xe0\xe0\xe0", which
// its own String then decodes to fewer bytes than it copies.
// The state codec has its own strict check; this one is written apart from it
// on purpose, so the state fuzzer does not judge the codec by its own rule.
inline bool isWellFormedUtf8 (const std::uint8_t* bytes, size_t size)
{
    for (size_t i = 0; i < size;)
    {
        const auto lead = bytes[i];

        if (lead == 0)
            return false;

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t length = 0;
        std::uint32_t codePoint = 0, lowest = 0;

        if (lead >= 0xc2 && lead <= 0xdf)      { length = 2; codePoint = lead & 0x1fu; lowest = 0x80; }
        else if (lead >= 0xe0 && lead <= 0xef) { length = 3; codePoint = lead & 0x0fu; lowest = 0x800; }
        else if (lead >= 0xf0 && lead <= 0xf4) { length = 4; codePoint = lead & 0x07u; lowest = 0x10000; }
        else return false;

        if (size - i < length)
            return false;

        for (size_t k = 1; k < length; ++k)
        {
            if ((bytes[i + k] & 0xc0) != 0x80)
                return false;

            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3fu);
        }

        if (codePoint < lowest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
            return false;

        i += length;
    }

    return true;
}
