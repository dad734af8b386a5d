#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/convert/ConversionRun.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TForm1;

// The progress window "Converting ...": made afresh for every conversion, shown modally; its
// one-shot timer starts the run 100 ms after it shows. The run goes on its own thread, so the
// window repaints and Cancel registers even while one large picture is being prepared; what
// the run reports reaches the labels and the bar in the order it was reported.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    // form1 is the main window the run reads its list and properties from; it owns this window.
    explicit TForm2(TForm1& form1);
    ~TForm2() override;

    // The run and its report components (PReport1 takes the output path).
    TConversionRun& Run() const { return *m_run; }
    QLabel* Label1() const { return m_label1; }
    QLabel* Label2() const { return m_label2; }
    QProgressBar* ProgressBar1() const { return m_progressBar1; }
    QTimer* Timer1() const { return m_timer1; }

    // rrNone when an error escaped the run; the dialog's exec() returns the same number.
    TRunResult RunResult() const { return m_runResult; }
    // The message of a failure that escaped the run; empty otherwise.
    const QString& Failure() const { return m_failure; }
    bool CancelRequested() const { return m_cancelRequested.load(); }
    // Pictures that got no page, as "path: reason", in list order.
    const QStringList& Skipped() const { return m_skipped; }

public slots:
    void Timer1Timer();
    void Button1Click(); // Cancel

protected:
    // The window has no close box and closes itself when the run ends; Escape means Cancel.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    class TObserver;
    void RunFinished(TRunResult runResult, const QString& failure);

    TForm1& m_form1;
    std::unique_ptr<TConversionRun> m_run;
    QTimer* m_timer1 = nullptr;
    QProgressBar* m_progressBar1 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;
    QPushButton* m_button1 = nullptr;

    TRunResult m_runResult = rrNone;
    std::atomic<bool> m_cancelRequested{false};
    QString m_failure;
    QStringList m_skipped;
    bool m_finished = false;
    std::unique_ptr<TObserver> m_observer;
    std::thread m_thread;
};
