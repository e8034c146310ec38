#pragma once

#include <QMainWindow>

class TFormMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFormMain(QWidget* parent = nullptr);
};
