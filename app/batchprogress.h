#pragma once

#include <cstdio>
#include <string>

/// @brief The one line of batch mode's progress on a terminal, such as
/// "stored 12 of 40 readings, 6 s of about 15 s", rewritten in place and cleared at the end.
///
/// Writes only when its file is a terminal, so logs and pipes stay clean.
class BatchProgress
{
public:
    /// Shows progress on @p terminal when it is a terminal; otherwise stays silent.
    explicit BatchProgress(std::FILE *terminal);
    ~BatchProgress();

    bool active() const { return m_out != nullptr; }

    /// @p points of @p total readings are stored, @p seconds into a wait of about @p estimate s.
    void update(int points, int total, double seconds, double estimate);
    /// Removes the line, so that the next text starts on a clean line.
    void clear();

    /// The text of one update.
    static std::string text(int points, int total, double seconds, double estimate);

private:
    std::FILE *m_out = nullptr;
    std::string m_shown;
};
