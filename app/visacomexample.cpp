#include "app/visacomexample.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>

#include "app/platform.h"
#include "app/readingskeeper.h"
#include "app/readingswindow.h"
#include "app/routineerror.h"

namespace {

/// The layout is given in twips; the screen has 15 twips to the pixel.
QRect fromTwips(int left, int top, int width, int height)
{
    constexpr double kTwipsPerPixel = 15.0;
    return QRect(qRound(left / kTwipsPerPixel), qRound(top / kTwipsPerPixel), qRound(width / kTwipsPerPixel),
                 qRound(height / kTwipsPerPixel));
}

/// Passes every session of the I/O library through, and calls back after each completed
/// transaction: a command that expects no reply, a reply read, a device clear. After a query
/// is written its reply is still to come, so that is no point to stop at.
class TransactionBackend : public visa::Backend
{
public:
    TransactionBackend(std::shared_ptr<visa::Backend> inner, std::function<void()> done)
        : m_inner(std::move(inner))
        , m_done(std::move(done))
    {
    }

    std::unique_ptr<visa::IMessage> open(const visa::ResourceName &name, const visa::SessionOptions &options) override
    {
        return std::make_unique<Session>(m_inner->open(name, options), m_done);
    }

private:
    class Session : public visa::IMessage
    {
    public:
        Session(std::unique_ptr<visa::IMessage> inner, std::function<void()> done)
            : m_inner(std::move(inner))
            , m_done(std::move(done))
        {
        }
        std::string ResourceName() const override { return m_inner->ResourceName(); }
        void Write(std::string_view data, bool end) override
        {
            m_inner->Write(data, end);
            if (data.find('?') == std::string_view::npos)
                m_done();
        }
        std::string Read() override
        {
            std::string reply = m_inner->Read();
            m_done();
            return reply;
        }
        void Clear() override
        {
            m_inner->Clear();
            m_done();
        }
        void Close() override { m_inner->Close(); }

    private:
        std::unique_ptr<visa::IMessage> m_inner;
        std::function<void()> m_done;
    };

    std::shared_ptr<visa::Backend> m_inner;
    std::function<void()> m_done;
};

} // namespace

VISAComExample::VISAComExample(std::shared_ptr<visa::Backend> ioLibrary, Platform &platform, QWidget *parent)
    : QWidget(parent)
    , m_ioLibrary(std::make_shared<TransactionBackend>(std::move(ioLibrary), [this] { afterTransaction(); }))
    , m_platform(platform)
{
    createControls();
    createListMenu();
    createReadingsControls();
}

VISAComExample::~VISAComExample()
{
    // The list's model outlives this part of the window and empties itself as it goes.
    List1->model()->disconnect(this);
    // It shows the readings this window holds; it goes first.
    delete m_readingsWindow;
}

void VISAComExample::createControls()
{
    setWindowTitle(QString::fromLatin1(kCaption));
    setFixedSize(fromTwips(0, 0, 5460, 5265).size());

    GetReadings = new QPushButton(tr("Get Readings"), this);
    GetReadings->setGeometry(fromTwips(1883, 1320, 1695, 495));

    List1 = new QListWidget(this);
    List1->setGeometry(fromTwips(503, 1920, 4455, 2400));

    ioSelect = new QLineEdit(QString::fromLatin1(kDefaultAddress), this);
    ioSelect->setGeometry(fromTwips(1163, 840, 1335, 285));

    ExitProg = new QPushButton(tr("Exit"), this);
    ExitProg->setGeometry(fromTwips(1883, 4560, 1695, 495));

    Label1 = new QLabel(tr("Enter/select Instrument Address (e.g., GPIB0::9, ASRL1, etc.), click on \"Select I/O\", "
                           "and then click on \"Get Readings\"."),
                        this);
    Label1->setGeometry(fromTwips(923, 0, 3615, 615));
    Label1->setWordWrap(true);

    SelectIO = new QPushButton(tr("Select I/O"), this);
    SelectIO->setGeometry(fromTwips(2603, 720, 1695, 495));

    setTabOrder(GetReadings, List1);
    setTabOrder(List1, ioSelect);
    setTabOrder(ioSelect, ExitProg);
    setTabOrder(ExitProg, SelectIO);
    GetReadings->setFocus();

    connect(SelectIO, &QPushButton::clicked, this, [this] { handleEvent([this] { SelectIO_Click(); }); });
    connect(GetReadings, &QPushButton::clicked, this, [this] {
        handleEvent([this] {
            runBlocking([this] { GetReadings_Click(); });
            reportOutputProblem();
        });
    });
    connect(ExitProg, &QPushButton::clicked, this, [this] { handleEvent([this] { ExitProg_Click(); }); });
}

void VISAComExample::load()
{
    handleEvent([this] { Form_Load(); });
}

void VISAComExample::Form_Load()
{
    setEnabled(true);
    setVisible(true);
    repaint();

    List1->setEnabled(true);
    List1->setVisible(true);
    appendInstructions();
    ioOpen = false;
}

void VISAComExample::appendInstructions()
{
    appendLine(tr("Enter/select instrument address, if needed;"));
    appendLine(tr("then click on \"Get Readings\" to trigger instrument."));
    appendLine(tr("Will take some time."));
}

void VISAComExample::ExitProg_Click()
{
    EndProg();
}

void VISAComExample::EndProg()
{
    if (ioOpen)
        instr->IO->Close();
    End();
}

