#pragma once

#include "ResultsPrint.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QDoubleSpinBox;
class QRadioButton;

// "Urkunden": for whom (places 1 to 3, or every placed starter) and where the
// text goes on the paper, so that pre-printed forms can be filled.
class TCertificateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TCertificateDialog(QWidget* parent = nullptr);

    void SetOptions(const CertificateOptions& options);
    CertificateOptions Options() const;

    QRadioButton* TopThree = nullptr;
    QRadioButton* AllPlaced = nullptr;
    std::array<QDoubleSpinBox*, 4> Margins{}; // left, top, right, bottom in mm
    QCheckBox* Frame = nullptr;
};
