#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QLineEdit;

// "Starter nachmelden": number, name, first name, club and class of a starter
// who registers on race day. OK keeps the dialog open while the entry is
// refused (Check names why), so nothing typed is lost.
class TLateEntryDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TLateEntryDialog(QWidget* parent = nullptr);

    // The proposed start number and the classes the list already has.
    void Offer(const QString& number, const QStringList& classes);
    // The entry as protocol cells (number, name, first name, club, class).
    QStringList Cells() const;
    // An empty text accepts the entry; any other is shown and keeps the dialog open.
    std::function<QString(const QStringList& cells)> Check;

    QLineEdit* editNr = nullptr;
    QLineEdit* editName = nullptr;
    QLineEdit* editVorname = nullptr;
    QLineEdit* editVerein = nullptr;
    QComboBox* cbKlasse = nullptr;

    void accept() override;
};
