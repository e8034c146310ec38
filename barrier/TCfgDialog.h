#pragma once

#include "SerialPorts.h"
#include "TCfgControls.h"
#include "TSettings.h"

#include <QDialog>
#include <QPixmap>
#include <cstdint>
#include <functional>

class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QPushButton;

// The "Einstellungen" dialog: lane count, number of test runs, and the light
// barriers' port, contact edges and lock time. It writes nothing itself; the
// main window fills it (Fill), shows it modally and takes the result (ApplyTo).
class TCfgDialog : public QDialog
{
    Q_OBJECT

public:
    // portsFound: the port scan's result, bit n-1 for each present COMn, the
    // highest port number in the high 16 bits. The port list is built from it.
    explicit TCfgDialog(std::uint32_t portsFound, QWidget* parent = nullptr);

    // Builds the port list again from a new scan (before Fill).
    void SetPortsFound(std::uint32_t portsFound);
    // Where the notes about a port's adapter come from; they are shown under
    // the port list for the selected entry.
    void SetPortNotes(std::function<QStringList(int port)> notes);
    // What keeps this user from a port ("keine Berechtigung"), shown in its entry
    // and beside the lines; by default the system is asked. Takes effect with
    // the next SetPortsFound.
    void SetPortProblems(std::function<QString(int port)> problem);
    // What "Verbindung prüfen" does with the web host's folder, user and typed
    // password as they stand in the dialog; without it the button is hidden.
    void SetConnectionCheck(
        std::function<void(const QString& folder, const QString& user, const QString& password)> check);
    // What OK does first with the web host's folder, user and typed password: it may move a
    // password out of the folder's address into the password (the fields take both);
    // false keeps the dialog open with everything as it was typed.
    void
    SetOnlineAcceptCheck(std::function<bool(QString& folder, const QString& user, QString& password)> check);

    // Fills the controls from the settings before the dialog is shown: the port
    // entry of settings.Port (none selected if that port was not found, "Kein"
    // for 0), the three edge lists, the lock time in whole seconds, the test runs
    // and runs. Remembers the selected port entry and the lane count.
    void Fill(const TStoredSettings& settings);

    // Takes the confirmed choices into settings: test runs, runs, lock time in
    // milliseconds, lane count and port (0 for "Kein"). The edge choices are
    // taken only with a port selected; with "Kein" they keep their values.
    void ApplyTo(TStoredSettings& settings) const;
    // The web host's password typed in this time; empty = keep the one in the keyring.
    // It never goes into the settings.
    QString OnlinePasswordEntered() const;

    // Whether the selected port entry differs from the one Fill selected; the
    // port is closed and reopened only then.
    bool PortEntryChanged() const { return cbPort->currentIndex() != m_RememberedPortIndex; }

    // The index of the entry "COM<port>", -1 if there is none; 0 ("Kein") for port 0.
    int PortEntryIndex(int port) const;
    // The port number of an entry's text: up to three characters from the fourth
    // on of its first word ("COM12  (/dev/ttyUSB7)" gives 12); 0 if none.
    static int PortNumberOfEntry(const QString& entryText);
    static QString PortEntryText(int port);

    // Where an edge list item's picture and text go within the item rectangle.
    static QPoint ContactPictureOrigin(const QRect& itemRect) { return itemRect.topLeft() + QPoint(20, 0); }
    static QPoint ItemTextOrigin(const QRect& itemRect) { return itemRect.topLeft() + QPoint(1, 1); }
    static constexpr QSize ContactPictureSize{41, 16};
    // A switch contact: closed, two red dots joined by a red line; open, grey
    // with the blade lifted.
    static QPixmap ContactPicture(bool closed);

    void FormShow();
    void cbPortChange();
    void rgBahnClick();
    void cbAlg1DrawItem(TCfgContactList* list, QPainter* painter, int index, const QRect& rect, bool selected,
                        bool disabled);

    TCfgRadioGroup* rgBahn = nullptr;
    QLabel* LabelLaufProbe = nullptr;
    TCfgSpinEdit* seProbe = nullptr;
    QLabel* LabelLaufALL = nullptr;
    TCfgSpinEdit* seALL = nullptr;
    QGroupBox* gbLS = nullptr;
    QLabel* Label19 = nullptr;
    QComboBox* cbPort = nullptr;
    QLabel* LabelPortNote = nullptr;
    QLabel* LabelAlgo = nullptr;
    QLabel* Label1 = nullptr;
    TCfgContactList* cbAlg1 = nullptr;
    QLabel* Label3 = nullptr;
    TCfgContactList* cbAlg2 = nullptr;
    QLabel* LabelStop2 = nullptr;
    TCfgContactList* cbAlg3 = nullptr;
    QLabel* Label2 = nullptr;
    TCfgSpinEdit* seTimeout = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* LabelMindestzeit = nullptr;
    // In seconds with hundredths; 0 shows "aus".
    QDoubleSpinBox* seMindestzeit = nullptr;
    QGroupBox* gbLive = nullptr;
    QLabel* LabelTitle = nullptr;
    QLineEdit* edVeranstaltung = nullptr;
    QLabel* LabelLivePort = nullptr;
    QSpinBox* seLivePort = nullptr;
    QLabel* LabelOnlineZiel = nullptr;
    QLineEdit* edOnlineZiel = nullptr;
    QLabel* LabelOnlineBenutzer = nullptr;
    QLineEdit* edOnlineBenutzer = nullptr;
    QLabel* LabelOnlinePasswort = nullptr;
    QLineEdit* edOnlinePasswort = nullptr;
    QPushButton* btnOnlineCheck = nullptr;
    // The start station: the finish's port and pairing code (shown as a QR code
    // too), the station's address of the finish; a German note when unsound.
    QGroupBox* gbStartplatz = nullptr;
    QLabel* LabelStartplatzPort = nullptr;
    QSpinBox* seStartplatzPort = nullptr;
    QLabel* LabelStartplatzSchluessel = nullptr;
    QLineEdit* edStartplatzSchluessel = nullptr;
    QPushButton* btnNeuerSchluessel = nullptr;
    QLabel* LabelZielAdresse = nullptr;
    QLineEdit* edZielAdresse = nullptr;
    QLabel* ImageStartplatzCode = nullptr;
    QLabel* LabelStartplatzFehler = nullptr;
    static constexpr int StartplatzCodeImageSize = 96;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

    // OK: refused, with the reason beside the fields, while the start station's
    // pairing code or the finish's address is unsound, or the online check refuses.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void FormCreate(std::uint32_t portsFound);
    bool PortChosen() const { return cbPort->currentIndex() > 0; }

    void ShowPortNotes();
    void ShowPairingCode();
    // The reason the start station's fields can't be taken, or empty.
    QString StartplatzProblem() const;
    void EnableBarrierControls();

    std::function<QStringList(int port)> m_PortNotes;
    std::function<QString(int port)> m_PortProblem = PortAccessProblem;
    std::function<void(const QString&, const QString&, const QString&)> m_ConnectionCheck;
    std::function<bool(QString&, const QString&, QString&)> m_OnlineAcceptCheck;
    int m_CountBahn = 2;
    int m_RememberedPortIndex = 0;
};
