#include "KeyPressTicks.h"

#include "TickSource.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QShortcutEvent>

KeyPressTicks::KeyPressTicks()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

KeyPressTicks::~KeyPressTicks()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

void KeyPressTicks::Watch(QAction* command)
{
    m_commands.append(command);
}

bool KeyPressTicks::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const std::uint32_t now = TickSource().GetTickCount();
        m_map.Observe(key->timestamp(), now);
        if (event->type() != QEvent::KeyRelease)
            m_lastKey = {key->keyCombination(), m_map.TickAt(key->timestamp(), now)};
        break;
    }
    case QEvent::Shortcut: {
        if (!m_lastKey || !m_commands.contains(watched))
            break;
        const auto* shortcut = static_cast<const QShortcutEvent*>(event);
        if (shortcut->key() != QKeySequence(m_lastKey->first))
            break;
        // Delivered here, so that the press tick holds exactly while the command runs.
        m_pressTick = m_lastKey->second;
        watched->event(event);
        m_pressTick.reset();
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
