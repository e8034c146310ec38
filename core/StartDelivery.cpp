#include "StartDelivery.h"

#include "ClockAgreement.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <cstdint>

namespace {

constexpr quint32 OutboxMagic = 0x5158534F;     // "QXSO"
constexpr quint32 AcceptanceMagic = 0x51585341; // "QXSA"
constexpr quint8 DeliveryFormat = 1;

QDataStream& DeliveryStream(QDataStream& stream)
{
    stream.setVersion(QDataStream::Qt_6_0);
    stream.setByteOrder(QDataStream::BigEndian);
    return stream;
}

bool DeliveryContains(const std::deque<std::uint64_t>& list, std::uint64_t session)
{
    return std::find(list.begin(), list.end(), session) != list.end();
}

void DeliveryRemember(std::deque<std::uint64_t>& list, std::uint64_t session, int limit)
{
    if (DeliveryContains(list, session))
        return;
    list.push_back(session);
    while (int(list.size()) > limit)
        list.pop_front();
}

void ApplyConversion(PendingStart& start, const TClockAgreement& agreement)
{
    const ConvertedStamp converted = ConvertToFinish(agreement, start.stationStampUs);
    start.finishStampUs = converted.finishUs;
    start.uncertaintyUs = std::uint32_t(std::min<qint64>(converted.uncertaintyUs, UINT32_MAX));
    start.clockGood = converted.good;
}

} // namespace

const PendingStart& TStartOutbox::Add(qint64 stationStampUs, const TClockAgreement& agreement, qint64 nowUs)
{
    PendingStart start;
    start.originSession = mSession;
    start.originSequence = mNextSequence++;
    start.stationStampUs = stationStampUs;
    ApplyConversion(start, agreement);
    start.nextSendUs = nowUs;
    Push(start);
    return mPending.back();
}

void TStartOutbox::Push(const PendingStart& start)
{
    mPending.push_back(start);
    while (int(mPending.size()) > MaxPending) {
        mPending.pop_front();
        ++mDropped;
    }
}

QList<StartLinkDatagram> TStartOutbox::Due(qint64 nowUs)
{
    QList<StartLinkDatagram> due;
    for (PendingStart& start : mPending) {
        if (start.nextSendUs > nowUs)
            continue;
        start.retryUs = start.retryUs == 0 ? FirstRetryUs : std::min(2 * start.retryUs, MaxRetryUs);
        start.nextSendUs = nowUs + start.retryUs;
        StartLinkDatagram d;
        d.type = StartLinkType::Start;
        d.session = mSession;
        d.sequence = ++mSendCount;
        d.originSession = start.originSession;
        d.originSequence = start.originSequence;
        d.stationStampUs = start.stationStampUs;
        d.finishStampUs = start.finishStampUs;
        d.uncertaintyUs = start.uncertaintyUs;
        d.clockGood = start.clockGood;
        due.append(d);
    }
    return due;
}

bool TStartOutbox::Acknowledge(std::uint64_t originSession, std::uint32_t originSequence)
{
    const auto found = std::find_if(mPending.begin(), mPending.end(), [&](const PendingStart& start) {
        return start.originSession == originSession && start.originSequence == originSequence;
    });
    if (found == mPending.end())
        return false;
    mPending.erase(found);
    return true;
}

void TStartOutbox::Reconvert(const TClockAgreement& agreement)
{
    // Only this session's stamps are on the clock the agreement knows.
    for (PendingStart& start : mPending)
        if (start.originSession == mSession &&
            agreement.UncertaintyUs(start.stationStampUs) < start.uncertaintyUs)
            ApplyConversion(start, agreement);
}

QByteArray TStartOutbox::Save() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    DeliveryStream(out) << OutboxMagic << DeliveryFormat << quint32(mPending.size());
    for (const PendingStart& s : mPending)
        out << quint64(s.originSession) << quint32(s.originSequence) << s.stationStampUs << s.finishStampUs
            << quint32(s.uncertaintyUs) << quint8(s.clockGood ? 1 : 0);
    return bytes;
}

bool TStartOutbox::Load(const QByteArray& bytes, qint64 nowUs)
{
    QDataStream in(bytes);
    DeliveryStream(in);
    quint32 magic = 0;
    quint8 format = 0;
    quint32 count = 0;
    in >> magic >> format >> count;
    if (in.status() != QDataStream::Ok || magic != OutboxMagic || format != DeliveryFormat ||
        count > quint32(MaxPending))
        return false;
    std::vector<PendingStart> loaded;
    for (quint32 i = 0; i < count; ++i) {
        PendingStart s;
        quint64 session = 0;
        quint32 sequence = 0;
        quint32 uncertainty = 0;
        quint8 good = 0;
        in >> session >> sequence >> s.stationStampUs >> s.finishStampUs >> uncertainty >> good;
        if (in.status() != QDataStream::Ok || sequence == 0 || good > 1)
            return false;
        s.originSession = session;
        s.originSequence = sequence;
        s.uncertaintyUs = uncertainty;
        s.clockGood = good == 1;
        s.nextSendUs = nowUs;
        loaded.push_back(s);
    }
    if (!in.atEnd())
        return false;
    for (const PendingStart& s : loaded) {
        const bool known = std::any_of(mPending.begin(), mPending.end(), [&](const PendingStart& p) {
            return p.originSession == s.originSession && p.originSequence == s.originSequence;
        });
        if (!known)
            Push(s);
        // A journal of this very session must not make its sequences be used twice.
        if (s.originSession == mSession)
            mNextSequence = std::max(mNextSequence, s.originSequence + 1);
    }
    return true;
}

