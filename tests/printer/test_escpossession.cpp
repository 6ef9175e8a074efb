// The ESC/POS session over a scripted link in memory: what the printer answers (or does not)
// to each status question, before a ticket and after its cut, without sockets or waits.
#include "escpos.h"
#include "escposlink.h"
#include "escposprinter.h"

#include <QPainter>
#include <QTest>

#include <memory>

using namespace nx7;

namespace {

constexpr char kClosed[] = "closed"; // a step that ends the connection instead of answering

// The other end of every link the session opens, one step a status question.
struct Line
{
    QList<QByteArray> steps; // the reply to each question: bytes, none (silence) or kClosed
    QByteArray pending;      // sent unasked, waiting to be read
    bool flooding = false;
    bool refuses = false;
    int breaksAfter = -1; // ticket bytes taken before the connection breaks
    int lineDelayMs = 0;
    int opens = 0;
    QByteArray ticket;       // every byte that was not a question
    QList<int> readTimeouts; // of each read that found nothing to read
};

class ScriptedLink final : public EscPosLink
{
public:
    explicit ScriptedLink(Line &line) : m_line(line) {}

    Status write(const QByteArray &bytes, int) override
    {
        if (m_closed)
            return Error::make(ErrorNumber::PrinterError, QStringLiteral("closed"));
        if (bytes.size() == 3 && bytes.startsWith("\x10\x04")) {
            const QByteArray step =
                m_line.steps.isEmpty() ? QByteArray() : m_line.steps.takeFirst();
            if (step == kClosed)
                m_closed = true;
            else
                m_line.pending += step;
            return {};
        }
        if (m_line.breaksAfter >= 0 && m_line.ticket.size() + bytes.size() > m_line.breaksAfter) {
            m_line.ticket += bytes.left(m_line.breaksAfter - m_line.ticket.size());
            m_closed = true;
            return Error::make(ErrorNumber::PrinterError, QStringLiteral("reset by peer"));
        }
        m_line.ticket += bytes;
        return {};
    }
    Drained drain() override
    {
        if (m_line.flooding)
            return Drained::Flooding;
        m_line.pending.clear();
        return m_closed ? Drained::Closed : Drained::Quiet;
    }
    std::optional<quint8> readByte(int timeoutMs, bool *closed) override
    {
        if (!m_line.pending.isEmpty()) {
            const quint8 byte = quint8(m_line.pending.front());
            m_line.pending.remove(0, 1);
            return byte;
        }
        if (m_closed)
            *closed = true;
        else
            m_line.readTimeouts.append(timeoutMs);
        return std::nullopt;
    }
    int lineDelayMs() const override { return m_line.lineDelayMs; }

private:
    Line &m_line;
    bool m_closed = false;
};

EscPosPrinter printerOn(Line &line)
{
    return EscPosPrinter(
        *EscPos::parseSettings(QStringLiteral("tcp://10.0.0.5:9100")),
        [&line](const EscPos::Settings &, int) -> Result<std::unique_ptr<EscPosLink>> {
            ++line.opens;
            if (line.refuses)
                return Error::make(ErrorNumber::PrinterError,
                                   QStringLiteral("connessione rifiutata"));
            return std::unique_ptr<EscPosLink>(std::make_unique<ScriptedLink>(line));
        });
}

const QByteArray kReady("\x12", 1);
const QByteArray kPaperEnd("\x72", 1); // DLE EOT 4: paper end
const QByteArray kNearEnd("\x1e", 1);  // DLE EOT 4: paper near end

using C = PrinterState::Condition;

} // namespace

Q_DECLARE_METATYPE(nx7::PrinterState::Condition)

class TestEscPosSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stateFromTheReplies_data();
    void stateFromTheReplies();
    void questionAfterTheCut_data();
    void questionAfterTheCut();
};

void TestEscPosSession::stateFromTheReplies_data()
{
    QTest::addColumn<QList<QByteArray>>("before"); // the replies to a question asked first
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QByteArray>("pending");
    QTest::addColumn<bool>("flooding");
    QTest::addColumn<C>("condition");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<int>("opens");
    const QList<QByteArray> ready{kReady, kReady, kReady, kReady};
    const QList<QByteArray> fresh;
    QTest::newRow("ready") << fresh << ready << QByteArray() << false << C::Ready << "" << 1;
    QTest::newRow("paper near end") << fresh << QList<QByteArray>{kReady, kReady, kReady, kNearEnd}
                                    << QByteArray() << false << C::PaperNearEnd << "" << 1;
    // A late answer to an earlier question is thrown away, never taken for this one's.
    QTest::newRow("stale reply waiting")
        << fresh << ready << kPaperEnd << false << C::Ready << "" << 1;
    QTest::newRow("extra reply last time")
        << QList<QByteArray>{kReady, kReady, kReady, kReady + kPaperEnd} << ready << QByteArray()
        << false << C::Ready << "" << 1;
    QTest::newRow("missing reply") << fresh << QList<QByteArray>{kReady, kReady, ""} << QByteArray()
                                   << false << C::Unreachable << "DLE EOT 3" << 1;
    QTest::newRow("not a status reply")
        << fresh << QList<QByteArray>{"\xff", kReady, kReady, kReady} << QByteArray() << false
        << C::Failed << "non valida" << 1;
    // A kept connection that died with the printer's restart: asked again on a fresh one.
    QTest::newRow("kept link closed") << ready << QList<QByteArray>{kClosed} + ready << QByteArray()
                                      << false << C::Ready << "" << 2;
    QTest::newRow("kept link silent, fresh one too")
        << ready << QList<QByteArray>{"", ""} << QByteArray() << false << C::Unreachable
        << "nessuna risposta" << 2;
    QTest::newRow("fresh link silent: no second try")
        << fresh << QList<QByteArray>{"", ""} << QByteArray() << false << C::Unreachable
        << "nessuna risposta" << 1;
    QTest::newRow("flooding") << ready << QList<QByteArray>() << QByteArray() << true << C::Failed
                              << "senza sosta" << 1;
}

