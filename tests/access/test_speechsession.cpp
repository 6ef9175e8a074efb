// The keypad customer's speech session with its engine replaced by a recorder.
#include "fakespeechengine.h"
#include "speechsession.h"

#include <QTest>

using namespace nx7;

namespace {

const QStringList kServices{"Anagrafe ", "Tributi ", "Stato civile "};

struct Run
{
    QStringList spoken; // everything said, in order
    QList<int> taken;   // slots the keys asked a ticket for
    QStringList calls;
};

// Steps "action@ms": next, prev, take, help, up, down, contrast (with "held:" before it, the
// keyboard's repeat of a held key; "@ms#sent" for a key the keyboard sent at `sent`), touch, slotN
// (a touch on slot N), ticket, tick, notice:TEXT, oos:REASON (oos: alone, back in service),
// release:KEY.
Run play(SpeechSession &session, test::FakeSpeechEngine &engine, const QStringList &steps)
{
    static const QHash<QString, AccessKey> keys{
        {"next", AccessKey::Next},        {"prev", AccessKey::Previous},
        {"take", AccessKey::Take},        {"help", AccessKey::Help},
        {"up", AccessKey::VolumeUp},      {"down", AccessKey::VolumeDown},
        {"contrast", AccessKey::Contrast}};
    Run run;
    for (const QString &step : steps) {
        const QString action = step.section(u'@', 0, 0);
        const qint64 at = step.section(u'@', 1).section(u'#', 0, 0).toLongLong();
        const qint64 sent = step.section(u'#', 1).toLongLong();
        const bool held = action.startsWith("held:");
        if (keys.contains(action.mid(held ? 5 : 0))) {
            if (int slot = session.key(keys.value(action.mid(held ? 5 : 0)), at, {held, sent}))
                run.taken.append(slot);
        } else if (action.startsWith("release:")) {
            session.keyReleased(keys.value(action.mid(8)), sent);
        } else if (action.startsWith("slot")) {
            if (int slot = session.touchSlot(action.mid(4).toInt(), at))
                run.taken.append(slot);
        } else if (action == "touch") {
            session.touch(at);
        } else if (action == "ticket") {
            session.ticketIssued(107, "Tributi ", 3, at);
        } else if (action == "tick") {
            session.tick(at);
        } else if (action.startsWith("notice:")) {
            session.notice(action.mid(7), at);
        } else if (action.startsWith("oos:")) {
            session.setOutOfService(action.mid(4), at);
        }
    }
    run.spoken = engine.spoken;
    run.calls = engine.calls;
    return run;
}

} // namespace

class TestSpeechSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keysAndWhatIsSaid_data();
    void keysAndWhatIsSaid();
    void voiceOffStillTakesTickets();
};

