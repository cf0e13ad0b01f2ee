/**
 * @file pinpad.h
 * @brief The Lumenord driver: host-side interface to an encrypting PIN pad on a serial line.
 *
 * Include it as `<lumenord/pinpad.h>` and link with `Lumenord::Lumenord` (CMake) or
 * `pkg-config --libs lumenord`.
 *
 * @par Result codes
 * Every `PinPad_` function returns a signed result code: one of the @ref results "PINPAD_ codes",
 * or 1 to 255, the pad's own status byte, unchanged. The sizes of the caller's output buffers and
 * the limits of the inputs are named in @ref sizes; the numbers are part of the interface and
 * never change. Where a result code leaves the cause open, Lumenord_LastFailure() names it.
 * An unexpected failure inside the library (memory exhausted, say) gives PINPAD_ERR_ARGUMENT.
 *
 * @par Replies
 * A reply is sound when its length field is three digits that place its ETX (or "000", for
 * data of 999 bytes and more, which run to the first ETX), its two check characters follow the
 * ETX, and they are the XOR of the bytes from the length field through the ETX, as two hex
 * characters in either case. A pad that computes the check otherwise can be used with
 * `VERIFYCHECK=0` in section `[SYSTEM]` of `./sysconfig.ini` (read each time the port is opened;
 * default 1), which leaves the check characters unverified. A reply is judged by its status
 * byte alone: only the command's success byte is success, a status byte 0 gives
 * PINPAD_ERR_NO_REPLY, any other is returned as it is. Bytes before the reply's STX are skipped;
 * a reply that does not fit the 4096-byte receive buffer gives PINPAD_ERR_NO_REPLY, and so does a
 * reply whose data would have to be cut to fit the output that a function fills with them (the
 * output is then left as it was; the frame trace says why).
 *
 * @par Waits
 * Each command first discards whatever the line has queued, so that a reply that came after its
 * own command gave up cannot answer the next one. Bytes that come right behind a reply (a key
 * echo) are kept for PinPad_ReadOneByte(). Every wait ends by its time-out, counted from the
 * start of the read, however late the first byte comes; a command waits 4 seconds for its reply
 * unless its function says otherwise.
 *
 * @par Texts
 * Texts are single-byte; keys, data and codes are upper-case hexadecimal text (lower case is
 * accepted on input). Output buffers belong to the caller, who sizes them as documented; a
 * function writes to an output only when it returns PINPAD_OK (or where it says otherwise).
 *
 * @par Threads and signals
 * The library serves one call at a time; it has no threads and takes no locks. A host that
 * calls it from several threads serialises the calls itself. Only Lumenord_CancelWait() (from
 * any thread or a signal handler), and Lumenord_LastFailure() for the calling thread's own last
 * call, may be called while another call runs.
 */
#ifndef LUMENORD_PINPAD_H
#define LUMENORD_PINPAD_H

#if defined(_WIN32) && !defined(_WIN64)
#define PINPAD_CALL __stdcall
#else
#define PINPAD_CALL
#endif

#if defined(_WIN32)
#ifdef LUMENORD_BUILDING
#define PINPAD_API __declspec(dllexport)
#else
#define PINPAD_API __declspec(dllimport)
#endif
#else
#define PINPAD_API __attribute__((visibility("default")))
#endif

/**
 * @defgroup results Result codes
 * @brief What every `PinPad_` function returns, besides the pad's own status bytes 1 to 255.
 * @{
 */

/** Success; the outputs are filled as the function says. */
#define PINPAD_OK 0
/** The port is not enabled (no PinPad_EnablePort() yet, or PinPad_DisablePort() since); from
 * PinPad_EnablePort(): opening or configuring the port failed; from PinPad_ReadOneByte(): no byte
 * arrived. */
#define PINPAD_ERR_PORT (-1)
/** From PinPad_DisablePort(): closing failed. Kept for hosts that test for it: this library
 * releases the device in any case and does not return it. */
#define PINPAD_ERR_CLOSE (-2)
/** A required pointer is null, a required text is empty, or an input does not fit; nothing was
 * sent. */
