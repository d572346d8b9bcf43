#include "platform/key_decoder.h"

namespace {

constexpr unsigned char BYTE_BS = 0x08;
constexpr unsigned char BYTE_LF = 0x0A;
constexpr unsigned char BYTE_CR = 0x0D;
constexpr unsigned char BYTE_ESC = 0x1B;
constexpr unsigned char BYTE_DEL = 0x7F;

bool in_range(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

/// A printable byte: a key with that character; also the bytes that end an Alt sequence.
bool is_printable(unsigned char byte) {
    return in_range(byte, 0x20, 0x7E);
}

void add_key(KeyEvent* keys, std::size_t* count, KeyKind kind, char character) {
    keys[*count] = KeyEvent{kind, character};
    ++*count;
}

/// The one ignored key that an escape sequence stands for (arrows, function keys, Alt).
void add_sequence_key(KeyDecoder* decoder, KeyEvent* keys, std::size_t* count) {
    add_key(keys, count, KEY_OTHER, 0);
    decoder->state = KEY_DECODER_GROUND;
}

/// Decodes a byte outside any sequence; returns true for Enter.
bool decode_plain_byte(KeyDecoder* decoder, unsigned char byte, KeyEvent* keys,
                       std::size_t* count) {
    switch (byte) {
    case BYTE_ESC:
        // Which key this is shows only with the next byte, perhaps in the next batch.
        decoder->state = KEY_DECODER_ESCAPE;
        return false;
    case BYTE_CR:
        decoder->after_cr_enter = true;
        add_key(keys, count, KEY_ENTER, static_cast<char>(byte));
        return true;
    case BYTE_LF: add_key(keys, count, KEY_ENTER, static_cast<char>(byte)); return true;
    case BYTE_DEL:
    case BYTE_BS: add_key(keys, count, KEY_BACKSPACE, static_cast<char>(byte)); return false;
    default:
        // Control characters and the bytes of multi-byte characters carry their byte,
        // which the reader does not take as text.
        add_key(keys, count, KEY_OTHER, static_cast<char>(byte));
        return false;
    }
}

/// Feeds one byte to a sequence in progress; returns true when the byte ended the
/// sequence early and must be decoded on its own.
bool continue_sequence(KeyDecoder* decoder, unsigned char byte, KeyEvent* keys,
                       std::size_t* count) {
    switch (decoder->state) {
    case KEY_DECODER_ESCAPE:
        if (byte == '[') {
            decoder->state = KEY_DECODER_CSI_PARAMETERS;
            return false;
        }
        if (byte == 'O') {
            decoder->state = KEY_DECODER_SS3;
            return false;
        }
        // Alt with a printable key is one key; any other byte leaves ESC as a key alone,
        // so Esc then Enter still ends the line.
        add_sequence_key(decoder, keys, count);
        return !is_printable(byte);
    case KEY_DECODER_CSI_PARAMETERS:
        if (in_range(byte, 0x30, 0x3F)) return false;
        if (in_range(byte, 0x20, 0x2F)) {
            decoder->state = KEY_DECODER_CSI_INTERMEDIATES;
            return false;
        }
        add_sequence_key(decoder, keys, count);
        return !in_range(byte, 0x40, 0x7E);
    case KEY_DECODER_CSI_INTERMEDIATES:
        if (in_range(byte, 0x20, 0x2F)) return false;
        add_sequence_key(decoder, keys, count);
        return !in_range(byte, 0x40, 0x7E);
    case KEY_DECODER_SS3:
        // ESC O and whatever byte follows are one key (F1-F4, keypad keys).
        add_sequence_key(decoder, keys, count);
        return false;
    case KEY_DECODER_GROUND: break;
    }
    return true;
}

}  // namespace

std::size_t decode_terminal_keys(KeyDecoder* decoder, const unsigned char* bytes,
                                 std::size_t length, KeyEvent* keys, std::size_t capacity,
                                 std::size_t* count) {
    *count = 0;
    std::size_t used = 0;
    // A byte outside a sequence yields at most one key; a byte inside one at most two
    // (the sequence it ends early, and itself). So a batch of n bytes that starts outside
    // a sequence always fits into n keys.
    while (used < length && capacity - *count >= (decoder->state == KEY_DECODER_GROUND ? 1u : 2u)) {
        const unsigned char byte = bytes[used];
        ++used;
        // A CR LF line end is one Enter, as the console of the other platform makes it;
        // a lone LF, or an LF after anything else, is an Enter of its own.
        const bool follows_cr_enter = decoder->after_cr_enter;
        decoder->after_cr_enter = false;
        if (follows_cr_enter && byte == BYTE_LF) continue;
        if (decoder->state != KEY_DECODER_GROUND &&
            !continue_sequence(decoder, byte, keys, count)) {
            continue;
        }
        if (decode_plain_byte(decoder, byte, keys, count)) break;
    }
    return used;
}
