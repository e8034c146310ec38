#include "StartLinkCodec.h"

#include <QMessageAuthenticationCode>
#include <QStringDecoder>
#include <QStringList>
#include <QtEndian>
#include <algorithm>

namespace {

constexpr char LinkMagic[4] = {'Q', 'X', 'S', 'L'};
constexpr int LinkHeaderSize = 4 + 1 + 1 + 8 + 4;
// A label of its own, so the code's key is of no use anywhere else.
const QByteArray LinkKeyLabel = QByteArrayLiteral("Quellorix Startplatz Schluessel 1");

QByteArray LinkMac(const QByteArray& key, QByteArrayView signedPart)
{
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, key);
    mac.addData(signedPart.data(), signedPart.size());
    return mac.result();
}

// Time does not depend on where two MACs first differ.
bool LinkMacEqual(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

template <typename T> void LinkPut(QByteArray& out, T value)
{
    char buffer[sizeof(T)];
    qToBigEndian(value, buffer);
    out.append(buffer, sizeof(T));
}

void LinkPutText(QByteArray& out, const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > StartLinkMaxLaneText) {
        qsizetype cut = StartLinkMaxLaneText;
        // Back up over continuation bytes to the start of the character that does not fit.
        while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
            --cut;
        utf8.truncate(cut);
    }
    LinkPut<std::uint8_t>(out, std::uint8_t(utf8.size()));
    out.append(utf8);
}

// Reads fields from a bounded view; every read checks what is left.
class LinkReader
{
public:
    explicit LinkReader(QByteArrayView bytes) : mBytes(bytes) {}
    template <typename T> bool Get(T& value)
    {
        if (mBytes.size() - mPos < qsizetype(sizeof(T)))
            return false;
        value = qFromBigEndian<T>(mBytes.data() + mPos);
        mPos += sizeof(T);
        return true;
    }
    // False when the bytes end early; a text too long, not UTF-8 or with control
    // characters clears sound.
    bool GetText(QString& text, bool& sound)
    {
        std::uint8_t length = 0;
        if (!Get(length) || mBytes.size() - mPos < length)
            return false;
        // Stateless: a sequence cut off at the end is an error, not kept for more
        // bytes; a byte order mark stays a character, so the text encodes back the same.
        QStringDecoder decoder(QStringDecoder::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = decoder(mBytes.sliced(mPos, length));
        mPos += length;
        if (length > StartLinkMaxLaneText || decoder.hasError())
            sound = false;
        for (QChar c : std::as_const(text))
            if (c.category() == QChar::Other_Control)
                sound = false;
        return true;
    }
    bool AtEnd() const { return mPos == mBytes.size(); }

private:
    QByteArrayView mBytes;
    qsizetype mPos = 0;
};

} // namespace

QString GeneratePairingCode(QRandomGenerator& random)
{
    constexpr int alphabetSize = sizeof(PairingAlphabet) - 1;
    QString code;
    for (int i = 0; i < PairingCodeLength; ++i)
        code += QLatin1Char(PairingAlphabet[random.bounded(alphabetSize)]);
    return FormatPairingCode(code);
}

PairingCodeCheck NormalisePairingCode(const QString& typed)
{
    const QByteArrayView alphabet(PairingAlphabet, sizeof(PairingAlphabet) - 1);
    QString code;
    for (QChar c : typed) {
        if (c.isSpace() || c == QLatin1Char('-'))
            continue;
        const QChar upper = c.toUpper();
        if (upper.unicode() > 0x7F || !alphabet.contains(char(upper.unicode())))
            return {{},
                    QStringLiteral("Der Schlüssel enthält „%1“. Erlaubt sind die Ziffern 2 bis 9 und "
                                   "die Buchstaben A bis Z ohne I und O.")
                        .arg(c)};
        if (code.size() == PairingCodeLength)
            return {{},
                    QStringLiteral("Der Schlüssel ist zu lang: er hat %1 Zeichen, etwa ABCD-EFGH-JKLM-NPQR.")
                        .arg(PairingCodeLength)};
        code += upper;
    }
    if (code.size() < PairingCodeLength)
        return {
            {},
            QStringLiteral("Der Schlüssel ist unvollständig: %1 von %2 Zeichen, etwa ABCD-EFGH-JKLM-NPQR.")
                .arg(code.size())
                .arg(PairingCodeLength)};
    return {code, {}};
}

