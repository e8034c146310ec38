#pragma once

#include "EventTickMap.h"

#include <QKeyCombination>
#include <QList>
#include <QObject>

#include <cstdint>
#include <optional>
#include <utility>

class QAction;

// When the keys of the run commands were pressed. A command triggered by its key
// takes the moment of the press, not the moment a busy window came round to it:
// a pair keyed while the window was stuck keeps its true times. Watches the
// application's key events (the key of a shortcut reaches the program as a
// ShortcutOverride event, stamped like the press itself).
class KeyPressTicks : public QObject
{
    Q_OBJECT
public:
    KeyPressTicks();
    ~KeyPressTicks() override;

    // Commands whose key's press time counts.
    void Watch(QAction* command);
    // While a watched command is being triggered by its key: the tick of the press.
    std::optional<std::uint32_t> PressTick() const { return m_pressTick; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    EventTickMap m_map;
    QList<QObject*> m_commands;
    std::optional<std::pair<QKeyCombination, std::uint32_t>> m_lastKey; // and when it was pressed
    std::optional<std::uint32_t> m_pressTick;
};