#define PINPAD_ERR_ARGUMENT (-3)
/** No sound reply frame from the pad: a silent or absent pad, a line that has hung up, a reply
 * that is not sound (see @ref pinpad.h "Replies"), or a wait cancelled by
 * Lumenord_CancelWait(); Lumenord_LastFailure() tells which. */
#define PINPAD_ERR_NO_REPLY (-4)
/** The request was not written: the port was enabled, but it is not open (its opening failed) or
 * the line refused the request. */
#define PINPAD_ERR_NOT_WRITTEN 2
/** The read came back empty. Kept for hosts that test for it: this library reports an empty read
 * as PINPAD_ERR_NO_REPLY (Lumenord_LastFailure() gives LUMENORD_FAILURE_NO_REPLY) and does not
 * return this code itself. */
#define PINPAD_ERR_EMPTY_READ 3
/** The pad's own status for a low battery (0xE0). PinPad_GetCustInfo() returns it with valid
 * data; the other functions hand it on like any other status of the pad. */
#define PINPAD_LOW_BATTERY 224

/** @} */

/**
 * @defgroup failures Why a call failed
 * @brief What Lumenord_LastFailure() returns.
 * @{
 */

/** The call succeeded, or it failed with the pad's own status (the result code says why). */
#define LUMENORD_FAILURE_NONE 0
/** Nothing arrived before the time-out: the pad is silent, switched off, or on another line. */
#define LUMENORD_FAILURE_NO_REPLY 1
/** A reply began but stopped part-way: its time-out passed before its last byte. */
#define LUMENORD_FAILURE_CUT_REPLY 2
/** The line hung up: the device is gone (a USB adapter unplugged, say). */
#define LUMENORD_FAILURE_LINE_HUNG_UP 3
/** The reply's check characters do not match its bytes (see `VERIFYCHECK` in
 * @ref pinpad.h "Replies"). */
#define LUMENORD_FAILURE_BAD_CHECK 4
/** What arrived is no reply frame: a wrong length field, no ETX where it belongs, a status byte
 * 0, a card reply without its status character, or line noise without an STX. */
#define LUMENORD_FAILURE_MALFORMED_REPLY 5
/** The reply is longer than the 4096-byte receive buffer, or than the output it would fill. */
#define LUMENORD_FAILURE_REPLY_TOO_LONG 6
/** The host cancelled the wait (Lumenord_CancelWait()). */
#define LUMENORD_FAILURE_CANCELLED 7
/** An argument was refused (PINPAD_ERR_ARGUMENT); nothing was sent. */
#define LUMENORD_FAILURE_ARGUMENT 8
/** The port is not open: never enabled, disabled since, or its opening failed
 * (PINPAD_ERR_PORT, PINPAD_ERR_NOT_WRITTEN from a command). */
#define LUMENORD_FAILURE_PORT_NOT_OPEN 9
/** PinPad_EnablePort() could not open or configure the device: it is missing, claimed by another
 * program, not permitted, not a serial line, or its `./sysconfig.ini` mapping could not be
 * used. */
#define LUMENORD_FAILURE_OPEN_FAILED 10
/** The request could not be written whole: the line refused it, or took nothing for a second. */
#define LUMENORD_FAILURE_WRITE_FAILED 11

/** @} */

/**
 * @defgroup sizes Buffer sizes and input limits
 * @brief The bytes the caller provides for each output, and the most that each input takes.
 *
 * The output sizes count the terminating zero where the function writes one. An input longer
 * than its limit gives PINPAD_ERR_ARGUMENT before anything is sent.
 * @{
 */

/** Output of PinPad_GetCustInfo(), in bytes. */
#define PINPAD_CUST_INFO_SIZE 256
/** Output (the verify code) of PinPad_DownloadKey() and PinPad_DownloadEncryptKey(). */
#define PINPAD_VERIFY_CODE_SIZE 9
/** Output of PinPad_InitAuthorization(), PinPad_GetChallenge() and
 * PinPad_BidirectionalAuthorization(). */
