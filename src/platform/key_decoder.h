// Terminal bytes to key events: what a POSIX terminal sends for each key, turned into
// the key-down events the line reader works with.
#pragma once

#include <cstddef>
#include <span>

#include "platform/console.h"

namespace quillmere::platform {

/// Where the decoder stands inside an escape sequence between two bytes.
enum class KeyDecoderState : unsigned char {
    ground,             ///< not inside a sequence
    escape,             ///< after ESC
    csi_parameters,     ///< after ESC [ and any parameter bytes 0x30-0x3F
    csi_intermediates,  ///< after at least one intermediate byte 0x20-0x2F
    ss3,                ///< after ESC O
};

/// Decoding state that carries from one batch of bytes to the next: an escape sequence
/// in progress, and a CR Enter whose LF may still follow.
struct KeyDecoder {
    KeyDecoderState state = KeyDecoderState::ground;
    /// The last byte decoded was a CR that gave an Enter: an LF right after it belongs to
    /// the same Enter (a line end pasted as CR LF), so it gives no key.
    bool after_cr_enter = false;
};

/// What one call of decode_terminal_keys took and gave.
struct DecodedKeys {
    std::size_t bytes_used = 0;  ///< bytes consumed from the front of the batch
    std::size_t key_count = 0;   ///< keys written to the front of `keys`
};

/// Decodes bytes into keys in order (an LF that directly follows a CR Enter is consumed
/// without a key, also when the two come in different batches), stopping after the first
/// Enter or when the keys of the next byte might not fit into `keys` (which must hold at
/// least 2).
DecodedKeys decode_terminal_keys(KeyDecoder& decoder, std::span<const unsigned char> bytes,
                                 std::span<KeyEvent> keys);

}  // namespace quillmere::platform