QString FormatPairingCode(const QString& normalised)
{
    QString text;
    for (qsizetype i = 0; i < normalised.size(); ++i) {
        if (i > 0 && i % 4 == 0)
            text += QLatin1Char('-');
        text += normalised.at(i);
    }
    return text;
}

QByteArray StartLinkKey(const QString& normalisedCode)
{
    return QMessageAuthenticationCode::hash(LinkKeyLabel, normalisedCode.toUtf8(),
                                            QCryptographicHash::Sha256);
}

QString FinishRunStateText(FinishRunState state)
{
    switch (state) {
    case FinishRunState::TrackClear:
        return QStringLiteral("Strecke frei");
    case FinishRunState::Running:
        return QStringLiteral("Läuft");
    case FinishRunState::FinishWaiting:
        return QStringLiteral("Ziel wartet");
    }
    return {};
}

QString StartLinkRejectText(StartLinkReject reason)
{
    switch (reason) {
    case StartLinkReject::None:
        return {};
    case StartLinkReject::TooShort:
        return QStringLiteral("zu kurz");
    case StartLinkReject::TooLong:
        return QStringLiteral("zu lang");
    case StartLinkReject::BadMagic:
        return QStringLiteral("kein Startplatz-Paket");
    case StartLinkReject::WrongVersion:
        return QStringLiteral("andere Programmversion");
    case StartLinkReject::BadMac:
        return QStringLiteral("falscher Schlüssel oder verändert");
    case StartLinkReject::UnknownType:
        return QStringLiteral("unbekannte Art");
    case StartLinkReject::BadLength:
        return QStringLiteral("falsche Länge");
    case StartLinkReject::BadField:
        return QStringLiteral("ungültiger Inhalt");
    }
    return {};
}

QByteArray EncodeStartLink(const StartLinkDatagram& d, const QByteArray& key)
{
    QByteArray out;
    out.reserve(StartLinkMaxDatagram);
    out.append(LinkMagic, sizeof(LinkMagic));
    LinkPut<std::uint8_t>(out, StartLinkVersion);
    LinkPut<std::uint8_t>(out, std::uint8_t(d.type));
    LinkPut<std::uint64_t>(out, d.session);
    LinkPut<std::uint32_t>(out, d.sequence);
    switch (d.type) {
    case StartLinkType::ClockProbe:
        LinkPut<qint64>(out, d.t1);
        LinkPut<std::uint32_t>(out, d.uncertaintyUs);
        LinkPut<std::uint8_t>(out, d.clockGood ? 1 : 0);
        break;
    case StartLinkType::ProbeReply:
        LinkPut<std::uint64_t>(out, d.originSession);
        LinkPut<qint64>(out, d.t1);
        LinkPut<qint64>(out, d.t2);
        LinkPut<qint64>(out, d.t3);
        break;
    case StartLinkType::Start:
        LinkPut<std::uint64_t>(out, d.originSession);
        LinkPut<std::uint32_t>(out, d.originSequence);
        LinkPut<qint64>(out, d.stationStampUs);
        LinkPut<qint64>(out, d.finishStampUs);
        LinkPut<std::uint32_t>(out, d.uncertaintyUs);
        LinkPut<std::uint8_t>(out, d.clockGood ? 1 : 0);
        break;
    case StartLinkType::Acknowledge:
        LinkPut<std::uint64_t>(out, d.originSession);
        LinkPut<std::uint32_t>(out, d.originSequence);
        break;
    case StartLinkType::FinishStatus:
        LinkPut<std::uint64_t>(out, d.originSession);
        LinkPut<std::uint8_t>(out, std::uint8_t(d.runState));
        LinkPut<std::uint32_t>(out, d.uncertaintyUs);
        LinkPut<std::uint8_t>(out, std::uint8_t((d.clockGood ? 1 : 0) | (d.startArmed ? 2 : 0)));
        LinkPutText(out, d.lane1);
        LinkPutText(out, d.lane2);
        break;
    case StartLinkType::ArmRequest:
        LinkPut<std::uint8_t>(out, d.startArmed ? 1 : 0);
        break;
    }
    out.append(LinkMac(key, out));
    return out;
}

