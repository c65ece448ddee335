#pragma once

#include <chrono>
#include <cstdio>
#include <functional>

#include <QString>

class QWidget;

/// Writes @p text and a line feed to @p file, every character of it (a NUL included), as UTF-8.
/// On a terminal, control characters other than TAB (and LF when @p keepLineFeeds) are shown
/// as the I/O trace shows them ("\r", "\n", "\x1B"), so an instrument cannot drive the terminal.
bool writeTextLine(std::FILE *file, const QString &text, bool keepLineFeeds = false);

/// @brief What the window needs from outside itself that tests and batch mode replace:
/// showing a modal message box, asking for a file to save to, ending the program, and the time
/// that bounds a wait.
class Platform
{
public:
    virtual ~Platform() = default;

    /// Shows @p text modally with one OK button; returns when the operator has dismissed it.
    virtual void showMessage(QWidget *window, const QString &caption, const QString &text) = 0;

    /// Asks the operator for a file to save to, offering @p suggestedPath and the file types of
    /// @p filter ("CSV files (*.csv);;All files (*)"); an empty result cancels.
    virtual QString askSaveFileName(QWidget *window, const QString &caption, const QString &suggestedPath,
                                    const QString &filter) = 0;

    /// Stops the event loop; the window has already released its I/O objects and hidden itself.
    virtual void endProgram() = 0;

    /// A monotonic time, for deadlines. Tests give the simulated instrument's virtual time.
    virtual std::chrono::nanoseconds now() const = 0;
};

/// @brief The desktop: real message boxes, and the end of the Qt event loop.
class DesktopPlatform : public Platform
{
public:
    void showMessage(QWidget *window, const QString &caption, const QString &text) override;
    QString askSaveFileName(QWidget *window, const QString &caption, const QString &suggestedPath,
                            const QString &filter) override;
    void endProgram() override;
    std::chrono::nanoseconds now() const override;
};

/// @brief Batch mode: message texts go to standard error, nobody needs to click OK.
class BatchPlatform : public Platform
{
public:
    explicit BatchPlatform(std::FILE *messages = stderr)
        : m_messages(messages)
    {
    }

    void showMessage(QWidget *window, const QString &caption, const QString &text) override;
    /// Nobody is there to answer: every question is cancelled.
    QString askSaveFileName(QWidget *window, const QString &caption, const QString &suggestedPath,
                            const QString &filter) override;
    void endProgram() override;
    std::chrono::nanoseconds now() const override;

    /// True once any message was shown: the run did not end as planned.
    bool messageShown() const { return m_messageShown; }

    /// Runs before each message is written: clears a progress line on the same terminal.
    void setBeforeMessage(std::function<void()> beforeMessage) { m_beforeMessage = std::move(beforeMessage); }

private:
    std::FILE *m_messages;
    bool m_messageShown = false;
    std::function<void()> m_beforeMessage;
};