void TestSpeechSession::keysAndWhatIsSaid_data()
{
    QTest::addColumn<QStringList>("steps");
    // Each expected utterance is matched by its beginning; "-" ends the list of checks.
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<QList<int>>("taken");
    QTest::addColumn<QString>("state"); // "active focus volume contrast"
    QTest::addColumn<int>("repeatDelayMs");

    const QString welcome = "Benvenuto. Per scegliere";
    QTest::newRow("first key welcomes with the count and issues nothing")
        << QStringList{"take@0"} << QStringList{welcome} << QList<int>{} << "1 0 6 0" << 0;
    QTest::addRow("moves go round in slot order, previous from none is the last")
        << QStringList{"prev@0", "prev@10", "next@100", "next@200", "prev@300"}
        << QStringList{welcome, "Stato civile, servizio 3 di 3", "Anagrafe, servizio 1 di 3",
                       "Tributi, servizio 2 di 3", "Anagrafe, servizio 1 di 3"}
        << QList<int>{} << "1 1 6 0" << 0;
    QTest::addRow("take without a selection explains and issues nothing")
        << QStringList{"next@0", "take@10"} << QStringList{welcome, "Nessun servizio scelto."}
        << QList<int>{} << "1 0 6 0" << 0;
    QTest::addRow("take issues the selected slot, then the ticket is spoken")
        << QStringList{"next@0", "next@10", "next@20", "take@30", "ticket@40"}
        << QStringList{welcome, "Anagrafe", "Tributi",
                       "Il suo numero è 107, servizio Tributi. 3 persone prima di lei. Ritiri "
                       "il biglietto dalla fessura sotto lo schermo."}
        << QList<int>{2} << "1 2 6 0" << 0;
    const QString help = "Volume 6 di 8. Contrasto elevato non attivo. " +
                         SpeechSession::instructions() + " Anagrafe, servizio 1 di 3";
    QTest::addRow("help says the states, the instructions and the last words")
        << QStringList{"next@0", "next@10", "help@20", "help@30"}
        << QStringList{welcome, "Anagrafe, servizio 1 di 3", help, help} << QList<int>{}
        << "1 1 6 0" << 0;
    QTest::addRow("volume stops at the ends, contrast toggles, each said")
        << QStringList{"up@0",    "up@10",       "up@20",       "up@30",
                       "down@40", "contrast@50", "contrast@60", "contrast@70"}
        << QStringList{welcome,
                       "Volume 7 di 8",
                       "Volume massimo",
                       "Volume massimo",
                       "Volume 7 di 8",
                       "Contrasto elevato attivato",
                       "Contrasto elevato disattivato",
                       "Contrasto elevato attivato"}
        << QList<int>{} << "1 0 7 1" << 0;
    QTest::addRow("a touch-only customer hears nothing")
        << QStringList{"touch@0", "ticket@10", "notice:Server occupato@20", "oos:Carta esaurita@30",
                       "tick@60000"}
        << QStringList{} << QList<int>{} << "0 0 6 0" << 0;
    QTest::addRow("notices on one line; out of service refuses the ticket and says why")
        << QStringList{"next@0",  "notice:Ticket non stampato.\nRivolgersi allo sportello@5",
                       "next@10", "oos:Carta esaurita@20",
                       "take@30", "oos:@40"}
        << QStringList{welcome,
                       "Ticket non stampato. Rivolgersi allo sportello",
                       "Anagrafe",
                       "Servizio momentaneamente sospeso: Carta esaurita.",
                       "Servizio momentaneamente sospeso: Carta esaurita.",
                       "Il servizio è di nuovo disponibile."}
        << QList<int>{} << "1 1 6 0" << 0;
    QTest::addRow("welcome carries the banner of a kiosk already out of service")
        << QStringList{"oos:Stampante non raggiungibile@0", "next@10"}
        << QStringList{"Benvenuto. Per scegliere il servizio usi i tasti 8 e 2, oppure le frecce. "
                       "Per prendere il numero prema 5 oppure Invio. Asterisco ripete l'aiuto, "
                       "più e meno cambiano il volume, la barra attiva il contrasto elevato. "
                       "Servizi disponibili: 3. Servizio momentaneamente sospeso: Stampante non "
                       "raggiungibile."}
        << QList<int>{} << "1 0 6 0" << 0;
    QTest::addRow("30 s without a key ends the session with defaults restored")
        << QStringList{"next@0",        "next@1000",  "up@2000",
                       "contrast@3000", "tick@32999", "tick@33000"}
        << QStringList{welcome, "Anagrafe", "Volume 7 di 8", "Contrasto elevato attivato",
                       SpeechSession::endingWarning()}
        << QList<int>{} << "0 0 6 0" << 0;
    QTest::addRow("a key or touch keeps the session going")
        << QStringList{"next@0", "touch@29000", "tick@58999"}
        << QStringList{welcome, SpeechSession::endingWarning()} << QList<int>{} << "1 0 6 0" << 0;
    QTest::addRow("10 s after the ticket the session ends; the next key welcomes again")
        << QStringList{"next@0",    "next@10",    "up@20",      "take@30",
                       "ticket@40", "tick@10039", "tick@10040", "next@10050"}
        << QStringList{welcome, "Anagrafe", "Volume 7 di 8", "Il suo numero è 107", welcome}
        << QList<int>{1} << "1 0 6 0" << 0;

    const auto steps = [](const char *list) { return QString(list).split(u' '); };
    const QString prompt = ". Prema 5 per il numero, oppure tocchi di nuovo lo stesso pulsante";
    QTest::addRow("in a session a touch selects; the same button again within 5 s takes")
        << steps("slot1@0 next@10 slot2@1000 slot3@2000 slot3@3000 slot1@4000 slot1@9001 take@9100")
        << QStringList{welcome, "Tributi, servizio 2 di 3" + prompt,
                       "Stato civile, servizio 3 di 3" + prompt,
                       "Anagrafe, servizio 1 di 3" + prompt, "Anagrafe, servizio 1 di 3" + prompt}
        << QList<int>{3, 1} << "1 1 6 0" << 0;
    const QString warning = SpeechSession::endingWarning();
    QTest::addRow("the end is announced 10 s before; any key gives the full 30 s again")
        << steps("next@0 tick@19999 tick@20000 tick@21000 up@25000 tick@44999 tick@45000 "
                 "tick@54999 tick@55000")
        << QStringList{welcome, warning, "Volume 7 di 8", warning} << QList<int>{} << "0 0 6 0"
        << 0;
    const QString ticket = SpeechSession::ticketText(107, "Tributi", 3);
    const QString helped = ticket + " Volume 7 di 8. Contrasto elevato non attivo. " +
                           SpeechSession::instructions() + " Volume 7 di 8";
    QTest::addRow("ticket warns; a key after it keeps the session, help says it again")
        << steps("next@0 next@500 take@1000 ticket@1100 up@5000 tick@11100 help@12000 tick@41999 "
                 "tick@42000 help@42100")
        << QStringList{welcome, "Anagrafe", ticket + " " + warning, "Volume 7 di 8", helped,
                       warning, welcome}
        << QList<int>{1} << "1 0 6 0" << 0;
    QTest::addRow("a held key acts once, told by the toolkit or by a release sent with the press")
        << steps("held:up@0 next@0#1 next@600#600 release:next@1300#1300 next@1300#1300 "
                 "held:next@1340 take@2000 held:take@2040 release:take@2100#2100 take@2100#2100")
        << QStringList{welcome, "Anagrafe"} << QList<int>{1} << "1 1 6 0" << 0;
    QTest::addRow("the same key within the repeat delay is ignored, counted on when it was sent")
        << steps("next@0 next@100 next@600 prev@700 prev@1199 prev@1700 take@1800 take@2200 "
                 "next@3000#3000 next@3000#3600")
        << QStringList{welcome, "Anagrafe", "Stato civile", "Tributi", "Stato civile", "Anagrafe"}
        << QList<int>{2} << "1 1 6 0" << 500;
}

