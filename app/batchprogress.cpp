#include "app/batchprogress.h"

#include <cmath>

#include <unistd.h>

BatchProgress::BatchProgress(std::FILE *terminal)
    : m_out(terminal && isatty(fileno(terminal)) ? terminal : nullptr)
{
}

BatchProgress::~BatchProgress()
{
    clear();
}

std::string BatchProgress::text(int points, int total, double seconds, double estimate)
{
    return "stored " + std::to_string(points) + " of " + std::to_string(total) + " readings, "
           + std::to_string(static_cast<long long>(std::floor(std::max(seconds, 0.0)))) + " s of about "
           + std::to_string(static_cast<long long>(std::llround(std::max(estimate, 0.0)))) + " s";
}

void BatchProgress::update(int points, int total, double seconds, double estimate)
{
    if (!m_out)
        return;
    // The poll asks many times a second; the line changes once a second or once a reading.
    const std::string line = text(points, total, seconds, estimate);
    if (line == m_shown)
        return;
    m_shown = line;
    std::fprintf(m_out, "\r%s\033[K", line.c_str());
    std::fflush(m_out);
}

void BatchProgress::clear()
{
    if (!m_out || m_shown.empty())
        return;
    m_shown.clear();
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
}
