#pragma once

#include <QTest>
#include <QWidget>

// Shows a window as the program shows it to an operator: in front and active,
// so that its shortcuts take keys the way they take a real key press, whatever
// window was active before.
[[nodiscard]] inline bool ShowActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window, 10000);
}
