#include "app/gui/Form4.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/gui/Addresses.h"
#include "app/gui/Dialogs.h"
#include "app/gui/Icons.h"

namespace
{

// A label that reads as a link (underlined, hand cursor) and answers the mouse and the keyboard.
QLabel* NewLinkLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"#\">") + text.toHtmlEscaped() +
                   QStringLiteral("</a>"));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    label->setAccessibleName(text);
    return label;
}

QLabel* NewIconImage(const char* icon, int size, const QString& name, QWidget* parent)
{
    auto* image = new QLabel(parent);
    image->setObjectName(name);
    image->setFixedSize(size, size);
    image->setPixmap(AppIcon(icon).pixmap(size, size));
    image->setAccessibleName(QStringLiteral("Icon"));
    return image;
}

} // namespace

QUrl SupportMailUrl()
{
    return QUrl(QStringLiteral("mailto:") + QString::fromUtf8(kSupportMail) +
                QStringLiteral("?subject=") + QString::fromUtf8(kApplicationTitle));
}

void OpenLink(IDialogs& dialogs, QWidget* owner, const QUrl& url)
{
    if (!dialogs.OpenUrl(url))
        dialogs.ShowMessage(owner, QStringLiteral("Cannot open ") + url.toDisplayString() +
                                       QStringLiteral(": the desktop has no program for it."));
}

TForm4::TForm4(IDialogs& dialogs, QWidget* parent) : QDialog(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    ProductName = new QLabel(this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont big = ProductName->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    ProductName->setFont(big);

    Version = new QLabel(QStringLiteral("Version ") + QStringLiteral(PICTOVA_VERSION), this);
    Version->setObjectName(QStringLiteral("Version"));
    Copyright = new QLabel(QStringLiteral("Made by Kestrom"), this);
    Copyright->setObjectName(QStringLiteral("Copyright"));

    auto* mailCaption = new QLabel(QStringLiteral("Email:"), this);
    Comments = NewLinkLabel(QString::fromUtf8(kSupportMail), QStringLiteral("Comments"), this);
    auto* webCaption = new QLabel(QStringLiteral("Web Site:"), this);
    Label5 = NewLinkLabel(QString::fromUtf8(kWebSiteShown), QStringLiteral("Label5"), this);
    mailCaption->setBuddy(Comments);
    webCaption->setBuddy(Label5);

    OKButton = new QPushButton(QStringLiteral("Close"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);

    auto* names = new QVBoxLayout;
    names->addWidget(ProductName);
    names->addWidget(Version);
    names->addWidget(Copyright);
    auto* head = new QHBoxLayout;
    head->addWidget(NewIconImage("pictova", 64, QStringLiteral("Image1"), this), 0, Qt::AlignTop);
    head->addSpacing(12);
    head->addLayout(names, 1);

    auto* links = new QGridLayout;
    links->addWidget(NewIconImage("help", 16, QStringLiteral("Image2"), this), 0, 0);
    links->addWidget(mailCaption, 0, 1);
    links->addWidget(Comments, 0, 2);
    links->addWidget(NewIconImage("about", 16, QStringLiteral("Image3"), this), 1, 0);
    links->addWidget(webCaption, 1, 1);
    links->addWidget(Label5, 1, 2);
    links->setColumnStretch(2, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addSpacing(8);
    layout->addLayout(links);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Comments, &QLabel::linkActivated, this, &TForm4::CommentsClick);
    connect(Label5, &QLabel::linkActivated, this, &TForm4::Label5Click);
    connect(OKButton, &QPushButton::clicked, this, &TForm4::OKButtonClick);
    FormCreate();
}

void TForm4::FormCreate()
{
    ProductName->setText(QString::fromUtf8(kApplicationTitle));
}

void TForm4::CommentsClick()
{
    Guarded(m_dialogs, this, [&] { OpenLink(m_dialogs, this, SupportMailUrl()); });
}

void TForm4::Label5Click()
{
    Guarded(m_dialogs, this, [&] { OpenLink(m_dialogs, this, QUrl(QString::fromUtf8(kWebSite))); });
}

void TForm4::OKButtonClick()
{
    accept();
}