void TestSpeechSession::keysAndWhatIsSaid()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, said);
    QFETCH(QList<int>, taken);
    QFETCH(QString, state);
    QFETCH(int, repeatDelayMs);

    test::FakeSpeechEngine engine;
    SpeechSettings settings;
    settings.repeatDelayMs = repeatDelayMs;
    SpeechSession session(engine, settings);
    session.setServices(kServices);
    const Run run = play(session, engine, steps);

    QCOMPARE(run.spoken.size(), said.size());
    for (int i = 0; i < said.size(); ++i)
        QVERIFY2(run.spoken.at(i).startsWith(said.at(i)), qPrintable(run.spoken.at(i)));
    QCOMPARE(run.taken, taken);
    const QString seen = QStringLiteral("%1 %2 %3 %4")
                             .arg(int(session.active()))
                             .arg(session.focus())
                             .arg(session.volumeStep())
                             .arg(int(session.highContrast()));
    QCOMPARE(seen, state);
    // Every utterance cuts the one before it off: a stop comes before each "say".
    for (int i = 0; i < run.calls.size(); ++i) {
        if (run.calls.at(i).startsWith("say:") && i > 0)
            QVERIFY2(run.calls.at(i - 1) == "stop" || run.calls.at(i - 1) == "begin",
                     qPrintable(run.calls.join(u'|')));
    }
}

// Speech switched off: keys still select and take, nothing is said.
void TestSpeechSession::voiceOffStillTakesTickets()
{
    test::FakeSpeechEngine engine;
    SpeechSettings quiet;
    quiet.enabled = false;
    SpeechSession session(engine, quiet);
    session.setServices(kServices);
    QCOMPARE(session.key(AccessKey::Next, 0), 0);
    session.key(AccessKey::Next, 1000);
    QCOMPARE(session.key(AccessKey::Take, 2000), 1);
    QVERIFY(engine.spoken.isEmpty());
}

QTEST_GUILESS_MAIN(TestSpeechSession)
#include "test_speechsession.moc"