StartLinkDecoded DecodeStartLink(const QByteArray& bytes, const QByteArray& key)
{
    StartLinkDecoded result;
    auto reject = [&result](StartLinkReject reason) {
        result.reject = reason;
        result.datagram = {};
        return result;
    };
    if (bytes.size() > StartLinkMaxDatagram)
        return reject(StartLinkReject::TooLong);
    if (bytes.size() < LinkHeaderSize + StartLinkMacSize)
        return reject(StartLinkReject::TooShort);
    const QByteArrayView all(bytes);
    if (all.first(sizeof(LinkMagic)) != QByteArrayView(LinkMagic, sizeof(LinkMagic)))
        return reject(StartLinkReject::BadMagic);
    if (std::uint8_t(bytes[4]) != StartLinkVersion)
        return reject(StartLinkReject::WrongVersion);
    // Nothing past the header is looked at before the MAC holds.
    const QByteArrayView signedPart = all.first(all.size() - StartLinkMacSize);
    if (!LinkMacEqual(LinkMac(key, signedPart), all.last(StartLinkMacSize)))
        return reject(StartLinkReject::BadMac);

    LinkReader in(signedPart.sliced(5));
    StartLinkDatagram& d = result.datagram;
    std::uint8_t type = 0;
    in.Get(type);
    in.Get(d.session);
    in.Get(d.sequence);
    if (type < std::uint8_t(StartLinkType::ClockProbe) || type > std::uint8_t(StartLinkType::ArmRequest))
        return reject(StartLinkReject::UnknownType);
    d.type = StartLinkType(type);
    bool complete = true;
    bool sound = d.sequence != 0;
    std::uint8_t flags = 0;
    switch (d.type) {
    case StartLinkType::ClockProbe:
        complete = in.Get(d.t1) && in.Get(d.uncertaintyUs) && in.Get(flags);
        sound = sound && flags <= 1;
        break;
    case StartLinkType::ProbeReply:
        complete = in.Get(d.originSession) && in.Get(d.t1) && in.Get(d.t2) && in.Get(d.t3);
        sound = sound && d.t3 >= d.t2;
        break;
    case StartLinkType::Start:
        complete = in.Get(d.originSession) && in.Get(d.originSequence) && in.Get(d.stationStampUs) &&
                   in.Get(d.finishStampUs) && in.Get(d.uncertaintyUs) && in.Get(flags);
        sound = sound && d.originSequence != 0 && flags <= 1;
        break;
    case StartLinkType::Acknowledge:
        complete = in.Get(d.originSession) && in.Get(d.originSequence);
        sound = sound && d.originSequence != 0;
        break;
    case StartLinkType::FinishStatus: {
        std::uint8_t state = 0;
        complete = in.Get(d.originSession) && in.Get(state) && in.Get(d.uncertaintyUs) && in.Get(flags) &&
                   in.GetText(d.lane1, sound) && in.GetText(d.lane2, sound);
        sound = sound && state <= std::uint8_t(FinishRunState::FinishWaiting) && flags <= 3;
        d.runState = FinishRunState(std::min<std::uint8_t>(state, 2));
        d.startArmed = (flags & 2) != 0;
        flags &= 1;
        break;
    }
    case StartLinkType::ArmRequest:
        complete = in.Get(flags);
        sound = sound && flags <= 1;
        d.startArmed = flags == 1;
        flags = 0;
        break;
    }
    if (!complete || !in.AtEnd())
        return reject(StartLinkReject::BadLength);
    if (!sound)
        return reject(StartLinkReject::BadField);
    d.clockGood = flags == 1;
    return result;
}

FinishAddressCheck CheckFinishAddress(const QString& typed)
{
    FinishAddressCheck result;
    const QString text = typed.trimmed();
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon > 0 ? text.left(colon) : QString();
    bool portOk = false;
    const uint port = colon > 0 ? text.mid(colon + 1).toUInt(&portOk) : 0;
    if (colon <= 0 || !portOk || port < 1 || port > 65535) {
        result.error =
            QStringLiteral("Die Zieladresse braucht die Form Adresse:Port, z. B. 192.168.1.20:47110.");
        return result;
    }
    bool sound = false;
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
        sound = !host.isEmpty() && host.size() <= 45 && host.contains(u':') &&
                std::all_of(host.cbegin(), host.cend(), [](QChar c) {
                    return c == u':' || c == u'.' || c == u'%' || c.isLetterOrNumber();
                });
    } else {
        const QStringList parts = host.split(u'.');
        sound = parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString& part) {
                    bool ok = false;
                    const uint value = part.toUInt(&ok);
                    return ok && part.size() <= 3 && value <= 255 &&
                           std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isDigit(); });
                });
    }
    if (!sound) {
        result.error =
            QStringLiteral("„%1“ ist keine IP-Adresse des Ziel-Laptops (z. B. 192.168.1.20).").arg(host);
        return result;
    }
    result.host = host;
    result.port = std::uint16_t(port);
    return result;
}
