#include "platform/key_decoder.h"

namespace quillmere::platform {

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

/// The keys of one batch as they are written.
class KeyOutput {
public:
    explicit KeyOutput(std::span<KeyEvent> keys) : keys_(keys) {}

    void add(KeyKind kind, unsigned char byte) {
        keys_[count_++] = KeyEvent{kind, static_cast<char>(byte)};
    }
    std::size_t count() const { return count_; }
    std::size_t room() const { return keys_.size() - count_; }

private:
    std::span<KeyEvent> keys_;
    std::size_t count_ = 0;
};

/// The one ignored key that an escape sequence stands for (arrows, function keys, Alt).
void add_sequence_key(KeyDecoder& decoder, KeyOutput& keys) {
    keys.add(KeyKind::other, 0);
    decoder.state = KeyDecoderState::ground;
}

/// Decodes a byte outside any sequence; returns true for Enter.
bool decode_plain_byte(KeyDecoder& decoder, unsigned char byte, KeyOutput& keys) {
    switch (byte) {
    case BYTE_ESC:
        // Which key this is shows only with the next byte, perhaps in the next batch.
        decoder.state = KeyDecoderState::escape;
        return false;
    case BYTE_CR:
        decoder.after_cr_enter = true;
        keys.add(KeyKind::enter, byte);
        return true;
    case BYTE_LF: keys.add(KeyKind::enter, byte); return true;
    case BYTE_DEL:
    case BYTE_BS: keys.add(KeyKind::backspace, byte); return false;
    default:
        // Control characters and the bytes of multi-byte characters carry their byte,
        // which the reader does not take as text.
        keys.add(KeyKind::other, byte);
        return false;
    }
}

/// Feeds one byte to a sequence in progress; returns true when the byte ended the
/// sequence early and must be decoded on its own.
bool continue_sequence(KeyDecoder& decoder, unsigned char byte, KeyOutput& keys) {
    switch (decoder.state) {
    case KeyDecoderState::escape:
        if (byte == '[') {
            decoder.state = KeyDecoderState::csi_parameters;
            return false;
        }
        if (byte == 'O') {
            decoder.state = KeyDecoderState::ss3;
            return false;
        }
        // Alt with a printable key is one key; any other byte leaves ESC as a key alone,
        // so Esc then Enter still ends the line.
        add_sequence_key(decoder, keys);
        return !is_printable(byte);
    case KeyDecoderState::csi_parameters:
        if (in_range(byte, 0x30, 0x3F)) return false;
        if (in_range(byte, 0x20, 0x2F)) {
            decoder.state = KeyDecoderState::csi_intermediates;
            return false;
        }
        add_sequence_key(decoder, keys);
        return !in_range(byte, 0x40, 0x7E);
    case KeyDecoderState::csi_intermediates:
        if (in_range(byte, 0x20, 0x2F)) return false;
        add_sequence_key(decoder, keys);
        return !in_range(byte, 0x40, 0x7E);
    case KeyDecoderState::ss3:
        // ESC O and whatever byte follows are one key (F1-F4, keypad keys).
        add_sequence_key(decoder, keys);
        return false;
    case KeyDecoderState::ground: break;
    }
    return true;
}

}  // namespace

DecodedKeys decode_terminal_keys(KeyDecoder& decoder, std::span<const unsigned char> bytes,
                                 std::span<KeyEvent> keys) {
    KeyOutput output(keys);
    std::size_t used = 0;
    // A byte outside a sequence yields at most one key; a byte inside one at most two
    // (the sequence it ends early, and itself). So a batch of n bytes that starts outside
    // a sequence always fits into n keys.
    while (used < bytes.size() &&
           output.room() >= (decoder.state == KeyDecoderState::ground ? 1u : 2u)) {
        const unsigned char byte = bytes[used];
        ++used;
        // A CR LF line end is one Enter, as the console of the other platform makes it;
        // a lone LF, or an LF after anything else, is an Enter of its own.
        const bool follows_cr_enter = decoder.after_cr_enter;
        decoder.after_cr_enter = false;
        if (follows_cr_enter && byte == BYTE_LF) continue;
        if (decoder.state != KeyDecoderState::ground && !continue_sequence(decoder, byte, output)) {
            continue;
        }
        if (decode_plain_byte(decoder, byte, output)) break;
    }
    return DecodedKeys{used, output.count()};
}

}  // namespace quillmere::platform
