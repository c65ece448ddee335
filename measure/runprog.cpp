// The "Get Readings" button: one complete measurement.

#include <QCoreApplication>
#include <QPushButton>

#include "app/numbers.h"
#include "app/routineerror.h"
#include "app/visacomexample.h"

void VISAComExample::GetReadings_Click()
{
    clearList();
    repaintList();
    RunProg();
}

void VISAComExample::RunProg()
{
    try {
        if (!ioOpen && !OpenIO())
            return;

        send(QStringLiteral("ABORt"));
        QString where = QStringLiteral("RunProg");
        CheckError(where);

        Setup();

        clearList();
        appendLine(tr("Scanning and making measurements; please wait."));
        appendLine(tr("The instrument will scan through the channels once,"));
        appendLine(tr("then wait a pre-determined time, and scan again."));
        appendLine(tr("Measurement time is about: ") + NumberText(measTime).trimmed() + tr(" seconds."));
        repaintList();

        Readings();

        ExitProg->setFocus();
    } catch (const RoutineError &e) {
        failRun(e.description());
    } catch (const std::exception &e) {
        // The I/O library's failures (visa::VisaError), and anything unforeseen.
        failRun(QString::fromStdString(e.what()));
    }
}

void VISAComExample::failRun(const QString &description)
{
    showMessage(description);
    // A failing close is not caught here: it reaches the event's own last-resort handler.
    if (ioOpen)
        instr->IO->Close();
    End();
}

bool VISAComExample::eventFilter(QObject *watched, QEvent *event)
{
    // While a run blocks, clicks and keys on this window are dropped, not kept for later:
    // a click during a run must not start a second one.
    if (m_running) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && (widget == this || isAncestorOf(widget))) {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::ContextMenu: return true;
            default: break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VISAComExample::runBlocking(const std::function<void()> &routine)
{
    m_running = true;
    qApp->installEventFilter(this);
    beginRunDisplay();
    struct Restore
    {
        VISAComExample *window;
        ~Restore()
        {
            qApp->removeEventFilter(window);
            window->endRunDisplay();
            window->m_running = false;
        }
    } restore{this};

    try {
        routine();
    } catch (const FrameClosed &) {
        // Unwound out of the run's routines, which never touch the I/O objects again.
    }

    // Input made while the run went on is still queued: deliver it now, to the filter that
    // drops it, so no click replays after the run.
    QCoreApplication::processEvents();

    // The frame was closed during the run: the program ends now, as a frame close does.
    if (m_closeRequested)
        endByFrameClose();
}

void VISAComExample::afterTransaction()
{
    if (!m_running || m_ended)
        return;
    // Keeps the window painted and lets a frame close through; clicks and keys are dropped.
    QCoreApplication::processEvents();
    if (m_closeRequested)
        throw FrameClosed{};
}
