// Decoding the service's pipes and keeping its standard-error tail.
#include <gtest/gtest.h>

#include "service/standard_error_tail.h"
#include "service/utf8_stream_decoder.h"

namespace lumory {
namespace {

TEST(Utf8StreamDecoderTest, PassesTextAndHoldsBackAnUnfinishedCharacter) {
    Utf8StreamDecoder decoder;
    EXPECT_EQ(decoder.decode("plain "), "plain ");
    EXPECT_EQ(decoder.decode("\xE2\x82"), "");  // first two bytes of €
    EXPECT_EQ(decoder.decode("\xAC and \xF0\x9F"), "\xE2\x82\xAC and ");
    EXPECT_EQ(decoder.decode("\x98\x80!"), "\xF0\x9F\x98\x80!");
}

TEST(Utf8StreamDecoderTest, AcceptsNulBytes) {
    Utf8StreamDecoder decoder;
    EXPECT_EQ(decoder.decode(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Utf8StreamDecoderTest, EndsAtBytesThatCanNeverBeTextKeepingTheTextBefore) {
    struct Case {
        std::string_view bytes;
        std::string_view before;
    };
    for (Case bad :
         {Case{"\xFF", ""}, Case{"ok\xC0\xAF", "ok"}, Case{"\xED\xA0\x80", ""}, Case{"\x80", ""},
          Case{"a\xC3"
               "b",
               "a"},
          Case{"caf\xE9 and more", "caf"}}) {
        Utf8StreamDecoder decoder;
        EXPECT_EQ(decoder.decode(bad.bytes), bad.before) << testing::PrintToString(bad.bytes);
        EXPECT_TRUE(decoder.ended());
        EXPECT_EQ(decoder.decode("later text"), "");
    }
    Utf8StreamDecoder decoder;
    EXPECT_EQ(decoder.decode("x\xC3"), "x");
    EXPECT_FALSE(decoder.ended());
    EXPECT_EQ(decoder.decode("y"), "");  // the held byte was not continued
    EXPECT_TRUE(decoder.ended());
    Utf8StreamDecoder withNul;
    EXPECT_EQ(withNul.decode(std::string_view("\xC3\0", 2)), "");
    EXPECT_TRUE(withNul.ended());
}

TEST(StandardErrorTailTest, KeepsTheLastCharactersOnceTheLimitIsPassed) {
    std::string buffer;
    appendKeepingTail(buffer, "abcdef", 6);
    EXPECT_EQ(buffer, "abcdef");
    appendKeepingTail(buffer, "g", 6);
    EXPECT_EQ(buffer, "bcdefg");
    appendKeepingTail(buffer, "\xC3\xA9\xC3\xA9", 3);
    EXPECT_EQ(buffer, "g\xC3\xA9\xC3\xA9");
}

TEST(StandardErrorTailTest, CountsNulBytesLikeAnyOtherCharacter) {
    std::string buffer;
    appendKeepingTail(buffer, std::string_view("ok\0", 3), 4);
    for (int i = 0; i < 1000; ++i) appendKeepingTail(buffer, "log line\n", 4);
    EXPECT_EQ(buffer, "ine\n");
    appendKeepingTail(buffer, std::string_view("\0\0\xC3\xA9", 4), 3);
    EXPECT_EQ(buffer, std::string("\0\0\xC3\xA9", 4));
}

TEST(StandardErrorTailTest, TrimsUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(trimmed(" \t\r\n text\n with  inner space \n\n"), "text\n with  inner space");
    EXPECT_EQ(trimmed("\xC2\xA0\xE2\x80\x83x\xE3\x80\x80"), "x");  // no-break, em and ideographic
    EXPECT_EQ(trimmed(" \n\t "), "");
    EXPECT_EQ(trimmed(""), "");
}

}  // namespace
}  // namespace lumory
