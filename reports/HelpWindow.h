#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QListWidget;
class QProcess;
class QTextBrowser;
class QKeyEvent;
class QToolButton;

// One page of the built-in manual, as its table of contents lists it.
struct THelpPage
{
    QString file; // page file name, e.g. "zeitnahme.html"
    QString title;

    friend bool operator==(const THelpPage&, const THelpPage&) = default;
};

// The address of the manual's table of contents.
QUrl ManualContentsUrl();

// The pages in the order of the table of contents: every link of the contents
// page's list ("<li><a href=...>"), read from its HTML.
QList<THelpPage> ManualContents(const QString& contentsHtml);
// The same for the built-in manual; empty when it is missing.
QList<THelpPage> ManualContents();

// The help window: the contents list at the left, the page at the right.
// Links between pages stay in the window; web addresses go to the browser.
// Esc closes the window.
class THelpWindow : public QWidget
{
    Q_OBJECT

public:
    explicit THelpWindow(QWidget* parent = nullptr);

    void ShowPage(const QUrl& page);
    QUrl CurrentPage() const;

    QListWidget* Contents = nullptr;
    QTextBrowser* Page = nullptr;
    QToolButton* bContents = nullptr;
    QToolButton* bBack = nullptr;
    QToolButton* bForward = nullptr;
    // Where web addresses go (the desktop's browser); nothing opens them when empty.
    std::function<bool(const QUrl&)> OpenExternal;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PageChanged(const QUrl& page);
    void LinkClicked(const QUrl& link);

    QList<THelpPage> m_pages;
};

// The program's help: the compiled help file "<program>.chm" where the system
// can show one (Windows), otherwise the built-in manual in a help window.
// Every help window it opened is closed by CloseAll() and when it is destroyed.
class THelpViewer
{
public:
    // openUrl hands web addresses from the manual to the desktop.
    THelpViewer(QString helpFile, QWidget* owner, std::function<bool(const QUrl&)> openUrl);
    ~THelpViewer();

    THelpViewer(const THelpViewer&) = delete;
    THelpViewer& operator=(const THelpViewer&) = delete;

    // True when there is something to show (the help file or the built-in manual).
    bool Available() const;
    // True when the compiled help file is shown instead of the built-in manual.
    bool UsesHelpFile() const;
    const QString& HelpFile() const { return m_helpFile; }

    // Shows the table of contents.
    void ShowContents();
    void CloseAll();

    // The help window, once opened (owned by the owner window).
    THelpWindow* Window() const { return m_window; }

private:
    QString m_helpFile;
    QWidget* m_owner = nullptr;
    std::function<bool(const QUrl&)> m_openUrl;
    QPointer<THelpWindow> m_window;
    std::unique_ptr<QProcess> m_helpFileViewer;
};
