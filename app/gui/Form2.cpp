#include "app/gui/Form2.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/convert/ConversionRun.h"
#include "app/gui/ElidingLabel.h"
#include "app/gui/Form1.h"
#include "app/gui/GuiText.h"

// Hands what the run reports to the window's thread, in order (queued calls to one receiver
// keep their order). Only the Cancel flag is read on the run's side.
class TForm2::TObserver : public IConversionObserver
{
public:
    explicit TObserver(TForm2& form) : m_form(form) {}

    void SetStatusText(const std::string& text) override
    {
        Post([label = m_form.m_label1, shown = SystemText(text)] { label->setText(shown); });
    }
    void SetPercentText(const std::string& text) override
    {
        Post([label = m_form.m_label2, shown = SystemText(text)] { label->setText(shown); });
    }
    void SetProgressMax(int max) override
    {
        Post([bar = m_form.m_progressBar1, max] { bar->setMaximum(max); });
    }
    void SetProgressPosition(int position) override
    {
        Post([bar = m_form.m_progressBar1, position] { bar->setValue(position); });
    }
    // The window's thread is never busy with the run: nothing to catch up on.
    void ProcessMessages() override {}
    bool CancelRequested() override { return m_form.m_cancelRequested.load(); }
    // Kept to be told once the run is over (the run itself goes on without a word).
    void PictureSkipped(int, const std::string& path, const std::string& reason) override
    {
        Post([&form = m_form, line = PathText(path) + QStringLiteral(": ") + SystemText(reason)] {
            form.m_skipped << line;
        });
    }

    template <class F>
    void Post(F&& call)
    {
        QMetaObject::invokeMethod(&m_form, std::forward<F>(call), Qt::QueuedConnection);
    }

private:
    TForm2& m_form;
};

TForm2::TForm2(TForm1& form1)
    : QDialog(&form1), m_form1(form1), m_run(std::make_unique<TConversionRun>())
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Converting ..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(100);

    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setMinimum(0);
    m_progressBar1->setMaximum(100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(false);
    m_progressBar1->setAccessibleName(QStringLiteral("Progress"));

    // A long path shows its start and its file name.
    m_label1 = new TElidingLabel(Qt::ElideMiddle, this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setAccessibleDescription(QStringLiteral("Status"));

    m_label2 = new QLabel(this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_label2->setFixedWidth(m_label2->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 8);
    m_label2->setAccessibleDescription(QStringLiteral("Percent"));

    m_button1 = new QPushButton(QStringLiteral("Cancel"), this);
    m_button1->setObjectName(QStringLiteral("Button1"));
    m_button1->setDefault(true);

    auto* progress = new QHBoxLayout;
    progress->addWidget(m_progressBar1, 1);
    progress->addWidget(m_label2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addLayout(progress);
    layout->addLayout(buttons);
    setFixedSize(379, 106);

    connect(m_timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
    connect(m_button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

TForm2::~TForm2()
{
    // The window goes only after its run: if the run is still going, it stops at the next
    // picture.
    m_cancelRequested.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void TForm2::Timer1Timer()
{
    m_timer1->stop();
    try
    {
        // What the run reads of the main window is read here, on the window's thread.
        std::vector<std::string> paths = m_form1.Pictures();
        const int quality = m_form1.Quality();
        const TDocumentProperties properties = m_form1.DocumentProperties();
        m_runResult = rrNone;
        m_observer = std::make_unique<TObserver>(*this);
        m_thread = std::thread([this, paths = std::move(paths), quality, properties] {
            QString failure;
            TRunResult result = rrNone;
            try
            {
                m_run->Run(paths, quality, properties, *m_observer);
                result = m_run->RunResult();
            }
            catch (const std::exception& e)
            {
                failure = SystemText(e.what());
            }
            catch (...)
            {
                failure = QStringLiteral("Unknown error");
            }
            m_observer->Post([this, result, failure] { RunFinished(result, failure); });
        });
    }
    catch (const std::exception& e)
    {
        // The window must not stay open with nothing running.
        RunFinished(rrNone, SystemText(e.what()));
    }
}

void TForm2::RunFinished(TRunResult runResult, const QString& failure)
{
    if (m_thread.joinable())
        m_thread.join();
    m_runResult = runResult;
    m_failure = failure;
    m_finished = true;
    done(runResult);
}

void TForm2::Button1Click()
{
    m_cancelRequested.store(true);
}

void TForm2::reject()
{
    Button1Click();
}

void TForm2::closeEvent(QCloseEvent* event)
{
    if (m_finished)
    {
        QDialog::closeEvent(event);
        return;
    }
    Button1Click();
    event->ignore();
}