void TestEscPosSession::stateFromTheReplies()
{
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QByteArray, pending);
    QFETCH(bool, flooding);
    QFETCH(C, condition);
    QFETCH(QString, detail);
    QFETCH(int, opens);
    Line line;
    EscPosPrinter printer = printerOn(line);
    if (!before.isEmpty()) {
        line.steps = before;
        QCOMPARE(printer.state().condition, C::Ready);
    }
    line.steps += steps;
    line.pending = pending;
    line.flooding = flooding;
    const PrinterState state = printer.state();
    QCOMPARE(state.condition, condition);
    QVERIFY2(state.detail.contains(detail), qPrintable(state.detail));
    QCOMPARE(line.opens, opens);
}

void TestEscPosSession::questionAfterTheCut_data()
{
    QTest::addColumn<QList<QByteArray>>("steps"); // the replies after the cut
    QTest::addColumn<int>("breaksAfter");
    QTest::addColumn<QString>("error"); // empty: printed
    QTest::addColumn<C>("after");
    QTest::newRow("printed") << QList<QByteArray>{kReady, kReady, kReady, kReady} << -1 << ""
                             << C::Ready;
    QTest::newRow("paper ran out") << QList<QByteArray>{kReady, kReady, kReady, kPaperEnd} << -1
                                   << "dopo il taglio" << C::PaperOut;
    // Nothing proves the ticket was cut: never asked on a fresh connection, which would
    // answer "ready" after a restart that lost the ticket.
    QTest::newRow("silent after the cut")
        << QList<QByteArray>{""} << -1 << "muta" << C::Unreachable;
    QTest::newRow("closed after the cut")
        << QList<QByteArray>{kClosed} << -1 << "persa" << C::Unreachable;
    QTest::newRow("broke in mid-ticket")
        << QList<QByteArray>() << 4000 << "durante l'invio" << C::Ready;
}

void TestEscPosSession::questionAfterTheCut()
{
    QFETCH(QList<QByteArray>, steps);
    QFETCH(int, breaksAfter);
    QFETCH(QString, error);
    QFETCH(C, after);
    Line line;
    line.steps = steps;
    line.breaksAfter = breaksAfter;
    line.lineDelayMs = 700; // a serial line's buffers still carrying the ticket
    EscPosPrinter printer = printerOn(line);
    const Status printed =
        printer.print(QSizeF(72, 50), 1, QStringLiteral("Ticket"),
                      [](QPainter &p, int) { p.fillRect(0, 0, 576, 200, Qt::black); });
    QCOMPARE(printed.error().description.isEmpty(), error.isEmpty());
    QVERIFY2(printed.error().description.contains(error), qPrintable(printed.error().description));
    QCOMPARE(printer.stateAfterLastTicket().condition, after);
    QCOMPARE(line.opens, 1);
    if (breaksAfter >= 0) {
        QCOMPARE(printer.lastTicketBytes(), 0);
        QVERIFY(line.readTimeouts.isEmpty()); // nothing asked on a broken connection
        // The next question starts on a fresh connection.
        line.steps = {kReady, kReady, kReady, kReady};
        QCOMPARE(printer.state().condition, C::Ready);
        QCOMPARE(line.opens, 2);
        return;
    }
    const QByteArray &ticket = line.ticket;
    QVERIFY(ticket.startsWith(EscPos::initialize() + "\x1d\x76\x30"));
    QVERIFY(ticket.endsWith(EscPos::feedAndCut(EscPos::Cut::Partial)));
    QCOMPARE(printer.lastTicketBytes(), ticket.size());
    // Silent after the cut: waited for as long as the line may still carry the ticket.
    if (!line.readTimeouts.isEmpty())
        QCOMPARE(line.readTimeouts, QList<int>{EscPosPrinter::Timeouts().afterCutMs + 700});
}

QTEST_MAIN(TestEscPosSession)
#include "test_escpossession.moc"
