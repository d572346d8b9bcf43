#include "platform/key_decoder.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillmere::platform;

/// One decoded key as text: "E" Enter, "B" Backspace, "c" a character, "." an ignored key.
std::string describe(const KeyEvent& key) {
    switch (key.kind) {
    case KeyKind::enter: return "E";
    case KeyKind::backspace: return "B";
    case KeyKind::other: break;
    }
    const auto byte = static_cast<unsigned char>(key.character);
    if (byte >= 0x20 && byte <= 0x7E) return std::string(1, key.character);
    return ".";
}

struct Decoded {
    std::string keys;
    std::size_t used = 0;
};

/// Decodes one batch with the given decoder, as one read of the console delivers it.
Decoded decode(KeyDecoder& decoder, std::string_view bytes, std::size_t capacity = 128) {
    std::vector<KeyEvent> keys(capacity);
    const std::span<const unsigned char> batch(
        reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    const DecodedKeys decoded = decode_terminal_keys(decoder, batch, keys);
    Decoded result{"", decoded.bytes_used};
    for (std::size_t i = 0; i < decoded.key_count; ++i) result.keys += describe(keys[i]);
    return result;
}

/// Decodes a whole batch from a fresh decoder and expects it all consumed.
std::string decode_all(std::string_view bytes) {
    KeyDecoder decoder{KeyDecoderState::ground};
    const Decoded decoded = decode(decoder, bytes);
    EXPECT_EQ(decoded.used, bytes.size()) << bytes;
    return decoded.keys;
}

TEST(KeyDecoder, PlainBytes) {
    EXPECT_EQ(decode_all("48000"), "48000");
    EXPECT_EQ(decode_all(" ~"), " ~");
    EXPECT_EQ(decode_all("\x7f"), "B");
    EXPECT_EQ(decode_all("\b"), "B");
    EXPECT_EQ(decode_all("\t\x01\x04\x1f"), "....");
}

TEST(KeyDecoder, CrAndLfAreEnterAndEndTheBatch) {
    KeyDecoder decoder{KeyDecoderState::ground};
    Decoded decoded = decode(decoder, "12\r34\n");
    EXPECT_EQ(decoded.keys, "12E");
    EXPECT_EQ(decoded.used, 3u);
    decoded = decode(decoder, "34\n");
    EXPECT_EQ(decoded.keys, "34E");
    EXPECT_EQ(decoded.used, 3u);
}

TEST(KeyDecoder, OnlyAnLfDirectlyAfterACrEnterIsPartOfThatEnter) {
    struct Case {
        std::vector<std::string_view> batches;
        std::string_view keys;
    };
    for (const Case& c : {
             Case{{"1\r\n2\r\n"}, "1E2E"},        // CR LF line ends
             Case{{"\r\n\r\n"}, "EE"},            // two empty lines, not four
             Case{{"1\r", "\n2\r", "\n"}, "1E2E"},  // each LF opens the next batch
             Case{{"\n"}, "E"},                  // a lone LF is Enter
             Case{{"\n", "\n"}, "EE"},            // so is each of two
             Case{{"\n", "\r", "\n"}, "EE"},      // LF CR LF: the CR pairs with the last LF
             Case{{"\r", "\r"}, "EE"},            // two CRs are two Enters
             Case{{"\r", "x\n"}, "ExE"},          // a key between them breaks the pair
             Case{{"\r", "\x1b[A\n"}, "E.E"},     // so does an ignored key
             Case{{"1\x1b\r", "\n"}, "1.E"},      // Esc then CR: the CR is an Enter
             Case{{"\x1bO\r", "\n"}, ".E"},       // ESC O CR is one key, no Enter
             Case{{"\x1b[12\r", "\n"}, ".E"},     // a CR that ends a sequence early
         }) {
        KeyDecoder decoder{KeyDecoderState::ground};
        std::string keys;
        std::string shown;
        for (const std::string_view batch : c.batches) {
            std::string_view rest = batch;
            while (!rest.empty()) {
                const Decoded decoded = decode(decoder, rest);
                ASSERT_GT(decoded.used, 0u);
                keys += decoded.keys;
                rest.remove_prefix(decoded.used);
            }
            shown += testing::PrintToString(std::string(batch)) + " ";
        }
        EXPECT_EQ(keys, c.keys) << shown;
    }
}

TEST(KeyDecoder, EnterCarriesItsByte) {
    KeyEvent keys[2];
    KeyDecoder decoder;
    const unsigned char cr[] = {'\r'};
    const DecodedKeys decoded = decode_terminal_keys(decoder, cr, keys);
    EXPECT_EQ(decoded.bytes_used, 1u);
    ASSERT_EQ(decoded.key_count, 1u);
    EXPECT_EQ(keys[0].kind, KeyKind::enter);
    EXPECT_EQ(keys[0].character, '\r');
}

TEST(KeyDecoder, ADefaultDecoderStandsOutsideAnySequence) {
    const KeyDecoder decoder;
    EXPECT_EQ(decoder.state, KeyDecoderState::ground);
    EXPECT_FALSE(decoder.after_cr_enter);
    const KeyEvent key;
    EXPECT_EQ(key.kind, KeyKind::other);
    EXPECT_EQ(key.character, 0);
}

TEST(KeyDecoder, Utf8BytesAreIgnoredKeys) {
    EXPECT_EQ(decode_all("a\xc3\xa9z"), "a..z");
    EXPECT_EQ(decode_all("\xe2\x82\xac"), "...");
    EXPECT_EQ(decode_all("\xff\x80"), "..");
}

TEST(KeyDecoder, CsiSequencesAreOneIgnoredKey) {
    EXPECT_EQ(decode_all("\x1b[A"), ".");        // arrow up
    EXPECT_EQ(decode_all("1\x1b[D2"), "1.2");    // arrow left between keys
    EXPECT_EQ(decode_all("\x1b[3~"), ".");       // Delete
    EXPECT_EQ(decode_all("\x1b[1;5C"), ".");     // Ctrl+arrow right
    EXPECT_EQ(decode_all("\x1b[15;2~x"), ".x");  // Shift+F5
    EXPECT_EQ(decode_all("\x1b[?1 q"), ".");     // parameters, intermediate, final
    EXPECT_EQ(decode_all("\x1b[ !@"), ".");      // intermediates only
}

TEST(KeyDecoder, AByteOutsideTheCsiRangesEndsTheSequenceEarly) {
    EXPECT_EQ(decode_all("\x1b[12\r"), ".E");
    EXPECT_EQ(decode_all("\x1b[\x7f"), ".B");
    EXPECT_EQ(decode_all("\x1b[ 5"), ".5");
    EXPECT_EQ(decode_all("\x1b[1\x1b[A"), "..");
    EXPECT_EQ(decode_all("\x1b[\xc3\xa9"), "...");
}

TEST(KeyDecoder, Ss3SequencesAreOneIgnoredKey) {
    EXPECT_EQ(decode_all("\x1bOP"), ".");  // F1
    EXPECT_EQ(decode_all("\x1bOA7"), ".7");
    // ESC O takes whatever byte follows: a CR there is part of the key, not Enter.
    EXPECT_EQ(decode_all("\x1bO\r"), ".");
    EXPECT_EQ(decode_all("\x1bO\x7f" "1"), ".1");
}

TEST(KeyDecoder, AltWithAPrintableKeyIsOneIgnoredKey) {
    EXPECT_EQ(decode_all("\x1b"
                         "b"),
              ".");
    EXPECT_EQ(decode_all("\x1b"
                         "5"
                         "6"),
              ".6");
    EXPECT_EQ(decode_all("\x1b "), ".");
}

TEST(KeyDecoder, EscBeforeAnyOtherByteIsAnIgnoredKeyOfItsOwn) {
    EXPECT_EQ(decode_all("\x1b\r"), ".E");
    EXPECT_EQ(decode_all("\x1b\x7f"), ".B");
    EXPECT_EQ(decode_all("\x1b\x1b[B"), "..");
    EXPECT_EQ(decode_all("\x1b\t"), "..");
    EXPECT_EQ(decode_all("\x1b\xc3\xa9"), "...");
}

TEST(KeyDecoder, AnEscapeSequenceMaySpanTwoBatches) {
    struct Split {
        std::string_view first;
        std::string_view second;
        std::string_view keys;
    };
    for (const Split split : {
             Split{"1\x1b", "[A2", "1.2"},
             Split{"1\x1b[", "A2", "1.2"},
             Split{"\x1b[1;", "5C", "."},
             Split{"\x1b[1", "5~", "."},
             Split{"\x1bO", "P", "."},
             Split{"\x1b", "OP", "."},
             Split{"\x1b", "x", "."},
             Split{"\x1b", "\r", ".E"},
             Split{"\x1b[", "\r", ".E"},
         }) {
        KeyDecoder decoder{KeyDecoderState::ground};
        const Decoded first = decode(decoder, split.first);
        EXPECT_EQ(first.used, split.first.size());
        const Decoded second = decode(decoder, split.second);
        EXPECT_EQ(second.used, split.second.size());
        EXPECT_EQ(first.keys + second.keys, split.keys)
            << testing::PrintToString(std::string(split.first) + "|" + std::string(split.second));
        EXPECT_EQ(decoder.state, KeyDecoderState::ground);
    }
}

TEST(KeyDecoder, StopsWhereTheNextKeysMightNotFit) {
    KeyDecoder decoder{KeyDecoderState::ground};
    Decoded decoded = decode(decoder, "abcde", 3);
    EXPECT_EQ(decoded.keys, "abc");
    EXPECT_EQ(decoded.used, 3u);
    // A whole batch of 128 printable bytes is 128 keys.
    const std::string batch(128, '7');
    decoded = decode(decoder, batch, 128);
    EXPECT_EQ(decoded.keys, batch);
    EXPECT_EQ(decoded.used, 128u);
    // An ESC followed by CR gives two keys from one byte: both must fit.
    decoder = KeyDecoder{KeyDecoderState::escape};
    decoded = decode(decoder, "\r", 2);
    EXPECT_EQ(decoded.keys, ".E");
    EXPECT_EQ(decoded.used, 1u);
    // Inside a sequence one free slot is not enough: the byte waits for the next call.
    decoder = KeyDecoder{KeyDecoderState::escape};
    decoded = decode(decoder, "\r", 1);
    EXPECT_EQ(decoded.used, 0u);
    EXPECT_EQ(decoder.state, KeyDecoderState::escape);
}

}  // namespace
