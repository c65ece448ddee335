// The readings beside the list: the "Readings" window, the progress of a run, the output file
// and the readings kept after a failure. Nothing here changes what the list shows.

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include "app/csvwriter.h"
#include "app/platform.h"
#include "app/readingskeeper.h"
#include "app/readingswindow.h"
#include "app/visacomexample.h"

namespace {

/// The layout is given in twips; the screen has 15 twips to the pixel.
int pixels(int twips)
{
    return qRound(twips / 15.0);
}

} // namespace

void VISAComExample::createReadingsControls()
{
    m_keeper = std::make_unique<ReadingsKeeper>();

    // In the gap between the list (its bottom at 4320 twips) and "Exit" (its top at 4560),
    // as wide as the list: it covers no control.
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(pixels(503), pixels(4320) + 5, pixels(4455), 6);
    m_progress->setFocusPolicy(Qt::NoFocus);
    m_progress->hide();

    m_showReadingsAction = m_listMenu->addAction(tr("Show Readings..."));
    m_showReadingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_showReadingsAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_showReadingsAction);
    connect(m_showReadingsAction, &QAction::triggered, this, &VISAComExample::showReadings);
    updateListActions();
}

void VISAComExample::setOutputFile(const QString &path)
{
    m_keeper->setOutputFile(path);
}

void VISAComExample::showReadings()
{
    // The shortcut reaches the action as a shortcut event, which the run's input filter drops;
    // a click on a menu entry cannot happen mid-run either.
    if (m_running || m_ended || !m_showReadingsAction->isEnabled())
        return;
    if (!m_readingsWindow) {
        m_readingsWindow = new ReadingsWindow(m_keeper->model(), m_platform, this);
        connect(m_readingsWindow, &ReadingsWindow::failed, this, [this](const QString &text) { showMessage(text); });
    }
    m_readingsWindow->show();
    m_readingsWindow->raise();
    m_readingsWindow->activateWindow();
}

void VISAComExample::noteScanStart(const QString &date, const QString &time)
{
    m_keeper->begin({date, time, m_instrumentId});
}

void VISAComExample::noteReading(int number, const QString &channel, const QString &value, const QString &time)
{
    m_keeper->add(number, channel, value, time);
}

void VISAComExample::showStoredReadings(std::int32_t points)
{
    const std::chrono::nanoseconds now = m_platform.now();
    if (m_waitStart.count() < 0)
        m_waitStart = now;
    if (numReadings > 0) {
        m_progress->show();
        m_progress->setRange(0, numReadings);
        m_progress->setValue(std::clamp<std::int32_t>(points, 0, numReadings));
    }
    emit storedReadings(points, numReadings, std::chrono::duration<double>(now - m_waitStart).count());
}

void VISAComExample::beginRunDisplay()
{
    m_keeper->clear();
    m_waitStart = std::chrono::nanoseconds(-1);
    setCursor(Qt::WaitCursor);
    if (m_readingsWindow)
        m_readingsWindow->setRunning(true);
}

void VISAComExample::endRunDisplay()
{
    m_progress->hide();
    m_progress->reset();
    unsetCursor();
    if (m_readingsWindow)
        m_readingsWindow->setRunning(false);
    updateListActions();
}

void VISAComExample::reportOutputProblem()
{
    // After a run that went well otherwise: the readings are still in the window to save.
    if (const QString problem = m_keeper->outputProblem(); !problem.isEmpty())
        showMessage(problem);
}

QString VISAComExample::readingsFailureNote()
{
    return m_keeper->failureNotes().join(QLatin1Char('\n'));
}

void VISAComExample::saveReadingsTo(const QString &fileName)
{
    // A failed save is the operator's to retry; unlike an instrument failure it ends nothing.
    QString error;
    if (safefile::saveReadings(fileName, m_keeper->model(), &error))
        m_keeper->markSaved();
    else
        showMessage(tr("The readings could not be saved to %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
}
