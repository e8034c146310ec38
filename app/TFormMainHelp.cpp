#include "TFormMain.h"

#include "HelpWindow.h"
#include "Maker.h"
#include "TClickLabel.h"
#include "TFormInfo.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QToolButton>

// Help, the information dialog and the maker's logo.

void TFormMain::ConnectHelpCommands()
{
    // Alt+H belongs to the menu item Hilfe1; the button's own mnemonic would make
    // the key ambiguous, and Qt then runs neither.
    bHelp->setShortcut(QKeySequence());
    connect(bHelp, &QToolButton::clicked, this, &TFormMain::bHelpClick);
    connect(mHilfe, &QAction::triggered, this, &TFormMain::bHelpClick);
    connect(Hilfe1, &QAction::triggered, this, &TFormMain::bHelpClick);
    connect(bInfo, &QToolButton::clicked, this, &TFormMain::bInfoClick);
    connect(mInfo, &QAction::triggered, this, &TFormMain::bInfoClick);
    for (TClickLabel* label : {Label8, Label9, Label10})
        connect(label, &TClickLabel::clicked, this, &TFormMain::Label8Click);
}

QWidget* TFormMain::CreateLogo(QWidget* parent)
{
    auto* logo = new QWidget(parent);
    auto* row = new QHBoxLayout(logo);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const QColor colors[3] = {QColor(128, 0, 0), QColor(255, 0, 0), QColor(0, 0, 128)};
    TClickLabel** labels[3] = {&Label8, &Label9, &Label10};
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(22);
    font.setBold(true);
    font.setItalic(true);
    for (int i = 0; i < 3; ++i) {
        auto* label = new TClickLabel(QString::fromUtf8(Maker::LogoPieces[i]), logo);
        label->setFont(font);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, colors[i]);
        label->setPalette(palette);
        label->setCursor(Qt::PointingHandCursor);
        label->setToolTip(QString::fromUtf8(Maker::WebAddress));
        row->addWidget(label);
        *labels[i] = label;
    }
    return logo;
}

void TFormMain::bHelpClick()
{
    m_help->ShowContents();
}

void TFormMain::bInfoClick()
{
    CreateFormInfo();
    FormInfo->ShowModal();
}

void TFormMain::Label8Click()
{
    OpenUrl(QUrl(QString::fromUtf8(Maker::WebAddress)));
}

bool TFormMain::OpenUrl(const QUrl& url)
{
    return m_access.OpenUrl ? m_access.OpenUrl(url) : QDesktopServices::openUrl(url);
}
