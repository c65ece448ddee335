#pragma once

#include <stdexcept>

#include <QString>

/// @brief A routine's failure: the description the operator is shown, already translated.
///
/// A std::runtime_error, so that handlers which only know std::exception still show it; what()
/// is the description as UTF-8.
class RoutineError : public std::runtime_error
{
public:
    explicit RoutineError(const QString &description)
        : std::runtime_error(description.toStdString())
        , m_description(description)
    {
    }

    const QString &description() const { return m_description; }

private:
    QString m_description;
};

/// Ends the routine that cannot go on. @p description went through tr(): the operator reads it.
[[noreturn]] inline void fail(const QString &description)
{
    throw RoutineError(description);
}
