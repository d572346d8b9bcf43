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

/// Decoding state that carries an escape sequence from one batch of bytes to the next.
struct KeyDecoder {
    KeyDecoderState state;
};

/// Decodes bytes into keys in order, stopping after the first Enter or when the keys of the
/// next byte might not fit into `capacity` (which must be at least 2); returns the bytes
/// consumed.
std::size_t decode_terminal_keys(KeyDecoder* decoder, const unsigned char* bytes,
                                 std::size_t length, KeyEvent* keys, std::size_t capacity,
                                 std::size_t* count);
