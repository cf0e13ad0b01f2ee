/* The Lumenord driver: host-side interface to an encrypting PIN pad on a serial line.
 *
 * Every function returns a signed result code: one of the PINPAD_ codes below, or 1 to 255, the
 * pad's own status byte, unchanged. The sizes of the caller's output buffers and the limits of
 * the inputs are named below as well; the numbers are part of the interface and never change.
 *
 * A reply is sound when its length field is three digits that place its ETX (or "000", for
 * data of 999 bytes and more, which run to the first ETX), its two check characters follow the
 * ETX, and they are the XOR of the bytes from the length field through the ETX, as two hex
 * characters in either case. A pad that computes the check otherwise can be used with
 * VERIFYCHECK=0 in section [SYSTEM] of ./sysconfig.ini (read each time the port is opened;
 * default 1), which leaves the check characters unverified. A reply is judged by its status
 * byte alone: only the command's success byte is success, a status byte 0 gives
 * PINPAD_ERR_NO_REPLY, any other is returned as it is. Bytes before the reply's STX are skipped;
 * a reply that does not fit the 4096-byte receive buffer gives PINPAD_ERR_NO_REPLY, and so does a
 * reply whose data would have to be cut to fit the output that a function fills with them (the
 * output is then left as it was; the frame trace says why).
 *
 * Each command first discards whatever the line has queued, so that a reply that came after its
 * own command gave up cannot answer the next one. Bytes that come right behind a reply (a key
 * echo) are kept for PinPad_ReadOneByte. Every wait ends by its time-out, counted from the start
 * of the read, however late the first byte comes.
 *
 * Texts are single-byte; keys, data and codes are upper-case hexadecimal text (lower case is
 * accepted on input). Output buffers belong to the caller, who sizes them as documented.
 * The library serves one call at a time; it has no threads and takes no locks. Only
 * Lumenord_CancelWait, and Lumenord_LastFailure for the calling thread's own last call, may be
 * called while another call runs.
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

/* ---- Result codes ---- */

/* Success; the outputs are filled as the function says. */
#define PINPAD_OK 0
/* The port is not enabled (no PinPad_EnablePort yet, or PinPad_DisablePort since); from
 * PinPad_EnablePort: opening or configuring the port failed; from PinPad_ReadOneByte: no byte
 * arrived. */
#define PINPAD_ERR_PORT (-1)
/* From PinPad_DisablePort: closing failed. */
#define PINPAD_ERR_CLOSE (-2)
/* A required pointer is null, a required text is empty, or an input does not fit. */
#define PINPAD_ERR_ARGUMENT (-3)
/* No sound reply frame from the pad: a silent or absent pad, a line that has hung up, or a reply
 * that is not sound (see above); Lumenord_LastFailure tells which. */
#define PINPAD_ERR_NO_REPLY (-4)
/* The request was not written: the serial port is not open. */
#define PINPAD_ERR_NOT_WRITTEN 2
/* The read came back empty. */
#define PINPAD_ERR_EMPTY_READ 3
/* The pad's own status for a low battery (0xE0). PinPad_GetCustInfo returns it with valid data;
 * the other functions hand it on like any other status of the pad. */
#define PINPAD_LOW_BATTERY 224

/* ---- Why a call failed: what Lumenord_LastFailure returns ---- */

/* The call succeeded, or it failed with the pad's own status (the result code says why). */
#define LUMENORD_FAILURE_NONE 0
/* Nothing arrived before the time-out: the pad is silent, switched off, or on another line. */
#define LUMENORD_FAILURE_NO_REPLY 1
/* A reply began but stopped part-way: its time-out passed before its last byte. */
#define LUMENORD_FAILURE_CUT_REPLY 2
/* The line hung up: the device is gone (a USB adapter unplugged, say). */
#define LUMENORD_FAILURE_LINE_HUNG_UP 3
/* The reply's check characters do not match its bytes (see VERIFYCHECK above). */
#define LUMENORD_FAILURE_BAD_CHECK 4
/* What arrived is no reply frame: a wrong length field, no ETX where it belongs, a status byte
 * 0, a card reply without its status character, or line noise without an STX. */
#define LUMENORD_FAILURE_MALFORMED_REPLY 5
/* The reply is longer than the 4096-byte receive buffer, or than the output it would fill. */
#define LUMENORD_FAILURE_REPLY_TOO_LONG 6
/* The host cancelled the wait (Lumenord_CancelWait). */
#define LUMENORD_FAILURE_CANCELLED 7
/* An argument was refused (PINPAD_ERR_ARGUMENT); nothing was sent. */
#define LUMENORD_FAILURE_ARGUMENT 8
/* The port is not open: never enabled, disabled since, or its opening failed
 * (PINPAD_ERR_PORT, PINPAD_ERR_NOT_WRITTEN from a command). */