#define PINPAD_AUTH_REPLY_SIZE 33
/** Output of PinPad_GetPinValue(). */
#define PINPAD_PIN_VALUE_SIZE 256
/** Output (the MAC) of PinPad_MakeMac(). */
#define PINPAD_MAC_SIZE 17
/** Output of PinPad_EncryptData(). */
#define PINPAD_DATA_REPLY_SIZE 4096
/** Output of PinPad_IC_Control() and PinPad_IC_Access(). */
#define PINPAD_CARD_REPLY_SIZE 2048
/** Output of PinPad_TriUntriDes(). */
#define PINPAD_DES_RESULT_SIZE 49

/** Characters of PinPad_EnablePort()'s port name. */
#define PINPAD_PORT_NAME_MAX 15
/** Bytes of the settings, key records and PIN requests (PinPad_SetCustInfo(),
 * PinPad_SetKeyboardValue(), PinPad_SetControlCode(), PinPad_DownloadKey(),
 * PinPad_DownloadEncryptKey(), PinPad_EnablePin(), PinPad_GetPinValue()). */
#define PINPAD_REQUEST_MAX 256
/** Bytes of authentication data and challenges (PinPad_InitAuthorization(),
 * PinPad_BidirectionalAuthorization()). */
#define PINPAD_AUTH_DATA_MAX 254
/** Seconds of PinPad_GetPinValue()'s wait. */
#define PINPAD_PIN_TIMEOUT_MAX 255
/** Bytes of PinPad_MakeMac()'s input, header included. */
#define PINPAD_MAC_INPUT_MAX 2045
/** Bytes of a card request (PinPad_IC_Control(), PinPad_IC_Access()). */
#define PINPAD_CARD_REQUEST_MAX 2048
/** Bytes of PinPad_EncryptData()'s request and PinPad_DispInfoLcd()'s record. */
#define PINPAD_DATA_REQUEST_MAX 4088

