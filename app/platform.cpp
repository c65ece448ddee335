#include "app/platform.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <cstdio>

void DesktopPlatform::showMessage(QWidget *window, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, window);
    box.exec();
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
    std::fprintf(m_messages, "%s\n", text.toUtf8().constData());
    std::fflush(m_messages);
}

void BatchPlatform::endProgram()
{
    QCoreApplication::exit(0);
}

std::chrono::nanoseconds BatchPlatform::now() const
{
    return std::chrono::steady_clock::now().time_since_epoch();
}
