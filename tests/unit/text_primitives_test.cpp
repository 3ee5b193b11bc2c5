// The byte-level text operations, case by case. The same file runs natively
// (under AddressSanitizer and UndefinedBehaviorSanitizer) and as a Windows
// program under Wine, so the two builds cannot drift apart.
#include "gate/registry_path.h"
#include "text/ansi_text.h"
#include "text/separator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Owns a text returned by an operation; nullptr stays distinguishable.
struct Result {
    AnsiText text;
    explicit Result(AnsiText t) : text(t) {}
    ~Result() { ReleaseText(text); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    bool absent() const { return text == nullptr; }
    std::string bytes() const { return text ? std::string(text) : std::string(); }
};

// Hex dump for readable failure messages.
std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(ConcatText, JoinsInOrderWithNothingBetween)
{
    struct Case {
        const char* a;
        const char* b;
        const char* expected;
    } cases[] = {
        {"Z:\\tmp\\app", "\\YY.exe", "Z:\\tmp\\app\\YY.exe"},
        {nullptr, "\\YY.exe", "\\YY.exe"},
        {"D:", "\\YY.exe", "D:\\YY.exe"},
        {"\xBD\xFB\xD6\xB9:", "", "\xBD\xFB\xD6\xB9:"},
        {"", "", ""},
        {nullptr, nullptr, ""},
        {"a\\", "\\b", "a\\\\b"}, // no separator removed either
    };
    for (const Case& c : cases) {
        Result joined(ConcatText(c.a, c.b));
        ASSERT_FALSE(joined.absent()) << "ConcatText never hands back the absent text";
        EXPECT_EQ(Hex(joined.bytes()), Hex(c.expected));
    }
}

TEST(ConcatText, JoinsAnyNumberOfTexts)
{
    const char* parts[] = {"Software", "\\", nullptr, "qv", ""};
    Result joined(ConcatText(parts, 5));
    EXPECT_EQ(joined.bytes(), "Software\\qv");
    Result none(ConcatText(parts, 0));
    ASSERT_FALSE(none.absent());
    EXPECT_EQ(none.bytes(), "");
}

TEST(CompareText, OrdersUnsignedBytesAndTreatsAbsentAsEmpty)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {nullptr, nullptr, 0},
        {nullptr, "", 0},
        {"", nullptr, 0},
        {nullptr, ".tmp", -1},
        {".tmp", nullptr, 1},
        {".tmp", ".tmp", 0},
        {".tmp", ".TMP", 1},    // no case folding
        {"\x80", "a", 1},       // bytes are unsigned
        {"a", "\xFF", -1},
        {"ab", "abc", -1},      // a proper beginning is the smaller
        {"abc", "ab", 1},
        {"\xB0\xA1", "\xB0\xA2", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareText(c.a, c.b), c.expected)
            << "a=" << (c.a ? Hex(c.a) : "absent") << " b=" << (c.b ? Hex(c.b) : "absent");
}

TEST(TextRight, TakesTheLastBytes)
{
    struct Case {
        const char* text;
        int count;
        const char* expected; // nullptr: absent
    } cases[] = {
        {"abc", 4, "abc"},
        {"abc", 3, "abc"},
        {"abc", 2, "bc"},
        {"abc", 0, nullptr},
        {"abc", -1, nullptr},
        {"abc", -2147483647 - 1, nullptr},
        {"", 4, nullptr},
        {nullptr, 4, nullptr},
        {"tool.tmp", 4, ".tmp"},
        {"\xB3\xCC\xD0\xF2", 1, "\xF2"}, // the cut may split a character
        {"abc", 2147483647, "abc"},
    };
    for (const Case& c : cases) {
        Result right(TextRight(c.text, c.count));
        if (c.expected == nullptr) {
            EXPECT_TRUE(right.absent()) << "count " << c.count;
        } else {
            ASSERT_FALSE(right.absent()) << "count " << c.count;
            EXPECT_EQ(Hex(right.bytes()), Hex(c.expected));
        }
    }
}

TEST(ToLowerCase, LowersAsciiCapitalsOnlyOutsideDoubleByteCharacters)
{
    struct Case {
        const char* text;
        const char* expected; // nullptr: absent
    } cases[] = {
        {"ABC.TMP", "abc.tmp"},
        {"Tool.Tmp", "tool.tmp"},
        {"@[`{", "@[`{"},              // the neighbours of A-Z stay
        {"\x81\x41", "\x81\x41"},      // second byte that reads as 'A'
        {"A\x81\x41Z", "a\x81\x41z"},
        {"X\xB0", "x\xB0"},            // a lone last lead byte is kept
        {"\xFF\x5A" "A", "\xFF\x5A" "a"},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Result lower(ToLowerCase(c.text));
        if (c.expected == nullptr) {
            EXPECT_TRUE(lower.absent());
        } else {
            ASSERT_FALSE(lower.absent()) << Hex(c.text);
            EXPECT_EQ(Hex(lower.bytes()), Hex(c.expected));
        }
    }
}

