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

QJsonArray LiveLanesJson(const LiveSnapshot& snapshot)
{
    QJsonArray lanes;
    for (int lane = 0; lane < std::clamp(snapshot.laneCount, 1, 2); ++lane) {
        const LiveLane& view = snapshot.lanes[lane];
        QJsonObject shown{{QStringLiteral("bahn"), lane + 1},
                          {QStringLiteral("zustand"), StateName(view.state)},
                          {QStringLiteral("zeit"), view.time},
                          {QStringLiteral("starter"), view.starter},
                          {QStringLiteral("klasse"), view.className},
                          {QStringLiteral("unbestaetigt"), view.unconfirmed},
                          {QStringLiteral("platz"), view.place},
                          {QStringLiteral("abstand"), view.gap},
                          {QStringLiteral("nachLaeufen"), view.afterRuns}};
        if (view.state == LiveLane::State::Running && view.elapsedMs >= 0)
            shown.insert(QStringLiteral("laeuftMs"), view.elapsedMs);
        lanes.append(shown);
    }
    return lanes;
}

bool SamePlace(const AudiencePlace& a, const AudiencePlace& b)
{
    return a.place == b.place && a.afterRuns == b.afterRuns && a.total == b.total;
}

} // namespace

QByteArray ResultsJson(const LiveSnapshot& snapshot)
{
    QJsonArray rows;
    for (const QStringList& row : snapshot.rows)
        rows.append(QJsonArray::fromStringList(row));
    const QJsonArray lanes = LiveLanesJson(snapshot);
    QJsonArray unconfirmed;
    for (int row = 0; row < snapshot.unconfirmedRows.size(); ++row) {
        if (snapshot.unconfirmedRows.at(row))
            unconfirmed.append(row);
    }
    // The places the spectators see, by row: while a class's round is under
    // way among those with as many runs ("nachLaeufen"), otherwise the protocol's.
    QJsonArray places;
    QJsonArray afterRuns;
    QJsonArray totals;
    for (const AudiencePlace& place : snapshot.places) {
        places.append(place.place);
        afterRuns.append(place.afterRuns);
        totals.append(place.total);
    }
    const QJsonObject root{{QStringLiteral("veranstaltung"), snapshot.title},
                           {QStringLiteral("datum"), snapshot.date},
                           {QStringLiteral("probelaeufe"), snapshot.testRuns},
                           {QStringLiteral("spalten"), QJsonArray::fromStringList(snapshot.columns)},
                           {QStringLiteral("zeilen"), rows},
                           {QStringLiteral("bahnen"), lanes},
                           {QStringLiteral("unbestaetigt"), unconfirmed},
                           {QStringLiteral("plaetze"), places},
                           {QStringLiteral("nachLaeufen"), afterRuns},
                           {QStringLiteral("gesamt"), totals}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QByteArray ResultsJsonAged(const QByteArray& json, qint64 ageMs)
{
    // Only while a lane runs does the age matter; the object's closing brace is its last byte.
    if (!json.endsWith('}') || !json.contains("\"laeuftMs\":"))
        return json;
    return json.chopped(1) + ",\"alterMs\":" + QByteArray::number(std::max<qint64>(ageMs, 0)) + '}';
}

QByteArray ResultsJsonForHtml(const QByteArray& json)
{
    QByteArray safe;
    safe.reserve(json.size() + json.size() / 16);
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '<')
            safe += "\\u003c";
        else if (c == '>')
            safe += "\\u003e";
        else if (c == '&')
            safe += "\\u0026";
        else if (c == '\xE2' && i + 2 < json.size() && json.at(i + 1) == '\x80' &&
                 (json.at(i + 2) == '\xA8' || json.at(i + 2) == '\xA9')) {
            safe += json.at(i + 2) == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else
            safe += c;
    }
    return safe;
}

QByteArray ResultsJsonVersioned(const QByteArray& json, qint64 version)
{
    if (!json.endsWith('}'))
        return json;
    return json.chopped(1) + (json.size() > 2 ? ",\"version\":" : "\"version\":") +
           QByteArray::number(version) + '}';
}

QByteArray TResultsChanges::Next(const LiveSnapshot& snapshot, qint64 version)
{
    const qsizetype count = snapshot.rows.size();
    const bool sameFrame = haveBasis && snapshot.title == previous.title && snapshot.date == previous.date &&
                           snapshot.columns == previous.columns && snapshot.testRuns == previous.testRuns;
    if (!sameFrame || count < minRows) {
        haveBasis = count >= minRows;
        basis = version;
        previous = snapshot;
        touched = QList<bool>(count, false);
        touchedCount = 0;
        return {};
    }
    const qsizetype compared = std::max(count, previous.rows.size());
    if (touched.size() < compared)
        touched.resize(compared, false);
    for (qsizetype i = 0; i < compared; ++i) {
        if (touched.at(i))
            continue;
        const bool changed = i >= count || i >= previous.rows.size() ||
                             snapshot.rows.at(i) != previous.rows.at(i) ||
                             snapshot.unconfirmedRows.value(i) != previous.unconfirmedRows.value(i) ||
                             !SamePlace(snapshot.places.value(i), previous.places.value(i));
        if (changed) {
            touched[i] = true;
            ++touchedCount;
        }
    }
    previous = snapshot;
    // Past an eighth of the rows the whole results are hardly larger.
    if (qsizetype(touchedCount) * 8 > count) {
        basis = version;
        touched = QList<bool>(count, false);
        touchedCount = 0;
        return {};
    }
    QJsonArray changed;
    for (qsizetype i = 0; i < count; ++i) {
        if (!touched.at(i))
            continue;
        const AudiencePlace place = snapshot.places.value(i);
        changed.append(QJsonArray{int(i), QJsonArray::fromStringList(snapshot.rows.at(i)), place.place,
                                  place.afterRuns, place.total, snapshot.unconfirmedRows.value(i) ? 1 : 0});
    }
    const QJsonObject part{{QStringLiteral("version"), version},
                           {QStringLiteral("basis"), basis},
                           {QStringLiteral("anzahl"), int(count)},
                           {QStringLiteral("geaendert"), changed},
                           {QStringLiteral("bahnen"), LiveLanesJson(snapshot)}};
    return QJsonDocument(part).toJson(QJsonDocument::Compact);
}