#define LUMENORD_FAILURE_PORT_NOT_OPEN 9
/* PinPad_EnablePort could not open or configure the device: it is missing, claimed by another
 * program, not permitted, not a serial line, or its ./sysconfig.ini mapping could not be used. */
#define LUMENORD_FAILURE_OPEN_FAILED 10
/* The request could not be written whole: the line refused it, or took nothing for a second. */
#define LUMENORD_FAILURE_WRITE_FAILED 11

/* ---- Buffer sizes and input limits ---- */

/* Output buffers: the bytes the caller provides. */
#define PINPAD_CUST_INFO_SIZE 256   /* PinPad_GetCustInfo */
#define PINPAD_VERIFY_CODE_SIZE 9   /* PinPad_DownloadKey, PinPad_DownloadEncryptKey */
#define PINPAD_AUTH_REPLY_SIZE 33   /* the two Authorization functions, PinPad_GetChallenge */
#define PINPAD_PIN_VALUE_SIZE 256   /* PinPad_GetPinValue */
#define PINPAD_MAC_SIZE 17          /* PinPad_MakeMac */
#define PINPAD_DATA_REPLY_SIZE 4096 /* PinPad_EncryptData */
#define PINPAD_CARD_REPLY_SIZE 2048 /* PinPad_IC_Control, PinPad_IC_Access */
#define PINPAD_DES_RESULT_SIZE 49   /* PinPad_TriUntriDes */

/* Inputs: the most that a function takes; more gives PINPAD_ERR_ARGUMENT. */
#define PINPAD_PORT_NAME_MAX 15      /* characters of PinPad_EnablePort's port name */
#define PINPAD_REQUEST_MAX 256       /* bytes of the settings, key records and PIN requests */
#define PINPAD_AUTH_DATA_MAX 254     /* bytes of authentication data and challenges */
#define PINPAD_PIN_TIMEOUT_MAX 255   /* seconds of PinPad_GetPinValue's wait */
#define PINPAD_MAC_INPUT_MAX 2045    /* bytes of PinPad_MakeMac's input */
#define PINPAD_CARD_REQUEST_MAX 2048 /* bytes of a card request */
#define PINPAD_DATA_REQUEST_MAX 4088 /* bytes of PinPad_EncryptData and PinPad_DispInfoLcd */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Port and device setup ---- */

/* Opens the pad's serial port.
 * [in] portName  "comN": N is read from the fourth character on; at most PINPAD_PORT_NAME_MAX
 *                characters.
 * [in] baudRate  300, 600, 1200, 2400, 4800, 19200, 38400, 56000, 57600 or 115200; any other
 *                value opens at 9600.
 * [in] parity, dataBits, stopBits  the first byte of each is a numeric code: parity 1 odd, 2 even,
 *                other none; data bits 7 seven, other eight; stop bits 2 two, other one.
 * Port N opens the device that key COMN of section [PORTS] in ./sysconfig.ini names, else the
 * system's own device for it. A mapping longer than 511 characters, or a ./sysconfig.ini that
 * exists but cannot be read whole (unreadable, or over 1 MiB), opens nothing: PINPAD_ERR_PORT,
 * with a note in the time-out log; the system's device never stands in for a mapping that could
 * not be read.
 * Returns PINPAD_OK opened, PINPAD_ERR_PORT open failed (the port flag is set all the same, so
 * device commands then answer PINPAD_ERR_NOT_WRITTEN), PINPAD_ERR_ARGUMENT bad argument or a
 * name longer than PINPAD_PORT_NAME_MAX. */
PINPAD_API int PINPAD_CALL PinPad_EnablePort(const char* portName, int baudRate, const char* parity,
                                             const char* dataBits, const char* stopBits);

/* Closes the port and clears the port flag. Returns PINPAD_OK (PINPAD_ERR_CLOSE if closing
 * reported failure). */
PINPAD_API int PINPAD_CALL PinPad_DisablePort(void);

