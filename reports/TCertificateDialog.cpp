#include "TCertificateDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TCertificateDialog::TCertificateDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Urkunden"));
    auto* column = new QVBoxLayout(this);

    auto* who = new QGroupBox(QStringLiteral("Urkunden für"), this);
    auto* whoColumn = new QVBoxLayout(who);
    TopThree = new QRadioButton(QStringLiteral("Plätze 1–3"), who);
    AllPlaced = new QRadioButton(QStringLiteral("alle Platzierten"), who);
    TopThree->setChecked(true);
    whoColumn->addWidget(TopThree);
    whoColumn->addWidget(AllPlaced);
    column->addWidget(who);

    auto* paper = new QGroupBox(QStringLiteral("Ränder (für Vordrucke)"), this);
    auto* form = new QFormLayout(paper);
    const std::array<QString, 4> labels{QStringLiteral("Links:"), QStringLiteral("Oben:"),
                                        QStringLiteral("Rechts:"), QStringLiteral("Unten:")};
    for (size_t i = 0; i < Margins.size(); ++i) {
        Margins[i] = new QDoubleSpinBox(paper);
        Margins[i]->setRange(0, 60); // A4 keeps at least 90 mm by 177 mm for the text
        Margins[i]->setDecimals(0);
        Margins[i]->setSuffix(QStringLiteral(" mm"));
        form->addRow(labels[i], Margins[i]);
    }
    Frame = new QCheckBox(QStringLiteral("Rahmen drucken (auf weißem Papier)"), paper);
    form->addRow(Frame);
    column->addWidget(paper);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Weiter …"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    SetOptions({});
}

void TCertificateDialog::SetOptions(const CertificateOptions& options)
{
    (options.AllPlaced ? AllPlaced : TopThree)->setChecked(true);
    Margins[0]->setValue(options.MarginsMm.left());
    Margins[1]->setValue(options.MarginsMm.top());
    Margins[2]->setValue(options.MarginsMm.right());
    Margins[3]->setValue(options.MarginsMm.bottom());
    Frame->setChecked(options.Frame);
}

CertificateOptions TCertificateDialog::Options() const
{
    CertificateOptions options;
    options.AllPlaced = AllPlaced->isChecked();
    options.MarginsMm =
        QMarginsF(Margins[0]->value(), Margins[1]->value(), Margins[2]->value(), Margins[3]->value());
    options.Frame = Frame->isChecked();
    return options;
}
