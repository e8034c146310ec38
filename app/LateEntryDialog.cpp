#include "LateEntryDialog.h"

#include "Dialogs.h"
#include "ProtocolLogic.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

TLateEntryDialog::TLateEntryDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Starter nachmelden"));
    auto* form = new QFormLayout(this);
    editNr = new QLineEdit(this);
    editName = new QLineEdit(this);
    editVorname = new QLineEdit(this);
    editVerein = new QLineEdit(this);
    cbKlasse = new QComboBox(this);
    cbKlasse->setEditable(true);
    cbKlasse->setInsertPolicy(QComboBox::NoInsert);
    for (QLineEdit* edit : {editNr, editName, editVorname, editVerein})
        edit->setMaxLength(1000);
    cbKlasse->lineEdit()->setMaxLength(1000);
    form->addRow(QStringLiteral("&Nr.:"), editNr);
    form->addRow(QStringLiteral("N&ame:"), editName);
    form->addRow(QStringLiteral("&Vorname:"), editVorname);
    form->addRow(QStringLiteral("V&erein:"), editVerein);
    form->addRow(QStringLiteral("&Klasse:"), cbKlasse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Nachmelden"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TLateEntryDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TLateEntryDialog::reject);
    setMinimumWidth(360);
}

void TLateEntryDialog::Offer(const QString& number, const QStringList& classes)
{
    editNr->setText(number);
    cbKlasse->clear();
    cbKlasse->addItems(classes);
    cbKlasse->setCurrentIndex(-1);
    cbKlasse->setEditText(QString());
    editName->setFocus();
}

QStringList TLateEntryDialog::Cells() const
{
    QStringList cells(ProtocolColumnCount);
    cells[ColNr] = editNr->text().trimmed();
    cells[ColName] = editName->text().trimmed();
    cells[ColVorname] = editVorname->text().trimmed();
    cells[ColVerein] = editVerein->text().trimmed();
    cells[ColKlasse] = cbKlasse->currentText().trimmed();
    return cells;
}

void TLateEntryDialog::accept()
{
    const QString refused = Check ? Check(Cells()) : QString();
    if (!refused.isEmpty()) {
        Dialogs().ShowError(this, refused);
        return;
    }
    QDialog::accept();
}