/** @} */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup port Port and device setup
 * @brief Opening the port, the customer information area, keypad values, control codes and the
 * single bytes that the pad sends on its own.
 *
 * The device commands of this group, and of every group after it, return the codes listed with
 * each function; "the pad's status" stands for the status byte 1 to 255 of a sound reply that is
 * not the command's success byte. PINPAD_ERR_PORT from a device command means that the port was
 * not enabled; nothing was sent.
 * @{
 */

/**
 * @brief Opens the pad's serial port.
 *
 * Port N opens the device that key `COMN` of section `[PORTS]` in `./sysconfig.ini` names, else
 * the system's own device for it (`/dev/ttyS(N-1)`; `\\.\COMN` on Windows). A mapping longer than
 * 511 characters, or a `./sysconfig.ini` that exists but cannot be read whole (unreadable, or
 * over 1 MiB), opens nothing: PINPAD_ERR_PORT, with a note in the time-out log; the system's
 * device never stands in for a mapping that could not be read. An open port is closed first.
 * The port is claimed exclusively: a second program gets PINPAD_ERR_PORT until the first one
 * disables the port or ends.
 *
 * @param[in] portName "comN"; N is read from the fourth character on. A text of at
 *                     most PINPAD_PORT_NAME_MAX characters and its terminating zero.
 * @param[in] baudRate 300, 600, 1200, 2400, 4800, 19200, 38400, 56000, 57600 or 115200; any
 *                     other value opens at 9600.
 * @param[in] parity   The first byte is read, a numeric code: 1 odd, 2 even, other none.
 * @param[in] dataBits The first byte is read, a numeric code: 7 seven, other eight.
 * @param[in] stopBits The first byte is read, a numeric code: 2 two, other one.
 * @retval PINPAD_OK the port is open.
 * @retval PINPAD_ERR_PORT opening or configuring the port failed (Lumenord_LastFailure() gives
 *         LUMENORD_FAILURE_OPEN_FAILED). The port flag is set all the same, so that device
 *         commands then answer PINPAD_ERR_NOT_WRITTEN.
 * @retval PINPAD_ERR_ARGUMENT a null or empty argument, or a name longer than
 *         PINPAD_PORT_NAME_MAX.
 */
PINPAD_API int PINPAD_CALL PinPad_EnablePort(const char* portName, int baudRate, const char* parity,
                                             const char* dataBits, const char* stopBits);

/**
 * @brief Closes the port and clears the port flag.
 *
 * Closing a port that is not open succeeds.
 * @retval PINPAD_OK closed. The device is released in any case: this library does not return
 *         PINPAD_ERR_CLOSE, which is kept for hosts that test for it.
 */
PINPAD_API int PINPAD_CALL PinPad_DisablePort(void);

/**
 * @brief Writes the pad's customer information area (command '3').
 *
 * @param[in] info   @p length bytes; at most PINPAD_REQUEST_MAX. Not read when @p length is 0.
 * @param[in] length The number of bytes of @p info; 0 sends the empty read request.
 * @retval PINPAD_OK the pad took it.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p info null, its first byte zero with a non-zero @p length, or
 *         over PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_SetCustInfo(const char* info, unsigned int length);

/**
 * @brief Reads the pad's customer information area (command '3' with no data).
 *
 * @param[out] output PINPAD_CUST_INFO_SIZE bytes; receives the reply data (at most 250 bytes),
 *                    not terminated. Untouched unless the result is PINPAD_OK or
 *                    PINPAD_LOW_BATTERY.
 * @retval PINPAD_OK @p output holds the area.
 * @retval PINPAD_LOW_BATTERY the pad's battery is low; @p output holds valid data all the same.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p output null.
 * @retval PINPAD_ERR_NO_REPLY no sound reply, or reply data over 250 bytes.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status (other than PINPAD_LOW_BATTERY).
 */
PINPAD_API int PINPAD_CALL PinPad_GetCustInfo(char* output);

/**
 * @brief Sets the codes the pad's keys report (command '4').
 *
 * @param[in] value  @p length bytes, for instance the 48 hex characters of the main, left and
 *                   right key values; at most PINPAD_REQUEST_MAX.
 * @param[in] length The number of bytes of @p value.
 * @retval PINPAD_OK the pad took them.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p value null or empty (first byte zero), or over
 *         PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_SetKeyboardValue(const char* value, unsigned int length);

/**
 * @brief Sends a control code such as "032" (command '5').
 *
 * @param[in] code   @p length bytes: the code character and two hex digits of its value ("032"
 *                   ends an input mode, "23C" sets the PIN time-out to 60 seconds); at most
 *                   PINPAD_REQUEST_MAX.
 * @param[in] length The number of bytes of @p code; 0 sends an empty frame.
 * @retval PINPAD_OK the pad took it.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p code null, its first byte zero with a non-zero @p length, or
 *         over PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_SetControlCode(const char* code, unsigned int length);

/**
 * @brief Picks up one byte that the pad sent on its own (a key press, a PIN echo '*'), bytes
 * that came right behind a command's reply first.
 *
 * Waits a little over one second at most, and that second also on a line that has hung up, so
 * that a polling loop does not spin. The byte is no frame: the frame monitor does not see it.
 * @param[out] output One byte; 0 when none arrived.
 * @retval PINPAD_OK a byte was delivered.
 * @retval PINPAD_ERR_PORT none arrived (at once when the port is not open).
 * @retval PINPAD_ERR_NO_REPLY none arrived and the wait was cancelled (Lumenord_CancelWait()).
 * @retval PINPAD_ERR_ARGUMENT @p output null.
 */
PINPAD_API int PINPAD_CALL PinPad_ReadOneByte(unsigned char* output);

/** @} */

/**
 * @defgroup keys Keys and authentication
 * @brief Key records in clear and in cipher text, verify codes and the mutual authentication.
 * @{
 */

/**
 * @brief Loads a key record laid out by the caller in clear text (command '1').
 *
 * @param[in] keyRecord  @p length bytes: key index, combination code, length digit and the key's
 *                       parts; at most PINPAD_REQUEST_MAX.
 * @param[in] length     The number of bytes of @p keyRecord; not 0.
 * @param[out] verifyCode PINPAD_VERIFY_CODE_SIZE bytes: the 8-character verify code and a
 *                        terminating zero, or "" when the pad sent none.
 * @param[in] reserved   Ignored.
 * @retval PINPAD_OK the key is loaded.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, @p length 0, or over PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_DownloadKey(const char* keyRecord, unsigned int length,
                                              char* verifyCode, int reserved);

/**
 * @brief Loads a key record in cipher text (command '2'); also reads a key's verify code and
 * erases a key, as the record says.
 *
 * @param[in] keyRecord  @p length bytes: decryption key index, save index, tag, length digit,
 *                       the key's cipher text and its verify code; at most
 *                       PINPAD_REQUEST_MAX.
 * @param[in] length     The number of bytes of @p keyRecord; not 0.
 * @param[out] verifyCode PINPAD_VERIFY_CODE_SIZE bytes: the 8-character verify code and a
 *                        terminating zero.
 * @retval PINPAD_OK the key is loaded (or read, or erased).
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, @p length 0, or over PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_DownloadEncryptKey(const char* keyRecord, unsigned int length,
                                                     char* verifyCode);

/**
 * @brief Sets up authentication with the given data (selector "80").
 *
 * @param[in] data   @p length bytes of authorization data (32 hex characters on the pads this
 *                   library serves); at most PINPAD_AUTH_DATA_MAX.
 * @param[in] length The number of bytes of @p data; not 0.
 * @param[out] output PINPAD_AUTH_REPLY_SIZE bytes: the first 32 reply characters and a
 *                    terminating zero.
 * @retval PINPAD_OK set up.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, empty @p data, or over PINPAD_AUTH_DATA_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_InitAuthorization(const char* data, unsigned int length,
                                                    char* output);

/**
 * @brief Fetches the pad's 32-character challenge (selector "A0").
 *
 * @param[out] output PINPAD_AUTH_REPLY_SIZE bytes: the challenge and a terminating zero.
 * @retval PINPAD_OK @p output holds the challenge.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p output null.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_GetChallenge(char* output);

/**
 * @brief Runs the two-step mutual authentication.
 *
 * Sends @p keyIndex and the challenge, enciphers the pad's 32 reply characters under @p key and
 * sends the result after "90", filled with zero bytes to @p challengeLength.
 * @param[in] key       The authorization data as a key: a text of 16, 32 or 48 hex characters
 *                      (single, two- or three-key triple DES); another length sends zero bytes,
 *                      and the pad's answer decides.
 * @param[in] challengeLength The number of bytes of @p challenge; at most
 *                      PINPAD_AUTH_DATA_MAX.
 * @param[in] keyIndex  Two characters, the index of the pad's key; a shorter text gives
 *                      PINPAD_ERR_ARGUMENT.
 * @param[in] challenge @p challengeLength bytes: the challenge from PinPad_GetChallenge().
 * @param[out] output   PINPAD_AUTH_REPLY_SIZE bytes: the 32 characters of the second reply and
 *                      a terminating zero.
 * @retval PINPAD_OK both steps succeeded.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, an empty @p key, a @p keyIndex shorter than two
 *         characters, or @p challengeLength over PINPAD_AUTH_DATA_MAX.
 * @retval PINPAD_ERR_NO_REPLY no sound reply to either step.
 * @retval PINPAD_ERR_NOT_WRITTEN a request was not written.
 * @retval 1..255 the pad's status for either step (the second is not sent after a failed first).
 */
PINPAD_API int PINPAD_CALL PinPad_BidirectionalAuthorization(const char* key,
                                                             unsigned int challengeLength,
                                                             const char* keyIndex,
                                                             const char* challenge, char* output);

/** @} */

/**
 * @defgroup pin PIN, MAC and data
 * @brief PIN entry and PIN blocks, PIN offsets, MACs and data encryption in the pad.
 * @{
 */

/**
 * @brief Starts PIN entry on the pad (command '6').
 *
 * The pad then sends an echo byte for each key pressed, which PinPad_ReadOneByte() picks up;
 * PinPad_GetPinValue() reads the PIN block once the entry has ended.
 * @param[in] params @p length bytes: key index, block format, sound, two-digit length and
 *                   account (the full form), or sound, length, enter and clear codes (the short
 *                   form); at most PINPAD_REQUEST_MAX.
 * @param[in] length The number of bytes of @p params; not 0.
 * @retval PINPAD_OK the entry has started.
 * @retval PINPAD_ERR_ARGUMENT @p params null or empty, or over PINPAD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no entry was started for a reason on the host's side: every
 *         negative inner result (a port that is not enabled, no sound reply, a cancelled wait)
 *         is returned as this code; Lumenord_LastFailure() tells which.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_EnablePin(const char* params, unsigned int length);

/**
 * @brief Reads the PIN value (command '7'): the PIN block, or an IBM 3624 PIN offset or its
 * check, as @p params asks.
 *
 * @param[in] params  @p length bytes; may be empty; at most PINPAD_REQUEST_MAX. Not read when
 *                    @p length is 0.
 * @param[in] length  The number of bytes of @p params.
 * @param[in] timeoutSeconds How long to wait for the reply, 1 to PINPAD_PIN_TIMEOUT_MAX (the
 *                    pad's own entry time-out goes up to 255 seconds).
 * @param[out] output PINPAD_PIN_VALUE_SIZE bytes: the reply data as a terminated text (at most
 *                    122 characters).
 * @retval PINPAD_OK @p output holds the reply data.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p output null, @p timeoutSeconds out of range, @p params null
 *         with a non-zero @p length, or over PINPAD_REQUEST_MAX bytes; nothing was sent.
 * @retval PINPAD_ERR_NO_REPLY no sound reply before @p timeoutSeconds, or a reply longer than
 *         122 characters.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_GetPinValue(const char* params, unsigned int length,
                                              int timeoutSeconds, char* output);

/**
 * @brief Has the pad compute a MAC (command '8').
 *
 * @param[in] input  @p length bytes: a three-byte header (key index and MAC type) and the
 *                   message bytes; from 999 bytes on the message is sent as hexadecimal text.
 *                   At most PINPAD_MAC_INPUT_MAX bytes.
 * @param[in] length The number of bytes of @p input; not 0.
 * @param[out] output PINPAD_MAC_SIZE bytes: the 16-character MAC and a terminating zero.
 * @retval PINPAD_OK @p output holds the MAC.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, empty @p input, or over PINPAD_MAC_INPUT_MAX
 *         bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_MakeMac(const char* input, unsigned int length, char* output);

/**
 * @brief Has the pad encrypt or decrypt data (command '9').
 *
 * @param[in] request @p length bytes: key index, mode and the data as hex; at most
 *                    PINPAD_DATA_REQUEST_MAX.
 * @param[in] length  The number of bytes of @p request; not 0.
 * @param[out] output PINPAD_DATA_REPLY_SIZE bytes: the reply data as a terminated text (at most
 *                    4088 characters, all that the receive buffer holds).
 * @retval PINPAD_OK @p output holds the result.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, empty @p request, or over
 *         PINPAD_DATA_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply, or reply data that @p output cannot hold.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_EncryptData(const char* request, unsigned int length,
                                              char* output);

/** @} */

/**
 * @defgroup card IC card and display
 * @brief The card reader and the pad's display.
 * @{
 */

/**
 * @brief Sends a card control request (command '@'): power up, status, power down.
 *
 * @param[in] request A terminated text of at most PINPAD_CARD_REQUEST_MAX bytes, sent with its
 *                    string length (may be empty).
 * @param[out] output PINPAD_CARD_REPLY_SIZE bytes: the card's answer after the four-character
 *                    header, as a terminated text (at most 2038 characters).
 * @retval PINPAD_OK @p output holds the answer.
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, or @p request over PINPAD_CARD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply, a reply without the card status character, or an
 *         answer longer than 2038 characters.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 a card status character (such as 'A', 65, no card), or the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_IC_Control(const char* request, char* output);

/**
 * @brief Sends a command to the card (command 'A'), for instance an APDU as hexadecimal text.
 *
 * @param[in] request A terminated text of at most PINPAD_CARD_REQUEST_MAX bytes, sent with its
 *                    string length.
 * @param[out] output PINPAD_CARD_REPLY_SIZE bytes: the card's answer after the status
 *                    character, as a terminated text (at most 2041 characters).
 * @retval PINPAD_OK @p output holds the answer (data and status word).
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT a null pointer, or @p request over PINPAD_CARD_REQUEST_MAX bytes.
 * @retval PINPAD_ERR_NO_REPLY no sound reply, a reply without its status character, or an
 *         answer longer than 2041 characters.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the fourth reply character (the card status) when the first is not '0', or
 *         the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_IC_Access(const char* request, char* output);

/**
 * @brief Writes a display record to the pad's display (command ';').
 *
 * @param[in] record @p length bytes: the display mode and its data; at most
 *                   PINPAD_DATA_REQUEST_MAX.
 * @param[in] length The number of bytes of @p record, 0 to PINPAD_DATA_REQUEST_MAX.
 * @retval PINPAD_OK shown.
 * @retval PINPAD_LOW_BATTERY the pad's battery is low (the pad's status, handed on).
 * @retval PINPAD_ERR_PORT the port is not enabled.
 * @retval PINPAD_ERR_ARGUMENT @p record null, @p length negative or over
 *         PINPAD_DATA_REQUEST_MAX, or a first byte zero with a non-zero @p length.
 * @retval PINPAD_ERR_NO_REPLY no sound reply.
 * @retval PINPAD_ERR_NOT_WRITTEN the request was not written.
 * @retval 1..255 the pad's status.
 */
PINPAD_API int PINPAD_CALL PinPad_DispInfoLcd(const char* record, int length);

/** @} */

/**
 * @defgroup des Local DES
 * @brief DES and triple DES on the host, no pad needed.
 * @{
 */

/**
 * @brief Single DES (16-character key) or two- or three-key triple DES (32 or 48 characters) on
 * one, two or three blocks of 16 hex characters each, electronic code book.
 *
 * Needs no port and does not wait.
 * @param[in] data      A terminated text of 16, 32 or 48 hex characters.
 * @param[in] key       A terminated text of 16, 32 or 48 hex characters.
 * @param[out] output   PINPAD_DES_RESULT_SIZE bytes: the result as upper-case hex and a
 *                      terminating zero; nothing is written for other lengths of @p data or
 *                      @p key.
 * @param[in] direction 0 encrypt, other values decrypt.
 * @retval PINPAD_OK always; the output tells a refused length from a result.
 */
PINPAD_API int PINPAD_CALL PinPad_TriUntriDes(const char* data, const char* key, char* output,
                                              int direction);

/** @} */

/**
 * @defgroup host Host integration
 * @brief Extensions for the host: an event pump during waits, a frame monitor, cancelling a
 * wait and asking why a call failed, with what each may be called from.
 * @{
 */

/**
 * @brief The function that every wait of the library calls on each pass.
 *
 * Called on the thread of the `PinPad_` call that waits. It must not call a `PinPad_` function
 * (the library serves one call at a time); Lumenord_CancelWait() is allowed.
 */
typedef void(PINPAD_CALL* Lumenord_MessagePump)(void);

/**
 * @brief Installs the function that every wait of the library calls on each pass, so that a
 * window host can process its events while a command waits for the pad.
 *
 * On Windows every pass also takes one window message of the calling thread and dispatches it,
 * so a Win32 host stays responsive without installing anything; a WM_QUIT taken that way is
 * posted again when the call returns.
 *
 * @par Thread and signal safety
 * May be called from any thread (an atomic store); a wait in progress calls the new function from
 * its next pass. Not for a signal handler.
 * @param[in] pump The function, or null to remove it.
 */
PINPAD_API void PINPAD_CALL Lumenord_SetMessagePump(Lumenord_MessagePump pump);

/**
 * @brief What the frame monitor receives for one frame.
 *
 * The bytes and the record are the library's and valid only during the call: a monitor that
 * keeps them copies them.
 */
typedef struct Lumenord_Frame {
    /** LUMENORD_FRAME_SENT or LUMENORD_FRAME_RECEIVED. */
    int direction;
    /** The frame as on the line, STX through the check characters; @ref length bytes. */
    const unsigned char* bytes;
    /** The number of bytes at @ref bytes. */
    int length;
    /** Wall clock when the frame was written or its reading ended, microseconds since
     * 1970-01-01 00:00 UTC. */
    long long timeMicroseconds;
    /** A received frame's status byte, 0 to 255; -1 for a sent frame and for a reply that is not
     * sound. */
    int status;
    /** A received frame: from the request written to the reply read; 0 for a sent frame. */
    int roundTripMicroseconds;
} Lumenord_Frame;

/** Lumenord_Frame::direction of a request frame. */
#define LUMENORD_FRAME_SENT 0
/** Lumenord_Frame::direction of a reply (or of what came instead of one). */
#define LUMENORD_FRAME_RECEIVED 1

/**
 * @brief A frame monitor: called once for each frame (see Lumenord_SetFrameMonitor()).
 *
 * The first argument is the context given to Lumenord_SetFrameMonitor(), the second the frame,
 * valid only during the call.
 */
typedef void(PINPAD_CALL* Lumenord_FrameMonitor)(void* context, const Lumenord_Frame* frame);

/**
 * @brief Installs a monitor that sees every frame the library exchanges with the pad, for a host
 * that shows the traffic (the frame trace file needs no monitor).
 *
 * The monitor is called on the thread of the `PinPad_` call, once after each request frame is
 * written and once after each reply is read. A reply that is not sound (noise, a wrong check,
 * cut short, or nothing before the time-out) is reported as well, with status -1 and the bytes
 * that arrived, possibly none, so every request is followed by one received report. A request
 * that could not be written is not reported. Single bytes read by PinPad_ReadOneByte() are no
 * frames and are not reported. The monitor must not call back into the library, except
 * Lumenord_CancelWait() and Lumenord_LastFailure(), which during a received report with status
 * -1 already names why the reply is not sound. With none installed, an exchange costs nothing
 * more.
 *
 * @par Thread and signal safety
 * Monitor and context are replaced together; install one while no other call runs. Not for a signal
 * handler.
 * @param[in] monitor The monitor, or null to remove it.
 * @param[in] context Passed to the monitor unchanged; the library never reads it.
 */
PINPAD_API void PINPAD_CALL Lumenord_SetFrameMonitor(Lumenord_FrameMonitor monitor, void* context);

/**
 * @brief Cancels the library's waits, from any thread or from a signal handler.
 *
 * The cancel is sticky, so that one raised just before a wait begins still ends that wait:
 * while it is raised, every wait in progress ends within 100 ms and every later one at once.
 * A command then sends nothing more and returns PINPAD_ERR_NO_REPLY (PinPad_EnablePin() too;
 * PinPad_ReadOneByte() returns PINPAD_ERR_NO_REPLY instead of PINPAD_ERR_PORT), with the note
 * "Wait cancelled by the host" in the frame trace and LUMENORD_FAILURE_CANCELLED from
 * Lumenord_LastFailure(). A polling loop therefore runs at once while the cancel is raised: the
 * host lowers it before it talks to the pad again, for instance to close an input mode with
 * control code "032" after an interrupt. Opening and closing the port and PinPad_TriUntriDes()
 * do not wait and are not affected.
 *
 * @par Thread and signal safety
 * May be called from any thread, while another call runs, and from a signal handler; it makes only
 * async-signal-safe calls (an atomic store and a write to a pipe; on Windows it sets an event).
 * @param[in] cancel Non-zero raises the cancel, 0 lowers it.
 */
PINPAD_API void PINPAD_CALL Lumenord_CancelWait(int cancel);

/**
 * @brief Tells why the calling thread's last `PinPad_` call failed, where its result code leaves
 * it open (PINPAD_ERR_NO_REPLY stands for all of a silent pad, a line that hung up and a reply
 * that is not sound).
 *
 * Every `PinPad_` call sets it anew; the library's other functions leave it as it is. Where one
 * fault leads to another, the first is named: a request that could not be written gives
 * LUMENORD_FAILURE_WRITE_FAILED, not the missing reply that follows.
 *
 * @par Thread and signal safety
 * Each thread has its own, so a host that calls from several threads reads the one of its own call,
 * right after it. During a call it may be read from the frame monitor (see
 * Lumenord_SetFrameMonitor()). It reads thread-local storage: do not call it from a signal handler.
 * @return One of the @ref failures "LUMENORD_FAILURE_ codes": LUMENORD_FAILURE_NONE after a call
 *         that returned PINPAD_OK or the pad's own status, and before the thread's first call.
 */
PINPAD_API int PINPAD_CALL Lumenord_LastFailure(void);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* LUMENORD_PINPAD_H */
