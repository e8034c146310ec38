#include "CommEventRules.h"

#include <QtTest>

using namespace CommEventRules;

class TestCommEventRules : public QObject
{
    Q_OBJECT

private slots:
    void batchFromEvent_data();
    void batchFromEvent();
    void failedCompletions_data();
    void failedCompletions();
    void trimSystemText_data();
    void trimSystemText();
};

void TestCommEventRules::batchFromEvent_data()
{
    QTest::addColumn<quint32>("occurred");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<bool>("batched");
    QTest::addColumn<quint32>("events");

    const quint32 lines = EV_CTS | EV_DSR | EV_RLSD;
    QTest::newRow("one line") << quint32(EV_DSR) << lines << true << quint32(EV_DSR);
    QTest::newRow("two lines at once")
        << quint32(EV_CTS | EV_RLSD) << lines << true << quint32(EV_CTS | EV_RLSD);
    QTest::newRow("only outside the mask") << quint32(EV_RXCHAR | EV_ERR) << lines << false << quint32(0);
    QTest::newRow("inside and outside") << quint32(EV_RXCHAR | EV_CTS) << lines << true << quint32(EV_CTS);
    QTest::newRow("nothing") << quint32(0) << lines << false << quint32(0);
}

void TestCommEventRules::batchFromEvent()
{
    QFETCH(quint32, occurred);
    QFETCH(quint32, mask);
    QFETCH(bool, batched);
    QFETCH(quint32, events);

    const auto batch = BatchFromEvent(occurred, mask, MS_DSR_ON, 0xFFFFFFF0u);
    QCOMPARE(batch.has_value(), batched);
    if (!batch)
        return;
    QCOMPARE(batch->events, events);
    QCOMPARE(batch->modemStatus, quint32(MS_DSR_ON));
    QCOMPARE(batch->tick, std::optional<std::uint32_t>(0xFFFFFFF0u));
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