TEST(ToFullWidth, MapsPrintableAsciiToTheFullWidthRow)
{
    struct Case {
        const char* text;
        const char* expected; // nullptr: absent
    } cases[] = {
        {"Lumen-TQ", "\xA3\xCC\xA3\xF5\xA3\xED\xA3\xE5\xA3\xEE\xA3\xAD\xA3\xD4\xA3\xD1"},
        {" ", "\xA1\xA1"},
        {"~", "\xA1\xAB"},
        {"!", "\xA3\xA1"},
        {"}", "\xA3\xFD"},
        {"$", "\xA3\xA4"},
        {"\t", "\t"},
        {"\x01\x1F\x7F", "\x01\x1F\x7F"},
        {"a\xB0", "\xA3\xE1"},             // a lone last lead byte is dropped
        {"\xB0", nullptr},
        {"\x81" "A", "\x81" "A"},           // a second byte is never converted
        {"\xC4\xBF" "1", "\xC4\xBF\xA3\xB1"},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Result wide(ToFullWidth(c.text));
        if (c.expected == nullptr) {
            EXPECT_TRUE(wide.absent()) << Hex(c.text ? c.text : "");
        } else {
            ASSERT_FALSE(wide.absent()) << Hex(c.text);
            EXPECT_EQ(Hex(wide.bytes()), Hex(c.expected));
        }
    }
}

TEST(CopyOrAbsent, CopiesExactlyTheGivenBytes)
{
    Result part(CopyOrAbsent("Z:\\a\\b.exe", 4));
    EXPECT_EQ(part.bytes(), "Z:\\a");
    Result none(CopyOrAbsent("abc", 0));
    EXPECT_TRUE(none.absent());
}

TEST(FindLastSeparator, SkipsTheSecondByteOfDoubleByteCharacters)
{
    LeadByteMap gbk;
    MapHighBytesAsLead(&gbk);
    LeadByteMap singleByte = {};

    struct Case {
        const char* text;
        int withLeadBytes;
        int singleByteCodePage;
    } cases[] = {
        {"Z:\\tmp\\app\\yygate.exe", 10, 10},
        {"Z:\\\x81\\\\yygate.exe", 5, 5},      // 81 5C is one character
        {"Z:\\a\x81\\", 2, 5},                  // the trailing 5C belongs to 81
        {"Z:\\a\\\x81", 4, 4},                  // a lone lead byte ends the scan
        {"\x81\\", -1, 1},
        {"yygate.exe", -1, -1},
        {"D:\\yygate.exe", 2, 2},
        {"\\", 0, 0},
        {"", -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindLastSeparator(c.text, &gbk), c.withLeadBytes) << Hex(c.text);
        EXPECT_EQ(FindLastSeparator(c.text, &singleByte), c.singleByteCodePage) << Hex(c.text);
    }
    EXPECT_EQ(FindLastSeparator(nullptr, &gbk), -1);
}

TEST(SplitRegistryPath, SplitsKeyPathFromValueName)
{
    struct Case {
        const char* path;
        int hasKeyPath;
        const char* keyPath;
        const char* valueName;
    } cases[] = {
        // The guard's path with the empty instance name: the default value.
        {"Software\\qv\\\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0\\", 1,
         "Software\\qv\\\xBD\xFB\xD6\xB9\xD6\xD8\xB8\xB4\xD4\xCB\xD0\xD0", ""},
        {"Software\\qv\\name\\main", 1, "Software\\qv\\name", "main"},
        {"Software\\qv\\name\\a\\b", 1, "Software\\qv\\name\\a", "b"},
        {"Software\\\x81\\", 1, "Software", "\x81\\"}, // 81 5C is no separator
        {"value", 0, "", "value"},
        {"", 0, "", ""},
        {"\\", 1, "", ""},
    };
    for (const Case& c : cases) {
        RegistryPathSplit split = SplitRegistryPath(c.path);
        EXPECT_EQ(split.hasKeyPath, c.hasKeyPath) << Hex(c.path);
        EXPECT_EQ(Hex(std::string(c.path, split.keyLength)), Hex(c.keyPath));
        EXPECT_EQ(Hex(split.valueName), Hex(c.valueName));
    }
    RegistryPathSplit absent = SplitRegistryPath(nullptr);
    EXPECT_EQ(absent.hasKeyPath, 0);
    EXPECT_STREQ(absent.valueName, "");
}

} // namespace
