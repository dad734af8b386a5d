#pragma once

#include <QDialog>

class IDialogs;
class QLabel;
class QPushButton;

// The About window: the product's name, version and maker, the support mail and web site
// links, and Close.
class TForm4 : public QDialog
{
    Q_OBJECT
public:
    // dialogs is borrowed and must outlive the window.
    TForm4(IDialogs& dialogs, QWidget* parent = nullptr);

public slots:
    void CommentsClick(); // the support mail address
    void Label5Click();   // the web site
    void OKButtonClick();

private:
    void FormCreate();

    IDialogs& m_dialogs;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copyright = nullptr;
    QLabel* Comments = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* OKButton = nullptr;
};

// The support mail link: "mailto:" + address + "?subject=" + the application title.
QUrl SupportMailUrl();
// Opens url with the desktop's handler; says so when that fails.
void OpenLink(IDialogs& dialogs, QWidget* owner, const QUrl& url);
