#pragma once

// The real window against the simulated instrument on a virtual clock, with message boxes and
// the end of the program recorded instead of shown.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/visacomexample.h"
#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"

/// All that was written to @p file, a temporary file standing for a standard stream.
inline QString writtenTo(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, qsizetype(n));
    return QString::fromUtf8(bytes);
}

// Readable failures: gtest prints QString as its UTF-8 text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

/// Records message boxes, file questions and the end of the program; time is the instrument's
/// virtual time.
class RecordingPlatform : public Platform
{
public:
    explicit RecordingPlatform(std::shared_ptr<sim::Clock> clock)
        : m_clock(std::move(clock))
    {
    }

    void showMessage(QWidget *, const QString &caption, const QString &text) override
    {
        captions.append(caption);
        messages.append(text);
        if (onMessage)
            onMessage(text);
    }
    QString askSaveFileName(QWidget *, const QString &caption, const QString &suggestedPath, const QString &) override
    {
        fileQuestions.append(caption);
        return answerSaveFileName ? answerSaveFileName(suggestedPath) : QString();
    }
    void endProgram() override { ++ends; }
    std::chrono::nanoseconds now() const override { return m_clock->now(); }

    QStringList captions;
    QStringList messages;
    int ends = 0;
    std::function<void(const QString &)> onMessage;
    QStringList fileQuestions; ///< the caption of each file dialog asked for
    /// Answers a file dialog that offers the path given; none: every question is cancelled.
    std::function<QString(const QString &suggestedPath)> answerSaveFileName;

private:
    std::shared_ptr<sim::Clock> m_clock;
};

/// Wraps the simulator's backend and notes what the program does with its sessions:
/// "open RESOURCE", "close RESOURCE" (an explicit Close), "release RESOURCE" (dropped).
/// A reply to a command named in replyOverrides is replaced, bytes and all, by the text given:
/// what a faulty instrument or a broken cable might deliver.
class RecordingBackend : public visa::Backend
{
public:
    explicit RecordingBackend(std::shared_ptr<visa::Backend> inner)
        : m_inner(std::move(inner))
    {
    }

    std::unique_ptr<visa::IMessage> open(const visa::ResourceName &name, const visa::SessionOptions &options) override
    {
        events.push_back("open " + name.canonical());
        lastOptions = options;
        return std::make_unique<Session>(m_inner->open(name, options), events, replyOverrides, *this);
    }

    std::vector<std::string> events;
    visa::SessionOptions lastOptions;
    std::map<std::string, std::string> replyOverrides;
    /// Called with each command as it is written, before the instrument sees it.
    std::function<void(const std::string &command)> onWrite;
    /// Given the command and the reply (after replyOverrides), returns the reply delivered.
    std::function<std::string(const std::string &command, std::string reply)> rewrite;

private:
    class Session : public visa::IMessage
    {
    public:
        Session(std::unique_ptr<visa::IMessage> inner, std::vector<std::string> &events,
                const std::map<std::string, std::string> &overrides, const RecordingBackend &backend)
            : m_inner(std::move(inner))
            , m_events(events)
            , m_overrides(overrides)
            , m_backend(backend)
        {
        }
        ~Session() override { m_events.push_back("release " + m_inner->ResourceName()); }
        std::string ResourceName() const override { return m_inner->ResourceName(); }
        void Write(std::string_view data, bool end) override
        {
            m_lastCommand = std::string(data.substr(0, data.find_last_not_of("\r\n") + 1));
            if (m_backend.onWrite)
                m_backend.onWrite(m_lastCommand);
            m_inner->Write(data, end);
        }
        std::string Read() override
        {
            std::string reply = m_inner->Read();
            const auto override = m_overrides.find(m_lastCommand);
            if (override != m_overrides.end())
                reply = override->second;
            return m_backend.rewrite ? m_backend.rewrite(m_lastCommand, std::move(reply)) : reply;
        }
        void Clear() override { m_inner->Clear(); }
        void Close() override
        {
            m_events.push_back("close " + m_inner->ResourceName());
            m_inner->Close();
        }

    private:
        std::unique_ptr<visa::IMessage> m_inner;
        std::vector<std::string> &m_events;
        const std::map<std::string, std::string> &m_overrides;
        const RecordingBackend &m_backend;
        std::string m_lastCommand;
    };

    std::shared_ptr<visa::Backend> m_inner;
};

class WindowTest : public ::testing::Test
{
protected:
    /// Builds the instrument with the faults named and the window, and loads the window.
    void start(const std::vector<std::string> &faults = {})
    {
        instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse(faults));
        log = sim::MessageLog::attachedTo(*instrument);
        backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
        window = std::make_unique<VISAComExample>(backend, platform);
        window->load();
    }

    QStringList listLines() const
    {
        QStringList lines;
        for (int i = 0; i < window->List1->count(); ++i)
            lines.append(window->List1->item(i)->text());
        return lines;
    }

    /// Program messages the instrument received, from the @p from-th on.
    std::vector<std::string> received(size_t from = 0) const
    {
        const auto &all = log->messages();
        return {all.begin() + std::min(from, all.size()), all.end()};
    }

    static QStringList instructionLines()
    {
        return {"Enter/select instrument address, if needed;", "then click on \"Get Readings\" to trigger instrument.",
                "Will take some time."};
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    RecordingPlatform platform{clock};
    std::shared_ptr<sim::Qv3310> instrument;
    std::shared_ptr<sim::MessageLog> log;
    std::shared_ptr<RecordingBackend> backend;
    std::unique_ptr<VISAComExample> window;
};
