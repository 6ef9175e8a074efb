#pragma once

#include "errors.h"
#include "frontendfactory.h"
#include "numberingday.h"
#include "stationstate.h"
#include "stores.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace nx7 {

class Clock;
class PreviousInstance;
class Shell;

// The start-up window: runs the start-up sequence, holds the station's waiting-message
// settings and starts the day's numbering, which opens the kiosk screen modally.
class LaMain : public QWidget
{
    Q_OBJECT
public:
    LaMain(const Stores &stores, StationState &state, Shell &shell, PreviousInstance &instance,
           const Clock &clock, FrontEndFactory makeFrontEnd, QWidget *parent = nullptr);

    // Runs before the window is first shown; may end the program (second copy, or the
    // server-path form ended it). When the previous run was not ended by the operator on a
    // day whose numbering had started, the current numbering resumes once the event loop
    // runs, with nobody at the window.
    void Form_Load();
    // Each time the window becomes active: the unattended restart after the kiosk
    // screen asked for one. Always reached from the event loop, never from inside the
    // numbering start that showed the screen, so restarts never nest.
    void Form_Activate();
    // The button array: 0 "C&hiudi", 1 "C&onferma", 2 "&Memorizza scelte".
    void PB1_Click(int index);
    void LoadNumbering();
    void StartInitialNumbering();

    QPushButton *button(int index) const { return m_pb1.at(index); }
    QRadioButton *radioButton(int index) const { return m_radioButton1.at(index); }
    QCheckBox *attesaSiNo() const { return m_attesaSiNo; }
    QLineEdit *messaggioSecondi() const { return m_messaggioSecondi; }

signals:
    // The day's numbering (started at `dayStarted`) resumed without an operator.
    void numberingResumed(const QDateTime &dayStarted);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // Steps of the start-up sequence; false when the sequence stops.
    bool readServerPath();
    bool proveServerFolder();
    void showNumbering();
    void loadWaitSettings();
    Status readWaitSettings();
    void serverPathMissing();
    void saveWaitSettings();
    void showFrontEnd();
    void numberingStarted(bool initial);
    bool initialStartConfirmed();
    void resumeServing();
    void scheduleActivate();
    void endProgram();

    Stores m_stores;
    StationState &m_state;
    Shell &m_shell;
    PreviousInstance &m_instance;
    const Clock &m_clock;
    NumberingDay m_day;
    FrontEndFactory m_makeFrontEnd;
    bool m_starting = false; // a numbering start (and its kiosk screen) is running

    QGroupBox *m_groupBox1 = nullptr;
    QGroupBox *m_groupBox2 = nullptr;
    QCheckBox *m_attesaSiNo = nullptr;
    QLineEdit *m_messaggioSecondi = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_sharedNumbering = nullptr;
    std::array<QPushButton *, 3> m_pb1{};
    std::array<QRadioButton *, 2> m_radioButton1{};
    QLabel *m_label1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_image2 = nullptr;
};

} // namespace nx7
