// The simulated pad's protocol engine: request bytes in, reply bytes out, key presses in, and its
// inner state out for tests. It holds no thread and no clock of its own; see PtyPad for both.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace padsim {

// What the pad is doing with its keypad.
enum class Mode {
    Idle,         // keys are ignored
    PinEntry,     // each digit is echoed as '*'
    KeyEntry,     // a key part is typed on the pad, each character echoed as itself
    ClearKeypad,  // each key is reported as its own character
};
const char* ModeName(Mode mode);

// The simulated CPU card in socket 1.
enum class CardState { NoCard, Inserted, Powered };

// Special key codes as the pad reports them.
inline constexpr char kBackspace = '\x08';
inline constexpr char kEnter = '\x0D';
inline constexpr char kEscape = '\x1B';
inline constexpr char kPinStar = '*';
inline constexpr char kEntryTimeout = '\x80';

struct StoredKey {
    std::string value;  // upper-case hex text: 16, 32 or 48 characters
    std::string tag;    // "IMK" (loaded in clear or on the pad), "TMK", "TPK", "TAK", "TDK", ...
};

// Misbehaviour on purpose. Everything here but anyKeyInEntry applies to reply frames only, never
// to key echoes.
struct Faults {
    bool silent = false;                 // read requests, answer nothing
    std::string noise;                   // bytes sent ahead of each reply's STX
    int cutReplyAfter = -1;              // send only this many bytes of each reply (-1: whole)
    bool wrongCheck = false;             // each reply carries a wrong check
    std::size_t oversizeData = 0;        // pad each reply's data up to this many bytes (0: off)
    std::chrono::milliseconds delay{0};  // hold each reply this long (applied by PtyPad)
    // command byte -> hold the replies to that command this long instead (applied by PtyPad)
    std::map<char, std::chrono::milliseconds> commandDelay;
    std::map<char, std::uint8_t> forcedStatus;  // command byte -> status byte replied instead
    // command byte -> data of a success reply sent instead of the command's own (the command
    // itself is not carried out)
    std::map<char, std::string> forcedData;
    // Command bytes whose success replies carry altered data in a sound frame: same length,
    // correct check, success status, but every printable data character changed (a hex digit to
    // another hex digit, any other printable character to another printable one; NUL padding and
    // other bytes stay). The card replies keep the header that tells a done request from a card
    // condition, so only the card's answer changes. A reply without data stays as it is.
    std::set<char> wrongData;
    // A key typed on the pad takes and echoes every key pressed, not only hexadecimal digits.
    bool anyKeyInEntry = false;
    bool lowBattery = false;  // status 224 where the pad reports it ('3' read, ';')
    // PtyPad: when request number `disappearAtRequest` (counted from 1 since the start; 0: the
    // next one) is complete, write this many bytes of its reply (0: none) and then close the
    // pseudo-terminal. -1: off.
    int disappearAfter = -1;
    std::uint64_t disappearAtRequest = 0;
};

// The version fields of the information area that tell one unit from another. Each holds exactly
// its field's width of printable characters (0x20-0x7E), as a pad fills them and a host reads
// them.
struct UnitIdentity {
    static constexpr std::size_t kFirmwareWidth = 3;
    static constexpr std::size_t kDateCodeWidth = 4;
    static constexpr std::size_t kSerialWidth = 4;
    std::string firmwareVersion = "110";
    std::string dateCode = "2612";
    std::string serialNumber = "0001";
};
// Why `value` cannot fill a version field `width` characters wide, as a phrase that follows
// "the value" ("is empty", "is longer than 4 characters", "holds byte 0x07, which is not
// printable"); "" when it can.
std::string VersionFieldProblem(std::string_view value, std::size_t width);

// Entry settings from the control codes (their defaults are the pad's own).
struct Settings {
    int pinTimeoutSeconds = 32;       // control code 2
    std::uint8_t pinFill = 0x20;      // control code 3
    int pinMinLength = 4;             // control code 4
    int pinMaxLength = 12;            // control code 5
    std::uint8_t baudCode = 0x33;     // control code 6 (recorded only; a pty has no speed)
    std::uint8_t voice = 0x30;        // control code 7
    std::uint8_t buzzer = 0x20;       // control code 8
    std::uint8_t protection = 0x30;   // control code 9
    std::uint8_t keyTiming = 0x10;    // control code A
    std::uint8_t clearManage = 0x20;  // control code B
};

class PadSimulator {
public:
    // `seed` makes challenges, ISO format 1/3 fill and card randoms reproducible.
    explicit PadSimulator(std::uint32_t seed = std::random_device{}());

    // Feeds bytes from the line; returns every byte the pad writes back (whole reply frames,
    // after the reply faults). Partial frames are kept until the rest arrives.
    std::string Receive(std::string_view bytes);

    // One key press on the pad: digits '0'-'9', 'A'-'F' (key entry), '.', kEnter, kEscape,
    // kBackspace. Returns what the pad sends for it (possibly nothing).
    std::string PressKey(char key);

    // Lets time pass for the entry time-out and the inter-byte time-out of a partial frame.
    // Returns what the pad sends because of it (0x80 when an entry times out; a '4' reply when
    // a partial frame is abandoned).
    std::string Elapse(std::chrono::milliseconds elapsed);
    // How long until Elapse would have something to do; nullopt when nothing is pending.
    std::optional<std::chrono::milliseconds> NextDeadline() const;