/* Writes the pad's customer information area (command '3').
 * [in] info, length  at most PINPAD_REQUEST_MAX bytes; length 0 sends the empty read request.
 * Returns PINPAD_OK, PINPAD_ERR_PORT, PINPAD_ERR_ARGUMENT (null, first byte zero with a non-zero
 * length, or over PINPAD_REQUEST_MAX bytes), PINPAD_ERR_NO_REPLY, PINPAD_ERR_NOT_WRITTEN,
 * PINPAD_ERR_EMPTY_READ, or the pad's status. */
PINPAD_API int PINPAD_CALL PinPad_SetCustInfo(const char* info, unsigned int length);

/* Reads the pad's customer information area.
 * [out] output  PINPAD_CUST_INFO_SIZE bytes; receives the reply data (at most 250 bytes), not
 *               terminated.
 * Returns PINPAD_OK, or PINPAD_LOW_BATTERY with valid data; PINPAD_ERR_PORT, PINPAD_ERR_ARGUMENT,
 * PINPAD_ERR_NO_REPLY (also for reply data over 250 bytes), PINPAD_ERR_NOT_WRITTEN,
 * PINPAD_ERR_EMPTY_READ or the pad's status otherwise (output untouched). */
PINPAD_API int PINPAD_CALL PinPad_GetCustInfo(char* output);

/* Sets the codes the pad's keys report (command '4').
 * [in] value, length  non-empty, at most PINPAD_REQUEST_MAX bytes. */
PINPAD_API int PINPAD_CALL PinPad_SetKeyboardValue(const char* value, unsigned int length);

/* Sends a control code such as "032" (command '5').
 * [in] code, length  at most PINPAD_REQUEST_MAX bytes; length 0 sends an empty frame. */
PINPAD_API int PINPAD_CALL PinPad_SetControlCode(const char* code, unsigned int length);

/* Picks up one byte that the pad sent on its own (a key press, a PIN echo '*'), bytes that came
 * right behind a command's reply first.
 * [out] output  one byte; 0 when none arrived.
 * Waits a little over one second at most, and that second also on a line that has hung up, so
 * that a polling loop does not spin. Returns PINPAD_OK a byte was delivered, PINPAD_ERR_PORT
 * none (at once when the port is not open), PINPAD_ERR_ARGUMENT null. */
PINPAD_API int PINPAD_CALL PinPad_ReadOneByte(unsigned char* output);

/* ---- Keys and authentication ---- */

/* Loads a key record laid out by the caller in clear text (command '1').
 * [in] keyRecord, length  non-empty, at most PINPAD_REQUEST_MAX bytes.
 * [out] verifyCode  PINPAD_VERIFY_CODE_SIZE bytes: the 8-character verify code, or "" when the
 *                   pad sent none.
 * [in] reserved  ignored. */
PINPAD_API int PINPAD_CALL PinPad_DownloadKey(const char* keyRecord, unsigned int length,
                                              char* verifyCode, int reserved);

/* Loads a key record in cipher text (command '2').
 * [out] verifyCode  PINPAD_VERIFY_CODE_SIZE bytes: the 8-character verify code. */
PINPAD_API int PINPAD_CALL PinPad_DownloadEncryptKey(const char* keyRecord, unsigned int length,
                                                     char* verifyCode);

/* Sets up authentication with the given data (selector "80").
 * [in] data, length  non-empty, at most PINPAD_AUTH_DATA_MAX bytes.
 * [out] output  PINPAD_AUTH_REPLY_SIZE bytes: the first 32 reply characters. */
PINPAD_API int PINPAD_CALL PinPad_InitAuthorization(const char* data, unsigned int length,
                                                    char* output);

/* Fetches the pad's 32-character challenge (selector "A0").
 * [out] output  PINPAD_AUTH_REPLY_SIZE bytes. */
PINPAD_API int PINPAD_CALL PinPad_GetChallenge(char* output);

/* Runs the two-step mutual authentication: sends keyIndex and the challenge, enciphers the pad's
 * 32 reply characters under key (16, 32 or 48 hex characters: single, two- or three-key triple
 * DES) and sends the result after "90".
 * [in] key, challengeLength, keyIndex (two characters; a shorter text gives
 *      PINPAD_ERR_ARGUMENT), challenge (at most PINPAD_AUTH_DATA_MAX bytes)
 * [out] output  PINPAD_AUTH_REPLY_SIZE bytes: the 32 characters of the second reply. */
PINPAD_API int PINPAD_CALL PinPad_BidirectionalAuthorization(const char* key,
                                                             unsigned int challengeLength,
                                                             const char* keyIndex,
                                                             const char* challenge, char* output);

/* ---- PIN, MAC and data ---- */

