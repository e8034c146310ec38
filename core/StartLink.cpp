#include "StartLink.h"

#include <algorithm>
#include <cstdint>

void TStationLink::Edge(qint64 stationUs, qint64 nowUs)
{
    mOutbox.Add(stationUs, mAgreement, nowUs);
}

QList<QByteArray> TStationLink::Poll(qint64 nowUs)
{
    QList<QByteArray> out;
    if (nowUs >= mNextProbeUs) {
        StartLinkDatagram probe;
        probe.type = StartLinkType::ClockProbe;
        probe.session = mOutbox.Session();
        probe.sequence = ++mProbeSequence;
        probe.t1 = nowUs;
        probe.uncertaintyUs = std::uint32_t(std::min<qint64>(mAgreement.UncertaintyUs(nowUs), UINT32_MAX));
        probe.clockGood = mAgreement.IsGood(nowUs);
        out.append(EncodeStartLink(probe, mKey));
        mNextProbeUs = nowUs + ProbePeriodUs;
    }
    if (mArmUntilUs != 0 && nowUs > mArmUntilUs)
        mArmUntilUs = 0;
    if (mArmUntilUs != 0 && nowUs >= mNextArmUs) {
        StartLinkDatagram arm;
        arm.type = StartLinkType::ArmRequest;
        arm.session = mOutbox.Session();
        arm.sequence = mArmSequence;
        arm.startArmed = mArmWanted;
        out.append(EncodeStartLink(arm, mKey));
        mNextArmUs = nowUs + ArmRetryUs;
    }
    mOutbox.Reconvert(mAgreement);
    for (const StartLinkDatagram& start : mOutbox.Due(nowUs))
        out.append(EncodeStartLink(start, mKey));
    return out;
}

void TStationLink::Receive(const QByteArray& bytes, qint64 receivedUs)
{
    const StartLinkDecoded decoded = DecodeStartLink(bytes, mKey);
    if (decoded.reject == StartLinkReject::BadMac) {
        ++mCounters.foreign;
        return;
    }
    if (decoded.reject != StartLinkReject::None) {
        ++mCounters.malformed;
        return;
    }
    const StartLinkDatagram& d = decoded.datagram;
    if (d.type == StartLinkType::Acknowledge) {
        // Names the start itself, also one of an earlier session this station carries on.
        mOutbox.Acknowledge(d.originSession, d.originSequence);
        return;
    }
    if (d.type != StartLinkType::ProbeReply && d.type != StartLinkType::FinishStatus) {
        ++mCounters.malformed;
        return;
    }
    // Answers meant for an earlier session of this station (or another station) are of no use.
    if (d.originSession != mOutbox.Session()) {
        ++mCounters.stale;
        return;
    }
    if (d.type == StartLinkType::FinishStatus) {
        // A status overtaken on the air, or replayed, would show the track as it was.
        if (mStatus && d.session == mStatus->session && d.sequence <= mStatus->sequence) {
            ++mCounters.stale;
            return;
        }
        mStatus = d;
        mStatusUs = receivedUs;
        if (d.startArmed == mArmWanted)
            mArmUntilUs = 0;
    } else if (!mAgreement.Add({d.t1, d.t2, d.t3, receivedUs}))
        ++mCounters.malformed;
}

void TStationLink::RequestArm(bool armed, qint64 nowUs)
{
    mArmWanted = armed;
    ++mArmSequence;
    mArmUntilUs = nowUs + ArmRequestLifeUs;
    mNextArmUs = nowUs;
}

TFinishLink::Received TFinishLink::Receive(const QByteArray& bytes, qint64 receivedUs)
{
    Received result;
    const StartLinkDecoded decoded = DecodeStartLink(bytes, mKey);
    if (decoded.reject == StartLinkReject::BadMac)
        mAcceptance.NoteForeign();
    if (decoded.reject != StartLinkReject::None) {
        if (decoded.reject != StartLinkReject::BadMac)
            mAcceptance.NoteMalformed();
        return result;
    }
    const StartLinkDatagram& d = decoded.datagram;
    if (d.type != StartLinkType::ClockProbe && d.type != StartLinkType::Start &&
        d.type != StartLinkType::ArmRequest) {
        mAcceptance.NoteMalformed();
        return result;
    }
    if (!mAcceptance.Hear(d.session, receivedUs))
        return result;
    StartLinkDatagram reply;
    reply.session = mSession;
    reply.sequence = ++mSent;
    reply.originSession = d.session;
    if (d.type == StartLinkType::ClockProbe) {
        mPairedClock = StationClock{d.uncertaintyUs, d.clockGood};
        reply.type = StartLinkType::ProbeReply;
        reply.t1 = d.t1;
        reply.t2 = receivedUs;
        // Stamped as it is built; the moment it leaves is part of the way back.
        reply.t3 = receivedUs;
        result.replies.append(EncodeStartLink(reply, mKey));
        return result;
    }
    if (d.type == StartLinkType::ArmRequest) {
        // Each request once, in order: an older one arriving late is no longer the crew's wish.
        if (d.session != mArmSession) {
            mArmSession = d.session;
            mArmSequence = 0;
        }
        if (d.sequence > mArmSequence) {
            mArmSequence = d.sequence;
            result.arm = d.startArmed;
        }
        return result;
    }
    result.verdict = mAcceptance.Offer(d);
    if (*result.verdict == StartVerdict::Accepted)
        result.start = d;
    if (*result.verdict == StartVerdict::Accepted || *result.verdict == StartVerdict::Duplicate) {
        reply.type = StartLinkType::Acknowledge;
        reply.originSession = d.originSession;
        reply.originSequence = d.originSequence;
        result.replies.append(EncodeStartLink(reply, mKey));
    }
    return result;
}

QByteArray TFinishLink::Status(FinishRunState state, const QString& lane1, const QString& lane2,
                               qint64 uncertaintyUs, bool clockGood, bool startArmed)
{
    StartLinkDatagram status;
    status.type = StartLinkType::FinishStatus;
    status.session = mSession;
    status.sequence = ++mSent;
    status.originSession = mAcceptance.PairedSession();
    status.runState = state;
    status.lane1 = lane1;
    status.lane2 = lane2;
    status.uncertaintyUs = std::uint32_t(std::clamp<qint64>(uncertaintyUs, 0, UINT32_MAX));
    status.clockGood = clockGood;
    status.startArmed = startArmed;
    return EncodeStartLink(status, mKey);
}