    // Fault injection.
    Faults& faults() { return m_faults; }
    const Faults& faults() const { return m_faults; }

    // Inspection and set-up for tests.
    Mode mode() const { return m_mode; }
    std::optional<StoredKey> Key(int index) const;
    void SetKey(int index, StoredKey key);
    std::string displayText() const;   // line 1, and line 2 after a '\n' when it is set
    std::string customerArea() const;  // the whole information area as the '3' read sends it
    const UnitIdentity& identity() const { return m_identity; }
    // Makes the pad this unit; throws std::invalid_argument, changing nothing, when a field does
    // not fit (see VersionFieldProblem).
    void SetIdentity(UnitIdentity identity);
    const std::string& lastPin() const { return m_lastPin; }  // digits of the last completed entry
    std::size_t pinDigitsTyped() const { return m_pinDigits.size(); }
    const std::string& lastChallenge() const { return m_challenge; }
    const std::string& authKey() const { return m_authKey; }
    int authFailures() const { return m_authFailures; }
    CardState cardState() const { return m_card; }
    void SetCardInserted(bool inserted);
    const Settings& settings() const { return m_settings; }
    const std::string& keyboardValues() const { return m_keyboardValues; }
    std::uint64_t requestCount() const { return m_requests; }
    // Command byte and payload of the latest requests (at most kPayloadLogSize), oldest first,
    // for tests that check what was sent.
    static constexpr std::size_t kPayloadLogSize = 1024;
    const std::vector<std::string>& payloadLog() const { return m_payloadLog; }

    // Version fields of the information area that every unit shares (see UnitIdentity for the
    // others).
    static constexpr std::string_view kDescription = "PADSIM01";
    static constexpr std::string_view kProductModel = "SIM731";
    static constexpr std::string_view kHardwareVersion = "R4K";
    static constexpr std::string_view kAtr = "3B6800000073C84013009000";

private:
    struct Reply {
        std::uint8_t status = 0;  // 0: the command's success byte
        std::string data;
        bool reportsBattery = false;  // a reply that carries the low-battery status
        bool deferred = false;        // nothing to send now (a PIN read waiting for the entry)
    };
    struct PinRequest {  // what the PIN value reply needs
        int keyIndex = -1;
        char format = ' ';
        std::string account;
    };

    std::string TakeFrames();
    std::string Answer(char command, std::string_view payload, bool longFrame);
    Reply Dispatch(char command, std::string_view payload, bool longFrame);
    std::string Frame(char command, const Reply& reply) const;

    Reply CustomerInfo(std::string_view payload);
    Reply KeyboardValue(std::string_view payload);
    Reply ControlCode(std::string_view payload);
    Reply ClearKeyDownload(std::string_view payload);
    Reply CipherKeyDownload(std::string_view payload);
    Reply StartPinEntry(std::string_view payload);
    Reply PinValue(std::string_view payload);
    Reply PinRenewVerify(std::string_view payload);
    Reply Mac(std::string_view payload, bool hexExpanded);
    Reply DataCipher(std::string_view payload);
    Reply Authentication(std::string_view payload);
    Reply AuthenticationAnswer(std::string_view answer);
    Reply AuthenticationFailed();
    Reply Display(std::string_view payload);
    Reply CardControl(std::string_view payload);
    Reply CardAccess(std::string_view payload);
    std::string CardApdu(const std::string& apdu);

    void OpenEntry(Mode mode);
    void CloseEntry();
    std::string PinKey(char key);
    std::string KeyEntryKey(char key);
    std::string FinishPin();
    std::string AnswerPendingPin(std::uint8_t code);
    std::string RandomHex(std::size_t bytes);

    Faults m_faults;
    Settings m_settings;
    std::mt19937 m_random;
    std::string m_inbox;  // bytes of a frame not complete yet
    std::chrono::milliseconds m_inboxIdle{0};
    std::uint64_t m_requests = 0;
    std::vector<std::string> m_payloadLog;

    std::map<int, StoredKey> m_keys;
    std::map<int, std::map<int, std::string>> m_keyParts;  // on-pad entry: index -> part -> text
    std::string m_custInfo;                                // 50 bytes
    std::string m_keyboardValues;                          // 48 characters
    std::string m_line1, m_line2;
    std::uint8_t m_disabledKeys[256] = {};
    UnitIdentity m_identity;

    Mode m_mode = Mode::Idle;
    std::chrono::milliseconds m_entryElapsed{0};
    // PIN entry
    PinRequest m_pinRequest;
    bool m_pinRequestGiven = false;  // started in the full form
    int m_pinExpected = 0;
    char m_pinClearCode = '0';
    char m_pinCrCode = '0';
    std::string m_pinDigits;
    std::string m_lastPin;
    bool m_pinReady = false;
    int m_pinSequence = 0;
    std::optional<std::string> m_pendingPinRequest;  // a '7' that waits for the entry's end
    // key entry on the pad
    int m_entryKeyIndex = 0;
    int m_entryPart = 1;
    std::size_t m_entryLength = 16;
    std::string m_entryText;
    // authentication
    std::string m_authKey;
    std::string m_challenge;
    std::string m_authStepOne;  // the pad's first-step reply awaiting the host's answer
    int m_authKeyIndex = -1;
    int m_authFailures = 0;
    static constexpr int kAuthAttempts = 3;
    // IC card
    CardState m_card = CardState::Inserted;
};

}  // namespace padsim