/* Starts PIN entry on the pad (command '6').
 * [in] params, length  non-empty, at most PINPAD_REQUEST_MAX bytes.
 * Every negative inner result is returned as PINPAD_ERR_NO_REPLY. */
PINPAD_API int PINPAD_CALL PinPad_EnablePin(const char* params, unsigned int length);

/* Reads the PIN value (command '7').
 * [in] params, length  may be empty; at most PINPAD_REQUEST_MAX bytes.
 * [in] timeoutSeconds  how long to wait for the reply, 1 to PINPAD_PIN_TIMEOUT_MAX (the pad's
 *                      own entry time-out goes up to 255 seconds); other values give
 *                      PINPAD_ERR_ARGUMENT before anything is sent.
 * [out] output  PINPAD_PIN_VALUE_SIZE bytes: the reply data as a terminated text (at most 122
 *               characters; a longer reply gives PINPAD_ERR_NO_REPLY). */
PINPAD_API int PINPAD_CALL PinPad_GetPinValue(const char* params, unsigned int length,
                                              int timeoutSeconds, char* output);

/* Has the pad compute a MAC (command '8').
 * [in] input, length  a three-byte header and the message bytes; from 999 bytes on the message
 *                     is sent as hexadecimal text. At most PINPAD_MAC_INPUT_MAX bytes.
 * [out] output  PINPAD_MAC_SIZE bytes: the 16-character MAC. */
PINPAD_API int PINPAD_CALL PinPad_MakeMac(const char* input, unsigned int length, char* output);

/* Has the pad encrypt or decrypt data (command '9').
 * [in] request, length  non-empty, at most PINPAD_DATA_REQUEST_MAX bytes.
 * [out] output  PINPAD_DATA_REPLY_SIZE bytes: the reply data as a terminated text (at most 4088
 *               characters, all that the receive buffer holds). */
PINPAD_API int PINPAD_CALL PinPad_EncryptData(const char* request, unsigned int length,
                                              char* output);

/* ---- IC card and display ---- */

/* Sends a card control request (command '@').
 * [in] request  a text of at most PINPAD_CARD_REQUEST_MAX bytes, sent with its string length
 *               (may be empty).
 * [out] output  PINPAD_CARD_REPLY_SIZE bytes: the card's answer after the four-character header,
 *               as a terminated text (at most 2038 characters; a longer answer gives
 *               PINPAD_ERR_NO_REPLY).
 * Returns PINPAD_OK, a card status character (such as 'B', 66), or the codes above;
 * PINPAD_ERR_NO_REPLY also when the reply lacks the card status character. */
PINPAD_API int PINPAD_CALL PinPad_IC_Control(const char* request, char* output);

/* Sends a command to the card (command 'A'), for instance an APDU as hexadecimal text.
 * [in] request  a text of at most PINPAD_CARD_REQUEST_MAX bytes, sent with its string length.
 * [out] output  PINPAD_CARD_REPLY_SIZE bytes: the card's answer after the status character, as a
 *               terminated text (at most 2041 characters; a longer answer gives
 *               PINPAD_ERR_NO_REPLY).
 * Returns PINPAD_OK, the fourth reply character (the card status) when the first is not '0', or
 * the codes above; PINPAD_ERR_NO_REPLY also when the reply lacks that status character. */
PINPAD_API int PINPAD_CALL PinPad_IC_Access(const char* request, char* output);

/* Writes a display record to the pad's display (command ';').
 * [in] record, length  at most PINPAD_DATA_REQUEST_MAX bytes.
 * Returns PINPAD_OK, PINPAD_LOW_BATTERY, or the codes above. */
PINPAD_API int PINPAD_CALL PinPad_DispInfoLcd(const char* record, int length);

/* ---- Local DES ---- */

/* Single DES (16-character key) or two- or three-key triple DES (32 or 48 characters) on one,
 * two or three blocks of 16 hex characters each, electronic code book, no pad needed.
 * [out] output  PINPAD_DES_RESULT_SIZE bytes: upper-case hex; nothing is written for other
 *               lengths.
 * [in] direction  0 encrypt, other values decrypt. Always returns PINPAD_OK. */
PINPAD_API int PINPAD_CALL PinPad_TriUntriDes(const char* data, const char* key, char* output,
                                              int direction);

/* ---- Host integration ---- */

/* Installs the function that every wait of the library calls on each pass, so that a window
 * host can process its events while a command waits for the pad. Null removes it.
 * On Windows every pass also takes one window message of the calling thread and dispatches it,
 * so a Win32 host stays responsive without installing anything; a WM_QUIT taken that way is
 * posted again when the call returns. */
