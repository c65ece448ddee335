#include "app/platform.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

bool writeTextLine(std::FILE *file, const QString &text, bool keepLineFeeds)
{
    QString shown;
    if (isatty(fileno(file))) {
        shown.reserve(text.size());
        for (const QChar c : text) {
            if (c.category() != QChar::Other_Control || c == u'\t' || (keepLineFeeds && c == u'\n'))
                shown += c;
            else if (c == u'\n')
                shown += QLatin1String("\\n");
            else if (c == u'\r')
                shown += QLatin1String("\\r");
            else
                shown += QLatin1String("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
        }
    } else {
        shown = text;
    }
    const QByteArray bytes = shown.toUtf8() + '\n';
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size());
    return std::fflush(file) == 0 && written;
}

void DesktopPlatform::showMessage(QWidget *window, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, window);
    // The text is the instrument's as much as ours: never read it as markup.
    box.setTextFormat(Qt::PlainText);
    const QScreen *screen = window ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    // Room for the frame's title bar: a box this tall would push OK off the screen. The box
    // knows its own size only once shown, so its text is measured here, with room for OK.
    const int tallest = available.height() * 4 / 5;
    constexpr int kRoomForButton = 120;
    const int textHeight = QFontMetrics(box.font())
                               .boundingRect(QRect(0, 0, available.width() / 2, 0), Qt::TextWordWrap, text)
                               .height();
    if (available.isEmpty() || textHeight + kRoomForButton <= tallest) {
        box.exec();
        return;
    }

    // The same text in a box whose text scrolls, so that OK stays on the screen.
    QDialog dialog(window);
    dialog.setWindowTitle(caption);
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *scroll = new QScrollArea;
    scroll->setWidget(label);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(scroll);
    layout->addWidget(buttons);
    const int width = std::min(available.width() * 9 / 10,
                               label->sizeHint().width() + scroll->verticalScrollBar()->sizeHint().width()
                                   + layout->contentsMargins().left() + layout->contentsMargins().right());
    dialog.resize(width, tallest);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
    dialog.exec();
}

QString DesktopPlatform::askSaveFileName(QWidget *window, const QString &caption, const QString &suggestedPath,
                                         const QString &filter)
{
    return QFileDialog::getSaveFileName(window, caption, suggestedPath, filter);
}

void DesktopPlatform::endProgram()
{
    QCoreApplication::exit(0);
}

std::chrono::nanoseconds DesktopPlatform::now() const
{
    return std::chrono::steady_clock::now().time_since_epoch();
}

void BatchPlatform::showMessage(QWidget *, const QString &, const QString &text)
{
    m_messageShown = true;
    if (m_beforeMessage)
        m_beforeMessage();
    writeTextLine(m_messages, text, true);
}

QString BatchPlatform::askSaveFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return QString();
}

void BatchPlatform::endProgram()
{
    QCoreApplication::exit(0);
}

std::chrono::nanoseconds BatchPlatform::now() const
{
    return std::chrono::steady_clock::now().time_since_epoch();
}
