// Which bytes of a request frame are key material: the one rule by which every view of the
// traffic hides keys (the driver's frame trace, the program's frame monitor). Header only, so
// that the driver, which links no other library of ours, uses this very rule.
#pragma once

namespace padlogic {

// Bytes [first, last) of a frame; empty when first >= last.
struct ByteSpan {
    int first = 0;
    int last = 0;
    bool empty() const { return first >= last; }
};

// Request frame: STX, three length digits, command byte, payload, ETX, two check characters.
inline constexpr int kFrameCommandAt = 4;
inline constexpr int kFramePayloadAt = kFrameCommandAt + 1;
inline constexpr int kFrameTrailer = 3;

// Where key material starts in the payload of a request with `command`; -1 for none.
// Clear-text key record: key index (2), combination code (1), length code (1), then the parts.
// Cipher-text key record: decryption index (2), save index (2), tag (1), length (1), then the
// cipher text and the verify code.
inline constexpr int KeyMaterialOffset(char command) {
    switch (command) {
        case '1':
            return 4;
        case '2':
            return 6;
        default:
            return -1;
    }
}

// The key material of a request frame `length` bytes long of which `kept` bytes are at hand
// (fewer when the frame was cut short or only its head was kept: then everything after the
// record's head is hidden, since the trailer cannot be told apart). Empty for every other frame.
inline ByteSpan KeyMaterialSpan(const char* frame, int kept, int length) {
    if (frame == nullptr || kept <= kFrameCommandAt) return {};
    const int offset = KeyMaterialOffset(frame[kFrameCommandAt]);
    if (offset < 0) return {};
    const int first = kFramePayloadAt + offset;
    const int last = kept < length ? kept : kept - kFrameTrailer;
    if (last <= first) return {};
    return {first, last};
}

}  // namespace padlogic
