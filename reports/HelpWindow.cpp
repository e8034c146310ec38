#include "HelpWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kContentsFile = QStringLiteral("index.html");

QString ReadManualFile(const QString& file)
{
    QFile page(QStringLiteral(":/manual/") + file);
    return page.open(QIODevice::ReadOnly) ? QString::fromUtf8(page.readAll()) : QString();
}

QToolButton* NavigationButton(QWidget* parent, const QString& caption, QStyle::StandardPixmap icon)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

QUrl ManualContentsUrl()
{
    return QUrl(QStringLiteral("qrc:/manual/") + kContentsFile);
}

QList<THelpPage> ManualContents(const QString& contentsHtml)
{
    static const QRegularExpression link(
        QStringLiteral(R"re(<li>\s*<a\s+href="([^"#:]+\.html)"\s*>([^<]+)</a>)re"),
        QRegularExpression::CaseInsensitiveOption);
    QList<THelpPage> pages{{kContentsFile, QStringLiteral("Inhalt")}};
    for (auto it = link.globalMatch(contentsHtml); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        pages.append({match.captured(1), match.captured(2).simplified()});
    }
    return pages;
}

QList<THelpPage> ManualContents()
{
    const QString html = ReadManualFile(kContentsFile);
    return html.isEmpty() ? QList<THelpPage>{} : ManualContents(html);
}

// ---------------------------------------------------------------------------

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_pages(ManualContents())
{
    setWindowTitle(QStringLiteral("Quellorix – Hilfe"));
    // The help never keeps the program alive once the main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(900, 640);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    auto* buttons = new QHBoxLayout;
    bContents = NavigationButton(this, QStringLiteral("Inhalt"), QStyle::SP_DirHomeIcon);
    bBack = NavigationButton(this, QStringLiteral("Zurück"), QStyle::SP_ArrowBack);
    bForward = NavigationButton(this, QStringLiteral("Vor"), QStyle::SP_ArrowForward);
    buttons->addWidget(bContents);
    buttons->addWidget(bBack);
    buttons->addWidget(bForward);
    buttons->addStretch(1);
    column->addLayout(buttons);

    auto* splitter = new QSplitter(this);
    Contents = new QListWidget(splitter);
    for (const THelpPage& page : m_pages)
        Contents->addItem(page.title);
    Page = new QTextBrowser(splitter);
    Page->setOpenLinks(false);
    Page->setSearchPaths({QStringLiteral(":/manual")});
    // The browser's rich text takes the manual's style sheet only as the document's default.
    Page->document()->setDefaultStyleSheet(ReadManualFile(QStringLiteral("handbuch.css")));
    splitter->addWidget(Contents);
    splitter->addWidget(Page);
    splitter->setStretchFactor(1, 1);
    // The contents pane as wide as its longest title, so that no title is cut;
    // the window grows when the page would otherwise be left too narrow.
    const int contentsWidth = Contents->sizeHintForColumn(0) + 2 * Contents->frameWidth() +
                              Contents->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    Contents->setMinimumWidth(contentsWidth);
    resize(std::max(width(), contentsWidth + 600), height());
    splitter->setSizes({contentsWidth, width() - contentsWidth});
    column->addWidget(splitter, 1);

    bBack->setEnabled(false);
    bForward->setEnabled(false);
    connect(bContents, &QToolButton::clicked, this, [this] { ShowPage(ManualContentsUrl()); });
    connect(bBack, &QToolButton::clicked, Page, &QTextBrowser::backward);
    connect(bForward, &QToolButton::clicked, Page, &QTextBrowser::forward);
    connect(Page, &QTextBrowser::backwardAvailable, bBack, &QToolButton::setEnabled);
    connect(Page, &QTextBrowser::forwardAvailable, bForward, &QToolButton::setEnabled);
    connect(Page, &QTextBrowser::sourceChanged, this, &THelpWindow::PageChanged);
    connect(Page, &QTextBrowser::anchorClicked, this, &THelpWindow::LinkClicked);
    connect(Contents, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < m_pages.size())
            ShowPage(QUrl(QStringLiteral("qrc:/manual/") + m_pages.at(row).file));
    });
}

void THelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Keys the page and the list leave unused arrive here; Esc closes the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void THelpWindow::ShowPage(const QUrl& page)
{
    if (page.adjusted(QUrl::RemoveFragment) == Page->source().adjusted(QUrl::RemoveFragment)) {
        if (page.hasFragment())
            Page->scrollToAnchor(page.fragment());
        return;
    }
    Page->setSource(page);
}

QUrl THelpWindow::CurrentPage() const
{
    return Page->source();
}

void THelpWindow::PageChanged(const QUrl& page)
{
    const QString file = page.adjusted(QUrl::RemoveFragment).fileName();
    for (int row = 0; row < m_pages.size(); ++row) {
        if (m_pages.at(row).file == file) {
            const QSignalBlocker blocker(Contents);
            Contents->setCurrentRow(row);
        }
    }
    const QString title = Page->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Quellorix – Hilfe")
                                   : QStringLiteral("Quellorix – ") + title);
}

void THelpWindow::LinkClicked(const QUrl& link)
{
    const QUrl target = Page->source().resolved(link);
    if (target.scheme() == QLatin1String("qrc"))
        ShowPage(target);
    else if (OpenExternal)
        OpenExternal(target);
}

// ---------------------------------------------------------------------------

THelpViewer::THelpViewer(QString helpFile, QWidget* owner, std::function<bool(const QUrl&)> openUrl)
    : m_helpFile(std::move(helpFile)), m_owner(owner), m_openUrl(std::move(openUrl))
{
}

THelpViewer::~THelpViewer()
{
    CloseAll();
}

bool THelpViewer::UsesHelpFile() const
{
#ifdef Q_OS_WIN
    return QFileInfo::exists(m_helpFile);
#else
    // Only Windows has a viewer for compiled help files.
    return false;
#endif
}

bool THelpViewer::Available() const
{
    return UsesHelpFile() || QFileInfo::exists(QStringLiteral(":/manual/") + kContentsFile);
}

void THelpViewer::ShowContents()
{
    if (UsesHelpFile()) {
        // The system's HTML Help viewer, as a child process so it can be closed with the program.
        if (!m_helpFileViewer || m_helpFileViewer->state() == QProcess::NotRunning) {
            m_helpFileViewer = std::make_unique<QProcess>();
            m_helpFileViewer->start(QStringLiteral("hh.exe"), {QFileInfo(m_helpFile).absoluteFilePath()});
        }
        return;
    }
    if (!Available())
        return;
    if (!m_window) {
        m_window = new THelpWindow(m_owner);
        m_window->OpenExternal = m_openUrl;
    }
    m_window->ShowPage(ManualContentsUrl());
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void THelpViewer::CloseAll()
{
    if (m_window)
        m_window->close();
    if (m_helpFileViewer && m_helpFileViewer->state() != QProcess::NotRunning) {
        m_helpFileViewer->kill();
        m_helpFileViewer->waitForFinished(1000);
    }
}