typedef void(PINPAD_CALL* Lumenord_MessagePump)(void);
PINPAD_API void PINPAD_CALL Lumenord_SetMessagePump(Lumenord_MessagePump pump);

/* What the frame monitor receives for one frame. The bytes and the record are the library's
 * and valid only during the call: a monitor that keeps them copies them. */
typedef struct Lumenord_Frame {
    int direction;              /* LUMENORD_FRAME_SENT or LUMENORD_FRAME_RECEIVED */
    const unsigned char* bytes; /* the frame as on the line, STX through the check characters */
    int length;                 /* the number of bytes */
    long long timeMicroseconds; /* wall clock when the frame was written or its reading ended,
                                 * microseconds since 1970-01-01 00:00 UTC */
    int status;                 /* a received frame's status byte, 0 to 255; -1 for a sent frame
                                 * and for a reply that is not sound */
    int roundTripMicroseconds;  /* a received frame: from the request written to the reply read;
                                 * 0 for a sent frame */
} Lumenord_Frame;

/* A request frame; a reply (or what came instead of one). */
#define LUMENORD_FRAME_SENT 0
#define LUMENORD_FRAME_RECEIVED 1

typedef void(PINPAD_CALL* Lumenord_FrameMonitor)(void* context, const Lumenord_Frame* frame);

/* Installs a monitor that sees every frame the library exchanges with the pad, for a host that
 * shows the traffic (the frame trace file needs no monitor). Null removes it.
 * [in] monitor  called on the thread of the PinPad_ call, once after each request frame is
 *               written and once after each reply is read. A reply that is not sound (noise, a
 *               wrong check, cut short, or nothing before the time-out) is reported as well, with
 *               status -1 and the bytes that arrived, possibly none, so every request is followed
 *               by one received report. A request that could not be written is not reported.
 *               Single bytes read by PinPad_ReadOneByte are no frames and are not reported.
 *               The monitor must not call back into the library, except Lumenord_CancelWait
 *               and Lumenord_LastFailure, which during a received report with status -1
 *               already names why the reply is not sound.
 * [in] context  passed to the monitor unchanged.
 * Monitor and context are replaced together; install one while no other call runs. With none
 * installed, an exchange costs nothing more. */
PINPAD_API void PINPAD_CALL Lumenord_SetFrameMonitor(Lumenord_FrameMonitor monitor, void* context);

/* Cancels the library's waits, from any thread or from a signal handler (it makes only
 * async-signal-safe calls: an atomic store and a write to a pipe; on Windows it sets an event).
 * [in] cancel  non-zero raises the cancel, 0 lowers it.
 * The cancel is sticky, so that one raised just before a wait begins still ends that wait:
 * while it is raised, every wait in progress ends within 100 ms and every later one at once.
 * A command then sends nothing more and returns PINPAD_ERR_NO_REPLY (PinPad_EnablePin too;
 * PinPad_ReadOneByte returns PINPAD_ERR_NO_REPLY instead of PINPAD_ERR_PORT), with the note "Wait
 * cancelled by the host" in the frame trace. A polling loop therefore runs at once while the
 * cancel is raised: the host lowers it before it talks to the pad again, for instance to close
 * an input mode with control code "032" after an interrupt. Opening and closing the port and
 * PinPad_TriUntriDes do not wait and are not affected. */
PINPAD_API void PINPAD_CALL Lumenord_CancelWait(int cancel);

/* Tells why the calling thread's last PinPad_ call failed, where its result code leaves it open
 * (PINPAD_ERR_NO_REPLY stands for all of a silent pad, a line that hung up and a reply that is
 * not sound).
 * Returns one of the LUMENORD_FAILURE_ codes: LUMENORD_FAILURE_NONE after a call that returned
 * PINPAD_OK or the pad's own status, and before the thread's first call. Every PinPad_ call
 * sets it anew; the library's other functions leave it as it is. Where one fault leads to
 * another, the first is named: a request that could not be written gives
 * LUMENORD_FAILURE_WRITE_FAILED, not the missing reply that follows.
 * Each thread has its own, so a host that calls from several threads reads the one of its own
 * call, right after it. During a call it may be read from the frame monitor (see
 * Lumenord_SetFrameMonitor). It reads thread-local storage: do not call it from a signal
 * handler. */
PINPAD_API int PINPAD_CALL Lumenord_LastFailure(void);

#ifdef __cplusplus
}
#endif

#endif /* LUMENORD_PINPAD_H */