void VISAComExample::End()
{
    m_ended = true;
    instr.reset();
    rm.reset();
    hide();
    m_platform.endProgram();
    throw ProgramEnded{};
}

void VISAComExample::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        // A transaction cannot be interrupted; the program ends as soon as the current one
        // completes (afterTransaction), or when the run returns.
        event->ignore();
        m_closeRequested = true;
        return;
    }
    event->accept();
    if (!m_ended) {
        try {
            endByFrameClose();
        } catch (const ProgramEnded &) {
        }
    }
}

void VISAComExample::endByFrameClose()
{
    // Closing through the frame ends the program without the explicit close of EndProg.
    End();
}

template<typename Handler>
void VISAComExample::handleEvent(Handler handler)
{
    if (m_ended)
        return;
    try {
        handler();
    } catch (const ProgramEnded &) {
        // The program has ended; nothing more runs.
    } catch (const RoutineError &e) {
        unhandledFailure(e.description());
    } catch (const std::exception &e) {
        // The I/O library's failures (visa::VisaError), and anything unforeseen.
        unhandledFailure(QString::fromStdString(e.what()));
    } catch (...) {
        unhandledFailure(tr("An unexpected failure occurred."));
    }
}

void VISAComExample::unhandledFailure(const QString &description)
{
    try {
        showMessage(description);
        End();
    } catch (const ProgramEnded &) {
    }
}

void VISAComExample::appendLine(const QString &line)
{
    List1->addItem(line);
    emit lineAppended(line);
}

void VISAComExample::clearList()
{
    List1->clear();
}

void VISAComExample::repaintList()
{
    List1->repaint();
}

void VISAComExample::showMessage(const QString &text)
{
    // Every message of a run that holds readings ends it: they are kept and the message says where.
    const QString note = m_running ? readingsFailureNote() : QString();
    const QString separator = note.isEmpty() || text.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n");
    m_platform.showMessage(this, QString::fromLatin1(kAppTitle), text + separator + note);
}

void VISAComExample::send(const QString &command)
{
    instr->WriteString(command.toStdString());
}

QString VISAComExample::readString()
{
    // Replies are bytes; Latin-1 keeps one character per byte, so terminators trim exactly.
    return QString::fromLatin1(instr->ReadString());
}

void VISAComExample::createListMenu()
{
    // Extended selection lets the operator copy a block of readings; the lines stay as listed.
    List1->setSelectionMode(QAbstractItemView::ExtendedSelection);

    m_listMenu = new QMenu(this);
    m_copyAction = m_listMenu->addAction(tr("Copy"));
    m_copyAction->setShortcut(QKeySequence::Copy);
    // Replaces the list's own Ctrl+C, which copies only the current line.
    m_copyAction->setShortcutContext(Qt::WidgetShortcut);
    List1->addAction(m_copyAction);
    m_saveReadingsAction = m_listMenu->addAction(tr("Save Readings..."));

    connect(m_copyAction, &QAction::triggered, this, [this] { handleEvent([this] { copyLines(); }); });
    connect(m_saveReadingsAction, &QAction::triggered, this, [this] { handleEvent([this] { saveReadings(); }); });

    List1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(List1, &QWidget::customContextMenuRequested, this, &VISAComExample::showListMenu);

    QAbstractItemModel *lines = List1->model();
    connect(lines, &QAbstractItemModel::rowsInserted, this, &VISAComExample::updateListActions);
    connect(lines, &QAbstractItemModel::rowsRemoved, this, &VISAComExample::updateListActions);
    connect(lines, &QAbstractItemModel::modelReset, this, &VISAComExample::updateListActions);
    updateListActions();
}

void VISAComExample::showListMenu(const QPoint &pos)
{
    // The run's input filter lets context-menu events through; a menu now would act mid-run.
    if (m_running || m_ended)
        return;
    m_listMenu->popup(List1->viewport()->mapToGlobal(pos));
}

void VISAComExample::updateListActions()
{
    m_copyAction->setEnabled(List1->count() > 0);
    bool readings = false;
    for (int row = 0; row < List1->count() && !readings; ++row)
        readings = readingsexport::isReadingLine(List1->item(row)->text());
    m_saveReadingsAction->setEnabled(readings);
    if (m_showReadingsAction)
        m_showReadingsAction->setEnabled(readings && m_keeper->model().rowCount() > 0);
}

void VISAComExample::copyLines()
{
    // Ctrl+C reaches the action as a shortcut event, which the run's input filter lets through.
    if (m_running)
        return;
    QStringList all;
    QStringList selected;
    for (int row = 0; row < List1->count(); ++row) {
        const QListWidgetItem *item = List1->item(row);
        all.append(item->text());
        if (item->isSelected())
            selected.append(item->text());
    }
    if (all.isEmpty())
        return;
    QGuiApplication::clipboard()->setText((selected.isEmpty() ? all : selected).join(QLatin1Char('\n')));
}

void VISAComExample::saveReadings()
{
    if (m_running)
        return;
    const ReadingsModel &model = m_keeper->model();
    if (model.rowCount() == 0)
        return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString fileName = m_platform.askSaveFileName(
        this, tr("Save Readings"), QDir(folder).filePath(readingsexport::suggestedFileName(model.start())),
        tr("CSV files (*.csv);;All files (*)"));
    if (fileName.isEmpty())
        return;
    saveReadingsTo(fileName);
}
