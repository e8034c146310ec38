#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <cstdint>

// The start station's datagrams between the station at the top of the track and
// the finish. Every datagram is authenticated with a key derived from the pairing
// code the finish shows; whoever lacks the code can neither forge nor alter one.
//
// Layout (integers big-endian): "QXSL", format version (u8), type (u8), the
// sender's session id (u64, random per program start), sequence (u32), the
// type's fields, then HMAC-SHA-256 (32 bytes) over everything before it.
// Texts are UTF-8 behind a u8 byte length.

// The pairing code: 16 characters of an alphabet without look-alikes
// (no 0/O, 1/I), shown as four groups of four: 80 bits.
inline constexpr int PairingCodeLength = 16;
inline constexpr char PairingAlphabet[] = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";

// A fresh code, "ABCD-EFGH-JKLM-NPQR".
QString GeneratePairingCode(QRandomGenerator& random = *QRandomGenerator::system());

struct PairingCodeCheck
{
    QString code;  // the 16 characters, upper case, without blanks and dashes; empty on error
    QString error; // German, for the user; empty when the code is sound
};
// Accepts lower case, blanks and dashes anywhere, as people type a code they read.
PairingCodeCheck NormalisePairingCode(const QString& typed);
// Four groups of four with dashes, for display.
QString FormatPairingCode(const QString& normalised);
// The finish's address as the station's setting gives it, "192.168.1.20:47110"
// or "[fe80::1]:47110": an IPv4 address or an IPv6 one in brackets, and a port.
struct FinishAddressCheck
{
    QString host; // without brackets; empty on error
    std::uint16_t port = 0;
    QString error; // German; empty when sound
};
FinishAddressCheck CheckFinishAddress(const QString& typed);

// The 32-byte MAC key of a normalised code.
QByteArray StartLinkKey(const QString& normalisedCode);

inline constexpr std::uint8_t StartLinkVersion = 1;
inline constexpr int StartLinkMaxDatagram = 512;
inline constexpr int StartLinkMacSize = 32;
inline constexpr int StartLinkMaxLaneText = 64; // bytes of UTF-8

enum class StartLinkType : std::uint8_t {
    ClockProbe = 1,   // station → finish: t1, and how well the station's agreement stands
    ProbeReply = 2,   // finish → station: the probing station, t1 echoed, t2 received, t3 sent
    Start = 3,        // station → finish: a start edge, see StartLinkDatagram
    Acknowledge = 4,  // finish → station: originSession and originSequence taken
    FinishStatus = 5, // finish → station: run state, the pair on the lanes, clock quality, start barrier
    ArmRequest = 6,   // station → finish: the start crew arms (or disarms) the start barrier
};

enum class FinishRunState : std::uint8_t {
    TrackClear = 0,   // "Strecke frei"
    Running = 1,      // "Läuft"
    FinishWaiting = 2 // "Ziel wartet"
};
QString FinishRunStateText(FinishRunState state);

// One decoded datagram; only the fields of its type are meaningful.
struct StartLinkDatagram
{
    StartLinkType type = StartLinkType::ClockProbe;
    std::uint64_t session = 0;  // the sender's
    std::uint32_t sequence = 0; // the sender's counter of datagrams of this type
    // Probe and reply: microseconds on the station's (t1, t4) and the finish's (t2, t3) clocks.
    qint64 t1 = 0;
    qint64 t2 = 0;
    qint64 t3 = 0;
    // Start, acknowledgement, reply and status: the station session the edge (or the
    // answer) belongs to. A start's own session and sequence stay with it across a
    // station restart, so the finish takes it once whichever session sends it.
    std::uint64_t originSession = 0;
    std::uint32_t originSequence = 0;
    qint64 stationStampUs = 0; // the edge on the station's clock
    qint64 finishStampUs = 0;  // the same edge converted to the finish's clock
    // Start: the conversion's; probe: the station's agreement now; status: as the finish sees it.
    std::uint32_t uncertaintyUs = 0;
    bool clockGood = false;
    // Status: the finish's start barrier is armed; arm request: the state asked for.
    bool startArmed = false;
    // Status.
    FinishRunState runState = FinishRunState::TrackClear;
    QString lane1;
    QString lane2;
};

enum class StartLinkReject : std::uint8_t {
    None = 0,
    TooShort,
    TooLong,
    BadMagic,
    WrongVersion,
    BadMac, // foreign: no key or another key, or altered on the way
    UnknownType,
    BadLength, // authentic header, but the size does not fit the type
    BadField,  // a field out of its range (run state, sequence 0, text)
};
QString StartLinkRejectText(StartLinkReject reason);

struct StartLinkDecoded
{
    StartLinkReject reject = StartLinkReject::None;
    StartLinkDatagram datagram;
};

// Lane texts longer than StartLinkMaxLaneText bytes are cut at a character boundary.
QByteArray EncodeStartLink(const StartLinkDatagram& datagram, const QByteArray& key);
// Takes any bytes from the network: never reads beyond them, never allocates by
// a length it was told, rejects anything unsound.
StartLinkDecoded DecodeStartLink(const QByteArray& bytes, const QByteArray& key);
