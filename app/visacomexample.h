#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <QString>
#include <QWidget>

#include "app/readingsexport.h"
#include "visa/formattedio.h"
#include "visa/resourcemanager.h"

class Platform;
class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPoint;
class QProgressBar;
class QPushButton;
class ReadingsKeeper;
class ReadingsWindow;

/// Thrown by End() so that nothing after the end of the program runs. It is no std::exception,
/// so the program's failure handlers, which catch std::exception, can never catch it.
struct ProgramEnded
{
};

/// Thrown after an instrument transaction when the frame was closed during a run; like
/// ProgramEnded it is no std::exception, so it passes every failure handler up to the run.
struct FrameClosed
{
};

/// @brief The program's one window and all of its routines.
///
/// The routines are grouped by subsystem: the window and the end of the program in app/,
/// instrument selection and the error check in io/, the measurement in measure/.
class VISAComExample : public QWidget
{
    Q_OBJECT

public:
    /// @p ioLibrary opens every session; @p platform shows message boxes, asks for files to save
    /// to and ends the program.
    VISAComExample(std::shared_ptr<visa::Backend> ioLibrary, Platform &platform, QWidget *parent = nullptr);
    ~VISAComExample() override;

    static constexpr const char *kCaption = "VISA Com Example";
    /// Caption of every message box.
    static constexpr const char *kAppTitle = "QV3310 Data Acquisition Example Program";
    static constexpr const char *kDefaultAddress = "GPIB0::9";

    /// Called once the window exists, as the platform calls Form_Load.
    void load();

    /// True once the program has ended: no further event runs any routine.
    bool ended() const { return m_ended; }

    /// Reading lines the last run listed.
    int readingsListed() const { return m_readingsListed; }

    /// Writes every run's readings to @p path as CSV as they arrive (--output).
    void setOutputFile(const QString &path);
    /// The run's readings, as the readings window shows them and the files hold them.
    ReadingsKeeper &readingsKeeper() const { return *m_keeper; }
    /// The "Readings" window, once opened.
    ReadingsWindow *readingsWindow() const { return m_readingsWindow; }
    /// Opens the "Readings" window, or raises it when it is open.
    void showReadings();
    /// The bar between the list and "Exit" that shows the stored readings during a run.
    QProgressBar *storedReadingsBar() const { return m_progress; }
    /// After a failure of batch mode outside the run: what became of the readings (see
    /// ReadingsKeeper::failureNotes), as lines to end its message with.
    QString readingsFailureNote();

    // Controls, named as the operator's instructions and the routines name them.
    QPushButton *GetReadings = nullptr;
    QListWidget *List1 = nullptr;
    QLineEdit *ioSelect = nullptr;
    QPushButton *ExitProg = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *SelectIO = nullptr;

    // Window state shared by all routines.
    std::unique_ptr<visa::ResourceManager> rm;
    std::unique_ptr<visa::FormattedIO488> instr;
    QString ioOptions;
    QString ioAddress;
    bool ioOpen = false;
    std::int16_t replyValue = 0;
    QString idString;
    std::int32_t numReadings = 0;
    double measTime = 0;

    // Window and program lifecycle (app/visacomexample.cpp).
    void Form_Load();
    void ExitProg_Click();
    [[noreturn]] void EndProg();

    // Instrument selection and the error check (io/).
    bool OpenIO();
    void SelectIO_Click();
    QString RemoveLfCr(QString &strval);
    void CheckError(QString &where);

    // The measurement (measure/).
    void Setup();
    void Readings();
    void GetReadings_Click();
    void RunProg();

signals:
    /// A line was appended to List1.
    void lineAppended(const QString &line);
    /// The poll found @p points of @p total readings stored, @p seconds after the wait began.
    void storedReadings(int points, int total, double seconds);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Window services used by the routines.
    void appendLine(const QString &line);
    void clearList();
    void repaintList();
    void showMessage(const QString &text);
    /// Ends the program at once: releases the I/O objects, unloads the window, never returns.
    [[noreturn]] void End();

    /// Runs an event handler; a failure no routine handled is shown and ends the program.
    template<typename Handler>
    void handleEvent(Handler handler);

    /// Runs @p routine with the window painted but deaf to input; a frame close meanwhile
    /// takes effect when it returns.
    void runBlocking(const std::function<void()> &routine);
    void endByFrameClose();
    /// Called after every completed instrument transaction: during a run, services the window
    /// (its input filtered) and throws FrameClosed once the frame was closed.
    void afterTransaction();
    void waitForReadings();
    /// The time @p seconds from now, saturating instead of overflowing.
    std::chrono::nanoseconds deadlineAfter(double seconds) const;
    /// What the instrument's error queue holds, for a failure message; never throws a failure.
    QString instrumentReport();
    void createControls();
    void appendInstructions();
    void unhandledFailure(const QString &description);
    /// Ends a run that failed: shows @p description, closes the session, ends the program.
    [[noreturn]] void failRun(const QString &description);

    // Taking the readings out of the program: List1's context menu and Ctrl+C.
    void createListMenu();
    void showListMenu(const QPoint &pos);
    void updateListActions();
    void copyLines();
    void saveReadings();

    // The readings beside the list: window, progress, output file (app/windowreadings.cpp).
    void createReadingsControls();
    void noteScanStart(const QString &date, const QString &time);
    void noteReading(int number, const QString &channel, const QString &value, const QString &time);
    void showStoredReadings(std::int32_t points);
    void beginRunDisplay();
    void endRunDisplay();
    void reportOutputProblem();
    void saveReadingsTo(const QString &fileName);

    // Instrument I/O in the program's own text type.
    void send(const QString &command);
    QString readString();

    std::shared_ptr<visa::Backend> m_ioLibrary;
    Platform &m_platform;
    bool m_ended = false;
    bool m_running = false;
    bool m_closeRequested = false;
    int m_readingsListed = 0;

    QMenu *m_listMenu = nullptr;
    QAction *m_copyAction = nullptr;
    QAction *m_saveReadingsAction = nullptr;
    QAction *m_showReadingsAction = nullptr;
    std::unique_ptr<ReadingsKeeper> m_keeper;
    ReadingsWindow *m_readingsWindow = nullptr;
    QProgressBar *m_progress = nullptr;
    std::chrono::nanoseconds m_waitStart{-1};
    /// The identification reply last listed, for saved readings; idString goes on to hold the
    /// module reply.
    QString m_instrumentId;
};
