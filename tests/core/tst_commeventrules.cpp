#include "CommEventRules.h"

#include <QtTest>

using namespace CommEventRules;

class TestCommEventRules : public QObject
{
    Q_OBJECT

private slots:
    void batchesFromEvent_data();
    void batchesFromEvent();
    void failedCompletions_data();
    void failedCompletions();
    void trimSystemText_data();
    void trimSystemText();
};

void TestCommEventRules::batchesFromEvent_data()
{
    QTest::addColumn<quint32>("before");
    QTest::addColumn<quint32>("occurred");
    QTest::addColumn<quint32>("after");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<QString>("expected"); // events/status per batch, hex

    const quint32 lines = EV_CTS | EV_DSR | EV_RLSD;
    QTest::newRow("one line") << 0u << quint32(EV_CTS) << 0x10u << lines << "8/10";
    QTest::newRow("two lines at once") << 0u << quint32(EV_CTS | EV_RLSD) << 0x90u << lines << "28/90";
    QTest::newRow("pulse: event, line as before") << 0u << quint32(EV_DSR) << 0u << lines << "10/20 10/0";
    QTest::newRow("change without its event") << 0u << 0u << 0x80u << lines << "20/80";
    QTest::newRow("two lines, one pulsed")
        << 0u << quint32(EV_CTS | EV_DSR) << 0x10u << lines << "10/20 18/10";
    QTest::newRow("only outside the mask") << 0u << quint32(EV_RXCHAR | EV_ERR) << 0u << lines << "";
    QTest::newRow("inside and outside") << 0u << quint32(EV_RXCHAR | EV_CTS) << 0x10u << lines << "8/10";
    QTest::newRow("line outside the mask") << 0u << quint32(EV_CTS) << 0x10u << quint32(EV_DSR) << "";
    QTest::newRow("ring pulse") << 0u << quint32(EV_RING) << 0u << quint32(EV_RING) << "100/0";
    QTest::newRow("error rides with the last batch")
        << 0u << quint32(EV_ERR | EV_CTS) << 0x10u << quint32(EV_ERR | lines) << "88/10";
    QTest::newRow("error alone") << 0x20u << quint32(EV_ERR) << 0x20u << quint32(EV_ERR) << "80/20";
    QTest::newRow("nothing") << 0x20u << 0u << 0x20u << lines << "";
}

void TestCommEventRules::batchesFromEvent()
{
    QFETCH(quint32, before);
    QFETCH(quint32, occurred);
    QFETCH(quint32, after);
    QFETCH(quint32, mask);
    QFETCH(QString, expected);

    QStringList seen;
    for (const SerialEventBatch& batch : BatchesFromEvent(before, occurred, mask, after, 0xFFFFFFF0u)) {
        seen << QString("%1/%2").arg(batch.events, 0, 16).arg(batch.modemStatus, 0, 16);
        QCOMPARE(batch.tick, std::optional<std::uint32_t>(0xFFFFFFF0u));
    }
    QCOMPARE(seen.join(' '), expected);
}

void TestCommEventRules::failedCompletions_data()
{
    // Each character is one completion: 'f' failed with the device answering,
    // 'x' failed with the device silent, 's' succeeded. lostAt is the index of
    // the completion that gives the device up, or -1.
    QTest::addColumn<QString>("completions");
    QTest::addColumn<int>("lostAt");

    QTest::newRow("three failures are retried") << "fff" << -1;
    QTest::newRow("the fourth in a row gives up") << "ffff" << 3;
    QTest::newRow("a success starts the count anew") << "fffsfff" << -1;
    QTest::newRow("a silent device is lost at once") << "x" << 0;
    QTest::newRow("silent after retries") << "ffx" << 2;
}

void TestCommEventRules::failedCompletions()
{
    QFETCH(QString, completions);
    QFETCH(int, lostAt);

    FailedCompletions counter;
    int lost = -1;
    for (int i = 0; i < completions.size() && lost < 0; ++i) {
        const QChar c = completions.at(i);
        if (c == u's')
            counter.Succeeded();
        else if (counter.Fail(c == u'f'))
            lost = i;
    }
    QCOMPARE(lost, lostAt);
}

void TestCommEventRules::trimSystemText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("line break") << "Zugriff verweigert.\r\n"
                                << "Zugriff verweigert.";
    QTest::newRow("blanks and breaks") << "Das System kann die Datei nicht finden. \r\n "
                                       << "Das System kann die Datei nicht finden.";
    QTest::newRow("inner breaks kept") << "a\r\nb"
                                       << "a\r\nb";
    QTest::newRow("only breaks") << "\r\n"
                                 << "";
}

void TestCommEventRules::trimSystemText()
{
    QFETCH(QString, raw);
    QFETCH(QString, trimmed);
    QCOMPARE(QString::fromStdString(TrimSystemText(raw.toStdString())), trimmed);
}

QTEST_APPLESS_MAIN(TestCommEventRules)
#include "tst_commeventrules.moc"
