#include "ResultsJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QString StateName(LiveLane::State state)
{
    switch (state) {
    case LiveLane::State::Running:
        return QStringLiteral("läuft");
    case LiveLane::State::Stopped:
        return QStringLiteral("gestoppt");
    case LiveLane::State::Idle:
        break;
    }
    return QStringLiteral("bereit");
}

} // namespace

QByteArray ResultsJson(const LiveSnapshot& snapshot)
{
    QJsonArray rows;
    for (const QStringList& row : snapshot.rows)
        rows.append(QJsonArray::fromStringList(row));
    QJsonArray lanes;
    for (int lane = 0; lane < std::clamp(snapshot.laneCount, 1, 2); ++lane) {
        const LiveLane& view = snapshot.lanes[lane];
        lanes.append(QJsonObject{{QStringLiteral("bahn"), lane + 1},
                                 {QStringLiteral("zustand"), StateName(view.state)},
                                 {QStringLiteral("zeit"), view.time},
                                 {QStringLiteral("starter"), view.starter},
                                 {QStringLiteral("klasse"), view.className},
                                 {QStringLiteral("unbestaetigt"), view.unconfirmed},
                                 {QStringLiteral("platz"), view.place},
                                 {QStringLiteral("abstand"), view.gap},
                                 {QStringLiteral("nachLaeufen"), view.afterRuns}});
    }
    QJsonArray unconfirmed;
    for (int row = 0; row < snapshot.unconfirmedRows.size(); ++row) {
        if (snapshot.unconfirmedRows.at(row))
            unconfirmed.append(row);
    }
    // The places the spectators see, by row: while a class's round is under
    // way among those with as many runs ("nachLaeufen"), otherwise the protocol's.
    QJsonArray places;
    QJsonArray afterRuns;
    for (const AudiencePlace& place : snapshot.places) {
        places.append(place.place);
        afterRuns.append(place.afterRuns);
    }
    const QJsonObject root{{QStringLiteral("veranstaltung"), snapshot.title},
                           {QStringLiteral("datum"), snapshot.date},
                           {QStringLiteral("probelaeufe"), snapshot.testRuns},
                           {QStringLiteral("spalten"), QJsonArray::fromStringList(snapshot.columns)},
                           {QStringLiteral("zeilen"), rows},
                           {QStringLiteral("bahnen"), lanes},
                           {QStringLiteral("unbestaetigt"), unconfirmed},
                           {QStringLiteral("plaetze"), places},
                           {QStringLiteral("nachLaeufen"), afterRuns}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}
