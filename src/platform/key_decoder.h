// Terminal bytes to key events: what a POSIX terminal sends for each key, turned into
// the key-down events the line reader works with.
#pragma once

#include <cstddef>

#include "platform/console.h"

/// Where the decoder stands inside an escape sequence between two bytes.
enum KeyDecoderState : unsigned char {
    KEY_DECODER_GROUND,             ///< not inside a sequence
    KEY_DECODER_ESCAPE,             ///< after ESC
    KEY_DECODER_CSI_PARAMETERS,     ///< after ESC [ and any parameter bytes 0x30-0x3F
    KEY_DECODER_CSI_INTERMEDIATES,  ///< after at least one intermediate byte 0x20-0x2F
    KEY_DECODER_SS3,                ///< after ESC O
};

/// Decoding state that carries from one batch of bytes to the next: an escape sequence
/// in progress, and a CR Enter whose LF may still follow.
struct KeyDecoder {
    KeyDecoderState state;
    /// The last byte decoded was a CR that gave an Enter: an LF right after it belongs to
    /// the same Enter (a line end pasted as CR LF), so it gives no key.
    bool after_cr_enter = false;
};

/// Decodes bytes into keys in order (an LF that directly follows a CR Enter is consumed
/// without a key, also when the two come in different batches), stopping after the first Enter or when the keys of the
/// next byte might not fit into `capacity` (which must be at least 2); returns the bytes
/// consumed.
std::size_t decode_terminal_keys(KeyDecoder* decoder, const unsigned char* bytes,
                                 std::size_t length, KeyEvent* keys, std::size_t capacity,
                                 std::size_t* count);
