// The key loading and authentication exports: commands '1', '2' and ':'.
#include <cstring>

#include "command_support.h"
#include "pinpad.h"

namespace lumenord {
namespace {

constexpr std::size_t kVerifyCodeLength = PINPAD_VERIFY_CODE_SIZE - 1;
constexpr std::size_t kAuthReplyLength = PINPAD_AUTH_REPLY_SIZE - 1;
constexpr std::size_t kSelectorLength = 2;
// A selector and the longest authentication data fill one request.
static_assert(kSelectorLength + PINPAD_AUTH_DATA_MAX == PINPAD_REQUEST_MAX);
// The challenge request's fixed data: the hexadecimal text of sixteen '0' characters.
constexpr char kChallengeFiller[] = "30303030303030303030303030303030";

// Loads a key record; `verifyOnlyWithNine` takes the verify code only from a reply whose
// length field ends in '9' (eight data bytes), leaving an empty text otherwise.
int DownloadKeyRecord(char command, char successByte, bool verifyOnlyWithNine,
                      const char* keyRecord, unsigned int length, char* verifyCode) {
    if (verifyCode == nullptr || keyRecord == nullptr || length == 0) return PINPAD_ERR_ARGUMENT;
    RequestBuffer<PINPAD_REQUEST_MAX> payload;
    if (!payload.Append(keyRecord, length)) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    char reply[kSmallReplyBuffer];
    int result =
        ParseStatus(Transact(command, payload.Bytes(), payload.Length(), reply), successByte);
    if (result != PINPAD_OK) return result;
    if (verifyOnlyWithNine && reply[3] != '9')
        verifyCode[0] = '\0';
    else
        CopyReplyData(reply, sizeof reply, 0, kVerifyCodeLength, verifyCode);
    return PINPAD_OK;
}

// One ':' exchange with `selector` (two characters) and `data`; on success the first 32 reply
// characters go to `output`.
int Authenticate(const char* selector, const char* data, std::size_t length, char* output) {
    RequestBuffer<PINPAD_REQUEST_MAX> payload;
    if (!payload.Append(selector, kSelectorLength) || !payload.Append(data, length))
        return PINPAD_ERR_ARGUMENT;
    char reply[kSmallReplyBuffer];
    int result = ParseStatus(Transact(':', payload.Bytes(), payload.Length(), reply), 'j');
    if (result != PINPAD_OK) return result;
    CopyReplyData(reply, sizeof reply, 0, kAuthReplyLength, output);
    return PINPAD_OK;
}

int InitAuthorization(const char* data, unsigned int length, char* output) {
    if (data == nullptr || length == 0 || data[0] == '\0' || output == nullptr)
        return PINPAD_ERR_ARGUMENT;
    if (length > PINPAD_AUTH_DATA_MAX) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    return Authenticate("80", data, length, output);
}

int GetChallenge(char* output) {
    if (output == nullptr) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;
    return Authenticate("A0", kChallengeFiller, std::strlen(kChallengeFiller), output);
}

// Both steps of the mutual authentication: the key index with the challenge, then "90" with the
// pad's answer enciphered under `key`, padded with zero bytes to the first step's length.
int BidirectionalAuthorization(const char* key, unsigned int challengeLength, const char* keyIndex,
                               const char* challenge, char* output) {
    if (output == nullptr || keyIndex == nullptr || challenge == nullptr || key == nullptr ||
        key[0] == '\0')
        return PINPAD_ERR_ARGUMENT;
    // Two characters are sent from the key index; a shorter text would be read past its end.
    if (strnlen(keyIndex, kSelectorLength) < kSelectorLength) return PINPAD_ERR_ARGUMENT;
    if (challengeLength > PINPAD_AUTH_DATA_MAX) return PINPAD_ERR_ARGUMENT;
    if (PortEnabled == 0) return PINPAD_ERR_PORT;

    char padAnswer[PINPAD_AUTH_REPLY_SIZE];
    int first = Authenticate(keyIndex, challenge, challengeLength, padAnswer);
    if (first != PINPAD_OK) return first;

    // Zero bytes follow the enciphered text up to the first step's length; a key of another
    // length than 16, 32 or 48 leaves only zero bytes, and the pad's answer decides.
    char answer[PINPAD_AUTH_DATA_MAX] = {};
    Context().des.TriUntriDes(padAnswer, key, answer, true);
    RequestBuffer<PINPAD_REQUEST_MAX> second;
    second.Append("90", kSelectorLength);
    second.Append(answer, challengeLength);
    char reply[kSmallReplyBuffer];
    int result = ParseStatus(Transact(':', second.Bytes(), second.Length(), reply), 'j');
    if (result != PINPAD_OK) return result;
    CopyReplyData(reply, sizeof reply, 0, kAuthReplyLength, output);
    return PINPAD_OK;
}

}  // namespace
}  // namespace lumenord

using lumenord::Guarded;

extern "C" {

PINPAD_API int PINPAD_CALL PinPad_DownloadKey(const char* keyRecord, unsigned int length,
                                              char* verifyCode, int /*reserved*/) {
    return Guarded(
        [&] { return lumenord::DownloadKeyRecord('1', 'a', true, keyRecord, length, verifyCode); });
}

PINPAD_API int PINPAD_CALL PinPad_DownloadEncryptKey(const char* keyRecord, unsigned int length,
                                                     char* verifyCode) {
    return Guarded([&] {
        return lumenord::DownloadKeyRecord('2', 'b', false, keyRecord, length, verifyCode);
    });
}

PINPAD_API int PINPAD_CALL PinPad_InitAuthorization(const char* data, unsigned int length,
                                                    char* output) {
    return Guarded([&] { return lumenord::InitAuthorization(data, length, output); });
}

PINPAD_API int PINPAD_CALL PinPad_GetChallenge(char* output) {
    return Guarded([&] { return lumenord::GetChallenge(output); });
}

PINPAD_API int PINPAD_CALL PinPad_BidirectionalAuthorization(const char* key,
                                                             unsigned int challengeLength,
                                                             const char* keyIndex,
                                                             const char* challenge, char* output) {
    return Guarded([&] {
        return lumenord::BidirectionalAuthorization(key, challengeLength, keyIndex, challenge,
                                                    output);
    });
}

}  // extern "C"