bool TStartAcceptance::PairedAlive(qint64 nowUs) const
{
    return mPairedHeard && nowUs - mPairedHeardUs < AliveUs;
}

bool TStartAcceptance::Hear(std::uint64_t session, qint64 nowUs)
{
    if (DeliveryContains(mFormer, session)) {
        ++mCounters.stale;
        return false;
    }
    if (session != mPaired) {
        if (PairedAlive(nowUs)) {
            ++mCounters.otherStation;
            return false;
        }
        // The paired station is silent (restarted, or replaced): the new one takes its place.
        if (mPaired != 0)
            DeliveryRemember(mFormer, mPaired, MaxFormerSessions);
        mPaired = session;
    }
    mPairedHeard = true;
    mPairedHeardUs = nowUs;
    return true;
}

TStartAcceptance::AcceptedSet* TStartAcceptance::OriginSet(std::uint64_t origin)
{
    auto found = mOrigins.find(origin);
    if (found == mOrigins.end()) {
        if (int(mOrigins.size()) >= MaxOrigins) {
            // Room for a new session: the least recently used one other than the paired
            // station's goes, and its starts count as stale from then on.
            auto oldest = mOrigins.end();
            for (auto it = mOrigins.begin(); it != mOrigins.end(); ++it)
                if (it->first != mPaired &&
                    (oldest == mOrigins.end() || it->second.lastUse < oldest->second.lastUse))
                    oldest = it;
            if (oldest == mOrigins.end())
                return nullptr;
            DeliveryRemember(mForgotten, oldest->first, MaxFormerSessions);
            mOrigins.erase(oldest);
        }
        found = mOrigins.emplace(origin, AcceptedSet()).first;
    }
    found->second.lastUse = ++mUseCounter;
    return &found->second;
}

StartVerdict TStartAcceptance::Offer(const StartLinkDatagram& start)
{
    AcceptedSet* set =
        DeliveryContains(mForgotten, start.originSession) ? nullptr : OriginSet(start.originSession);
    if (set == nullptr) {
        ++mCounters.stale;
        return StartVerdict::Stale;
    }
    const std::uint32_t sequence = start.originSequence;
    if (sequence <= set->contiguous || set->above.count(sequence) > 0) {
        ++mCounters.duplicates;
        return StartVerdict::Duplicate;
    }
    // Unacknowledged, the station sends it again: nothing is lost by waiting for the gap below.
    if (sequence - set->contiguous > std::uint32_t(MaxAboveContiguous)) {
        ++mCounters.tooFarAhead;
        return StartVerdict::TooFarAhead;
    }
    set->above.insert(sequence);
    while (!set->above.empty() && *set->above.begin() == set->contiguous + 1) {
        ++set->contiguous;
        set->above.erase(set->above.begin());
    }
    ++mCounters.accepted;
    return StartVerdict::Accepted;
}

QByteArray TStartAcceptance::Save() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    DeliveryStream(out) << AcceptanceMagic << DeliveryFormat << quint64(mPaired);
    for (const std::deque<std::uint64_t>* list : {&mFormer, &mForgotten}) {
        out << quint32(list->size());
        for (std::uint64_t session : *list)
            out << quint64(session);
    }
    out << quint32(mOrigins.size());
    for (const auto& [session, set] : mOrigins) {
        out << quint64(session) << quint32(set.contiguous) << quint64(set.lastUse)
            << quint32(set.above.size());
        for (std::uint32_t sequence : set.above)
            out << quint32(sequence);
    }
    return bytes;
}

bool TStartAcceptance::Load(const QByteArray& bytes)
{
    QDataStream in(bytes);
    DeliveryStream(in);
    quint32 magic = 0;
    quint8 format = 0;
    quint64 paired = 0;
    in >> magic >> format >> paired;
    if (in.status() != QDataStream::Ok || magic != AcceptanceMagic || format != DeliveryFormat)
        return false;
    TStartAcceptance loaded;
    loaded.mPaired = paired;
    for (std::deque<std::uint64_t>* list : {&loaded.mFormer, &loaded.mForgotten}) {
        quint32 count = 0;
        in >> count;
        if (in.status() != QDataStream::Ok || count > quint32(MaxFormerSessions))
            return false;
        for (quint32 i = 0; i < count; ++i) {
            quint64 session = 0;
            in >> session;
            list->push_back(session);
        }
    }
    quint32 origins = 0;
    in >> origins;
    if (in.status() != QDataStream::Ok || origins > quint32(MaxOrigins))
        return false;
    for (quint32 i = 0; i < origins; ++i) {
        quint64 session = 0;
        quint32 contiguous = 0;
        quint64 lastUse = 0;
        quint32 above = 0;
        in >> session >> contiguous >> lastUse >> above;
        if (in.status() != QDataStream::Ok || above > quint32(MaxAboveContiguous) ||
            loaded.mOrigins.count(session) > 0)
            return false;
        AcceptedSet& set = loaded.mOrigins[session];
        set.contiguous = contiguous;
        set.lastUse = lastUse;
        loaded.mUseCounter = std::max<std::uint64_t>(loaded.mUseCounter, lastUse);
        for (quint32 j = 0; j < above; ++j) {
            quint32 sequence = 0;
            in >> sequence;
            if (sequence <= contiguous || sequence - contiguous > quint32(MaxAboveContiguous))
                return false;
            set.above.insert(sequence);
        }
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    loaded.mCounters = mCounters;
    *this = std::move(loaded);
    return true;
}
